// The upgrade worker's thread, started the same way by both front ends (the progress dialog
// and the headless runner). Implemented in worker_win.cpp; UI or main thread only.
#pragma once
#include "upgrade/upgrade.h"

// Clears plan's succeeded and stopRequested and runs RunUpgradeProcedure(plan) on a thread of
// its own. Returns the thread (a HANDLE for UpgradeWorkerWait), or null when it could not be
// started.
void *StartUpgradeWorker(UpgradePlan *plan);

// Waits up to ms milliseconds (UPGRADE_WAIT_ALL: for as long as it takes) for the worker to
// return. True when it has; its thread is then closed and must not be waited on again.
enum : unsigned { UPGRADE_WAIT_ALL = 0xFFFFFFFFu };
bool UpgradeWorkerWait(void *worker, unsigned ms);
