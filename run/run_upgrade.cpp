// --upgrade: the window's "Upgrade Firmware..." command (upgrade/command.cpp) with its dialogs
// played on the console, and the runner's side of the seams of upgrade/command.h and
// upgrade/notify.h. The proposed operation and the worker's log lines go to standard output,
// its status and progress to standard error. The command runs on the main thread; the
// boot-loader procedure runs on a worker, as in the window, so that the main thread can pass
// Ctrl-C on to it. Only the worker writes while it runs.
#include <windows.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/texttab.h"
#include "link/link.h"
#include "run/run.h"
#include "upgrade/bootproto.h"
#include "upgrade/command.h"
#include "upgrade/notify.h"
#include "upgrade/recovery.h"
#include "upgrade/worker.h"

enum { WORKER_POLL_MS = 20 };

// How the command's questions are answered, and what the worker said last.
static struct {
    bool yes;                // --yes
    bool allowModelMismatch; // --allow-model-mismatch
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
    if (code != UPGRADE_NOTIFY_PROGRESS || param == s_progress.percent) return;
    // A log gets a line each ten per cent on the way up, not a hundred lines for each file.
    bool show = s_progress.console || (param > s_progress.percent && param / 10 != s_progress.percent / 10);
    s_progress.percent = (int)param;
    if (show) ProgressShow();
}

void PostDialogText(UpgradePlan *plan, int code, const char *text)
{
    if (code == UPGRADE_NOTIFY_STATUS) {
        s_progress.status = text;
        ProgressShow();
    } else if (code == UPGRADE_NOTIFY_LOG) {
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
    return go;
}

// No script runs beside an upgrade.
void UpgradePauseScript() {}

bool ShowFirmwareFilesDialog(UiOwner, const std::vector<TextRun> &runs, bool blocking)
{
    RunWriteLines(ProposalPlainText(runs).c_str());
    return !blocking && s_upgrade.yes && !RunInterrupted();
}

int RunUpgradeProgressDialog(UiOwner, UpgradePlan *plan)
{
    plan->succeeded = 0;
    if (RunInterrupted()) return -1;  // nothing has gone to the boot loader yet
    s_progress.console = _isatty(_fileno(stderr)) != 0;
    s_progress.percent = 0;
    void *worker = StartUpgradeWorker(plan);
    if (!worker) {
        RunWriteError("Failed to start the firmware upgrade thread!");
        return -1;
    }
    // The worker stops before its next command: the record under way gets its answer first.
    while (!UpgradeWorkerWait(worker, WORKER_POLL_MS)) {
        if (RunInterrupted()) plan->stopRequested = 1;
    }
    if (s_progress.shown) fputs("\n", stderr);
    s_progress.shown = 0;
    return 2;  // closed, as the window's dialog is
}

// --- The form --------------------------------------------------------------------------------------

// Why the command ended before the boot loader was reached, when the instrument answered.
static std::string UpgradeRefusalText(const UpgradeOutcome &o)
{
    std::string message = "\"" + RunOneLine(o.message.c_str()) + "\"";
    switch (o.refusal) {
    case UPGRADE_REFUSED_FILES_BLOCKED:
        return "the proposed operation cannot be accepted: a file marked [ ] does not exist, a sector marked [ ] is "
               "outside the range of the target, or nothing is to be programmed";
    case UPGRADE_REFUSED_FILES_DECLINED: return "the proposed operation was not accepted (--yes accepts it)";
    case UPGRADE_REFUSED_MODEL_DECLINED: return message + " was answered Cancel (--allow-model-mismatch answers OK)";
    case UPGRADE_REFUSED_DECLINED:
        return o.answer == UI_ANSWER_NO ? message + " was answered No (--yes answers Yes)"
                                        : message + " was answered Cancel (--yes answers OK)";
    case UPGRADE_REFUSED_CHECK: return "the check " + message;
    case UPGRADE_REFUSED_TOO_MANY_FILES: return "the upgrade file lists 50 or more files for one target";
    case UPGRADE_REFUSED_NOT_STARTED: break;
    }
    return "the upgrade could not be started";
}

// What Ctrl-C left behind, by how far the worker had got.
static const char *UpgradeStopText(const UpgradeOutcome &o)
{
    bool ran = o.result == UPGRADE_DONE || o.result == UPGRADE_FAILED;
    RecoveryRecord waiting;
    if ((!ran || o.stage == UPGRADE_STAGE_NORMAL) && RecoveryLoad(RecoveryLinkName(&g_connection).c_str(), &waiting))
        return "the upgrade stopped before the boot loader was called; the instrument may still wait in its boot "
               "loader after the failed upgrade: run the same upgrade again";
    if (!ran || o.stage == UPGRADE_STAGE_NORMAL)
        return "the upgrade stopped before the boot loader was called; the instrument is unchanged";
    if (o.result == UPGRADE_DONE) return "the upgrade had ended: the firmware was sent and the instrument restarted";
    if (o.stage == UPGRADE_STAGE_BOOT)
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
    UpgradeOutcome outcome = RunFirmwareUpgradeFile(nullptr, path);
    if (RunInterrupted()) {
        RunWriteError(UpgradeStopText(outcome));
        return RUN_EXIT_INTERRUPTED;
    }
    switch (outcome.result) {
    case UPGRADE_DONE: return RUN_EXIT_PASSED;
    case UPGRADE_FAILED:
        RunWriteError(("upgrade failed: " + s_upgrade.lastLog).c_str());
        if (outcome.stage >= UPGRADE_STAGE_BOOT)
            RunWriteError("the instrument waits in its boot loader: run the same upgrade again to program it");
        return RUN_EXIT_LINK;
    case UPGRADE_NOT_IDENTIFIED:
        RunWriteError("upgrade ended: the instrument did not answer the identification");
        return RUN_EXIT_LINK;
    case UPGRADE_REFUSED: break;
    }
    RunWriteError(("upgrade refused: " + UpgradeRefusalText(outcome)).c_str());
    return RUN_EXIT_REFUSED;
}
