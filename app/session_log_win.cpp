// The session log's file over the system's file calls: no buffer of the program's own stands
// between a line and the system, so a line that ended is in the file whatever happens to the
// program afterwards.
#include "app/session_log_win.h"

#include <windows.h>

#include "common/fileio_win.h"

static HANDLE s_file = INVALID_HANDLE_VALUE;
static std::string s_path;
static SessionLogLines s_lines;

ClockStamp ClockNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ClockStamp{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

static std::string SystemErrorText(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                   code, 0, (LPWSTR)&text, 0, NULL);
    std::string out = text ? Utf8FromWide(text) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out;
}

static bool WriteLine(const std::string &line)
{
    DWORD written = 0;
    return WriteFile(s_file, line.data(), (DWORD)line.size(), &written, NULL) && written == line.size();
}

bool SessionLogStart(const char *path, std::string *error)
{
    SessionLogStop();
    // Appends only: every write lands at the end, even where another program writes too.
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SystemErrorText(GetLastError());
        return false;
    }
    s_file = file;
    s_path = path;
    s_lines = SessionLogLines();
    return true;
}

void SessionLogStop()
{
    if (s_file == INVALID_HANDLE_VALUE) return;
    std::string line;
    if (s_lines.TakePartial(&line)) WriteLine(line);
    CloseHandle(s_file);
    s_file = INVALID_HANDLE_VALUE;
    s_path.clear();
}

bool SessionLogActive() { return s_file != INVALID_HANDLE_VALUE; }

std::string SessionLogPath() { return s_path; }

bool SessionLogFeed(const char *text, std::string *error)
{
    if (s_file == INVALID_HANDLE_VALUE || !*text) return true;
    std::vector<std::string> done;
    s_lines.Feed(text, DateClockText(ClockNow()), &done);
    for (const std::string &line : done) {
        if (WriteLine(line)) continue;
        *error = SystemErrorText(GetLastError());
        s_lines = SessionLogLines();  // the line that failed is not written again at the stop
        SessionLogStop();
        return false;
    }
    return true;
}
