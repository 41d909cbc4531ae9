// Host stand-ins for the user-interface and shell seams: they record what the core showed,
// appended and posted, and answer message boxes with a scripted answer.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct FakeUiMessage {
    std::string text, caption;
    int icon, buttons;
};

struct FakeUi {
    std::vector<FakeUiMessage> messages;
    int answer = 1;                      // UiAnswer returned by every UiMessage
    int waits = 0;                       // wait cursors currently shown
    std::string results;                 // text appended to the results window
    int linksLost = 0;                   // ShellLinkLost calls
    std::vector<bool> convertBinaryShown;  // every ShellShowConvertBinary, in order
};

extern FakeUi g_ui;
void FakeUiReset();
