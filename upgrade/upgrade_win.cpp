// The window's file choice for the "Upgrade Firmware..." command: the open-file dialog.
// The command itself is portable (command.cpp). UI thread only.
#include <windows.h>
#include <commdlg.h>

#include <cstring>

#include "upgrade/upgrade_win.h"

bool ChooseUpgradeFile(UiOwner owner, char *path, size_t cap)
{
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    path[0] = '\0';
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = (HWND)owner;
    ofn.lpstrFilter = "Upgrade Descriptor\0*.up*\0Hex Firmware\0*.hex\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = path;
    ofn.nMaxFile = (DWORD)cap;
    ofn.lpstrTitle = "Select Firmware Upgrade File";
    ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    return GetOpenFileNameA(&ofn) != 0;
}
