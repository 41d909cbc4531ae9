// A scripted stand-in for the instrument link, for host tests of code that talks through
// the link operations (script runner, boot-loader conversation, connect sequence).
// Every byte sent is recorded; replies are queued bytes that ReadByte and ReceiveLine hand out.
#pragma once
#include <functional>
#include <string>

#include "link/link.h"

struct FakeLink {
    std::string sent;                 // every byte SendLine wrote, in order
    std::string input;                // bytes waiting to be read
    int sendResult = -100;            // != -100: SendLine returns this instead of succeeding
    int openResult = 0;               // OpenLink's result
    int opens = 0, closes = 0;        // calls counted
    int readError = 0;                // ReadByte returns -1 once input is empty and this is set
    // Called after every SendLine with the text sent; may append to input (the instrument's answer).
    std::function<void(const std::string &)> onSend;
    std::string drains;               // one letter per DrainInput call ('d'), for order checks
    unsigned lastDrainMs = 0;
    unsigned replyTimeoutMs = 5000;
};

extern FakeLink g_fake;

// Resets g_fake and g_connection (interface kind COM-like unless set otherwise afterwards).
void FakeLinkReset();
