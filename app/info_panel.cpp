// The information panel's content, built from the connection record alone: the connection,
// the instrument's identity and releases, its calibration dates and the age warning.
#include "app/info_panel.h"

#include <cctype>
#include <cstring>

#include "common/texttab.h"
#include "common/textutil.h"
#include "link/ident.h"

namespace {

const char kUnknown[] = "Unknown";
const char kMakerCalibration[] = "  Last VDL calibration:  \n";
const char kAgeWarning[] = "  >18 months since VDL Calibration  \n";

void PanelAddRun(std::vector<PanelRun> &runs, int style, const std::string &text)
{
    if (!runs.empty() && runs.back().style == style) {
        runs.back().text += text;
        return;
    }
    runs.push_back({style, text});
}

// The record's texts are fixed arrays filled by other code; never read past their end.
template <size_t N>
std::string PanelField(const char (&field)[N])
{
    return std::string(field, strnlen(field, N));
}

// Piece i of a split text, or fallback when the text has no such piece.
std::string PanelPiece(const std::vector<std::string> &pieces, size_t i, const char *fallback)
{
    return i < pieces.size() ? pieces[i] : std::string(fallback);
}

// Piece i of a split text into *out, or "Unknown" with bit set in f.unknown.
void PanelFact(PanelFacts &f, std::string *out, const std::vector<std::string> &pieces, size_t i, unsigned bit)
{
    *out = PanelPiece(pieces, i, kUnknown);
    if (i >= pieces.size()) f.unknown |= bit;
}

// The local calibration date, for the models that keep one, and the maker calibration date
// with its age test. The maker date is day_month-name_year in the first comma-separated field
// of the "calstr?" reply; an instrument never calibrated by the maker reports a field
// beginning "default".
void PanelReadCalibration(PanelFacts &f, const ConnectionRecord &rec, int todayYear, int todayMonth,
                          int todayDay)
{
    bool local = IsLocalCalibrationModel(rec.modelCode);
    std::vector<std::string> parts = TextSplit(PanelField(rec.calVersionText).c_str(), '_');
    std::string a = PanelPiece(parts, 0, ""), b = PanelPiece(parts, 1, ""), c = PanelPiece(parts, 2, "");
    if (local && !a.empty() && !b.empty() && !c.empty()) f.localCalibration = a + " " + b + " " + c;
    else if (local) f.unknown |= PANEL_FACT_LOCAL_CALIBRATION;

    std::vector<std::string> fields = TextSplit(PanelField(rec.calibrationText).c_str(), ',');
    parts = TextSplit(PanelPiece(fields, 0, "").c_str(), '_');
    std::string day = PanelPiece(parts, 0, ""), month = PanelPiece(parts, 1, ""), year = PanelPiece(parts, 2, "");
    if (!day.empty() && !month.empty() && !year.empty()) {
        f.makerCalibration = day + " " + month + " " + year;
        // A month name that is not a month gives no date to measure the age against; such a
        // date is shown as reported and draws no warning rather than a guessed one.
        int monthNumber = MonthFromName(month.c_str());
        if (local && monthNumber <= 0) f.unknown |= PANEL_FACT_CALIBRATION_WARNING;
        f.calibrationWarning = local && monthNumber > 0 &&
                               PanelCalibrationOverdue(TextToInt(year.c_str()), monthNumber, todayYear, todayMonth,
                                                       todayDay);
        return;
    }
    if (parts.empty() || parts[0].compare(0, 7, "default") != 0) {
        f.unknown |= PANEL_FACT_MAKER_CALIBRATION | PANEL_FACT_CALIBRATION_WARNING;
        return;
    }
    for (const std::string &piece : parts) f.makerCalibration += piece + " ";
    f.calibrationWarning = true;
}

}  // namespace

int MonthFromName(const char *name)
{
    if (!name || !name[0]) return -1;
    int first = toupper((unsigned char)name[0]);
    int second = toupper((unsigned char)name[1]);
    // Only look at the third letter when there is a second one: the text may end early.
    int third = second ? toupper((unsigned char)name[2]) : 0;
    switch (first) {
    case 'F': return 2;
    case 'S': return 9;
    case 'O': return 10;
    case 'N': return 11;
    case 'D': return 12;
    case 'A': return second == 'P' ? 4 : second == 'U' ? 8 : -1;
    case 'M': return third == 'Y' ? 5 : third == 'R' ? 3 : -1;
    case 'J':
        if (second == 'A') return 1;
        if (second == 'U') return third == 'N' ? 6 : third == 'L' ? 7 : -1;
        return -1;
    }
    return -1;
}

bool PanelCalibrationOverdue(long calYear, int calMonth, int todayYear, int todayMonth, int todayDay)
{
    // Count in months since year 0. Years are clamped far beyond any real date so that a
    // garbled reply ("99999999999") cannot overflow the arithmetic.
    const long long kYearLimit = 1000000000;
    long long year = calYear < -kYearLimit ? -kYearLimit : calYear > kYearLimit ? kYearLimit : calYear;
    long long due = year * 12 + (calMonth - 1LL) + 18;  // months past December carry into the year
    long long today = todayYear * 12LL + (todayMonth - 1LL);
    return today > due || (today == due && todayDay > 1);
}

PanelFacts ReadPanelFacts(const ConnectionRecord &rec, int todayYear, int todayMonth, int todayDay)
{
    PanelFacts f{};
    int kind = rec.interfaceKind;
    bool known = kind == IFACE_USB || kind == IFACE_LAN || kind == IFACE_SERIAL;
    f.interfaceName = known ? LinkTextTable[kind + 1] : kUnknown;
    f.address = kind == IFACE_LAN ? PanelField(rec.ipAddress) : PanelField(rec.portName);
    f.serial = kind == IFACE_SERIAL;
    f.baudRate = rec.baudRate;
    std::vector<std::string> idn = TextSplit(PanelField(rec.idnText).c_str(), ',');
    std::vector<std::string> version = TextSplit(PanelField(rec.versionText).c_str(), ',');
    PanelFact(f, &f.model, idn, 1, PANEL_FACT_MODEL);
    PanelFact(f, &f.serialNumber, idn, 2, PANEL_FACT_SERIAL_NUMBER);
    PanelFact(f, &f.type, version, 1, PANEL_FACT_TYPE);
    PanelFact(f, &f.mainRelease, version, 2, PANEL_FACT_MAIN_RELEASE);
    PanelFact(f, &f.fpgaRelease, version, 3, PANEL_FACT_FPGA_RELEASE);
    PanelFact(f, &f.dspRelease, version, 4, PANEL_FACT_DSP_RELEASE);
    PanelFact(f, &f.bootRelease, version, 5, PANEL_FACT_BOOT_RELEASE);
    PanelReadCalibration(f, rec, todayYear, todayMonth, todayDay);
    return f;
}

std::vector<PanelRun> BuildPanelRuns(const ConnectionRecord &rec, int todayYear, int todayMonth, int todayDay)
{
    std::vector<PanelRun> runs;
    if (!rec.connected) {
        PanelAddRun(runs, PANEL_PLAIN, "No connection");
        return runs;
    }
    if (rec.modelCode == MODEL_UNKNOWN) {
        PanelAddRun(runs, PANEL_BOLD, "Unknown Instrument");
        return runs;
    }
    PanelFacts f = ReadPanelFacts(rec, todayYear, todayMonth, todayDay);
    std::string text = "  Interface:  " + f.interfaceName + "\n  Address:  " + f.address + "\n";
    if (f.serial) text += "  Baudrate:  " + std::to_string(f.baudRate) + "\n";
    PanelAddRun(runs, PANEL_BOLD, "Connection Info.\n\n");
    PanelAddRun(runs, PANEL_PLAIN, text);
    text = "  Model:  " + f.model + "\n";
    text += "  Serial No:  " + f.serialNumber + "\n";
    text += "  Type:  " + f.type + "\n";
    text += "  Main release:  " + f.mainRelease + "\n";
    text += "  FPGA release:  " + f.fpgaRelease + "\n";
    text += "  DSP release:  " + f.dspRelease + "\n";
    text += "  BOOT release:  " + f.bootRelease + "\n\n";
    if (!f.localCalibration.empty()) text += "  Last local calibration:  \n    " + f.localCalibration + "\n\n";
    if (!f.makerCalibration.empty()) text += kMakerCalibration + ("    " + f.makerCalibration + "\n\n");
    PanelAddRun(runs, PANEL_BOLD, "\n\nInstrument Info. \n\n");
    PanelAddRun(runs, PANEL_PLAIN, text);
    if (f.calibrationWarning) PanelAddRun(runs, PANEL_WARNING, kAgeWarning);
    return runs;
}
