// Seam from the upgrade worker to its progress dialog: posted notifications only, never a
// direct call into a window. The Win32 dialog glue posts WM_COMMAND messages to
// plan->dialogWindow; host tests record them.
#pragma once
#include <cstdint>

#include "upgrade/upgrade.h"

// Posts notification code (UPN_FINISHED with 1, UPN_PROGRESS with 0..100) to the dialog.
// Without a dialog window nothing is posted.
void UpgradeNotify(UpgradePlan *plan, int code, intptr_t param);

// Posts a newly allocated copy of text with code (UPN_STATUS or UPN_LOG); the dialog releases
// it. Without a window, or when the copy cannot be allocated, nothing is posted.
void PostDialogText(UpgradePlan *plan, int code, const char *text);
