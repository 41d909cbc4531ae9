// The "Proposed Operation" rich text of the firmware files dialog: the instrument, the sectors
// to erase and the files to program, with missing files and bad sectors in red.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "common/textutil.h"
#include "upgrade/upgrade.h"

enum { PROPOSAL_NAME_WIDTH = 20 };  // characters of the file-name column

static const char PROPOSAL_HEADER[] =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang2057{\\fonttbl{\\f0\\fswiss\\fcharset0 Courier New;}}"
    "{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green192\\blue0;\\red255\\green0\\blue0;"
    "\\red127\\green127\\blue127;}\\deftab1000\\viewkind4\\uc1\\ul\\pard\\cf4\\b\\f0\\fs20 "
    "Proposed Operation\\par\\fs20\\ulnone\\b0\\par";

// Texts from the instrument or the descriptor go in escaped, so that a backslash or brace in
// them shows as itself instead of being read as rich-text markup.
static void ProposalAppendText(std::string *out, const char *text)
{
    for (; *text; text++) {
        if (*text == '\\' || *text == '{' || *text == '}') *out += '\\';
        *out += *text;
    }
}

__attribute__((format(printf, 2, 3)))
static void ProposalAppendf(std::string *out, const char *fmt, ...)
{
    char buf[64];  // callers format small numbers only
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    *out += buf;
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

static void ProposalEraseList(std::string *out, const LoadEntry *entries, int count, int32_t serial,
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
        ProposalAppendf(out, "\\cf%d %d,", inRange ? 0 : 3, e->sector);
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

// One UTF-16 unit as \u with '?' for a reader that knows no Unicode (\uc1); signed, as rich
// text writes it.
static void ProposalAppendUnit(std::string *out, uint32_t unit)
{
    ProposalAppendf(out, "\\u%d?", unit > 0x7FFF ? (int)unit - 0x10000 : (int)unit);
}

// A file name in its column, cut or padded to width characters. Names are UTF-8: a character
// beyond ASCII goes in as \u, which the control shows as itself whatever its code page; a
// byte that is no UTF-8 goes in as it is, read in the control's code page as before.
static void ProposalAppendName(std::string *out, const char *name, int width)
{
    const unsigned char *s = (const unsigned char *)name;
    int shown = 0;
    for (; *s && shown < width; shown++) {
        uint32_t cp = 0;
        int n = *s >= 0x80 ? ProposalUtf8(s, &cp) : 0;
        if (n == 0) {
            if (*s == '\\' || *s == '{' || *s == '}') *out += '\\';
            *out += (char)*s++;
            continue;
        }
        if (cp > 0xFFFF) {
            ProposalAppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + (cp & 0x3FF);
        }
        ProposalAppendUnit(out, cp);
        s += n;
    }
    out->append(width - shown, ' ');
}

static void ProposalFileLine(std::string *out, const LoadEntry *e, int number)
{
    char date[32];
    ProposalDate(e->facts.writeTime, date, sizeof date);
    ProposalAppendf(out, "\\cf0 %-2d   %-2d     ", number, e->sector);
    // The space ends the control word and is not shown: without it a name that begins with a
    // digit ("2dsp.hex") would be read as part of the colour number.
    ProposalAppendf(out, "\\cf%d ", e->exists ? 0 : 3);
    ProposalAppendName(out, e->facts.name, PROPOSAL_NAME_WIDTH);
    *out += "\\cf0 ";
    *out += date;
    *out += "\\par";
}

std::string BuildProposedOperation(LoadEntry *entries, int count, const char *idnText,
                                   const char *targetModel, bool *blocking)
{
    if (count > UPGRADE_MAX_ENTRIES) count = UPGRADE_MAX_ENTRIES;
    int32_t serial = ProposalSerial(idnText);
    int limit = strncmp(targetModel, "RZT86", 5) == 0 ? UPGRADE_SECTOR_LIMIT_EXT : UPGRADE_SECTOR_LIMIT;
    try {
        std::string out = PROPOSAL_HEADER;
        out += "\\cf4 Instrument: \\cf0 ";
        ProposalAppendText(&out, idnText);
        out += "\\par";
        if (*targetModel) {
            out += "\\cf4 Target: \\cf0 ";
            ProposalAppendText(&out, targetModel);
            out += "\\par";
        }
        out += "\\cf4 Erase Sectors: ";
        ProposalEraseList(&out, entries, count, serial, limit);
        out += "\\par\\cf0\\par\\cf4 Program Sectors with the following code:\\par\\cf0\\par"
               "\\cf4 File Sector Filename            Date & Time\\par";
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
            ProposalFileLine(&out, &entries[i], i + 1);
            listed++;
        }
        // Accepting an empty list would report "Firmware sent OK" with nothing done.
        if (listed == 0) *blocking = true;
        out += "}";
        return out;
    } catch (const std::bad_alloc &) {
        return std::string();
    }
}
