// The "Upgrade Firmware..." command: file choice, re-identification, reading the descriptor or
// main HEX file, the target checks, confirmation and the hand-over to the progress dialog.
// Portable: it reaches the user through UiMessage and the front-end seams below, and the
// instrument through ConnectAndIdentify. UI thread only.
#pragma once
#include <cstddef>

#include "link/ui.h"
#include "upgrade/upgrade.h"

enum { UPGRADE_CHOOSER_SIZE = 256 };  // path buffer of the file choice

// --- Seams the front end supplies (the window: window/file_dlg_win.cpp, window/console_win.cpp and
// upgrade_dlg_win.cpp; the host tests: tests/support/fakeupgrade.cpp) ---

// Asks for an upgrade descriptor or main HEX file. True with path (capacity cap) filled;
// false when the user cancelled.
bool ChooseUpgradeFile(UiOwner owner, char *path, size_t cap);

// The "Firmware Files List" confirmation showing richText; Accept is refused when blocking.
// Returns IDC_FILES_ACCEPT (1000) for Accept, 2 for Cancel, -1 when it could not be shown.
int ShowFirmwareFilesDialog(UiOwner owner, const char *richText, bool blocking);

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

// The whole command over the main window: the file choice, then RunFirmwareUpgradeFile.
// Polling is suspended while it runs.
void RunFirmwareUpgrade(UiOwner mainWindow);

// The command after the file choice, for the file at path. Suspends polling itself and
// restores it on every way out. Returns true when the progress dialog was opened (and has
// been closed again).
bool RunFirmwareUpgradeFile(UiOwner mainWindow, const char *path);
