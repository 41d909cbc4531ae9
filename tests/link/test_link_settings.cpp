// The link settings' rules every front end applies (link/link_settings.cpp): the IPv4 address
// form, the rate a USB instrument runs at, and the numbered texts the rates and interfaces
// are offered by.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "common/texttab.h"
#include "link/link.h"
#include "link/link_settings.h"

TEST(LinkSettings, Ipv4IsFourDecimalByteFieldsAndNothingElse)
{
    // The fields read, as "a.b.c.d", or null for a text refused.
    static const struct { const char *text, *fields; } cases[] = {
        {"192.168.1.20", "192.168.1.20"}, {"0.0.0.0", "0.0.0.0"}, {"255.255.255.255", "255.255.255.255"},
        {"192.168.001.020", "192.168.1.20"},  // decimal, as the dialog reads it: not octal .16
        {"256.1.1.1", nullptr}, {"1.2.3.300", nullptr}, {"999999999.1.1.1", nullptr},
        {"1.2.3", nullptr}, {"1.2.3.4.5", nullptr}, {"1.2.3.", nullptr}, {"1..2.3", nullptr}, {".1.2.3", nullptr},
        {"", nullptr}, {" 1.2.3.4", nullptr}, {"+1.2.3.4", nullptr}, {"-1.2.3.4", nullptr},
        {"1.2.3.4 ", nullptr}, {"1.2.3.4x", nullptr}, {"1. 2.3.4", nullptr}, {"0x1.2.3.4", nullptr},
        {"001.002.003.0004", nullptr},  // 16 characters: more than the record's field holds
    };
    for (const auto &c : cases) {
        unsigned p[4];
        ASSERT_EQ(c.fields != nullptr, LinkParseIpv4(c.text, p)) << '"' << c.text << '"';
        if (!c.fields) continue;
        char got[32];
        snprintf(got, sizeof got, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
        EXPECT_STREQ(c.fields, got) << c.text;
    }
}

TEST(LinkSettings, UsbRunsAt19200WhateverWasChosenAndTheRatesOfferedIncludeIt)
{
    EXPECT_EQ(19200u, LinkBaudRate(IFACE_USB, 9600));
    EXPECT_EQ(19200u, LinkBaudRate(IFACE_USB, 0));
    EXPECT_EQ(9600u, LinkBaudRate(IFACE_SERIAL, 9600));
    EXPECT_EQ(0u, LinkBaudRate(IFACE_LAN, 0));
    // The rates the dialog lists and --baud takes are whole numbers, rising, 19200 among them.
    long last = 0;
    bool usbRate = false;
    for (int i = LINK_BAUD_TEXT_FIRST; i <= LINK_BAUD_TEXT_LAST; i++) {
        char *end = nullptr;
        long rate = strtol(LinkTextTable[i], &end, 10);
        EXPECT_TRUE(*end == '\0' && rate > last) << LinkTextTable[i];
        usbRate |= rate == LINK_USB_BAUD;
        last = rate;
    }
    EXPECT_TRUE(usbRate);
}
