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

void PanelAddConnection(std::vector<PanelRun> &runs, const ConnectionRecord &rec)
{
    int kind = rec.interfaceKind;
    bool known = kind == IFACE_USB || kind == IFACE_LAN || kind == IFACE_SERIAL;
    std::string text = "  Interface:  ";
    text += known ? LinkTextTable[kind + 1] : kUnknown;
    text += "\n  Address:  ";
    text += kind == IFACE_LAN ? PanelField(rec.ipAddress) : PanelField(rec.portName);
    text += "\n";
    if (kind == IFACE_SERIAL) text += "  Baudrate:  " + std::to_string(rec.baudRate) + "\n";
    PanelAddRun(runs, PANEL_BOLD, "Connection Info.\n\n");
    PanelAddRun(runs, PANEL_PLAIN, text);
}

void PanelAddInstrument(std::vector<PanelRun> &runs, const ConnectionRecord &rec)
{
    std::vector<std::string> idn = TextSplit(PanelField(rec.idnText).c_str(), ',');
    std::vector<std::string> version = TextSplit(PanelField(rec.versionText).c_str(), ',');
    std::string text = "  Model:  " + PanelPiece(idn, 1, kUnknown) + "\n";
    text += "  Serial No:  " + PanelPiece(idn, 2, kUnknown) + "\n";
    text += "  Type:  " + PanelPiece(version, 1, kUnknown) + "\n";
    text += "  Main release:  " + PanelPiece(version, 2, kUnknown) + "\n";
    text += "  FPGA release:  " + PanelPiece(version, 3, kUnknown) + "\n";
    text += "  DSP release:  " + PanelPiece(version, 4, kUnknown) + "\n";
    text += "  BOOT release:  " + PanelPiece(version, 5, kUnknown) + "\n\n";
    PanelAddRun(runs, PANEL_BOLD, "\n\nInstrument Info. \n\n");
    PanelAddRun(runs, PANEL_PLAIN, text);
}

void PanelAddLocalCalibration(std::vector<PanelRun> &runs, const ConnectionRecord &rec)
{
    if (!IsLocalCalibrationModel(rec.modelCode)) return;
    std::vector<std::string> parts = TextSplit(PanelField(rec.calVersionText).c_str(), '_');
    std::string a = PanelPiece(parts, 0, ""), b = PanelPiece(parts, 1, ""), c = PanelPiece(parts, 2, "");
    if (a.empty() || b.empty() || c.empty()) return;
    PanelAddRun(runs, PANEL_PLAIN, "  Last local calibration:  \n    " + a + " " + b + " " + c + "\n\n");
}

// The maker date is day_month-name_year in the first comma-separated field of the "calstr?"
// reply; an instrument never calibrated by the maker reports a field beginning "default".
void PanelAddMakerCalibration(std::vector<PanelRun> &runs, const ConnectionRecord &rec, int todayYear,
                              int todayMonth, int todayDay)
{
    std::vector<std::string> fields = TextSplit(PanelField(rec.calibrationText).c_str(), ',');
    std::vector<std::string> parts = TextSplit(PanelPiece(fields, 0, "").c_str(), '_');
    std::string day = PanelPiece(parts, 0, ""), month = PanelPiece(parts, 1, ""), year = PanelPiece(parts, 2, "");
    if (!day.empty() && !month.empty() && !year.empty()) {
        PanelAddRun(runs, PANEL_PLAIN, kMakerCalibration + ("    " + day + " " + month + " " + year + "\n\n"));
        // A month name that is not a month gives no date to measure the age against; such a
        // date is shown as reported and draws no warning rather than a guessed one.
        int monthNumber = MonthFromName(month.c_str());
        if (IsLocalCalibrationModel(rec.modelCode) && monthNumber > 0 &&
            PanelCalibrationOverdue(TextToInt(year.c_str()), monthNumber, todayYear, todayMonth, todayDay))
            PanelAddRun(runs, PANEL_WARNING, kAgeWarning);
        return;
    }
    if (parts.empty() || parts[0].compare(0, 7, "default") != 0) return;
    std::string text = std::string(kMakerCalibration) + "    ";
    for (const std::string &piece : parts) text += piece + " ";
    PanelAddRun(runs, PANEL_PLAIN, text + "\n\n");
    PanelAddRun(runs, PANEL_WARNING, kAgeWarning);
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
    PanelAddConnection(runs, rec);
    PanelAddInstrument(runs, rec);
    PanelAddLocalCalibration(runs, rec);
    PanelAddMakerCalibration(runs, rec, todayYear, todayMonth, todayDay);
    return runs;
}
