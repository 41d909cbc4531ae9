// The information panel's content and the texts built from the identification: any record
// (every text field filled from the input, always terminated), any date.
#include <climits>
#include <cstring>
#include <string>

#include "app/console.h"
#include "app/info_panel.h"
#include "fuzz_common.h"
#include "link/ident.h"
#include "link/link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.connected = in.ConsumeBool();
    rec.interfaceKind = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 4) : in.ConsumeIntegral<int32_t>();
    rec.baudRate = in.ConsumeIntegral<uint32_t>();
    int year = in.ConsumeIntegral<int>();
    int month = in.ConsumeIntegral<int>();
    int day = in.ConsumeIntegral<int>();
    if (in.ConsumeBool()) {  // a plausible date most of the time
        year = 1990 + (year & 63);
        month = 1 + (month & 15) % 12;
        day = 1 + (day & 31) % 31;
    }
    FuzzFillText(in, rec.portName);
    FuzzFillText(in, rec.ipAddress);
    FuzzFillText(in, rec.idnText);
    FuzzFillText(in, rec.versionText);
    FuzzFillText(in, rec.calVersionText);
    FuzzFillText(in, rec.calibrationText);
    // The model code as the connect sequence would set it, or any value.
    const char *comma = strchr(rec.idnText, ',');
    int classified = ClassifyModel(comma ? comma + 1 : nullptr);
    FUZZ_CHECK(classified >= MODEL_UNKNOWN && classified <= MODEL_RZT86 && classified != 8 && classified != 14);
    rec.modelCode = in.ConsumeBool() ? classified : in.ConsumeIntegral<int32_t>();

    std::vector<PanelRun> runs = BuildPanelRuns(rec, year, month, day);
    FUZZ_CHECK(!runs.empty());
    size_t total = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        FUZZ_CHECK(runs[i].style == PANEL_PLAIN || runs[i].style == PANEL_BOLD || runs[i].style == PANEL_WARNING);
        FUZZ_CHECK(i == 0 || runs[i].style != runs[i - 1].style);
        FUZZ_CHECK(!runs[i].text.empty());
        total += runs[i].text.size();
    }
    // Nothing is invented: the content is bounded by the record's own texts plus the labels.
    FUZZ_CHECK(total < 4096);
    if (runs.back().style == PANEL_WARNING) FUZZ_CHECK(IsLocalCalibrationModel(rec.modelCode) || strncmp(rec.calibrationText, "default", 7) == 0);

    // Month names and the overdue rule on the raw text of the calibration field.
    int m = MonthFromName(rec.calibrationText);
    FUZZ_CHECK(m == -1 || (m >= 1 && m <= 12));
    long calYear = in.ConsumeIntegral<long>();
    int calMonth = in.ConsumeIntegralInRange<int>(1, 12);
    bool overdue = PanelCalibrationOverdue(calYear, calMonth, year, month, day);
    if (calYear > -1000000 && calYear < 1000000 && year > -1000000 && year < 1000000) {
        // Small years: the same rule in plain month counting.
        long long due = (long long)calYear * 12 + calMonth - 1 + 18;
        long long today = (long long)year * 12 + month - 1;
        FUZZ_CHECK(overdue == (today > due || (today == due && day > 1)));
    }

    // The window titles built from the same texts.
    char startup[TITLE_SIZE], title[TITLE_SIZE];
    size_t want = BuildStartupTitle(startup, sizeof startup);
    FUZZ_CHECK(want < sizeof startup);
    size_t cap = in.ConsumeIntegralInRange<size_t>(1, sizeof title);
    memset(title, '#', sizeof title);
    want = BuildConnectedTitle(title, cap, startup, rec.interfaceKind, rec.idnText);
    size_t len = strlen(title);
    FUZZ_CHECK(len < cap);
    FUZZ_CHECK(len == (want < cap ? want : cap - 1));
    return 0;
}
