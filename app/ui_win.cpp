// The user-interface seam of the core, for the window program: modal message boxes and the
// wait cursor. UI thread only.
#include <windows.h>

#include "link/ui.h"

int UiMessage(UiOwner owner, const char *text, const char *caption, UiIcon icon, UiButtons buttons)
{
    UINT type = icon == UI_ICON_WARNING ? MB_ICONWARNING
              : icon == UI_ICON_QUESTION ? MB_ICONQUESTION
              : icon == UI_ICON_ERROR ? MB_ICONERROR
              : MB_ICONINFORMATION;
    type |= buttons == UI_OK_CANCEL ? MB_OKCANCEL : buttons == UI_YES_NO ? MB_YESNO : MB_OK;
    return MessageBoxA((HWND)owner, text, caption, type);
}

void *UiBeginWait()
{
    return (void *)SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
}

void UiEndWait(void *token)
{
    SetCursor((HCURSOR)token);
}
