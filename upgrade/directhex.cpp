// A directly chosen main HEX file and its companions: the DSP file (sector 2), the FPGA file
// (sector 1, not for SQ and PC instruments) and the main file itself (sector 0).
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/textutil.h"
#include "upgrade/filefacts.h"
#include "upgrade/upgrade.h"

static void DirectHexAdd(EntryTable *table, const char *path, int32_t sector, bool *blocking)
{
    LoadEntry *e = &table->sets[0][table->counts[0]++];
    memset(e, 0, sizeof *e);
    e->sector = sector;
    // A cut path could name some other file; such an entry is treated as missing.
    if (TextCopy(e->path, sizeof e->path, path) < sizeof e->path && LookupFileFacts(path, &e->facts)) {
        e->exists = 1;
    } else {
        memset(&e->facts, 0, sizeof e->facts);
        *blocking = true;
    }
}

// Companion path: the chosen file's folder, then prefix and the suffix. Without a folder the
// companion sits beside the file (a bare "\" would point at the root of the drive instead).
static void DirectHexCompanion(char *out, size_t cap, const char *folder, const char *prefix,
                               const char *suffix)
{
    snprintf(out, cap, "%s%s%s%s", folder, *folder ? "\\" : "", prefix, suffix);
}

int ReadDirectHexFile(const char *path, EntryTable *table, bool *blocking)
{
    memset(table, 0, sizeof *table);
    size_t folderLength = TextFolderLength(path);
    const char *name = path + folderLength;
    const unsigned char *n = (const unsigned char *)name;
    if (!isalpha(n[0]) || !isalnum(n[1]) || n[2] != '_') return -1;
    char folder[UPGRADE_PATH_SIZE];
    TextCopyN(folder, sizeof folder, path, folderLength ? folderLength - 1 : 0);  // no separator
    const char *suffix = name + 2;
    // Generous buffer: a companion path that does not fit its entry is caught by the length check.
    char companion[2 * UPGRADE_PATH_SIZE];
    DirectHexCompanion(companion, sizeof companion, folder, "DSP", suffix);
    DirectHexAdd(table, companion, 2, blocking);
    bool noFpga = TextStartsWithNoCase(name, "SQ") || TextStartsWithNoCase(name, "PC");
    if (!noFpga) {
        DirectHexCompanion(companion, sizeof companion, folder, "FPG", suffix);
        DirectHexAdd(table, companion, 1, blocking);
    }
    DirectHexAdd(table, path, 0, blocking);
    return table->counts[0];
}
