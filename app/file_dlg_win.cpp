// The window's common file dialogs, which share one set-up: Save to File, "Select Script
// File" and "Select Firmware Upgrade File". UI thread only.
#include "app/file_dlg_win.h"

#include <commdlg.h>

#include "common/texttab.h"
#include "common/textutil.h"
#include "script/script_host.h"
#include "upgrade/command.h"

// What every dialog here sets: its owner, its filter (the first one chosen) and the path
// buffer, cleared first.
static void FileDialogInit(OPENFILENAMEA *ofn, HWND owner, const char *filter, char *path, size_t cap)
{
    *ofn = OPENFILENAMEA();
    path[0] = '\0';
    ofn->lStructSize = sizeof *ofn;
    ofn->hwndOwner = owner;
    ofn->lpstrFilter = filter;
    ofn->nFilterIndex = 1;
    ofn->lpstrFile = path;
    ofn->nMaxFile = (DWORD)cap;
}

// An existing file, chosen in the open dialog with the given title.
static bool ChooseExistingFile(HWND owner, const char *filter, const char *title, char *path, size_t cap)
{
    OPENFILENAMEA ofn;
    FileDialogInit(&ofn, owner, filter, path, cap);
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameA(&ofn) != 0;
}

bool ChooseSaveFile(HWND owner, char *path, size_t cap)
{
    OPENFILENAMEA ofn;
    FileDialogInit(&ofn, owner, "Text File *.txt\0*.txt\0", path, cap);
    ofn.lpstrDefExt = "txt";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY;
    return GetSaveFileNameA(&ofn) != 0;
}

bool ChooseScriptFile(char *path, size_t cap)
{
    // The dialog works on a full-size buffer; the caller's may be smaller.
    char file[260];
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
