// The wait for a lost link to come back (a USB port that went with its cable, or with an
// instrument that restarted, returns under its name a second or two later): the same link is
// tried every 250 ms until it opens or 10 s have passed; and the lines the results window
// gets for the gap. Portable; the window drives it from its timer.
#pragma once
#include <cstdint>
#include <string>

#include "app/session_log.h"

enum {
    RECONNECT_PERIOD_MS = 250,   // from the start of one try to the start of the next
    RECONNECT_LIMIT_MS = 10000,  // no try starts later than this after the link was lost
};

struct ReconnectWait {
    bool active;
    uint32_t start;    // tick count at which the wait began
    uint32_t lastTry;  // tick count at which the last try began
    bool tried;        // a try has begun
};

// Starts the wait at now; its first try is due at once.
void ReconnectBegin(ReconnectWait *w, uint32_t now);
// True when the next try is due: the wait is on, the limit not passed, and a period gone
// since the last try began. Tick counts may wrap.
bool ReconnectTryDue(const ReconnectWait *w, uint32_t now);
// Notes that a try begins at now.
void ReconnectTrying(ReconnectWait *w, uint32_t now);
// True when the wait has run out: no further try may begin.
bool ReconnectExpired(const ReconnectWait *w, uint32_t now);
// Whole seconds left of the wait, rounded up (10 at its start, 0 once it has run out).
int ReconnectSecondsLeft(const ReconnectWait *w, uint32_t now);

// "--- link lost hh:mm:ss.mmm ---", "--- link restored hh:mm:ss.mmm ---" and
// "--- reconnect abandoned ---", each a line of its own (CR LF at its end).
std::string GapLostLine(const ClockStamp &t);
std::string GapRestoredLine(const ClockStamp &t);
std::string GapAbandonedLine();
