// Upgrade descriptor reader: TARGET, WARNING, SERIAL, OVER and LOAD lines into the entry
// table and the plan. The format is line-oriented text read as raw bytes.
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/fileio.h"
#include "common/textutil.h"
#include "upgrade/filefacts.h"
#include "upgrade/upgrade.h"

enum { DESC_CHUNK_SIZE = 260 };  // a line is read as at most 259 bytes

// Reader state that lives from one line to the next.
struct DescReader {
    EntryTable *table;
    UpgradePlan *plan;
    bool *blocking;
    char folder[UPGRADE_PATH_SIZE];  // descriptor's folder with its trailing separator
    int set;                 // target set being filled
    bool extendedSectors;    // target model begins with "RZT86"
    bool stop;               // a third target set was asked for
    int serialCount;         // entries still to receive the pending serial range
    int32_t serialLow, serialHigh;
};

int32_t UpgradeTextToInt(const char *text)
{
    long v = TextToInt(text);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

// The upper-case form is searched anywhere first; only when it is absent is the lower-case
// form tried. So "target ... TARGET" is no TARGET line, and mixed case never matches.
static bool DescHasKeyword(const char *line, const char *upper, const char *lower)
{
    const char *p = strstr(line, upper);
    if (!p && lower) p = strstr(line, lower);
    return p == line;
}

static std::string DescStripSpace(const std::string &field)
{
    std::string out;
    for (char c : field) {
        if (!isspace((unsigned char)c)) out += c;
    }
    return out;
}

static int32_t DescComparison(const std::string &text)
{
    static const struct { const char *name; int32_t kind; } names[] = {
        {"gt", COMPARE_GT}, {"gteq", COMPARE_GTEQ}, {"lt", COMPARE_LT},
        {"lteq", COMPARE_LTEQ}, {"eq", COMPARE_EQ},
    };
    for (const auto &n : names) {
        if (TextEqualNoCase(text.c_str(), n.name)) return n.kind;
    }
    return COMPARE_UNRECOGNISED;
}

static void DescTarget(DescReader *r, const char *line)
{
    std::vector<std::string> fields = TextSplit(line, ',');
    for (std::string &f : fields) f = DescStripSpace(f);
    UpgradePlan *plan = r->plan;
    if (fields.size() >= 4) {
        if (r->table->sets[r->set][0].exists) {
            // The table holds two sets; a third is refused by ending the descriptor here.
            if (r->set + 1 >= UPGRADE_SET_COUNT) {
                r->stop = true;
                return;
            }
            r->set++;
            r->table->counts[r->set] = 0;
        }
        plan->versionThreshold[r->set] = UpgradeTextToInt(fields[2].c_str());
        plan->comparison[r->set] = DescComparison(fields[3]);
    }
    if (fields.size() == 2 || fields.size() >= 4) {
        TextCopy(plan->targetModel, sizeof plan->targetModel, fields[1].c_str());  // cut to 20
    } else {
        plan->comparison[r->set] = COMPARE_UNRECOGNISED;
    }
    r->extendedSectors = strncmp(plan->targetModel, "RZT86", 5) == 0;
}

static void DescWarning(DescReader *r, const char *line)
{
    const char *comma = strchr(line, ',');
    if (comma) TextCopy(r->plan->warningText[r->set], UPGRADE_WARNING_SIZE, comma + 1);
}

// SERIAL,<count>,<low>,<high>: the range applies to the next <count> stored entries.
static void DescSerial(DescReader *r, const char *line)
{
    r->serialCount = 0;
    r->serialLow = r->serialHigh = 0;
    const char *p = strchr(line, ',');
    if (!p) return;
    int32_t count = UpgradeTextToInt(p + 1);
    if (count < 1 || count > 9) return;
    if (!(p = strchr(p + 1, ','))) return;
    r->serialLow = UpgradeTextToInt(p + 1);
    if (r->serialLow < 0) return;
    if (!(p = strchr(p + 1, ','))) return;
    r->serialHigh = UpgradeTextToInt(p + 1);
    if (r->serialHigh >= 0) r->serialCount = count;
}

static const char *DescSkipBlanks(const char *p)
{
    while (*p == ' ' || *p == '\t') p++;
    return p;
}

// LOAD/OVER,<sector>,<file name>; the file name is the whole rest of the line.
static void DescLoad(DescReader *r, const char *line, bool over)
{
    int set = r->set;
    LoadEntry *e = &r->table->sets[set][r->table->counts[set]];
    memset(e, 0, sizeof *e);
    e->over = over;
    const char *p = strchr(line, ',');
    if (!p || !*(p = DescSkipBlanks(p + 1))) return;
    e->sector = UpgradeTextToInt(p);
    int limit = r->extendedSectors ? UPGRADE_SECTOR_LIMIT_EXT : UPGRADE_SECTOR_LIMIT;
    if (e->sector < 0 || e->sector > limit) *r->blocking = true;
    p = strchr(p, ',');
    if (!p || !*(p = DescSkipBlanks(p + 1))) return;
    TextCopy(e->path, sizeof e->path, r->folder);
    size_t want = TextAppend(e->path, sizeof e->path, p);
    // A cut path could name some other file; such an entry is treated as missing.
    if (want < sizeof e->path && LookupFileFacts(e->path, &e->facts)) {
        e->exists = 1;
    } else {
        memset(&e->facts, 0, sizeof e->facts);
        TextCopy(e->facts.name, sizeof e->facts.name, p);
    }
    if (r->serialCount > 0) {
        e->serialLow = r->serialLow;
        e->serialHigh = r->serialHigh;
        r->serialCount--;
    }
    r->table->counts[set]++;
}

static void DescLine(DescReader *r, const char *line)
{
    if (DescHasKeyword(line, "TARGET", "target")) DescTarget(r, line);
    else if (DescHasKeyword(line, "WARNING", "warning")) DescWarning(r, line);
    else if (DescHasKeyword(line, "SERIAL", nullptr)) DescSerial(r, line);
    else if (DescHasKeyword(line, "OVER", "over")) DescLoad(r, line, true);
    else if (DescHasKeyword(line, "LOAD", "load")) DescLoad(r, line, false);
}

int ReadUpgradeDescriptor(const char *path, EntryTable *table, int limit, UpgradePlan *plan,
                          bool *blocking)
{
    memset(table, 0, sizeof *table);
    for (int s = 0; s < UPGRADE_SET_COUNT; s++) {
        plan->comparison[s] = COMPARE_NONE;
        plan->versionThreshold[s] = 0;
    }
    if (limit > UPGRADE_MAX_ENTRIES) limit = UPGRADE_MAX_ENTRIES;
    FILE *f = FileOpen(path, "rb");
    if (!f) return 0;
    DescReader r = {};
    r.table = table;
    r.plan = plan;
    r.blocking = blocking;
    TextCopyN(r.folder, sizeof r.folder, path, TextFolderLength(path));
    char chunk[DESC_CHUNK_SIZE];
    while (!r.stop && table->counts[r.set] < limit && fgets(chunk, sizeof chunk, f)) {
        if (char *cr = strrchr(chunk, '\r')) *cr = '\0';
        if (char *lf = strrchr(chunk, '\n')) *lf = '\0';
        DescLine(&r, chunk);
    }
    fclose(f);
    return table->counts[r.set];
}
