// The portable half of the comms log: building one stamped entry. Plain snprintf only, so
// that the comms log needs nothing beyond the C library (every host test links its stand-in).
#include "link/commslog.h"

#include <cstdio>
#include <cstring>

static int CommsLogClamp(int value, int high)
{
    return value < 0 ? 0 : value > high ? high : value;
}

size_t CommsLogFormat(char *out, size_t cap, int h, int m, int s, int ms, const char *text)
{
    if (!text) text = "";
    int len = snprintf(cap ? out : nullptr, cap, "[%02d:%02d:%02d.%03d] %s", CommsLogClamp(h, 23), CommsLogClamp(m, 59),
                       CommsLogClamp(s, 59), CommsLogClamp(ms, 999), text);
    return len < 0 ? 0 : (size_t)len;
}
