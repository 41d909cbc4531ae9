// One link of a production-line run (--worker HANDLE): the process that runs the job on one
// instrument for the run that started it (run_many.cpp). It says whom it identified on the
// control pipe ("ident <*IDN? reply>"), and starts the job only when told "go" on standard
// input; "stop", or the end of its input (the production line has gone), is Ctrl-C.
#include <windows.h>
#include <process.h>

#include <string>

#include "run/run.h"

static HANDLE s_control;  // write end of the control pipe
static HANDLE s_go;       // set on "go", and on "stop" or the end of the input
static volatile LONG s_stopped;

static unsigned __stdcall ReadOrders(void *)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string line;
    char c;
    DWORD got;
    while (ReadFile(input, &c, 1, &got, NULL) && got == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (line == "go") {
            SetEvent(s_go);
        } else if (line == "stop") {
            break;
        }
        line.clear();
    }
    InterlockedExchange(&s_stopped, 1);
    SetEvent(s_go);
    return 0;
}

void RunWorkerStart(uintptr_t controlHandle)
{
    s_control = (HANDLE)controlHandle;
    s_go = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, ReadOrders, NULL, 0, NULL);
    if (thread) CloseHandle(thread);
}

bool RunWorkerStopped() { return s_control && InterlockedCompareExchange(&s_stopped, 0, 0) != 0; }

bool RunWorkerReady(const char *identification)
{
    if (!s_control) return true;
    std::string idn = identification;
    std::string line = "ident " + idn.substr(0, idn.find_first_of("\r\n")) + "\n";
    DWORD written;
    WriteFile(s_control, line.data(), (DWORD)line.size(), &written, NULL);
    WaitForSingleObject(s_go, INFINITE);
    return !RunWorkerStopped();
}
