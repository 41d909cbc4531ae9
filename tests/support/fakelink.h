// A scripted stand-in for the instrument link, for host tests of code that talks through
// the link operations (script runner, boot-loader conversation, connect sequence).
// Every byte sent is recorded; replies are queued bytes that ReadByte and ReceiveLine hand out.
#pragma once
#include <functional>
#include <string>

#include "link/link.h"

// Bytes waiting to be read. Reading advances an offset instead of erasing from the front,
// so that multi-megabyte bursts cost linear time (sanitized builds notice the difference).
struct FakeInput {
    std::string buf;
    size_t pos = 0;
    FakeInput &operator=(const std::string &s) { buf = s; pos = 0; return *this; }
    FakeInput &operator+=(const std::string &s) { Compact(); buf += s; return *this; }
    FakeInput &operator+=(char c) { Compact(); buf += c; return *this; }
    bool empty() const { return pos >= buf.size(); }
    size_t size() const { return buf.size() - pos; }
    void clear() { buf.clear(); pos = 0; }
    char operator[](size_t i) const { return buf[pos + i]; }
    void erase(size_t from, size_t n) { if (from == 0) pos += n < size() ? n : size(); }
    int Take() { return empty() ? -1 : (unsigned char)buf[pos++]; }
    std::string str() const { return buf.substr(pos); }
    void Compact() { if (pos > 0) { buf.erase(0, pos); pos = 0; } }
};

struct FakeLink {
    std::string sent;                 // every byte SendLine wrote, in order
    FakeInput input;                  // bytes waiting to be read
    int sendResult = -100;            // != -100: SendLine returns this instead of succeeding
    int openResult = 0;               // OpenLink's result
    int opens = 0, closes = 0;        // calls counted
    int readError = 0;                // ReadByte returns -1 once input is empty and this is set
    // Called after every SendLine with the text sent; may append to input (the instrument's answer).
    std::function<void(const std::string &)> onSend;
    // Called as every ReceiveLine begins: may append to input (a reply arriving during the wait).
    std::function<void()> onReceive;
    std::string drains;               // one letter per DrainInput ('d') or DrainUntilQuiet ('q') call
    unsigned lastDrainMs = 0;
    unsigned replyTimeoutMs = 5000;
};

extern FakeLink g_fake;

// Resets g_fake and g_connection (interface kind COM-like unless set otherwise afterwards).
void FakeLinkReset();
