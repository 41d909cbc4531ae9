// The boot-loader recovery records of both programs: Recovery.ini beside the settings file
// (<local app data>\Vendrel\Quilloner), one section per link, read and written only through
// the private-profile functions, which rewrite the whole file: a named mutex keeps the
// processes of a production line (one per link) from writing over each other's sections.
// UI thread only.
#include <windows.h>

#include <cstdio>

#include "app/settings_win.h"
#include "common/fileio.h"
#include "common/fileio_win.h"
#include "common/textutil.h"
#include "upgrade/recovery.h"

static const char kRecoveryName[] = "Recovery.ini";

// Holds the file for the lifetime of the object: every process of this user that reads or
// writes it waits for the others.
class RecoveryLock {
public:
    RecoveryLock() : m_mutex(CreateMutexA(NULL, FALSE, "Local\\Quillon2.Recovery"))
    {
        if (m_mutex) WaitForSingleObject(m_mutex, INFINITE);
    }
    ~RecoveryLock()
    {
        if (!m_mutex) return;
        ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }
    RecoveryLock(const RecoveryLock &) = delete;
    RecoveryLock &operator=(const RecoveryLock &) = delete;

private:
    HANDLE m_mutex;
};

// The file's path; with create, its folders are made first (a runner that has never met the
// window may be the first to write there).
static std::string RecoveryPath(bool create)
{
    SettingsPaths paths;
    SettingsLocate(&paths);
    std::string path = std::string(paths.folder) + "\\" + kRecoveryName;
    if (!create || FileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES) return path;
    FolderCreate(paths.makerFolder);  // failures (already there) do not matter
    FolderCreate(paths.folder);
    // A new file begins with the UTF-16 byte-order mark: the profile functions then keep it in
    // UTF-16, so that an upgrade file's name comes back whole whatever the system's code page.
    if (FILE *f = FileOpen(path.c_str(), "wb")) {
        fputs("\xFF\xFE", f);
        fclose(f);
    }
    return path;
}

// The full path of a UTF-8 name, UTF-8; empty when it cannot be made.
static std::string FullPathOf(const char *path)
{
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(WideFromUtf8(path).c_str(), MAX_PATH, full, NULL);
    return n > 0 && n < MAX_PATH ? Utf8FromWide(full) : std::string();
}

bool RecoveryLoad(const char *link, RecoveryRecord *out)
{
    RecoveryLock lock;
    std::string path = RecoveryPath(false);
    *out = RecoveryRecord();
    ProfileGetString(path.c_str(), link, "Identification", "", out->idnText, sizeof out->idnText);
    ProfileGetString(path.c_str(), link, "Version", "", out->versionText, sizeof out->versionText);
    ProfileGetString(path.c_str(), link, "File", "", out->file, sizeof out->file);
    ProfileGetString(path.c_str(), link, "Time", "", out->time, sizeof out->time);
    return out->idnText[0] && out->file[0];
}

// Each value is written in double quotes, which the reading takes off again: a value that
// begins and ends with a quote of its own, or with spaces, comes back as it was.
static void RecoveryWrite(const char *link, const char *key, const char *value, const std::string &path)
{
    std::string quoted = std::string("\"") + value + "\"";
    ProfileWriteString(path.c_str(), link, key, quoted.c_str());
}

void RecoverySave(const char *link, const RecoveryRecord *rec)
{
    RecoveryLock lock;
    std::string path = RecoveryPath(true);
    std::string full = FullPathOf(rec->file);
    const char *file = full.empty() ? rec->file : full.c_str();
    RecoveryWrite(link, "Identification", rec->idnText, path);
    RecoveryWrite(link, "Version", rec->versionText, path);
    RecoveryWrite(link, "File", file, path);
    RecoveryWrite(link, "Time", rec->time, path);
}

void RecoveryForget(const char *link)
{
    RecoveryLock lock;
    std::string path = RecoveryPath(false);
    if (FileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES) ProfileWriteString(path.c_str(), link, NULL, NULL);
}

bool RecoverySameFile(const char *a, const char *b)
{
    std::string fullA = FullPathOf(a), fullB = FullPathOf(b);
    if (fullA.empty() || fullB.empty()) return TextEqualNoCase(a, b);
    return TextEqualNoCase(fullA.c_str(), fullB.c_str());
}
