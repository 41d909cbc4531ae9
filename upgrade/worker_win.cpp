// The upgrade worker's thread for both front ends. _beginthreadex rather than CreateThread:
// the procedure uses the C runtime.
#include <windows.h>
#include <process.h>

#include "upgrade/bootproto.h"
#include "upgrade/worker.h"

static unsigned __stdcall UpgradeWorkerMain(void *plan)
{
    RunUpgradeProcedure((UpgradePlan *)plan);
    return 0;
}

void *StartUpgradeWorker(UpgradePlan *plan)
{
    plan->succeeded = 0;
    plan->stopRequested = 0;
    return (void *)_beginthreadex(NULL, 0, UpgradeWorkerMain, plan, 0, NULL);
}

bool UpgradeWorkerWait(void *worker, unsigned ms)
{
    if (WaitForSingleObject((HANDLE)worker, ms) == WAIT_TIMEOUT) return false;
    CloseHandle((HANDLE)worker);
    return true;
}
