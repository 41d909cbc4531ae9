// The window's common file dialogs, which share one set-up: Save to File, "Select Script
// File" and "Select Firmware Upgrade File". UI thread only.
#include "window/file_dlg_win.h"

#include <commdlg.h>

#include <string>

#include "common/fileio_win.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "script/script_host.h"
#include "upgrade/command.h"

// The dialogs are the wide ones, so that a folder of any name can be chosen on any system;
// the path comes back in UTF-8, the program's texts.
struct FileDialog {
    OPENFILENAMEW ofn;
    std::wstring filter, title;
    wchar_t path[MAX_PATH];
};

// What every dialog here sets: its owner, its filter (pairs of texts, each ending in NUL; the
// first one chosen) and an empty path.
template <size_t N>
static void FileDialogInit(FileDialog *d, HWND owner, const char (&filter)[N])
{
    d->ofn = OPENFILENAMEW();
    d->path[0] = L'\0';
    d->filter.assign(N, L'\0');  // the texts are ASCII: one wide character a byte
    d->filter.resize(MultiByteToWideChar(CP_UTF8, 0, filter, (int)N, &d->filter[0], (int)N));
    d->ofn.lStructSize = sizeof d->ofn;
    d->ofn.hwndOwner = owner;
    d->ofn.lpstrFilter = d->filter.c_str();
    d->ofn.nFilterIndex = 1;
    d->ofn.lpstrFile = d->path;
    d->ofn.nMaxFile = MAX_PATH;
}

// The chosen path into path (capacity cap); false when it does not fit whole.
static bool FileDialogResult(const FileDialog *d, char *path, size_t cap)
{
    return TextCopy(path, cap, Utf8FromWide(d->path).c_str()) < cap;
}

// An existing file, chosen in the open dialog with the given title.
template <size_t N>
static bool ChooseExistingFile(HWND owner, const char (&filter)[N], const char *title, char *path, size_t cap)
{
    FileDialog d;
    path[0] = '\0';
    FileDialogInit(&d, owner, filter);
    d.title = WideFromUtf8(title);
    d.ofn.lpstrTitle = d.title.c_str();
    d.ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameW(&d.ofn) && FileDialogResult(&d, path, cap);
}

bool ChooseSaveFile(HWND owner, char *path, size_t cap)
{
    FileDialog d;
    path[0] = '\0';
    FileDialogInit(&d, owner, "Text File *.txt\0*.txt\0");
    d.ofn.lpstrDefExt = L"txt";
    d.ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return GetSaveFileNameW(&d.ofn) && FileDialogResult(&d, path, cap);
}

bool ChooseScriptFile(char *path, size_t cap)
{
    // The dialog works on a full-size buffer; the caller's may be smaller.
    char file[MAX_PATH * 3];
    path[0] = '\0';
    if (!ChooseExistingFile((HWND)ScriptHostOwner(), "Script Files\0*.txt\0", AppTextTable[66], file, sizeof file))
        return false;
    TextCopy(path, cap, file);
    return true;
}

bool ChooseUpgradeFile(UiOwner owner, char *path, size_t cap)
{
    return ChooseExistingFile((HWND)owner, "Upgrade Descriptor\0*.up*\0Hex Firmware\0*.hex\0",
                              "Select Firmware Upgrade File", path, cap);
}

bool ChooseLogFile(HWND owner, char *path, size_t cap)
{
    FileDialog d;
    path[0] = '\0';
    FileDialogInit(&d, owner, "Log File *.log\0*.log\0All Files\0*.*\0");
    d.title = L"Log to File";
    d.ofn.lpstrTitle = d.title.c_str();
    d.ofn.lpstrDefExt = L"log";
    d.ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    return GetSaveFileNameW(&d.ofn) && FileDialogResult(&d, path, cap);
}
