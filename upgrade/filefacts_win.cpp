// File lookup for the upgrade readers with FindFirstFileW, names in UTF-8. Runs on the
// user-interface thread.
#include <windows.h>

#include <cstring>

#include "common/fileio_win.h"
#include "common/textutil.h"
#include "upgrade/filefacts.h"

// FILETIME counts 100 ns ticks from 1601-01-01 UTC; 11644473600 s lie between 1601 and 1970.
static int64_t FileTimeToUnixSeconds(const FILETIME &ft)
{
    uint64_t ticks = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    return (int64_t)(ticks / 10000000u) - 11644473600LL;
}

bool LookupFileFacts(const char *path, FileFacts *out)
{
    memset(out, 0, sizeof *out);
    // A wildcard would let the lookup "find" some other file that the worker could then not
    // open under this path, after it had already erased the flash.
    if (strpbrk(path, "*?")) return false;
    std::wstring wide = WideFromUtf8(path);
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(wide.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;  // not a firmware file
    // A device name ("aux.hex", "nul") can be found like a file, but the worker would read
    // nothing from it, or wait on it for ever, after it had erased the sectors.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool disk = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    if (!disk) return false;
    out->writeTime = FileTimeToUnixSeconds(found.ftLastWriteTime);
    out->size = found.nFileSizeLow;  // firmware files stay far below 4 GiB
    TextCopy(out->name, sizeof out->name, Utf8FromWide(found.cFileName).c_str());
    return true;
}
