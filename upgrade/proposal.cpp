// The "Proposed Operation" of the firmware files dialog: the instrument, the sectors to erase
// and the files to program, with missing files and bad sectors in red, as styled runs; and
// the two ways the front ends show them, as rich text and as plain text.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <vector>

#include "common/textutil.h"
#include "upgrade/upgrade.h"

enum { PROPOSAL_NAME_WIDTH = 20 };  // characters of the file-name column

// The rich text's opening: Courier New at 10 points, and the colours the styles use (cf3 red,
// cf4 grey; 1 and 2 are kept so that the numbers stay those of the dialog's template).
static const char PROPOSAL_RTF_HEADER[] =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang2057{\\fonttbl{\\f0\\fswiss\\fcharset0 Courier New;}}"
    "{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green192\\blue0;\\red255\\green0\\blue0;"
    "\\red127\\green127\\blue127;}\\deftab1000\\viewkind4\\uc1\\pard\\f0\\fs20";

static void ProposalAdd(std::vector<TextRun> *runs, int style, const std::string &text)
{
    runs->push_back(TextRun{style, text});
}

// A text from the instrument or the descriptor on its line: a bare line end in it (an LF-only
// instrument leaves one on its reply) is no line break of the list.
static std::string ProposalOneLine(const char *text)
{
    std::string out;
    for (; *text; text++)
        if (*text != '\r' && *text != '\n') out += *text;
    return out;
}

// The instrument's serial number: the third field of the identification, as the information
// panel shows it ("Vendrel,RZT7680,12345,1.23"); -1 when the reply has no such field.
static int32_t ProposalSerial(const char *idnText)
{
    const char *comma = strchr(idnText, ',');
    if (comma) comma = strchr(comma + 1, ',');
    return comma ? UpgradeTextToInt(comma + 1) : -1;
}

// True when the instrument's serial number lies outside the entry's serial range.
static bool ProposalExcluded(const LoadEntry *e, int32_t serial)
{
    if (serial < 0 || (e->serialLow == 0 && e->serialHigh == 0)) return false;
    return serial < e->serialLow || (e->serialHigh != 0 && serial > e->serialHigh);
}

static void ProposalDate(int64_t writeTime, char *out, size_t cap)
{
    TextCopy(out, cap, "--/--/--");
    if (writeTime <= 86400) return;
    time_t t = (time_t)writeTime;
    struct tm *tm = localtime(&t);
    if (!tm) return;
    snprintf(out, cap, "%02d/%02d/%02d %02d:%02d", tm->tm_mday, tm->tm_mon + 1, tm->tm_year % 100,
             tm->tm_hour, tm->tm_min);
}

static void ProposalEraseList(std::vector<TextRun> *runs, const LoadEntry *entries, int count, int32_t serial,
                              int limit)
{
    for (int i = 0; i < count; i++) {
        const LoadEntry *e = &entries[i];
        if (ProposalExcluded(e, serial)) continue;
        bool listed = false;
        for (int j = 0; j < i && !listed; j++) {
            listed = !ProposalExcluded(&entries[j], serial) && entries[j].sector == e->sector;
        }
        if (listed) continue;
        bool inRange = e->sector >= 0 && e->sector <= limit;
        // One run per sector: each red one is marked on its own.
        ProposalAdd(runs, inRange ? PROPOSAL_PLAIN : PROPOSAL_RED, std::to_string(e->sector) + ",");
    }
}

// The length of the UTF-8 sequence that begins at s, with its character in *cp; 0 when there
// is none (a byte of some other code page, a sequence cut short).
static int ProposalUtf8(const unsigned char *s, uint32_t *cp)
{
    static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    int n;
    if (s[0] >= 0xC2 && s[0] <= 0xDF) n = 2, *cp = s[0] & 0x1F;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF) n = 3, *cp = s[0] & 0x0F;
    else if (s[0] >= 0xF0 && s[0] <= 0xF4) n = 4, *cp = s[0] & 0x07;
    else return 0;
    for (int k = 1; k < n; k++) {
        if ((s[k] & 0xC0) != 0x80) return 0;  // the terminating NUL too
        *cp = *cp << 6 | (s[k] & 0x3F);
    }
    return *cp >= least[n] && *cp <= 0x10FFFF && (*cp < 0xD800 || *cp > 0xDFFF) ? n : 0;
}

// A file name in its column, cut or padded to width characters (not bytes: names are UTF-8).
static std::string ProposalName(const char *name, int width)
{
    const unsigned char *s = (const unsigned char *)name;
    int shown = 0;
    for (; *s && shown < width; shown++) {
        uint32_t cp = 0;
        int n = *s >= 0x80 ? ProposalUtf8(s, &cp) : 0;
        s += n ? n : 1;
    }
    // A bare line end (no name on disk has one) keeps its place in the count but shows nothing.
    std::string out = ProposalOneLine(std::string(name, (const char *)s - name).c_str());
    out.append(width - shown, ' ');
    return out;
}

static void ProposalFileLine(std::vector<TextRun> *runs, const LoadEntry *e, int number)
{
    char date[32], columns[32];
    ProposalDate(e->facts.writeTime, date, sizeof date);
    snprintf(columns, sizeof columns, "%-2d   %-2d     ", number, (int)e->sector);
    ProposalAdd(runs, PROPOSAL_PLAIN, columns);
    ProposalAdd(runs, e->exists ? PROPOSAL_PLAIN : PROPOSAL_RED, ProposalName(e->facts.name, PROPOSAL_NAME_WIDTH));
    ProposalAdd(runs, PROPOSAL_PLAIN, std::string(date) + "\n");
}

std::vector<TextRun> BuildProposedOperation(LoadEntry *entries, int count, const char *idnText,
                                            const char *targetModel, bool *blocking)
{
    if (count > UPGRADE_MAX_ENTRIES) count = UPGRADE_MAX_ENTRIES;
    int32_t serial = ProposalSerial(idnText);
    int limit = strncmp(targetModel, "RZT86", 5) == 0 ? UPGRADE_SECTOR_LIMIT_EXT : UPGRADE_SECTOR_LIMIT;
    try {
        std::vector<TextRun> runs;
        ProposalAdd(&runs, PROPOSAL_TITLE, "Proposed Operation\n");
        ProposalAdd(&runs, PROPOSAL_PLAIN, "\n");
        ProposalAdd(&runs, PROPOSAL_LABEL, "Instrument: ");
        ProposalAdd(&runs, PROPOSAL_PLAIN, ProposalOneLine(idnText) + "\n");
        if (*targetModel) {
            ProposalAdd(&runs, PROPOSAL_LABEL, "Target: ");
            ProposalAdd(&runs, PROPOSAL_PLAIN, ProposalOneLine(targetModel) + "\n");
        }
        ProposalAdd(&runs, PROPOSAL_LABEL, "Erase Sectors: ");
        ProposalEraseList(&runs, entries, count, serial, limit);
        ProposalAdd(&runs, PROPOSAL_PLAIN, "\n\n");
        ProposalAdd(&runs, PROPOSAL_LABEL, "Program Sectors with the following code:\n");
        ProposalAdd(&runs, PROPOSAL_PLAIN, "\n");
        ProposalAdd(&runs, PROPOSAL_LABEL, "File Sector Filename            Date & Time\n");
        int listed = 0;
        for (int i = 0; i < count; i++) {
            // Every entry, listed or not, so that the worker names all files alike.
            for (char *p = entries[i].facts.name; *p; p++) *p = (char)tolower((unsigned char)*p);
            entries[i].excluded = ProposalExcluded(&entries[i], serial);
            if (entries[i].excluded) continue;  // numbering still counts it
            if (!entries[i].exists) *blocking = true;
            // Red in the erase list: the reader judged the sector against the target in force
            // at its LOAD line, but the worker would erase it on the instrument of the last one.
            if (entries[i].sector < 0 || entries[i].sector > limit) *blocking = true;
            ProposalFileLine(&runs, &entries[i], i + 1);
            listed++;
        }
        // Accepting an empty list would report "Firmware sent OK" with nothing done.
        if (listed == 0) *blocking = true;
        return runs;
    } catch (const std::bad_alloc &) {
        return std::vector<TextRun>();
    }
}

// --- Rendering ----------------------------------------------------------------------------

// One UTF-16 unit as \u with '?' for a reader that knows no Unicode (\uc1); signed, as rich
// text writes it.
static void ProposalRichUnit(std::string *out, uint32_t unit)
{
    *out += "\\u" + std::to_string(unit > 0x7FFF ? (int)unit - 0x10000 : (int)unit) + "?";
}

// A run's text as rich text. A backslash or brace shows as itself instead of being read as
// markup; a character beyond ASCII goes in as \u, which the control shows as itself whatever
// its code page, while a byte that is no UTF-8 goes in as it is, read in the control's code
// page; a line end is a paragraph mark.
static void ProposalRichEscape(std::string *out, const std::string &text)
{
    const unsigned char *s = (const unsigned char *)text.c_str();
    while (*s) {
        uint32_t cp = 0;
        int n = *s >= 0x80 ? ProposalUtf8(s, &cp) : 0;
        if (n == 0) {
            if (*s == '\n') *out += "\\par";
            else {
                if (*s == '\\' || *s == '{' || *s == '}') *out += '\\';
                *out += (char)*s;
            }
            s++;
            continue;
        }
        if (cp > 0xFFFF) {
            ProposalRichUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + (cp & 0x3FF);
        }
        ProposalRichUnit(out, cp);
        s += n;
    }
}

std::string ProposalRichText(const std::vector<TextRun> &runs)
{
    std::string out = PROPOSAL_RTF_HEADER;
    for (const TextRun &run : runs) {
        // Every run names its colour: the space ends the control word and is not shown, so a
        // text that begins with a digit ("2dsp.hex") is not read as part of the number.
        if (run.style == PROPOSAL_TITLE) out += "\\ul\\b\\cf4 ";
        else out += run.style == PROPOSAL_LABEL ? "\\cf4 " : run.style == PROPOSAL_RED ? "\\cf3 " : "\\cf0 ";
        ProposalRichEscape(&out, run.text);
        if (run.style == PROPOSAL_TITLE) out += "\\ulnone\\b0";
    }
    out += "}";
    return out;
}

std::string ProposalPlainText(const std::vector<TextRun> &runs)
{
    std::string out;
    for (const TextRun &run : runs) {
        if (run.style != PROPOSAL_RED) {
            out += run.text;
            continue;
        }
        // Brackets round what is red; its trailing commas and blanks stay outside, two of
        // the blanks giving way to the brackets so that the columns after a name stay put.
        size_t end = run.text.find_last_not_of(" ,");
        end = end == std::string::npos ? 0 : end + 1;
        std::string tail = run.text.substr(end);
        for (int k = 0; k < 2 && !tail.empty() && tail.back() == ' '; k++) tail.pop_back();
        out += "[" + run.text.substr(0, end) + "]" + tail;
    }
    return out;
}
