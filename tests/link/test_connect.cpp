// The connect-and-identify sequence against a scripted instrument on the fake link: what goes
// over the wire, what the record keeps, what the user is shown and what the comms log says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "fakecommslog.h"
#include "fakelink.h"
#include "fakeui.h"
#include "link/commslog.h"
#include "link/connect.h"
#include "link/ident.h"

using std::string;

namespace {

// An instrument that answers "*IDN?" from a given attempt on, and the other queries from a table.
struct Instrument {
    string idn;                     // empty: never answers "*IDN?"
    int answerIdnFrom = 1;          // first attempt that gets an answer
    std::map<string, string> replies;
    int idnAsked = 0;
    unsigned idnTimeout = 0, queryTimeout = 0;  // reply timeouts seen with the requests
    int waitsDuringIdn = 0;

    void Attach()
    {
        g_fake.onSend = [this](const string &text) {
            if (text == "*IDN?\n") {
                idnTimeout = g_fake.replyTimeoutMs;
                waitsDuringIdn = g_ui.waits;
                if (++idnAsked >= answerIdnFrom) g_fake.input += idn;
            } else if (replies.count(text)) {
                queryTimeout = g_fake.replyTimeoutMs;
                g_fake.input += replies[text];
            }
        };
    }
};

class Connect : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakeLinkReset();
        FakeUiReset();
        FakeCommsLogReset();
        g_connection.interfaceKind = IFACE_USB;
        strcpy(g_connection.portName, "COM5");
        strcpy(g_connection.ipAddress, "10.1.2.3");
    }
    Instrument inst;
};

const string kWake = string("\x14") + "\x14" + "^[";
const string kQueries = "calstr?\ncalver?\nversion?\n";

string Repeat(const string &s, int n)
{
    string out;
    while (n-- > 0) out += s;
    return out;
}

}  // namespace

TEST(CommsLog, StampAndText)
{
    static const struct { int h, m, s, ms; const char *text, *entry; } cases[] = {
        {14, 3, 7, 45, "***\tCONNECTED\t***\n", "[14:03:07.045] ***\tCONNECTED\t***\n"},
        {0, 0, 0, 0, "", "[00:00:00.000] "},  // the stamp alone keeps its blank
        {23, 59, 59, 999, "x", "[23:59:59.999] x"},
        {24, 60, -1, 1000, "x", "[23:59:00.999] x"},  // out-of-range fields keep the width
    };
    for (const auto &c : cases) {
        char out[COMMS_LOG_ENTRY_SIZE];
        size_t len = CommsLogFormat(out, sizeof out, c.h, c.m, c.s, c.ms, c.text);
        EXPECT_STREQ(c.entry, out) << c.h << ":" << c.m << ":" << c.s << "." << c.ms;
        EXPECT_EQ(strlen(c.entry), len);
    }
}

TEST(CommsLog, CutToFit)
{
    char out[10];
    memset(out, 'Z', sizeof out);
    EXPECT_EQ(15u + 4, CommsLogFormat(out, sizeof out, 1, 2, 3, 4, "text"));
    EXPECT_STREQ("[01:02:03", out);
    EXPECT_EQ(15u + 4, CommsLogFormat(nullptr, 0, 1, 2, 3, 4, "text"));  // measuring only
}

TEST_F(Connect, IdentifiesAndReadsTheTexts)
{
    inst.idn = "VENDREL,RZT7680,12345,1.02\r\n";
    inst.replies = {{"calstr?\n", "15_March_2020,x\r\n"}, {"calver?\n", "1_2_3\r\n"}, {"version?\n", "v,A,1,2,3,4\r\n"}};
    inst.Attach();
    EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, true));

    EXPECT_EQ(kWake + "*IDN?\n" + kQueries, g_fake.sent);  // first DC4 is OpenLink's
    EXPECT_EQ(MODEL_RZT76 + 0, g_connection.modelCode);
    EXPECT_STREQ("VENDREL,RZT7680,12345,1.02", g_connection.idnText);
    EXPECT_STREQ("15_March_2020,x", g_connection.calibrationText);
    EXPECT_STREQ("1_2_3", g_connection.calVersionText);
    EXPECT_STREQ("v,A,1,2,3,4", g_connection.versionText);
    EXPECT_EQ(500u, inst.idnTimeout);
    EXPECT_EQ(5000u, inst.queryTimeout);
    EXPECT_EQ(5000u, g_fake.replyTimeoutMs);  // left for the console
    EXPECT_EQ(1, inst.waitsDuringIdn);
    EXPECT_EQ(0, g_ui.waits);
    EXPECT_EQ("", g_fake.drains);  // answered at once: nothing late to wait for

    ASSERT_EQ(1u, g_ui.messages.size());
    EXPECT_EQ("The connection was successful\nVENDREL,RZT7680,12345,1.02", g_ui.messages[0].text);
    EXPECT_EQ("Test Connection", g_ui.messages[0].caption);
    EXPECT_EQ(UI_ICON_INFO, g_ui.messages[0].icon);

    std::vector<string> log = {"***\tCONNECTING\t***\n", "***\tCONNECTED\t***\n",
                               "***\tIDENTIFIED: VENDREL,RZT7680,12345,1.02 (1)\t***\n"};
    EXPECT_EQ(log, g_commsLog.texts);
    EXPECT_EQ("[12:34:56.789] ***\tCONNECTING\t***\n", g_commsLog.entries[0]);
}

TEST_F(Connect, LanSendsEachTextWithItsNul)
{
    g_connection.interfaceKind = IFACE_LAN;
    inst.idn = "V,PCAN-RS232,1\n";
    inst.Attach();
    EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
    EXPECT_EQ(string("\x14\0\x14\0^[\0*IDN?\n\0calstr?\n\0calver?\n\0version?\n\0", 42), g_fake.sent);
    EXPECT_EQ(MODEL_HGB + 0, g_connection.modelCode);
    EXPECT_TRUE(g_ui.messages.empty());  // no result shown, and the open succeeded
}

TEST_F(Connect, AnswerOnTheThirdAttempt)
{
    inst.idn = "V,RZT60,7\r\n";
    inst.answerIdnFrom = 3;
    inst.Attach();
    EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
    EXPECT_EQ(kWake + Repeat("*IDN?\n", 3) + kQueries, g_fake.sent);
    EXPECT_EQ(MODEL_RZT6 + 0, g_connection.modelCode);
    EXPECT_EQ("q", g_fake.drains) << "late replies to the first two are discarded before the queries";
    EXPECT_EQ(750u, g_fake.lastDrainMs);
}

// An open link left by an unanswered attempt is reused only while the settings are those it
// was opened with; otherwise it leads to another instrument, port or rate than the one chosen.
TEST_F(Connect, ChangedSettingsCloseTheLinkLeftOpen)
{
    static const struct { const char *change; void (*apply)(ConnectionRecord *); bool reopened; } cases[] = {
        {"nothing", [](ConnectionRecord *) {}, false},
        {"port", [](ConnectionRecord *r) { strcpy(r->portName, "COM6"); }, true},
        {"baud rate", [](ConnectionRecord *r) { r->baudRate = 38400; }, true},
        {"interface", [](ConnectionRecord *r) { r->interfaceKind = IFACE_LAN; }, true},
        {"address, on LAN", [](ConnectionRecord *r) { strcpy(r->ipAddress, "10.1.2.4"); }, true},
        {"port, on LAN", [](ConnectionRecord *r) { strcpy(r->portName, "COM9"); }, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.change);
        FakeLinkReset();
        g_connection.interfaceKind = strstr(c.change, "LAN") ? IFACE_LAN : IFACE_SERIAL;
        strcpy(g_connection.portName, "COM5");
        g_connection.baudRate = 9600;
        strcpy(g_connection.ipAddress, "10.1.2.3");
        inst.idn.clear();
        inst.Attach();
        ASSERT_FALSE(ConnectAndIdentify(nullptr, &g_connection, false));
        c.apply(&g_connection);
        inst.idn = "Vendrel,RZT7680,12345,1.23\r\n";
        g_fake.sent.clear();
        EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
        EXPECT_EQ(c.reopened ? 1 : 0, g_fake.closes);
        EXPECT_EQ(c.reopened ? 2 : 1, g_fake.opens);
        EXPECT_EQ(c.reopened ? 2 : 1, std::count(g_fake.sent.begin(), g_fake.sent.end(), '\x14'))
            << "a new open sends its own DC4 before the sequence's";
        // The reused link may still carry replies to the earlier attempts.
        EXPECT_EQ(c.reopened ? "" : "q", g_fake.drains);
    }
}

TEST_F(Connect, SilentInstrument)
{
    inst.Attach();
    strcpy(g_connection.idnText, "earlier");
    EXPECT_FALSE(ConnectAndIdentify(nullptr, &g_connection, true));
    EXPECT_EQ(kWake + Repeat("*IDN?\n", 5), g_fake.sent);
    EXPECT_STREQ("earlier", g_connection.idnText);
    EXPECT_EQ(1, g_connection.isOpen);  // the caller decides whether to close
    EXPECT_EQ(0, g_fake.closes);
    EXPECT_EQ(5000u, g_fake.replyTimeoutMs);
    EXPECT_EQ(0, g_ui.waits);
    ASSERT_EQ(1u, g_ui.messages.size());
    EXPECT_EQ("The connection failed", g_ui.messages[0].text);
    EXPECT_EQ(2u, g_commsLog.texts.size());
}

TEST_F(Connect, SilenceAfterAnEarlierSuccess)
{
    inst.idn = "V,QVN44,1\r\n";
    inst.Attach();
    ASSERT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
    inst.idn.clear();
    g_fake.sent.clear();
    EXPECT_FALSE(ConnectAndIdentify(nullptr, &g_connection, true));
    // The transport is still open: no new OpenLink, so no DC4 from it.
    EXPECT_EQ(1, g_fake.opens);
    EXPECT_EQ(string("\x14^[") + Repeat("*IDN?\n", 5), g_fake.sent);
    EXPECT_EQ(MODEL_QVN73 + 0, g_connection.modelCode);
    ASSERT_EQ(1u, g_ui.messages.size());
    EXPECT_EQ("Incompatable instrument", g_ui.messages[0].text);
}

// An unrecognised or commaless identity connects as an unknown instrument, asks nothing more,
// and nothing may name the instrument that answered before: not the message, not the texts.
TEST_F(Connect, UnknownOrCommalessIdentity)
{
    static const struct { const char *idn, *marker; } cases[] = {
        {"ACME,XYZ100,1,2\r\n", "***\tUNIDENTIFIED INSTRUMENT\t***\n"},
        {"HELLO\r\n", nullptr},  // neither marker
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        SetUp();
        inst.idn = c.idn;
        inst.Attach();
        g_connection.modelCode = MODEL_RZT66;
        strcpy(g_connection.idnText, "Vendrel,RZT66,1,2");
        strcpy(g_connection.calibrationText, "15_Mar_2020,Vendrel");
        strcpy(g_connection.calVersionText, "10_06_2021");
        strcpy(g_connection.versionText, "RZT66,1234,56,78,90");
        EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, true));
        EXPECT_EQ(kWake + "*IDN?\n", g_fake.sent);  // no further queries
        EXPECT_EQ(MODEL_UNKNOWN + 0, g_connection.modelCode);
        EXPECT_STREQ("", g_connection.idnText);
        EXPECT_STREQ("", g_connection.calibrationText);
        EXPECT_STREQ("", g_connection.calVersionText);
        EXPECT_STREQ("", g_connection.versionText);
        std::vector<string> log = {"***\tCONNECTING\t***\n", "***\tCONNECTED\t***\n"};
        if (c.marker) log.push_back(c.marker);
        EXPECT_EQ(log, g_commsLog.texts);
        ASSERT_EQ(1u, g_ui.messages.size());
        EXPECT_EQ("The connection was successful\nUnknown Instrument", g_ui.messages[0].text);
    }
}

TEST_F(Connect, OpenFailureIsAlwaysShown)
{
    static const struct { int kind; const char *text; } cases[] = {
        {IFACE_LAN, "Failed to connect to IP address 10.1.2.3"},
        {IFACE_USB, "Unable to open port COM5"},
        {IFACE_SERIAL, "Unable to open port COM5"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        FakeUiReset();
        FakeCommsLogReset();
        g_fake.openResult = -1;
        g_connection.interfaceKind = c.kind;
        EXPECT_FALSE(ConnectAndIdentify(nullptr, &g_connection, false));
        ASSERT_EQ(1u, g_ui.messages.size());
        EXPECT_EQ(c.text, g_ui.messages[0].text);
        EXPECT_EQ("Test Connection", g_ui.messages[0].caption);
        EXPECT_EQ(UI_ICON_INFO, g_ui.messages[0].icon);
        EXPECT_EQ(std::vector<string>{"***\tCONNECTING\t***\n"}, g_commsLog.texts);
        EXPECT_EQ(0, g_ui.waits);
    }
    EXPECT_EQ("", g_fake.sent);
}

TEST_F(Connect, OpenFailureWithUnterminatedAddress)
{
    g_fake.openResult = -1;
    g_connection.interfaceKind = IFACE_LAN;
    memset(g_connection.ipAddress, '9', sizeof g_connection.ipAddress);  // no NUL at all
    EXPECT_FALSE(ConnectAndIdentify(nullptr, &g_connection, true));
    ASSERT_EQ(1u, g_ui.messages.size());
    EXPECT_EQ("Failed to connect to IP address " + string(16, '9'), g_ui.messages[0].text);
}

TEST_F(Connect, InterfaceNone)
{
    g_connection.interfaceKind = IFACE_NONE;
    inst.idn = "V,RZT76,1\n";
    inst.Attach();
    EXPECT_FALSE(ConnectAndIdentify(nullptr, &g_connection, true));
    EXPECT_EQ("", g_fake.sent);
    EXPECT_EQ(0, g_fake.opens);
    EXPECT_TRUE(g_ui.messages.empty());
    EXPECT_TRUE(g_commsLog.texts.empty());
}

TEST_F(Connect, RepliesKeepTheirLineFeedAndUnansweredQueriesClear)
{
    inst.idn = "V,RZT26,9\n";  // an instrument that ends its lines with LF alone
    inst.replies = {{"calstr?\n", "default\n"}, {"version?\n", "v,A,1\n"}};  // calver unanswered
    inst.Attach();
    strcpy(g_connection.calVersionText, "stale");
    EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
    EXPECT_STREQ("V,RZT26,9\n", g_connection.idnText);
    EXPECT_STREQ("default\n", g_connection.calibrationText);
    EXPECT_STREQ("", g_connection.calVersionText);
    EXPECT_STREQ("v,A,1\n", g_connection.versionText);
    EXPECT_EQ("***\tIDENTIFIED: V,RZT26,9\n (4)\t***\n", g_commsLog.texts.back());
}

TEST_F(Connect, LongRepliesAreCutToTheirFields)
{
    // 400 characters each, of which a 256-byte ReceiveLine keeps 255.
    string idn = "V,RZT86," + string(392, 'x');
    inst.idn = idn + "\r\n";
    inst.replies = {{"calstr?\n", string(400, 'c') + "\r\n"}, {"calver?\n", string(400, 'k') + "\r\n"},
                    {"version?\n", string(400, 'v') + "\r\n"}};
    inst.Attach();
    EXPECT_TRUE(ConnectAndIdentify(nullptr, &g_connection, false));
    EXPECT_EQ(idn.substr(0, 127), g_connection.idnText);
    EXPECT_EQ(string(255, 'c'), g_connection.calibrationText);
    EXPECT_EQ(string(255, 'k'), g_connection.calVersionText);
    EXPECT_EQ(string(127, 'v'), g_connection.versionText);

    // The marker wanted 281 characters; the reply gives way, the closing part stays.
    const string &marker = g_commsLog.texts.back();
    EXPECT_EQ(255u, marker.size());
    EXPECT_EQ("***\tIDENTIFIED: " + idn.substr(0, 229) + " (16)\t***\n", marker);
    EXPECT_EQ("[12:34:56.789] " + marker, g_commsLog.entries.back());
}

TEST(ConnectMarker, CutsTheReplyOnly)
{
    static const struct { size_t replyLen; int code; size_t cap; size_t keptReply; } cases[] = {
        {10, 1, 256, 10},
        {230, 1, 256, 230},  // 25 more with a one-digit code: fits exactly
        {231, 1, 256, 230},
        {229, 16, 256, 229},  // 26 more with a two-digit code
        {230, 16, 256, 229},
        {255, 16, 256, 229},
        {5, 16, 27, 0},       // room for the fixed parts only
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.replyLen << " chars, code " << c.code << ", cap " << c.cap);
        string reply(c.replyLen, 'r');
        char out[300];
        memset(out, '#', sizeof out);
        size_t len = ConnectIdentifiedMarker(out, c.cap, reply.c_str(), c.code);
        string expected = "***\tIDENTIFIED: " + string(c.keptReply, 'r') + " (" + std::to_string(c.code) + ")\t***\n";
        EXPECT_EQ(expected, out);
        EXPECT_EQ(expected.size(), len);
        EXPECT_EQ('#', out[c.cap]);  // nothing written past the capacity
    }
    char tiny[8];
    EXPECT_LT(ConnectIdentifiedMarker(tiny, sizeof tiny, "V,RZT76", 1), sizeof tiny);  // bounded
}
