// The instrument link against the simulated instrument, over a COM port (a pseudo-terminal
// behind Wine's dosdevices) and over TCP, checking the bytes on the wire from its transcript.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "link/link.h"
#include "simctl.h"

namespace {

struct Transport {
    int kind;
    const char *name;  // transcript name on the simulator side
};

class LinkTest : public ::testing::TestWithParam<Transport> {
protected:
    ConnectionRecord rec;

    void SetUp() override
    {
        SimOk("reset");
        InitConnectionRecord(&rec);
        rec.interfaceKind = GetParam().kind;
        strcpy(rec.portName, SimComPort());
        strcpy(rec.ipAddress, SimLanAddress());
        rec.baudRate = 19200;
        lanReplyTimeoutMs = 5000;
    }
    void TearDown() override { CloseLink(&rec); }

    bool IsLan() const { return GetParam().kind == IFACE_LAN; }
    const char *Wire() const { return GetParam().name; }

    void Open()
    {
        ASSERT_EQ(0, OpenLink(&rec));
        ASSERT_TRUE(rec.isOpen);
        SimWaitRx(Wire(), 1);
        SimOk("transcript clear");
    }
    // Makes the simulator answer cmd (sent with LF) with the raw bytes reply.
    void Answer(const std::string &cmd, const std::string &reply) { SimOk("reply " + Hex(cmd) + " " + Hex(reply)); }
    // Sends cmd + LF and waits until the simulator has seen it.
    void Ask(const std::string &cmd)
    {
        std::string line = cmd + "\n";
        ASSERT_GE(SendLine(line.c_str(), &rec), 0);
        SimWaitRx(Wire(), line.size() + (IsLan() ? 1 : 0));
    }
};

TEST_P(LinkTest, SendLineWritesTheTextAndOnLanItsNul)
{
    Open();
    int result = SendLine("*IDN?\n", &rec);
    std::string wire = SimWaitRx(Wire(), IsLan() ? 7 : 6);
    if (IsLan()) {
        EXPECT_EQ(0, result);
        EXPECT_EQ(std::string("*IDN?\n\0", 7), wire) << Visible(wire);
    } else {
        EXPECT_EQ(6, result);
        EXPECT_EQ("*IDN?\n", wire) << Visible(wire);
    }
}

TEST_P(LinkTest, OpenSendsOneDc4AndASecondOpenNothing)
{
    ASSERT_EQ(0, OpenLink(&rec));
    ASSERT_EQ(0, OpenLink(&rec));
    SendLine("x\n", &rec);
    std::string wire = SimWaitRx(Wire(), 3);
    std::string expected = IsLan() ? std::string("\x14\0x\n\0", 5) : std::string("\x14x\n");
    EXPECT_EQ(expected, wire) << Visible(wire);
}

TEST_P(LinkTest, ReceiveLineTerminators)
{
    Open();
    char buf[256];
    static const struct { const char *reply; const char *com; const char *lan; } cases[] = {
        {"ABC\r\n", "ABC", "ABC"},
        {"ABC\n", "ABC\n", "ABC"},
        {"A\rBC\r\n", "A", "ABC"},  // COM cuts at the first CR, LAN drops CRs
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(Visible(c.reply));
        Answer("q?", c.reply);
        Ask("q?");
        int n = ReceiveLine(buf, sizeof buf, &rec);
        const char *want = IsLan() ? c.lan : c.com;
        EXPECT_STREQ(want, buf);
        EXPECT_EQ((int)strlen(want), n);
        DrainInput(&rec, 0);
    }
}

TEST_P(LinkTest, LongLineIsCutAtTheBufferAndItsRestDropped)
{
    Open();
    std::string line(300, 'L');
    Answer("long?", line + "\r\nNEXT\r\n");
    Ask("long?");
    char buf[256];
    int n = ReceiveLine(buf, sizeof buf, &rec);
    EXPECT_EQ(255, n);
    EXPECT_EQ(std::string(255, 'L'), buf);
    // The line's last 45 characters are no reply of their own: the next line is.
    n = ReceiveLine(buf, sizeof buf, &rec);
    EXPECT_STREQ("NEXT", buf);
    EXPECT_EQ(4, n);
}

TEST_P(LinkTest, SilenceGivesZeroOnComAndMinusOneOnLan)
{
    Open();
    SetReplyTimeout(300, &rec);
    char buf[64];
    DWORD start = GetTickCount();
    int n = ReceiveLine(buf, sizeof buf, &rec);
    DWORD took = GetTickCount() - start;
    EXPECT_EQ(IsLan() ? -1 : 0, n);
    EXPECT_STREQ("", buf);
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 2000u);
}

TEST_P(LinkTest, SilenceInTheMiddleOfALine)
{
    Open();
    SetReplyTimeout(300, &rec);
    Answer("half?", "12");  // no line end: the instrument stops mid-line
    Ask("half?");
    char buf[64];
    int n = ReceiveLine(buf, sizeof buf, &rec);
    EXPECT_STREQ("12", buf);  // what arrived stays in the buffer on both transports
    EXPECT_EQ(IsLan() ? -1 : 2, n);
}

TEST_P(LinkTest, PackedReplyComesBackAsText)
{
    Open();
    Answer("p?", std::string("\x82\x30\x20\x20\r\n"));
    Ask("p?");
    char buf[64];
    ReceiveLine(buf, sizeof buf, &rec);
    EXPECT_STREQ("3.01575E", buf);
}

TEST_P(LinkTest, ReadByteIsMinusTwoWhenIdleAndDeliversBytesInOrder)
{
    Open();
    EXPECT_EQ(-2, ReadByte(&rec));
    Answer("r?", "xyz\r\n");
    Ask("r?");
    std::string got;
    DWORD start = GetTickCount();
    while (got.size() < 5 && GetTickCount() - start < 3000) {
        int c = ReadByte(&rec);
        if (c >= 0) got += (char)c; else Sleep(1);
    }
    EXPECT_EQ("xyz\r\n", got);
    EXPECT_EQ(-2, ReadByte(&rec));
}

TEST_P(LinkTest, DrainInputWaitsForItsPeriod)
{
    Open();
    DWORD start = GetTickCount();
    DrainInput(&rec, 0);
    EXPECT_LT(GetTickCount() - start, 100u);
    start = GetTickCount();
    DrainInput(&rec, 1000);
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 1300u);
}

TEST_P(LinkTest, SettleAndDrainEndUnderAnEndlessStream)
{
    SimOk(std::string("stream ") + Wire() + " on");
    DWORD start = GetTickCount();
    // The stream starts only once something is connected: on LAN, the open itself.
    ASSERT_EQ(0, OpenLink(&rec));
    SimOk(std::string("stream ") + Wire() + " on");
    DWORD opened = GetTickCount() - start;
    start = GetTickCount();
    DrainInput(&rec, 0);
    DWORD drained0 = GetTickCount() - start;
    start = GetTickCount();
    DrainInput(&rec, 500);
    DWORD drained500 = GetTickCount() - start;
    SimOk(std::string("stream ") + Wire() + " off");
    EXPECT_LT(opened, 2500u);
    EXPECT_LT(drained0, 1500u);
    EXPECT_LT(drained500, 2000u);
    EXPECT_GE(drained500, 500u);
}

TEST_P(LinkTest, NothingOfALongBurstIsLost)
{
    Open();
    // 24 KB in one burst: three times what the ring holds at once.
    std::string burst;
    for (int i = 0; i < 1536; i++) {
        char line[32];
        snprintf(line, sizeof line, "%014d\r\n", i);
        burst += line;
    }
    std::string got;
    Answer("burst?", burst);
    Ask("burst?");
    DWORD start = GetTickCount();
    while (got.size() < burst.size() && GetTickCount() - start < 10000) {
        int c = ReadByte(&rec);
        if (c >= 0) got += (char)c; else Sleep(1);
    }
    ASSERT_EQ(burst.size(), got.size());
    EXPECT_TRUE(got == burst);
}

INSTANTIATE_TEST_SUITE_P(Transports, LinkTest,
                         ::testing::Values(Transport{IFACE_USB, "serial"}, Transport{IFACE_LAN, "lan"}),
                         [](const ::testing::TestParamInfo<Transport> &param) {
                             return std::string(param.param.kind == IFACE_LAN ? "Lan" : "Com");
                         });

// A record for the simulated instrument over the given kind of link, the simulator reset.
ConnectionRecord SimRecord(int kind)
{
    SimOk("reset");
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = kind;
    strcpy(rec.portName, SimComPort());
    strcpy(rec.ipAddress, SimLanAddress());
    rec.baudRate = 19200;
    return rec;
}

TEST(LinkCom, MissingPortFailsAndStaysClosed)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_SERIAL;
    strcpy(rec.portName, "COM199");
    rec.baudRate = 9600;
    EXPECT_EQ(-1, OpenLink(&rec));
    EXPECT_FALSE(rec.isOpen);
    EXPECT_EQ(LINK_INVALID_HANDLE, rec.portHandle);
}

TEST(LinkCom, BadKindFails)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    EXPECT_EQ(-1, OpenLink(&rec));
    rec.interfaceKind = 7;
    EXPECT_EQ(-1, OpenLink(&rec));
    EXPECT_FALSE(rec.isOpen);
}

TEST(LinkCom, CloseOnANeverOpenedRecordIsHarmless)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.isOpen = 1;  // even a stale flag is cleared
    EXPECT_EQ(0, CloseLink(&rec));
    EXPECT_FALSE(rec.isOpen);
    EXPECT_EQ(LINK_INVALID_HANDLE, rec.portHandle);
    EXPECT_EQ(LINK_INVALID_SOCKET, rec.socketHandle);
}

// A port that has gone (a USB adapter pulled out) fails both ways: a write to it is a failed
// send, not a send of nothing that leaves the caller waiting for a reply.
TEST(LinkCom, DroppedSerialLinkMakesReadByteAndSendLineFail)
{
    ConnectionRecord rec = SimRecord(IFACE_USB);
    ASSERT_EQ(0, OpenLink(&rec));
    SimOk("drop serial");
    int c = -2;
    DWORD start = GetTickCount();
    while (c == -2 && GetTickCount() - start < 3000) {
        c = ReadByte(&rec);
        Sleep(5);
    }
    EXPECT_EQ(-1, c);
    EXPECT_EQ(-1, SendLine("*IDN?\n", &rec));
    CloseLink(&rec);
}

TEST(LinkLan, SendFailsAfterTheInstrumentResetTheConnection)
{
    ConnectionRecord rec = SimRecord(IFACE_LAN);
    ASSERT_EQ(0, OpenLink(&rec));
    SimOk("drop lan");
    int result = 0;
    for (int i = 0; i < 20 && result == 0; i++) {
        result = SendLine("*IDN?\n", &rec);
        Sleep(20);
    }
    EXPECT_EQ(-1, result);
    CloseLink(&rec);
    EXPECT_FALSE(winsockStarted);
}

// An instrument that ends the connection in order (after its last reply) or resets it: as for
// a failing COM port, ReadByte reports a read error once what arrived has been handed out.
TEST(LinkLan, PeerThatClosesOrResetsTheConnectionMakesReadByteFail)
{
    static const struct { const char *how, *before; } cases[] = {{"lan close", "OK\n"}, {"drop lan", ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        ConnectionRecord rec = SimRecord(IFACE_LAN);
        ASSERT_EQ(0, OpenLink(&rec));
        EXPECT_EQ(-2, ReadByte(&rec));
        if (*c.before) SimOk("push lan " + Hex(c.before));
        SimOk(c.how);
        std::string got;
        int byte = -2;
        DWORD start = GetTickCount();
        while (byte != -1 && GetTickCount() - start < 3000) {
            byte = ReadByte(&rec);
            if (byte >= 0) got += (char)byte;
            if (byte == -2) Sleep(5);
        }
        EXPECT_EQ(-1, byte);
        EXPECT_EQ(c.before, got);
        CloseLink(&rec);
    }
}

// An instrument that stops taking data (the simulator reads no more than it can pace at 10
// baud): a send that cannot go out within the reply timeout fails instead of holding the
// caller for ever.
TEST(LinkLan, SendTheInstrumentNeverTakesFails)
{
    ConnectionRecord rec = SimRecord(IFACE_LAN);
    ASSERT_EQ(0, OpenLink(&rec));
    SimOk("baud lan 10");
    lanReplyTimeoutMs = 500;
    std::string text(16 << 20, 'x');  // more than both sides' socket buffers hold
    int result = 0;
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread sender([&] {
        result = SendLine(text.c_str(), &rec);
        SetEvent(done);
    });
    bool returned = WaitForSingleObject(done, 20000) == WAIT_OBJECT_0;
    // Frees a sender still blocked, and spares the simulator the megabytes already sent.
    SimOk("drop lan");
    sender.join();
    CloseHandle(done);
    lanReplyTimeoutMs = 5000;
    CloseLink(&rec);
    EXPECT_TRUE(returned) << "SendLine still blocked after 20 s";
    EXPECT_EQ(-1, result);
}

TEST(LinkLan, RefusedConnectionFailsAtOnce)
{
    SimOk("reset");
    SimOk("lan listen off");
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_LAN;
    strcpy(rec.ipAddress, SimLanAddress());
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, OpenLink(&rec));
    EXPECT_LT(GetTickCount() - start, 1500u);
    EXPECT_EQ(LINK_INVALID_SOCKET, rec.socketHandle);
    EXPECT_FALSE(rec.isOpen);
    CloseLink(&rec);
    SimOk("lan listen on");
}

TEST(LinkLan, NotAnAddressFailsWithoutConnecting)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_LAN;
    strcpy(rec.ipAddress, "instrument");
    EXPECT_EQ(-1, OpenLink(&rec));
    CloseLink(&rec);
}

// Run only inside a network namespace made by the test script, where QLINK_UNREACHABLE
// names an address whose packets vanish (a dummy device): nothing leaves the machine.
TEST(LinkLanNamespace, ConnectGivesUpAfterTwoSeconds)
{
    const char *address = getenv("QLINK_UNREACHABLE");
    if (!address || !*address) GTEST_SKIP() << "needs the network namespace of link_lan_timeout.sh";
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.interfaceKind = IFACE_LAN;
    strcpy(rec.ipAddress, address);
    DWORD start = GetTickCount();
    EXPECT_EQ(-1, OpenLink(&rec));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 1900u);
    EXPECT_LT(took, 3000u);
    EXPECT_EQ(LINK_INVALID_SOCKET, rec.socketHandle);
    EXPECT_FALSE(rec.isOpen);
    CloseLink(&rec);
}

}  // namespace
