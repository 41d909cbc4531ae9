// The reconnect wait's schedule and the gap lines.
#include "app/reconnect.h"

#include "common/tick.h"

void ReconnectBegin(ReconnectWait *w, uint32_t now)
{
    w->active = true;
    w->start = now;
    w->lastTry = now;
    w->tried = false;
}

bool ReconnectExpired(const ReconnectWait *w, uint32_t now)
{
    return TickSince(now, w->start) >= RECONNECT_LIMIT_MS;
}

bool ReconnectTryDue(const ReconnectWait *w, uint32_t now)
{
    if (!w->active || ReconnectExpired(w, now)) return false;
    return !w->tried || TickSince(now, w->lastTry) >= RECONNECT_PERIOD_MS;
}

void ReconnectTrying(ReconnectWait *w, uint32_t now)
{
    w->tried = true;
    w->lastTry = now;
}

int ReconnectSecondsLeft(const ReconnectWait *w, uint32_t now)
{
    int32_t left = RECONNECT_LIMIT_MS - TickSince(now, w->start);
    if (left <= 0) return 0;
    if (left > RECONNECT_LIMIT_MS) left = RECONNECT_LIMIT_MS;  // a clock read before the start
    return (left + 999) / 1000;
}

std::string GapLostLine(const ClockStamp &t) { return "--- link lost " + ClockText(t) + " ---\r\n"; }

std::string GapRestoredLine(const ClockStamp &t) { return "--- link restored " + ClockText(t) + " ---\r\n"; }

std::string GapAbandonedLine() { return "--- reconnect abandoned ---\r\n"; }
