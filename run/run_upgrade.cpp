// --upgrade: the window's "Upgrade Firmware..." command (upgrade/command.cpp) with its dialogs
// played on the console, and the runner's side of the seams of upgrade/command.h and
// upgrade/notify.h. The proposed operation and the worker's log lines go to standard output,
// its status and progress to standard error. The command runs on the main thread; the
// boot-loader procedure runs on a worker, as in the window, so that the main thread can pass
// Ctrl-C on to it. Only the worker writes while it runs.
#include <windows.h>
#include <io.h>
#include <process.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/texttab.h"
#include "link/link.h"
#include "res/resource.h"
#include "run/run.h"
#include "upgrade/bootproto.h"
#include "upgrade/command.h"
#include "upgrade/notify.h"
#include "upgrade/recovery.h"

enum { WORKER_POLL_MS = 20 };

// What the command's seams saw of this run, for the exit code and the reason given.
static struct {
    bool yes;                // --yes
    bool allowModelMismatch; // --allow-model-mismatch
    bool modelDeclined;      // the model warning was answered Cancel
    std::string refusal;     // the files list was not accepted: why
    bool procedureRan;
    bool succeeded;
    uint8_t stage;           // UpgradeStage the worker reached
    std::string lastLog;     // the worker's last log line but the one on what a failure left
} s_upgrade;

// The status line and the progress position, on standard error: one line rewritten in place
// on a console, a line for each change otherwise (a log file or a pipe).
static struct {
    bool console;
    std::string status;
    int percent;
    size_t shown;  // width of the line standing in place; 0 when none
} s_progress;

static void ProgressErase()
{
    if (!s_progress.shown) return;
    fprintf(stderr, "\r%*s\r", (int)s_progress.shown, "");
    s_progress.shown = 0;
}

static void ProgressShow()
{
    char line[BOOT_LINE_SIZE];
    snprintf(line, sizeof line, "quillon2-run: %3d%% %s", s_progress.percent, s_progress.status.c_str());
    if (!s_progress.console) {
        fprintf(stderr, "%s\n", line);
    } else {
        ProgressErase();
        fputs(line, stderr);
        s_progress.shown = strlen(line);
    }
    fflush(stderr);
}

// --- upgrade/notify.h: the worker's notifications, at once, on the worker's thread --------------

void UpgradeNotify(UpgradePlan *, int code, intptr_t param)
{
    if (code != UPN_PROGRESS || param == s_progress.percent) return;
    // A log gets a line each ten per cent on the way up, not a hundred lines for each file.
    bool show = s_progress.console || (param > s_progress.percent && param / 10 != s_progress.percent / 10);
    s_progress.percent = (int)param;
    if (show) ProgressShow();
}

void PostDialogText(UpgradePlan *plan, int code, const char *text)
{
    if (code == UPN_STATUS) {
        s_progress.status = text;
        ProgressShow();
    } else if (code == UPN_LOG) {
        // A log line takes the place of the progress line on a console, which comes back below it.
        bool shown = s_progress.shown != 0;
        ProgressErase();
        // The line that says what a failure left is printed; the reason stays the one before it.
        if (strcmp(text, BootFailureStateText(plan->stage)) != 0) s_upgrade.lastLog = text;
        RunWriteLines((std::string(text) + "\n").c_str());
        if (shown) ProgressShow();
    }
}

// --- upgrade/command.h: the dialogs ---------------------------------------------------------------

// The path comes from the command line: there is nothing to choose.
bool ChooseUpgradeFile(UiOwner, char *path, size_t cap)
{
    if (cap > 0) path[0] = '\0';
    return false;
}

// A mismatch is the one question --yes does not answer: firmware for another model can make the
// instrument unusable, so going on takes an option that says exactly that. A model that cannot
// be checked (a main HEX file names none) is answered as the other questions are.
bool ConfirmTargetModel(UiOwner, const char *text, bool mismatch)
{
    if (mismatch) RunSetAnswerYes(s_upgrade.allowModelMismatch, "--allow-model-mismatch");
    bool go = UiMessage(nullptr, text, AppTextTable[0], UI_ICON_WARNING, UI_OK_CANCEL) == UI_ANSWER_OK;
    RunSetAnswerYes(s_upgrade.yes);
    s_upgrade.modelDeclined = mismatch && !go;
    return go;
}

// No script runs beside an upgrade.
void UpgradePauseScript() {}

int ShowFirmwareFilesDialog(UiOwner, const char *richText, bool blocking)
{
    RunWriteLines(ProposedOperationText(richText).c_str());
    if (blocking) {
        s_upgrade.refusal = "the proposed operation cannot be accepted: a file marked [ ] does not exist, a sector "
                            "marked [ ] is outside the range of the target, or nothing is to be programmed";
    } else if (RunInterrupted() || !s_upgrade.yes) {
        s_upgrade.refusal = "the proposed operation was not accepted (--yes accepts it)";
    }
    return s_upgrade.refusal.empty() ? IDC_FILES_ACCEPT : IDCANCEL;
}

static unsigned __stdcall UpgradeWorker(void *plan)
{
    RunUpgradeProcedure((UpgradePlan *)plan);
    return 0;
}

int RunUpgradeProgressDialog(UiOwner, UpgradePlan *plan)
{
    plan->succeeded = 0;
    plan->stopRequested = 0;
    if (RunInterrupted()) return -1;  // nothing has gone to the boot loader yet
    s_progress.console = _isatty(_fileno(stderr)) != 0;
    s_progress.percent = 0;
    HANDLE worker = (HANDLE)_beginthreadex(NULL, 0, UpgradeWorker, plan, 0, NULL);
    if (!worker) {
        RunWriteError("Failed to start the firmware upgrade thread!");
        return -1;
    }
    // The worker stops before its next command: the record under way gets its answer first.
    while (WaitForSingleObject(worker, WORKER_POLL_MS) == WAIT_TIMEOUT) {
        if (RunInterrupted()) plan->stopRequested = 1;
    }
    CloseHandle(worker);
    if (s_progress.shown) fputs("\n", stderr);
    s_progress.shown = 0;
    s_upgrade.procedureRan = true;
    s_upgrade.succeeded = plan->succeeded != 0;
    s_upgrade.stage = plan->stage;
    // As the progress dialog's Finished does: the instrument restarted its network interface.
    if (plan->succeeded && g_connection.interfaceKind == IFACE_LAN) {
        CloseLink(&g_connection);
        OpenLink(&g_connection);
    }
    return IDCANCEL;
}

// --- The form --------------------------------------------------------------------------------------

// Why the command ended before the boot loader was reached, when the instrument answered.
static std::string UpgradeRefusal()
{
    if (!s_upgrade.refusal.empty()) return s_upgrade.refusal;
    RunMessage m = RunLastMessage();
    if (s_upgrade.modelDeclined && !RunInterrupted())
        return "\"" + m.text + "\" was answered Cancel (--allow-model-mismatch answers OK)";
    if (m.declined) return "\"" + m.text + "\" was answered " + m.answer + " (--yes answers " +
                           (strcmp(m.answer, "No") == 0 ? "Yes" : "OK") + ")";
    if (!m.text.empty()) return "the check \"" + m.text + "\"";
    // The one way out without a word: a target set of 50 entries or more.
    return "the upgrade file lists 50 or more files for one target";
}

// What Ctrl-C left behind, by how far the worker had got.
static const char *UpgradeStopText()
{
    RecoveryRecord waiting;
    if ((!s_upgrade.procedureRan || s_upgrade.stage == UPGRADE_STAGE_NORMAL) &&
        RecoveryLoad(RecoveryLinkName(&g_connection).c_str(), &waiting))
        return "the upgrade stopped before the boot loader was called; the instrument may still wait in its boot "
               "loader after the failed upgrade: run the same upgrade again";
    if (!s_upgrade.procedureRan || s_upgrade.stage == UPGRADE_STAGE_NORMAL)
        return "the upgrade stopped before the boot loader was called; the instrument is unchanged";
    if (s_upgrade.succeeded) return "the upgrade had ended: the firmware was sent and the instrument restarted";
    if (s_upgrade.stage == UPGRADE_STAGE_BOOT)
        return "the upgrade stopped after the command under way; the instrument waits in its boot loader, "
               "its firmware not yet changed: the same upgrade again programs it (or switch it off and on)";
    return "the upgrade stopped after the command under way; the instrument waits in its boot loader "
           "with its firmware incomplete: run the same upgrade again";
}

int RunUpgrade(const char *path, bool yes, bool allowModelMismatch)
{
    s_upgrade = {};
    s_upgrade.yes = yes;
    s_upgrade.allowModelMismatch = allowModelMismatch;
    RunForgetMessage();
    bool ran = RunFirmwareUpgradeFile(nullptr, path);
    if (RunInterrupted()) {
        RunWriteError(UpgradeStopText());
        return RUN_EXIT_INTERRUPTED;
    }
    if (ran && s_upgrade.succeeded) return RUN_EXIT_PASSED;
    if (ran) {
        RunWriteError(("upgrade failed: " + s_upgrade.lastLog).c_str());
        if (s_upgrade.stage >= UPGRADE_STAGE_BOOT)
            RunWriteError("the instrument waits in its boot loader: run the same upgrade again to program it");
        return RUN_EXIT_LINK;
    }
    if (!g_connection.connected) {
        RunWriteError("upgrade ended: the instrument did not answer the identification");
        return RUN_EXIT_LINK;
    }
    RunWriteError(("upgrade refused: " + UpgradeRefusal()).c_str());
    return RUN_EXIT_REFUSED;
}
