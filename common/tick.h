// Millisecond tick counts (GetTickCount) wrap to 0 every 49.7 days of uptime. Every wait in
// the program compares them here, by their signed difference, so that a deadline on either
// side of the wrap is neither stalled for 49.7 days nor taken as due at once. Portable.
#pragma once
#include <cstdint>

// Milliseconds from since to now: negative when now lies before since. Correct across the
// wrap as long as the two are less than 24.8 days apart.
inline int32_t TickSince(uint32_t now, uint32_t since)
{
    return (int32_t)(now - since);
}

// True once now has reached deadline (deadline = a tick count plus a wait, the sum wrapping).
inline bool TickReached(uint32_t now, uint32_t deadline)
{
    return TickSince(now, deadline) >= 0;
}
