// The link settings' rules shared by the Connect dialog, the settings file and the runner.
#include "link/link_settings.h"

#include <cstring>

#include "link/link.h"

bool LinkParseIpv4(const char *text, unsigned parts[4])
{
    if (strlen(text) > LINK_IPV4_TEXT_SIZE - 1) return false;
    const char *p = text;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.') return false;
        if (*p < '0' || *p > '9') return false;
        unsigned value = 0;
        for (; *p >= '0' && *p <= '9'; p++) {
            value = value * 10 + (unsigned)(*p - '0');
            if (value > 255) return false;
        }
        parts[i] = value;
    }
    return *p == '\0';
}

uint32_t LinkBaudRate(int32_t interfaceKind, uint32_t chosen)
{
    return interfaceKind == IFACE_USB ? (uint32_t)LINK_USB_BAUD : chosen;
}
