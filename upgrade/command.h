// The "Upgrade Firmware..." command: file choice, re-identification, reading the descriptor or
// main HEX file, the target checks, confirmation and the hand-over to the progress dialog.
// Portable: it reaches the user through UiMessage and the front-end seams below, and the
// instrument through ConnectAndIdentify. UI thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/textrun.h"
#include "link/ui.h"
#include "upgrade/upgrade.h"

enum { UPGRADE_CHOOSER_SIZE = 256 };  // path buffer of the file choice

// --- Seams the front end supplies (the window: window/file_dlg_win.cpp, window/console_win.cpp and
// upgrade_dlg_win.cpp; the host tests: tests/support/fakeupgrade.cpp) ---

// Asks for an upgrade descriptor or main HEX file. True with path (capacity cap) filled;
// false when the user cancelled.
bool ChooseUpgradeFile(UiOwner owner, char *path, size_t cap);

// The "Firmware Files List" confirmation showing the proposed operation (runs of
// BuildProposedOperation); Accept is refused when blocking. True when it was accepted.
bool ShowFirmwareFilesDialog(UiOwner owner, const std::vector<TextRun> &runs, bool blocking);

// The model check's warning (text: the upgrade file's model against the instrument's, shown when
// they differ or either is unknown; mismatch when the file names a model and the instrument
// is another). True when the user goes on: the window asks OK or Cancel.
bool ConfirmTargetModel(UiOwner owner, const char *text, bool mismatch);

// The "Upgrade Firmware" progress dialog for plan (chosenEntries set): runs RunUpgradeProcedure
// on a worker and returns when the user has closed it, never before the worker has finished.
// Returns 2, or -1 when it could not be shown.
int RunUpgradeProgressDialog(UiOwner owner, UpgradePlan *plan);

// Stops whatever else of the front end would use the link while the command runs: the
// window pauses a running script, which would otherwise keep sending its lines on every timer
// tick, also from inside the modal loops of the command, the way Stop pauses it (the user can
// resume it afterwards). Called once the file is known, before the instrument is identified.
void UpgradePauseScript();

// --- The command ---

// How the command ended.
enum UpgradeResult {
    UPGRADE_DONE,            // the firmware was sent and the instrument restarted
    UPGRADE_FAILED,          // the procedure ran and failed; stage says what it left
    UPGRADE_REFUSED,         // ended before the procedure: refusal says why
    UPGRADE_NOT_IDENTIFIED,  // ended with no instrument identified on the link
};

// Why a command ended before the procedure (UPGRADE_REFUSED).
enum UpgradeRefusal {
    UPGRADE_REFUSED_CHECK,          // a message said why (message)
    UPGRADE_REFUSED_DECLINED,       // a question was answered No or Cancel (message, answer)
    UPGRADE_REFUSED_MODEL_DECLINED, // the warning about a file for another model: Cancel (message)
    UPGRADE_REFUSED_FILES_BLOCKED,  // the proposed operation cannot be accepted: a file missing,
                                    // a sector out of range, or nothing to program
    UPGRADE_REFUSED_FILES_DECLINED, // the proposed operation was not accepted
    UPGRADE_REFUSED_TOO_MANY_FILES, // a target set of UPGRADE_MAX_ENTRIES files or more
    UPGRADE_REFUSED_NOT_STARTED,    // the progress dialog could not be shown, or memory ran out
};

struct UpgradeOutcome {
    UpgradeResult result;
    UpgradeRefusal refusal;  // for UPGRADE_REFUSED
    std::string message;     // the message that ended the command, as the user was told it
    int answer;              // UI_ANSWER_NO or UI_ANSWER_CANCEL for a declined question
    uint8_t stage;           // UpgradeStage the worker reached (UPGRADE_STAGE_NORMAL before it ran)
};

// The whole command over the main window: the file choice, then RunFirmwareUpgradeFile.
// Polling is suspended while it runs.
void RunFirmwareUpgrade(UiOwner mainWindow);

// The command after the file choice, for the file at path. Suspends polling itself and
// restores it on every way out. Returns how it ended; the progress dialog, when it was
// opened (UPGRADE_DONE, UPGRADE_FAILED), has been closed again.
UpgradeOutcome RunFirmwareUpgradeFile(UiOwner mainWindow, const char *path);
