// The boot-loader recovery records of both programs: Recovery.ini beside the settings file
// (<local app data>\Vendrel\Quilloner), one section per link, read and written only through
// the private-profile functions. UI thread only.
#include <windows.h>

#include "app/settings_win.h"
#include "common/textutil.h"
#include "upgrade/recovery.h"

static const char kRecoveryName[] = "Recovery.ini";

// The file's path; with create, its folders are made first (a runner that has never met the
// window may be the first to write there).
static std::string RecoveryPath(bool create)
{
    SettingsPaths paths;
    SettingsLocate(&paths);
    if (create) {
        CreateDirectoryA(paths.makerFolder, NULL);  // failures (already there) do not matter
        CreateDirectoryA(paths.folder, NULL);
    }
    return std::string(paths.folder) + "\\" + kRecoveryName;
}

bool RecoveryLoad(const char *link, RecoveryRecord *out)
{
    std::string path = RecoveryPath(false);
    *out = RecoveryRecord();
    GetPrivateProfileStringA(link, "Identification", "", out->idnText, sizeof out->idnText, path.c_str());
    GetPrivateProfileStringA(link, "Version", "", out->versionText, sizeof out->versionText, path.c_str());
    GetPrivateProfileStringA(link, "File", "", out->file, sizeof out->file, path.c_str());
    GetPrivateProfileStringA(link, "Time", "", out->time, sizeof out->time, path.c_str());
    return out->idnText[0] && out->file[0];
}

// Each value is written in double quotes, which the reading takes off again: a value that
// begins and ends with a quote of its own, or with spaces, comes back as it was.
static void RecoveryWrite(const char *link, const char *key, const char *value, const std::string &path)
{
    std::string quoted = std::string("\"") + value + "\"";
    WritePrivateProfileStringA(link, key, quoted.c_str(), path.c_str());
}

void RecoverySave(const char *link, const RecoveryRecord *rec)
{
    std::string path = RecoveryPath(true);
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(rec->file, sizeof full, full, NULL);
    const char *file = n > 0 && n < sizeof full ? full : rec->file;
    RecoveryWrite(link, "Identification", rec->idnText, path);
    RecoveryWrite(link, "Version", rec->versionText, path);
    RecoveryWrite(link, "File", file, path);
    RecoveryWrite(link, "Time", rec->time, path);
}

void RecoveryForget(const char *link)
{
    std::string path = RecoveryPath(false);
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        WritePrivateProfileStringA(link, NULL, NULL, path.c_str());
}

bool RecoverySameFile(const char *a, const char *b)
{
    char fullA[MAX_PATH], fullB[MAX_PATH];
    DWORD na = GetFullPathNameA(a, sizeof fullA, fullA, NULL);
    DWORD nb = GetFullPathNameA(b, sizeof fullB, fullB, NULL);
    if (na == 0 || na >= sizeof fullA || nb == 0 || nb >= sizeof fullB) return TextEqualNoCase(a, b);
    return TextEqualNoCase(fullA, fullB);
}
