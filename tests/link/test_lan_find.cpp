// Host tests of the LAN search's reply tests, list filling and choice of interfaces
// (link/lan_find.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/lan_find.h"

namespace {

bool Accepted(int kind, const std::string &datagram)
{
    return LanReplyAccepted(kind, (const unsigned char *)datagram.data(), datagram.size());
}

std::string Show(const std::string &bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += (char)c;
        } else {
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out.size() > 80 ? out.substr(0, 80) + "...(" + std::to_string(bytes.size()) + " bytes)" : out;
}

// "A" + padding + "/" + tail, padded so that the whole is at least 26 bytes.
std::string Reply65535(const std::string &tail, size_t padTo = 26)
{
    std::string s = "A/" + tail;
    while (s.size() < padTo) s.insert(1, " ");
    return s;
}

TEST(LanReply, Port65535AnswerMustAnnounceTcpPort10001)
{
    const std::string nulBeforeSlash = std::string("A\0Vendrel-LAN RZT7680 SN1/10001/tcp", 35);
    struct Case {
        std::string datagram;
        bool accepted;
    } cases[] = {
        {"AVendrel-LAN RZT7680 SN12345/10001/tcp", true},  // what the interfaces send
        {"AVendrel-LAN RZT7680 SN12345/10002/tcp", false},
        {"aVendrel-LAN RZT7680 SN12345/10001/tcp", false},  // the first byte is "A", exactly
        {"BVendrel-LAN RZT7680 SN12345/10001/tcp", false},
        {"AVendrel-LAN RZT7680 SN12345 10001 tcp", false},  // no "/" at all
        {"AVendrel-LAN RZT7680 SN12345/x/10001", false},    // only the first "/" counts
        {"AVendrel-LAN RZT7680 SN12345/100010", false},
        {"AVendrel-LAN RZT7680 SN12345/010001", true},  // leading zero: still 10001
        {"AVendrel-LAN RZT7680 SN12345/ 10001", true},      // the usual integer reading
        {"AVendrel-LAN RZT7680 SN12345/-10001", false},
        {"AVendrel-LAN RZT7680 SN12345/10001", true},       // digits up to the end
        {"AVendrel-LAN RZT7680 SN12345/", false},           // "/" as the last byte
        {"AVendrel-LAN RZT7680 SN12345/99999999999999999999999", false},
        {Reply65535("10001", 25).substr(0, 25), false},
        {nulBeforeSlash, true},                              // a NUL does not end the datagram
        {std::string(26, 'A'), false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.accepted, Accepted(LAN_QUERY_65535, c.datagram)) << Show(c.datagram);
    }
}

TEST(LanReply, Port65535LengthBoundaries)
{
    // "/10001" at the end, so the length is set only by the padding.
    EXPECT_EQ(25u, Reply65535("10001", 25).size());
    EXPECT_FALSE(Accepted(LAN_QUERY_65535, Reply65535("10001", 25)));
    EXPECT_TRUE(Accepted(LAN_QUERY_65535, Reply65535("10001", 26)));
    EXPECT_TRUE(Accepted(LAN_QUERY_65535, Reply65535("10001", LAN_FIND_DATAGRAM)));
    EXPECT_FALSE(Accepted(LAN_QUERY_65535, Reply65535("10001", LAN_FIND_DATAGRAM + 1)));
    std::string longTail = "10001/" + std::string(2000, 'x');
    EXPECT_FALSE(Accepted(LAN_QUERY_65535, Reply65535(longTail)));
}

TEST(LanReply, Port65535DigitsStopAtTheDatagramEnd)
{
    // The bytes after the datagram must not extend the number.
    const char buffer[] = "AVendrel-LAN RZT7680 SN12345/1000" "1";
    size_t len = strlen(buffer) - 1;
    EXPECT_FALSE(LanReplyAccepted(LAN_QUERY_65535, (const unsigned char *)buffer, len));
    EXPECT_TRUE(LanReplyAccepted(LAN_QUERY_65535, (const unsigned char *)buffer, len + 1));
}

TEST(LanReply, Port30718AnswerIsThirtyBytesMarkedF7)
{
    std::string good = std::string("\x00\x00\x00\xF7RZT7680 00204A123456 V6.8", 29);
    good.resize(30, '\0');
    std::string wrongMark = good;
    wrongMark[3] = '\xF6';  // our own query, heard back
    std::string markFirst = good;
    markFirst[3] = 0;
    markFirst[0] = '\xF7';
    struct Case {
        std::string datagram;
        bool accepted;
    } cases[] = {
        {good, true},
        {good + std::string(1, '\0'), false},
        {good.substr(0, 29), false},
        {wrongMark, false},
        {markFirst, false},
        {std::string("\x00\x00\x00\xF6", 4), false},
        {"", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.accepted, Accepted(LAN_QUERY_30718, c.datagram)) << Show(c.datagram);
    }
    // Each query has its own test: the other query's answers do not pass.
    EXPECT_FALSE(Accepted(LAN_QUERY_65535, good));
    EXPECT_FALSE(Accepted(LAN_QUERY_30718, "AVendrel-LAN RZT7680 SN12345/10001/tcp"));
    EXPECT_FALSE(Accepted(7, good));
    EXPECT_FALSE(LanReplyAccepted(LAN_QUERY_30718, nullptr, 30));
}

TEST(LanFindList, EachPartKeepsOneEntryPerAddressUpToItsCapacity)
{
    FoundInstrument list[4];
    memset(list, 0x5A, sizeof list);  // whatever the caller left there is overwritten
    int count = 0;
    struct Step {
        const char *ip;
        int result;
        int countAfter;
    } steps[] = {
        {"10.0.0.2", LAN_ADD_ADDED, 1},     {"10.0.0.2", LAN_ADD_DUPLICATE, 1},
        {"10.0.0.3", LAN_ADD_ADDED, 2},     {"10.0.0.2", LAN_ADD_DUPLICATE, 2},
        {"10.0.0.4", LAN_ADD_FULL, 2},      {"10.0.0.3", LAN_ADD_DUPLICATE, 2},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(s.result, LanFindAdd(list, 2, &count, s.ip)) << s.ip;
        EXPECT_EQ(s.countAfter, count) << s.ip;
    }
    EXPECT_STREQ("10.0.0.2", list[0].ipText);
    EXPECT_STREQ("10.0.0.3", list[1].ipText);
    EXPECT_EQ('\0', list[0].reply[0]);
    // The second part of the same list is searched on its own: an address of the first part
    // is listed again there (an instrument answering both queries gets two rows).
    int second = 0;
    EXPECT_EQ(LAN_ADD_ADDED, LanFindAdd(list + 2, 2, &second, "10.0.0.2"));
    EXPECT_STREQ("10.0.0.2", list[2].ipText);
    EXPECT_EQ(0x5A, (unsigned char)list[3].ipText[0]);  // nothing written past the part
}

TEST(LanFindList, AnOverlongAddressIsCutToTheField)
{
    FoundInstrument list[1];
    int count = 0;
    EXPECT_EQ(LAN_ADD_ADDED, LanFindAdd(list, 1, &count, "255.255.255.255.255"));
    EXPECT_EQ(15u, strlen(list[0].ipText));
}

uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(LanInterfaces, DirectedBroadcastSetsTheHostBits)
{
    struct Case {
        uint32_t address;
        int prefix;
        uint32_t broadcast;
    } cases[] = {
        {Ip(10, 0, 1, 7), 24, Ip(10, 0, 1, 255)},
        {Ip(192, 168, 5, 130), 25, Ip(192, 168, 5, 255)},
        {Ip(192, 168, 5, 30), 25, Ip(192, 168, 5, 127)},
        {Ip(172, 20, 3, 4), 12, Ip(172, 31, 255, 255)},
        {Ip(169, 254, 7, 9), 16, Ip(169, 254, 255, 255)},  // a link-local cable to the bench
        {Ip(10, 0, 0, 5), 30, Ip(10, 0, 0, 7)},
        {Ip(10, 0, 0, 5), 31, 0},   // point to point: no broadcast of its own
        {Ip(10, 0, 0, 5), 32, 0},
        {Ip(10, 0, 0, 5), 0, 0},    // that would be 255.255.255.255, sent anyway
        {Ip(10, 0, 0, 5), -1, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.broadcast, LanDirectedBroadcast(c.address, c.prefix)) << std::hex << c.address << " /" << std::dec << c.prefix;
    }
}

TEST(LanInterfaces, OnlyUpNonLoopbackAddressesAreUsedEachOnce)
{
    const LanInterface all[] = {
        {Ip(127, 0, 0, 1), 8, true, true},
        {Ip(192, 168, 1, 20), 24, true, false},   // Wi-Fi
        {Ip(10, 0, 2, 1), 24, false, false},      // adapter unplugged
        {0, 0, true, false},                      // no address yet
        {Ip(127, 0, 1, 1), 8, true, false},       // loopback address on another adapter
        {Ip(10, 0, 1, 1), 24, true, false},       // USB Ethernet to the bench
        {Ip(192, 168, 1, 20), 24, true, false},   // the same address again
        {Ip(192, 168, 1, 21), 24, true, false},   // a second adapter on the same LAN
        {Ip(10, 0, 3, 1), 24, true, false},
    };
    LanInterface out[4];
    memset(out, 0x5A, sizeof out);
    ASSERT_EQ(3, LanChooseInterfaces(all, 9, out, 3)) << "at most cap";
    EXPECT_EQ(Ip(192, 168, 1, 20), out[0].address);
    EXPECT_EQ(Ip(10, 0, 1, 1), out[1].address);
    EXPECT_EQ(Ip(192, 168, 1, 21), out[2].address);
    EXPECT_EQ(24, out[1].prefixLength);
    EXPECT_EQ(0x5A, ((unsigned char *)&out[3])[0]) << "nothing written past cap";
    EXPECT_EQ(4, LanChooseInterfaces(all, 9, out, 4));
    EXPECT_EQ(0, LanChooseInterfaces(all, 1, out, 4));
}

}  // namespace
