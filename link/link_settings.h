// The link settings as every front end takes them, whether typed into the Connect dialog, read
// from the settings file or given on the runner's command line: the dotted IPv4 address and
// the baud rate an interface runs at. Portable.
#pragma once
#include <cstdint>

enum {
    LINK_USB_BAUD = 19200,     // a USB instrument's one rate: nobody chooses it
    LINK_IPV4_TEXT_SIZE = 16,  // "255.255.255.255" and its terminator
    LINK_BAUD_TEXT_FIRST = 7,  // LinkTextTable[7..12]: "1200" .. "38400", the rates offered
    LINK_BAUD_TEXT_LAST = 12,
};

// Reads text as four decimal fields of 0..255 separated by dots, and nothing else: no sign,
// no space, no fifth field, at most 15 characters. A leading zero is decimal ("010" is 10).
// True with the fields in parts; false, parts unspecified, for anything else.
bool LinkParseIpv4(const char *text, unsigned parts[4]);
// The baud rate a link of interfaceKind runs at: LINK_USB_BAUD for USB whatever was chosen,
// else chosen.
uint32_t LinkBaudRate(int32_t interfaceKind, uint32_t chosen);
