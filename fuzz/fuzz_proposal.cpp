// The proposed operation's rich text over any entries and texts: the markup stays balanced
// whatever the names and texts hold, every entry's name ends up in lower case, the entries
// that the serial number (third field of the identification) leaves out are marked, and
// blocking is set exactly when a listed file is missing, a listed sector is out of range, or
// nothing is listed. Read back as plain text, the instrument's identification comes out as
// it went in, but for its line ends.
#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "rtf_check.h"
#include "upgrade/upgrade.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    static LoadEntry entries[UPGRADE_MAX_ENTRIES];
    memset(entries, 0, sizeof entries);
    int count = in.ConsumeIntegralInRange<int>(-2, UPGRADE_MAX_ENTRIES + 4);
    char idnText[128], targetModel[UPGRADE_MODEL_SIZE];
    FuzzFillText(in, idnText);
    FuzzFillText(in, targetModel);
    for (int i = 0; i < UPGRADE_MAX_ENTRIES && in.remaining_bytes() > 0; i++) {
        LoadEntry &e = entries[i];
        e.exists = in.ConsumeBool();
        e.over = in.ConsumeBool();
        e.sector = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 16) : in.ConsumeIntegral<int32_t>();
        e.serialLow = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : 0;
        e.serialHigh = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>() : 0;
        e.facts.writeTime = in.ConsumeBool() ? in.ConsumeIntegral<int64_t>() : in.ConsumeIntegralInRange<int64_t>(0, 4102444800);
        e.facts.size = in.ConsumeIntegral<uint32_t>();
        FuzzFillText(in, e.facts.name);
        FuzzFillText(in, e.path);
    }
    static LoadEntry before[UPGRADE_MAX_ENTRIES];
    memcpy(before, entries, sizeof entries);

    bool blocking = false;
    std::vector<TextRun> runs = BuildProposedOperation(entries, count, idnText, targetModel, &blocking);
    CheckRtfBalanced(ProposalRichText(runs));
    std::string shown;  // a bare line end is no text in rich text
    for (const char *p = idnText; *p; p++)
        if (*p != '\r' && *p != '\n') shown += *p;
    FUZZ_CHECK(ProposalPlainText(runs).find("Instrument: " + shown + "\n") != std::string::npos);

    int used = count > UPGRADE_MAX_ENTRIES ? UPGRADE_MAX_ENTRIES : count;
    const char *second = strchr(idnText, ',');
    const char *third = second ? strchr(second + 1, ',') : nullptr;
    int32_t serial = third ? UpgradeTextToInt(third + 1) : -1;
    int32_t limit = strncmp(targetModel, "RZT86", 5) == 0 ? 15 : 7;
    bool anyMissing = false, anyRed = false;
    int listed = 0;
    for (int i = 0; i < UPGRADE_MAX_ENTRIES; i++) {
        const LoadEntry &e = entries[i], &b = before[i];
        // Only the names change, and only the names of the entries given.
        for (size_t k = 0; k < sizeof e.facts.name; k++) {
            char want = i < used ? (char)tolower((unsigned char)b.facts.name[k]) : b.facts.name[k];
            if (!b.facts.name[k]) break;
            FUZZ_CHECK(e.facts.name[k] == want);
        }
        FUZZ_CHECK(memcmp(e.path, b.path, sizeof e.path) == 0 && e.sector == b.sector);
        if (i >= used) continue;
        bool excluded = serial >= 0 && !(e.serialLow == 0 && e.serialHigh == 0) &&
                        (serial < e.serialLow || (e.serialHigh != 0 && serial > e.serialHigh));
        FUZZ_CHECK(e.excluded == excluded);
        if (!excluded && !e.exists) anyMissing = true;
        if (!excluded && (e.sector < 0 || e.sector > limit)) anyRed = true;
        listed += !excluded;
    }
    FUZZ_CHECK(blocking == (anyMissing || anyRed || listed == 0));
    return 0;
}
