// Shared by the upgrade tests and the upgrade benchmark (both run under Wine on the UI thread
// of their own process): Intel-HEX fixtures written to a temp folder, the product's dialog
// resources, and a thread-timer driver that answers the command's modal boxes and dialogs.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/fileio_win.h"
#include "res/resource.h"

// --- Intel-HEX fixtures -------------------------------------------------------------------

inline std::string HexRecord(uint16_t address, int type, const std::vector<uint8_t> &data)
{
    char text[16];
    unsigned sum = (unsigned)data.size() + (address >> 8) + (address & 0xFF) + (unsigned)type;
    snprintf(text, sizeof text, ":%02X%04X%02X", (unsigned)data.size(), address, type);
    std::string line = text;
    for (uint8_t b : data) {
        snprintf(text, sizeof text, "%02X", b);
        line += text;
        sum += b;
    }
    snprintf(text, sizeof text, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

// Lines (without line ends) of n bytes from base (16-byte aligned), 16 a record, with a 04
// record wherever the upper address half changes; the bytes follow seed so that no two files
// look alike.
inline std::vector<std::string> HexLines(uint32_t base, int n, int seed)
{
    std::vector<std::string> lines;
    for (int at = 0; at < n; at += 16) {
        uint32_t address = base + (uint32_t)at;
        if (at == 0 || (address & 0xFFFF) == 0)
            lines.push_back(HexRecord(0, 4, {(uint8_t)(address >> 24), (uint8_t)(address >> 16)}));
        std::vector<uint8_t> data;
        for (int i = at; i < n && i < at + 16; i++) data.push_back((uint8_t)(seed * 37 + i * 11 + (i >> 8)));
        lines.push_back(HexRecord((uint16_t)address, 0, data));
    }
    lines.push_back(":00000001FF");
    return lines;
}

inline std::string JoinLines(const std::vector<std::string> &lines, const char *eol = "\r\n")
{
    std::string text;
    for (const std::string &l : lines) text += l + eol;
    return text;
}

// What the worker puts on the wire for a file: each ':' line as read (CR LF read as LF),
// then CR LF.
inline std::string RecordsOnWire(const std::vector<std::string> &lines)
{
    std::string wire;
    for (const std::string &l : lines)
        if (!l.empty() && l[0] == ':') wire += l + "\n\r\n";
    return wire;
}

// path in UTF-8, as the program's.
inline bool WriteTextFile(const std::string &path, const std::string &text)
{
    FILE *f = _wfopen(WideFromUtf8(path.c_str()).c_str(), L"wb");
    if (!f) return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// A fresh folder under the temp path, with its trailing backslash.
inline std::string MakeTempFolder(const char *tag)
{
    char base[MAX_PATH];
    GetTempPathA(sizeof base, base);
    static int serial = 0;
    char folder[MAX_PATH + 64];
    snprintf(folder, sizeof folder, "%squillon-%s-%lu-%d\\", base, tag, GetCurrentProcessId(), ++serial);
    CreateDirectoryA(folder, NULL);
    return folder;
}

// The host path of a file, for the simulator's flash-verify; empty outside Wine.
inline std::string UnixPathOf(const std::string &windowsPath)
{
    typedef char *(CDECL * UnixName)(const WCHAR *);
    UnixName convert = (UnixName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!convert) return "";
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_UTF8, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char *unixPath = convert(wide);
    if (!unixPath) return "";
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

// The boot-loader part of a transcript: from the first attention byte on, with the NUL that
// follows every LAN line taken out.
inline std::string BootPart(const std::string &wire)
{
    std::string bytes;
    for (char c : wire)
        if (c != '\0') bytes += c;
    size_t at = bytes.find('\x19');
    return at == std::string::npos ? std::string() : bytes.substr(at);
}

// --- The product's dialogs ------------------------------------------------------------------

// Test programs carry no resources of their own: the dialogs come from quillon2.exe, built
// next to them, loaded as data. An owner window made with that module leads the command there.
inline HWND MakeOwnerWindow()
{
    static HWND owner;
    if (owner) return owner;
    LoadLibraryA("riched32.dll");
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    char exe[MAX_PATH];
    GetModuleFileNameA(NULL, exe, sizeof exe);
    char *slash = strrchr(exe, '\\');
    strcpy(slash ? slash + 1 : exe, "quillon2.exe");
    HMODULE resources = LoadLibraryExA(exe, NULL, LOAD_LIBRARY_AS_DATAFILE);
    owner = CreateWindowExA(0, "STATIC", "upgrade test owner", WS_POPUP, 0, 0, 100, 100, NULL, NULL,
                            (HINSTANCE)resources, NULL);
    return resources ? owner : NULL;
}

// --- Driving the modal boxes from a thread timer --------------------------------------------

// What the driver does and what it saw. Message boxes are answered in order from answers;
// when they run out an OK-only box gets OK and any other box is declined (Cancel or No).
struct UiDriver {
    std::vector<int> answers;
    bool acceptFiles = true;      // Accept dialog 151 when its Accept is enabled
    bool pokeWhileRunning = true; // try Cancel and the close box while the worker runs
    std::string typePath;         // typed into the open-file dialog; empty: cancel it
    DWORD deadline = 0;           // tick count after which everything is declined

    std::vector<std::string> boxes;  // "caption|text" of each message box
    bool fileDialogSeen = false;
    bool filesSeen = false, filesAcceptEnabled = false;
    std::string filesText;
    bool progressSeen = false, buttonsDisabledWhileRunning = false, survivedPoke = false;
    bool finishedSeen = false;    // the button read "Finished" or "Close", enabled
    bool startVisible = true;     // Start could be seen then
    std::string log, status, cancelText;
    int progress = -1;
    DWORD sendingAt = 0, sentAt = 0;  // tick counts: first file started, "Firmware sent OK" seen

    size_t answered = 0;
    std::set<HWND> handled;
    bool poked = false;
};

inline UiDriver *&ActiveDriver()
{
    static UiDriver *driver;
    return driver;
}

inline std::string TextOf(HWND w)
{
    int n = GetWindowTextLengthA(w);
    std::string text(n + 1, '\0');
    GetWindowTextA(w, &text[0], n + 1);
    text.resize(strlen(text.c_str()));
    return text;
}

inline BOOL CALLBACK CollectStaticText(HWND child, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(child, cls, sizeof cls);
    std::string *longest = (std::string *)lParam;
    std::string text = TextOf(child);
    if (_stricmp(cls, "Static") == 0 && text.size() > longest->size()) *longest = text;
    return TRUE;
}

inline void ClickLater(HWND dlg, int id)
{
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dlg, id));
}

inline void DriveProgress(UiDriver *d, HWND dlg)
{
    HWND cancel = GetDlgItem(dlg, IDCANCEL);
    d->progressSeen = true;
    if (!d->sendingAt && TextOf(GetDlgItem(dlg, IDC_UPGRADE_STATUS)).rfind("Sending file", 0) == 0)
        d->sendingAt = GetTickCount();
    if (!d->sentAt && TextOf(GetDlgItem(dlg, IDC_UPGRADE_LOG)).find("Firmware sent OK") != std::string::npos)
        d->sentAt = GetTickCount();
    std::string button = TextOf(cancel);
    if ((button != "Finished" && button != "Close") || !IsWindowEnabled(cancel)) {
        if (!d->poked) {
            d->buttonsDisabledWhileRunning = !IsWindowEnabled(cancel) && !IsWindowEnabled(GetDlgItem(dlg, IDC_UPGRADE_START));
            if (d->pokeWhileRunning) {
                PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
                PostMessageA(dlg, WM_CLOSE, 0, 0);
            }
            d->poked = true;
        } else {
            d->survivedPoke = true;
        }
        return;
    }
    d->finishedSeen = true;
    d->log = TextOf(GetDlgItem(dlg, IDC_UPGRADE_LOG));
    d->status = TextOf(GetDlgItem(dlg, IDC_UPGRADE_STATUS));
    d->cancelText = button;
    d->startVisible = IsWindowVisible(GetDlgItem(dlg, IDC_UPGRADE_START)) != FALSE;
    d->progress = (int)SendDlgItemMessageA(dlg, IDC_UPGRADE_PROGRESS, PBM_GETPOS, 0, 0);
    d->handled.insert(dlg);
    ClickLater(dlg, IDCANCEL);
}

inline void DriveFiles(UiDriver *d, HWND dlg)
{
    d->filesSeen = true;
    d->filesText = TextOf(GetDlgItem(dlg, IDC_FILES_TEXT));
    d->filesAcceptEnabled = IsWindowEnabled(GetDlgItem(dlg, IDC_FILES_ACCEPT)) != FALSE;
    d->handled.insert(dlg);
    if (d->acceptFiles && d->filesAcceptEnabled) {
        ClickLater(dlg, IDC_FILES_ACCEPT);
        return;
    }
    // A blocked Accept must stay refused even when its command arrives some other way.
    if (!d->filesAcceptEnabled) PostMessageA(dlg, WM_COMMAND, IDC_FILES_ACCEPT, 0);
    ClickLater(dlg, IDCANCEL);
}

inline void DriveFileChooser(UiDriver *d, HWND dlg)
{
    d->fileDialogSeen = true;
    d->handled.insert(dlg);
    if (d->typePath.empty()) {
        ClickLater(dlg, IDCANCEL);
        return;
    }
    std::wstring typed = WideFromUtf8(d->typePath.c_str());
    SetDlgItemTextW(dlg, 0x47c, typed.c_str());  // cmb13: the file name box
    SetDlgItemTextW(dlg, 0x480, typed.c_str());  // edt1 of the older layout
    ClickLater(dlg, IDOK);
}

inline void DriveMessageBox(UiDriver *d, HWND box)
{
    std::string text;
    EnumChildWindows(box, CollectStaticText, (LPARAM)&text);
    d->boxes.push_back(TextOf(box) + "|" + text);
    d->handled.insert(box);
    int answer;
    if (d->answered < d->answers.size())
        answer = d->answers[d->answered++];
    else if (GetDlgItem(box, IDCANCEL))
        answer = IDCANCEL;
    else
        answer = GetDlgItem(box, IDNO) ? IDNO : IDOK;
    ClickLater(box, answer);
}

inline BOOL CALLBACK DriveWindow(HWND w, LPARAM)
{
    UiDriver *d = ActiveDriver();
    char cls[32];
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(w) || !IsWindowEnabled(w)) return TRUE;
    if (d->deadline && (LONG)(GetTickCount() - d->deadline) > 0) {
        ClickLater(w, IDCANCEL);  // a test gone wrong must not hang the run
        return TRUE;
    }
    if (GetDlgItem(w, IDC_UPGRADE_PROGRESS)) {
        if (!d->handled.count(w)) DriveProgress(d, w);
    } else if (d->handled.count(w)) {
        return TRUE;
    } else if (GetDlgItem(w, IDC_FILES_TEXT)) {
        DriveFiles(d, w);
    } else if (TextOf(w) == "Select Firmware Upgrade File") {
        DriveFileChooser(d, w);
    } else {
        DriveMessageBox(d, w);
    }
    return TRUE;
}

inline void CALLBACK DriverTick(HWND, UINT, UINT_PTR, DWORD)
{
    if (ActiveDriver()) EnumThreadWindows(GetCurrentThreadId(), DriveWindow, 0);
}

// Runs body (which opens modal windows on this thread) with d answering them.
template <typename Body> void WithDriver(UiDriver *d, Body body)
{
    if (!d->deadline) d->deadline = GetTickCount() + 240000;
    ActiveDriver() = d;
    UINT_PTR timer = SetTimer(NULL, 0, 30, DriverTick);
    body();
    KillTimer(NULL, timer);
    ActiveDriver() = nullptr;
}
