#include "fuzz_common.h"

#include <ftw.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void FuzzCheckFailed(const char *what, const char *file, int line)
{
    fprintf(stderr, "%s:%d: fuzz check failed: %s\n", file, line, what);
    abort();
}

static int FuzzRemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    remove(path);
    return 0;
}

static void FuzzRemoveScratch()
{
    if (chdir("/") == 0) nftw(FuzzScratchDir().c_str(), FuzzRemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

const std::string &FuzzScratchDir()
{
    static const std::string dir = [] {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillon-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            perror("mkdtemp");
            abort();
        }
        if (chdir(pattern.c_str()) != 0) {
            perror("chdir");
            abort();
        }
        atexit(FuzzRemoveScratch);
        return pattern;
    }();
    return dir;
}

bool FuzzWriteFile(const std::string &path, const void *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

void FuzzFillText(FuzzedDataProvider &in, char *field, size_t size)
{
    memset(field, 0, size);
    std::string text = in.ConsumeRandomLengthString(size - 1);
    memcpy(field, text.data(), text.size());
}
