// The two dialogs of an accepted upgrade: "Firmware Files List" (151), the confirmation, and
// "Upgrade Firmware" (152), the progress dialog that starts the worker thread. The dialogs run
// on the UI thread; the worker runs RunUpgradeProcedure and reaches the dialog only through
// UpgradeNotify and PostDialogText below, which post messages and never touch a window.
#include <windows.h>
#include <commctrl.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/texttab.h"
#include "common/textutil_win.h"
#include "link/ui.h"
#include "res/resource.h"
#include "upgrade/bootproto.h"
#include "upgrade/command.h"
#include "upgrade/notify.h"
#include "upgrade/worker.h"

enum { UPGRADE_POST_RETRY_MS = 10 };

// The progress dialog's state: its plan and its worker. It lives in RunUpgradeProgressDialog
// and reaches the dialog through LPARAM, kept in DWLP_USER.
struct UpgradeDialogState {
    UpgradePlan *plan;
    void *worker;    // null until started (worker.h); closed when the dialog ends
    bool finished;   // UPN_FINISHED has arrived: the worker no longer uses the plan or the link
};

// The progress position last posted; the worker's alone once started (reset before it starts).
static intptr_t s_progressPosted = -1;

// The module the dialogs are loaded from: the one that made owner, else the program itself.
static HINSTANCE UpgradeResourceModule(HWND owner)
{
    HINSTANCE module = owner ? (HINSTANCE)GetWindowLongPtrA(owner, GWLP_HINSTANCE) : NULL;
    return module ? module : GetModuleHandleA(NULL);
}

// --- Worker side ------------------------------------------------------------------------

// The dialog's command id for a notice (notify.h).
static WPARAM UpgradeNoticeId(int code)
{
    static const WPARAM ids[] = {UPN_FINISHED, UPN_PROGRESS, UPN_STATUS, UPN_LOG};
    return ids[code];
}

void UpgradeNotify(UpgradePlan *plan, int code, intptr_t param)
{
    HWND dialog = (HWND)plan->dialogWindow;
    if (!dialog) return;
    // The worker reports progress after every HEX line, but the bar has only 101 positions:
    // posting the same one again costs both threads a round trip through the message queue
    // for every record and shows nothing new.
    if (code == UPGRADE_NOTIFY_PROGRESS) {
        if (param == s_progressPosted) return;
        s_progressPosted = param;
    }
    // The dialog keeps its buttons disabled until UPN_FINISHED arrives: losing it to a full
    // message queue would leave the user with no way out, so it is posted until it gets there.
    while (!PostMessageA(dialog, WM_COMMAND, UpgradeNoticeId(code), (LPARAM)param)) {
        if (code != UPGRADE_NOTIFY_FINISHED || !IsWindow(dialog)) return;
        Sleep(UPGRADE_POST_RETRY_MS);
    }
}

void PostDialogText(UpgradePlan *plan, int code, const char *text)
{
    HWND dialog = (HWND)plan->dialogWindow;
    if (!dialog) return;
    size_t len = strlen(text);
    char *copy = (char *)malloc(len + 1);
    if (!copy) return;
    memcpy(copy, text, len + 1);
    // Ownership passes to the dialog only with a message that was really posted.
    if (!PostMessageA(dialog, WM_COMMAND, UpgradeNoticeId(code), (LPARAM)copy)) free(copy);
}

// --- Dialog 151: Firmware Files List ------------------------------------------------------

struct FilesDialogParam {
    std::string richText;
    bool blocking;
};

static INT_PTR CALLBACK FilesDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    const FilesDialogParam *p = (const FilesDialogParam *)GetWindowLongPtrA(dlg, DWLP_USER);
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lParam);
        p = (const FilesDialogParam *)lParam;
        // The control reads a window text that begins with "{\rtf" as rich text.
        SetDlgItemTextA(dlg, IDC_FILES_TEXT, p->richText.c_str());
        if (p->blocking) EnableWindow(GetDlgItem(dlg, IDC_FILES_ACCEPT), FALSE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FILES_ACCEPT:
            // Enter on the default button must not get round a blocked operation either.
            if (!p->blocking) EndDialog(dlg, IDC_FILES_ACCEPT);
            return TRUE;
        case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

bool ConfirmTargetModel(UiOwner owner, const char *text, bool)
{
    return UiMessage(owner, text, AppTextTable[0], UI_ICON_WARNING, UI_OK_CANCEL) == UI_ANSWER_OK;
}

bool ShowFirmwareFilesDialog(UiOwner owner, const std::vector<TextRun> &runs, bool blocking)
{
    FilesDialogParam param = {ProposalRichText(runs), blocking};
    return DialogBoxParamA(UpgradeResourceModule((HWND)owner), MAKEINTRESOURCEA(IDD_FIRMWARE_FILES), (HWND)owner,
                           FilesDialogProc, (LPARAM)&param) == IDC_FILES_ACCEPT;
}

// --- Dialog 152: Upgrade Firmware ---------------------------------------------------------

static void UpgradeAppendLog(HWND dlg, const char *text)
{
    size_t len = strlen(text);
    char *line = (char *)malloc(len + 3);
    if (!line) return;
    memcpy(line, text, len);
    memcpy(line + len, "\r\n", 3);
    // One insertion for the text and its line end: each one costs a redraw.
    AppendEditText(GetDlgItem(dlg, IDC_UPGRADE_LOG), line);
    free(line);
}

static void UpgradeStart(HWND dlg, UpgradeDialogState *state)
{
    if (state->worker) return;  // one worker per dialog
    s_progressPosted = -1;
    HWND start = GetDlgItem(dlg, IDC_UPGRADE_START);
    void *thread = StartUpgradeWorker(state->plan);
    if (!thread) {
        UiMessage(dlg, "Failed to start the firmware upgrade thread!", "Upgrade Firmware", UI_ICON_INFO, UI_OK);
        ShowWindow(start, SW_SHOW);  // the one time Start can do something: try again
        return;
    }
    state->worker = thread;
    EnableWindow(start, FALSE);
    ShowWindow(start, SW_HIDE);
    EnableWindow(GetDlgItem(dlg, IDCANCEL), FALSE);
}

// Cancel or Finished. While the worker runs, Escape or the close box must not end the dialog:
// the plan and the entry table it reads live only as long as the dialog's caller.
static void UpgradeClose(HWND dlg, UpgradeDialogState *state)
{
    if (state->worker && !state->finished) return;
    if (state->worker) {
        // UPN_FINISHED is the worker's last post, but it still has to return from the procedure.
        UpgradeWorkerWait(state->worker, UPGRADE_WAIT_ALL);
        state->worker = NULL;
    }
    state->plan->dialogWindow = NULL;
    EndDialog(dlg, IDCANCEL);
}

static void UpgradeOnCommand(HWND dlg, UpgradeDialogState *state, int id, LPARAM lParam)
{
    switch (id) {
    case IDC_UPGRADE_START: UpgradeStart(dlg, state); break;
    case UPN_PROGRESS: SendDlgItemMessageA(dlg, IDC_UPGRADE_PROGRESS, PBM_SETPOS, (WPARAM)lParam, 0); break;
    case UPN_STATUS:
        SetDlgItemTextA(dlg, IDC_UPGRADE_STATUS, (const char *)lParam);
        free((void *)lParam);
        break;
    case UPN_LOG:
        UpgradeAppendLog(dlg, (const char *)lParam);
        free((void *)lParam);
        break;
    case UPN_FINISHED:
        // The worker set succeeded before its last post. "Finished" would read as success.
        state->finished = true;
        SetDlgItemTextA(dlg, IDCANCEL, state->plan->succeeded ? "Finished" : AppTextTable[56]);  // "Close"
        EnableWindow(GetDlgItem(dlg, IDCANCEL), TRUE);
        break;
    case IDCANCEL: UpgradeClose(dlg, state); break;
    }
}

static INT_PTR CALLBACK UpgradeDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    UpgradeDialogState *state = (UpgradeDialogState *)GetWindowLongPtrA(dlg, DWLP_USER);
    switch (msg) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dlg, DWLP_USER, lParam);
        state = (UpgradeDialogState *)lParam;
        state->plan->dialogWindow = dlg;
        SendDlgItemMessageA(dlg, IDC_UPGRADE_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        // The upgrade starts by itself: Start is shown only if the worker cannot be started.
        ShowWindow(GetDlgItem(dlg, IDC_UPGRADE_START), SW_HIDE);
        PostMessageA(dlg, WM_COMMAND, IDC_UPGRADE_START, 0);
        return TRUE;
    case WM_COMMAND:
        // Messages before WM_INITDIALOG (none are expected) find no state yet.
        if (state) UpgradeOnCommand(dlg, state, LOWORD(wParam), lParam);
        return TRUE;
    }
    return FALSE;
}

int RunUpgradeProgressDialog(UiOwner owner, UpgradePlan *plan)
{
    plan->succeeded = 0;  // also when the worker cannot be started
    UpgradeDialogState state = {plan, NULL, false};
    INT_PTR result = DialogBoxParamA(UpgradeResourceModule((HWND)owner), MAKEINTRESOURCEA(IDD_UPGRADE),
                                     (HWND)owner, UpgradeDialogProc, (LPARAM)&state);
    return (int)result;
}
