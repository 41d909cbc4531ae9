// The "Upgrade Firmware..." command (not built yet: the menu item does nothing).
#include "upgrade/upgrade_win.h"

void RunFirmwareUpgrade(HWND)
{
}
