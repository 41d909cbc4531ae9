// The thin user-interface seam of the portable layers: message boxes and the wait cursor. It
// lives with the lowest layer that calls it (the connect sequence); the script runner and the
// upgrade command call it too, and nothing else of the user interface. The window program
// implements it with Win32 (app/ui_win.cpp); the headless runner writes messages to standard
// error and has no cursor (run/run_host.cpp).
#pragma once

typedef void *UiOwner;  // an HWND in the window program; ignored headless

enum UiIcon { UI_ICON_INFO, UI_ICON_WARNING, UI_ICON_QUESTION, UI_ICON_ERROR };
enum UiButtons { UI_OK, UI_OK_CANCEL, UI_YES_NO };
enum UiAnswer { UI_ANSWER_OK = 1, UI_ANSWER_CANCEL = 2, UI_ANSWER_YES = 6, UI_ANSWER_NO = 7 };

// Shows a modal message; returns the button pressed (UiAnswer).
int UiMessage(UiOwner owner, const char *text, const char *caption, UiIcon icon, UiButtons buttons);

// Shows the wait cursor; returns a token for UiEndWait that restores the previous one.
void *UiBeginWait();
void UiEndWait(void *token);
