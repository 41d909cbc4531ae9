// Runs the real main window inside a Win32 test process and automates its modal dialogs and
// message boxes from a thread timer (modal loops keep dispatching thread timers).
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct SeenBox {
    std::string caption, text;
};

// Every message box seen since the last AppStart (caption and text), in order.
extern std::vector<SeenBox> g_seenBoxes;

// Writes the settings file's "Connect" section (and removes the "Init" sizes and
// ResultsMaxLines) before a start.
void AppSeedSettings(int interfaceKind, const char *port, int baud, const char *ip);
// Path of the settings file in the Wine prefix, as the program computes it.
std::string AppSettingsPath();

// Creates the main window. The Connect dialog it opens at once is handled by the queue below:
// queue a handler for "Connect" before calling this, or it is cancelled.
HWND AppStart();
// The main window of this thread (null when there is none), and its child with id (null for
// an id it has no child with).
HWND AppWindow();
HWND AppChild(int id);
// Destroys the main window (the shutdown steps run) and pumps until it is gone.
void AppClose();

// Queues a one-shot action for the next dialog or message box whose caption is caption.
// Message boxes without a queued action are recorded and answered with their default
// answer (OK, or No, or Cancel); other dialogs without an action are left alone.
void AppExpect(const char *caption, std::function<void(HWND)> action);
// Actions that answer message boxes and press buttons.
void AppPress(HWND dlg, int id);                       // a button click (BN_CLICKED)
std::function<void(HWND)> AppAnswer(int id);          // presses id (IDOK, IDYES, IDNO...)

// Dispatches messages for ms milliseconds, or until done() is true (checked every message
// and every 5 ms). Returns done()'s last value (true for the plain wait).
bool AppPumpFor(int ms);
bool AppPumpUntil(const std::function<bool()> &done, int timeoutMs);

// The results window's text, a child's text, the panel's plain text.
std::string AppText(int id);
// Types text into the command line and sends it as Enter would.
void AppTypeAndSend(const char *text);
// The message box text of a box window (its longest static text).
std::string AppBoxText(HWND box);
// Connects through the Connect dialog: interface list index (0 USB, 1 LAN, 2 Serial), the
// port or address; answers the result box with OK. True when connected.
bool AppConnectWithDialog(int interfaceIndex, const char *portOrIp);
