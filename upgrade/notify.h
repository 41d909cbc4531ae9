// Seam from the upgrade worker to its progress dialog: posted notifications only, never a
// direct call into a window. The Win32 dialog glue posts them as WM_COMMAND messages to
// plan->dialogWindow; the headless runner shows them on the console; host tests record them.
#pragma once
#include <cstdint>

#include "upgrade/upgrade.h"

// What the worker tells its dialog.
enum UpgradeNotice {
    UPGRADE_NOTIFY_FINISHED,  // param 1: the worker's last notice; plan->succeeded is final
    UPGRADE_NOTIFY_PROGRESS,  // param 0..100: the progress bar's position
    UPGRADE_NOTIFY_STATUS,    // text: the status line
    UPGRADE_NOTIFY_LOG,       // text: a line of the log
};

// Posts notice code (UPGRADE_NOTIFY_FINISHED or UPGRADE_NOTIFY_PROGRESS) with param to the
// dialog. Without a dialog window nothing is posted.
void UpgradeNotify(UpgradePlan *plan, int code, intptr_t param);

// Posts a newly allocated copy of text with code (UPGRADE_NOTIFY_STATUS or UPGRADE_NOTIFY_LOG);
// the dialog releases it. Without a window, or when the copy cannot be allocated, nothing is posted.
void PostDialogText(UpgradePlan *plan, int code, const char *text);
