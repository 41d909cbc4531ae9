// Process entry point of quillon2.exe: hands over to the main window module.
#include <windows.h>

#include "window/main_window_win.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    return RunMainWindow(instance, showCommand);
}
