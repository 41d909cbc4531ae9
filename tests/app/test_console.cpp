// Console core: caret notation on the wire, the typed-command path, the history walk, echo
// recall, reply assembly and packed-value conversion, the titles and the saved-file text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/connection.h"
#include "app/console.h"
#include "fakelink.h"
#include "fakeui.h"

namespace {

std::vector<std::string> g_appends;  // one entry per append call of a counted poll
void CountedAppend(const char *text) { g_appends.push_back(text); }

class Console : public testing::Test {
protected:
    void SetUp() override
    {
        FakeLinkReset();
        FakeUiReset();
        ReplyPollReset();
        HistoryRelease(&g_commandHistory);
        ConvertBinary = true;
        ReceivedCharCount = 0;
        g_appends.clear();
    }
    void TearDown() override { HistoryRelease(&g_commandHistory); }
    // Queues bytes and polls with counted appends until a poll is not full; returns
    // everything appended.
    std::string Poll(const std::string &bytes)
    {
        g_fake.input += bytes;
        while (ReplyPollTo(CountedAppend) == REPLY_POLL_MAX_BYTES) {}
        std::string all;
        for (const std::string &a : g_appends) all += a;
        return all;
    }
};

}  // namespace

TEST_F(Console, CaretNotation)
{
    static const struct { const char *text; const char *wire; } cases[] = {
        {"^c", "\x03\n"},        {"^C", "\x03\n"},    {"^AB", "\x01\n"},  // rest ignored
        {"^z", "\x1a\n"},        {"^[", "\x1b\n"},    {"^[x", "\x1b\n"},
        {"^", "^\n"},            {"^1", "^1\n"},      {"^^", "^^\n"},
        {"^@", "^@\n"},          {"x^A", "x^A\n"},    {"*IDN?", "*IDN?\n"},
    };
    for (const auto &c : cases) {
        g_fake.sent.clear();
        EXPECT_FALSE(SendCommandText(c.text)) << c.text;
        EXPECT_EQ(std::string(c.wire), g_fake.sent) << c.text;
    }
    // A script line far longer than the command line allows goes out whole.
    std::string longLine(2047, 'q');
    g_fake.sent.clear();
    EXPECT_FALSE(SendCommandText(longLine.c_str()));
    EXPECT_EQ(longLine + "\n", g_fake.sent);
}

TEST_F(Console, SendFailureIsOnlyANegativeResult)
{
    static const struct { int result; bool failed; } cases[] = {{-1, true}, {-7, true}, {0, false}, {3, false}};
    for (const auto &c : cases) {
        g_fake.sendResult = c.result;
        EXPECT_EQ(c.failed, SendCommandText("^c")) << c.result;
        EXPECT_EQ(c.failed, SendCommandText("volt?")) << c.result;
    }
}

TEST_F(Console, TypedCommandPath)
{
    EXPECT_EQ(CONSOLE_IDLE, ConsoleSendTyped("*IDN?"));  // not connected: nothing at all
    EXPECT_EQ("", g_fake.sent);
    EXPECT_EQ("", g_ui.results);

    g_connection.connected = 1;
    EXPECT_EQ(CONSOLE_IDLE, ConsoleSendTyped(""));
    EXPECT_EQ(CONSOLE_SENT, ConsoleSendTyped("*IDN?"));
    EXPECT_EQ("*IDN?\n", g_fake.sent);
    EXPECT_EQ("> *IDN?\r\n", g_ui.results);
    EXPECT_EQ("*IDN?", g_commandHistory.slots[0]);
    EXPECT_EQ(0, g_commandHistory.cursor);

    g_fake.sendResult = -1;
    EXPECT_EQ(CONSOLE_SEND_FAILED, ConsoleSendTyped("volt?"));
    EXPECT_EQ("> *IDN?\r\n", g_ui.results);  // neither echoed
    EXPECT_EQ("", g_commandHistory.slots[1]);  // nor stored
}

TEST_F(Console, HistoryKeepsTheLatestFifty)
{
    for (int i = 0; i < 51; i++) HistoryStore(&g_commandHistory, ("cmd" + std::to_string(i)).c_str());
    EXPECT_EQ("cmd1", g_commandHistory.slots[0]);
    EXPECT_EQ("cmd50", g_commandHistory.slots[49]);
    EXPECT_EQ(49, g_commandHistory.cursor);

    std::string text;
    ASSERT_TRUE(HistoryForward(&g_commandHistory, &text));  // past the newest: the oldest
    EXPECT_EQ("cmd1", text);
    ASSERT_TRUE(HistoryBack(&g_commandHistory, &text));  // past the oldest: the newest
    EXPECT_EQ("cmd50", text);
    ASSERT_TRUE(HistoryBack(&g_commandHistory, &text));
    EXPECT_EQ("cmd49", text);
}

TEST_F(Console, HistoryWalkWrapsBothWays)
{
    for (const char *c : {"a", "b", "c"}) HistoryStore(&g_commandHistory, c);
    // Each step: 'B' back or 'F' forward, and the text the command line then shows.
    static const struct { char key; const char *text; } steps[] = {
        {'B', "b"}, {'B', "a"}, {'B', "c"}, {'B', "b"}, {'F', "c"},
        {'F', "a"}, {'F', "b"}, {'F', "c"}, {'F', "a"}, {'B', "c"},
    };
    int n = 0;
    for (const auto &s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << n++ << " " << s.key);
        std::string text;
        bool got = s.key == 'B' ? HistoryBack(&g_commandHistory, &text) : HistoryForward(&g_commandHistory, &text);
        ASSERT_TRUE(got);
        EXPECT_EQ(s.text, text);
    }
}

TEST_F(Console, EmptyHistoryChangesNothing)
{
    std::string text = "untouched";
    for (int i = 0; i < 3; i++) {
        EXPECT_FALSE(HistoryBack(&g_commandHistory, &text));
        EXPECT_FALSE(HistoryForward(&g_commandHistory, &text));
    }
    EXPECT_FALSE(HistoryBack(&g_commandHistory, &text));
    EXPECT_FALSE(HistoryBack(&g_commandHistory, &text));
    EXPECT_EQ("untouched", text);
    // Many Ups on an empty history must not leave the cursor somewhere a store cannot fix.
    HistoryStore(&g_commandHistory, "x");
    ASSERT_TRUE(HistoryBack(&g_commandHistory, &text));
    EXPECT_EQ("x", text);
    HistoryStore(&g_commandHistory, "");  // empty texts are never stored
    EXPECT_EQ("", g_commandHistory.slots[1]);
}

TEST_F(Console, RecallClickedLine)
{
    const std::string window = "> *IDN?\r\nVendrel,RZT7680\r\n>\r\n> volt?\r\n20:41:07.125 > meas:curr?\r\n"
                               "20:41:07.230 1.5E-3\r\n20:41";
    std::string along(300, 'k');
    const std::string longEcho = "> " + along + "\r\n";
    static const struct { size_t start; bool selection; const char *want; } cases[] = {
        {0, false, "*IDN?"},
        {0, true, nullptr},   // a drag selection recalls nothing
        {9, false, nullptr},  // reply line
        {26, false, nullptr}, // bare ">" line: must not reach into the next line
        {29, false, "volt?"},
        {38, false, "meas:curr?"},  // stamped by Show Timestamps
        {65, false, nullptr},  // a stamped reply
        {86, false, nullptr},  // a stamp cut short
        {99, false, nullptr}, // beyond the text
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "line start " << c.start << " selection " << c.selection);
        std::string out;
        bool got = RecallClickedLine(window, c.start, c.selection, &out);
        EXPECT_EQ(c.want != nullptr, got);
        if (c.want) {
            EXPECT_EQ(c.want, out);
        }
    }
    std::string out;
    ASSERT_TRUE(RecallClickedLine(longEcho, 0, false, &out));
    EXPECT_EQ(std::string(RECALL_MAX, 'k'), out);
}

TEST_F(Console, FileTextHasCrLfLineEnds)
{
    static const struct { const char *window, *file; } cases[] = {
        {"> a\r\nreply\r\n", "> a\r\nreply\r\n"},
        {"one\ntwo", "one\r\ntwo"},
        {"stray\rcr\r\r\n", "straycr\r\n"},
        {"", ""},
        {"\n\n", "\r\n\r\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.file, ResultsToFileText(c.window)) << c.window;
}

TEST_F(Console, ReplyLinesAreAssembledAndShownOncePerPoll)
{
    static const struct { std::string bytes; const char *shown; int count; } cases[] = {
        {"ab\r\n", "ab\r\n", 2},
        {"\r\n\n\r\n", "", 0},  // only line ends: nothing shown
        {"1.234\r\n5\n", "1.234\r\n5\r\n", 6},
        {std::string("x\0y\n", 4), "x\r\ny\r\n", 2},  // NUL ends a line too
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        g_appends.clear();
        ReceivedCharCount = 0;
        EXPECT_EQ(c.shown, Poll(c.bytes));
        EXPECT_EQ(c.count, ReceivedCharCount);
        EXPECT_LE(g_appends.size(), 1u);
    }
    EXPECT_EQ(0, g_ui.linksLost);  // nothing waiting (-2) is not a failure
}

TEST_F(Console, PartialLineWaitsForLaterPollsAndResetDropsIt)
{
    EXPECT_EQ("", Poll("12"));
    EXPECT_EQ("123\r\n", Poll("3\n"));
    g_appends.clear();
    Poll("stale");
    ReplyPollReset();
    g_appends.clear();
    EXPECT_EQ("fresh\r\n", Poll("fresh\n"));
    EXPECT_EQ(3 + 5, ReceivedCharCount);
}

TEST_F(Console, LongLineSplitsAtBufferLimit)
{
    std::string shown = Poll(std::string(30000, 'x') + "\n");
    EXPECT_EQ(std::string(20479, 'x') + "\r\n" + std::string(30000 - 20479, 'x') + "\r\n", shown);
    EXPECT_EQ(30000, ReceivedCharCount);
    EXPECT_EQ(1u, g_appends.size());
}

TEST_F(Console, PackedValuesInReplies)
{
    static const struct { std::string bytes; const char *shown; } cases[] = {
        {"\x82\x30\x20\x20\n", "3.01575E\r\n"},
        {"\xFF\x20\x01\x01\n", "2.50062E-1\r\n"},
        {"\x82\x10\x41\x41\n", "0.00000E\r\n"},
        {"V=\x82\x30\x20\x20;\xFF\x20\x01\x01\n", "V=3.01575E;2.50062E-1\r\n"},
        // A line end inside a value cuts it: the missing bytes count as 0 and the rest of the
        // value's bytes start the next line.
        {"\x82\x30\r\x20\x20\n", "3.00000E\r\n  \r\n"},
        {"\x82\n", "0.00000E\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        g_appends.clear();
        EXPECT_EQ(c.shown, Poll(c.bytes));
    }
}

TEST_F(Console, ConvertBinaryOffCopiesBytes)
{
    ConvertBinary = false;
    EXPECT_EQ("\x82\x30\x20\x20\r\n", Poll("\x82\x30\x20\x20\n"));
    EXPECT_EQ(4, ReceivedCharCount);  // raw count either way
}

TEST_F(Console, LineOfPackedLeadBytesStaysBounded)
{
    // 20479 bytes that all start packed values would expand to ~50 000 characters.
    std::string shown = Poll(std::string(20479, '\xFF') + "\n");
    ASSERT_EQ(20479u + 2, shown.size());
    EXPECT_EQ("\r\n", shown.substr(20479));
    EXPECT_EQ(20479, ReceivedCharCount);
    char first[PACKED_TEXT_SIZE];
    const unsigned char ff[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ConvertPackedValue(ff, first);
    EXPECT_EQ(first, shown.substr(0, strlen(first)));
}

TEST_F(Console, ReadFailureReportsTheLinkLostAfterTheLinesBeforeIt)
{
    g_fake.readError = 1;
    EXPECT_EQ("ok\r\n", Poll("ok\n"));
    EXPECT_EQ(1, g_ui.linksLost);
}

TEST_F(Console, EachPollReadsABoundedAmountAndShowsItInOneAppend)
{
    std::string burst;
    for (int i = 0; i < 200; i++) burst += "line " + std::to_string(i) + "\r\n";
    EXPECT_EQ(burst, Poll(burst));
    EXPECT_EQ(1u, g_appends.size());

    // 4 MB waiting, as from an instrument that streams faster than the poll: each poll returns
    // after REPLY_POLL_MAX_BYTES with one append, and the polls show every line whole and in
    // order.
    g_appends.clear();
    std::string stream;
    for (int i = 0; stream.size() < (4u << 20); i++) stream += "STREAM," + std::to_string(i) + "\r\n";
    g_fake.input = stream;
    std::string shown;
    int polls = 0;
    for (int got; (got = ReplyPollTo(CountedAppend)) > 0; polls++) {
        ASSERT_LE(got, REPLY_POLL_MAX_BYTES);
        ASSERT_EQ((size_t)polls + 1, g_appends.size());
        shown += g_appends.back();
    }
    EXPECT_EQ(stream, shown);
    EXPECT_EQ((int)((stream.size() + REPLY_POLL_MAX_BYTES - 1) / REPLY_POLL_MAX_BYTES), polls);

    // The plain entry point shows through the shell seam.
    g_fake.input = "via shell\n";
    EXPECT_EQ(10, ReplyPoll());
    EXPECT_EQ("via shell\r\n", g_ui.results);
}

TEST_F(Console, ScrollbackTrimsInBlocks)
{
    static const struct { long setting; int limit; } settings[] = {
        {20000, 20000}, {100, 100}, {1000000, 1000000},
        {99, RESULTS_MAX_LINES_DEFAULT}, {1000001, RESULTS_MAX_LINES_DEFAULT}, {0, RESULTS_MAX_LINES_DEFAULT},
        {-5, RESULTS_MAX_LINES_DEFAULT},
    };
    for (const auto &c : settings) EXPECT_EQ(c.limit, ResultsMaxLinesFromSetting(c.setting)) << c.setting;

    static const struct { int lines, limit, trim; } cases[] = {
        {20000, 20000, 0},     // at the limit: nothing goes
        {20001, 20000, 2001},  // one past: back to 18,000, so the next trim is 2,000 lines away
        {24000, 20000, 6000},  // a big append: still one block down to 18,000
        {150, 100, 60},
        {5000, 100, 4910},     // an append longer than the limit keeps the newest 90
    };
    for (const auto &c : cases) EXPECT_EQ(c.trim, ResultsLinesToTrim(c.lines, c.limit)) << c.lines << "/" << c.limit;
}

TEST_F(Console, Titles)
{
    char startup[TITLE_SIZE];
    EXPECT_EQ(13u, BuildStartupTitle(startup, sizeof startup));
    EXPECT_STREQ("Quillon2 v1_3", startup);

    static const struct { int kind; const char *idn, *title; } cases[] = {
        {IFACE_USB, "Vendrel,RZT7680,123,1.23", "Quillon2 v1_3     USB,RZT7680,123,1.23"},
        {IFACE_LAN, "", "Quillon2 v1_3     LAN,Unknown Connection"},
        {IFACE_SERIAL, "A,B", "Quillon2 v1_3     SER,B"},
        {IFACE_NONE, "A,", "Quillon2 v1_3     SER,"},
        {IFACE_LAN, "NOCOMMA", "Quillon2 v1_3     LAN,NOCOMMA"},
    };
    for (const auto &c : cases) {
        char title[TITLE_SIZE];
        BuildConnectedTitle(title, sizeof title, startup, c.kind, c.idn);
        EXPECT_STREQ(c.title, title) << c.kind << " " << c.idn;
    }
    char small[10];
    EXPECT_EQ(strlen(cases[0].title), BuildConnectedTitle(small, sizeof small, startup, IFACE_USB, cases[0].idn));
    EXPECT_STREQ("Quillon2 ", small);
}

// The books both programs keep: a connect nobody answered leaves no port open (it would be
// locked for every other program), and an ended connection stops the poll.
TEST_F(Console, ConnectionBooksOpenThePollOnlyOnAnIdentifiedLink)
{
    g_connection.isOpen = 1;
    EXPECT_FALSE(ConnectionBegin(&g_connection, false));
    EXPECT_EQ(0, g_connection.isOpen);
    EXPECT_EQ(0, g_connection.connected);
    EXPECT_EQ(0, g_connection.pollEnabled);

    g_connection.isOpen = 1;
    EXPECT_TRUE(ConnectionBegin(&g_connection, true));
    EXPECT_EQ(1, g_connection.connected);
    EXPECT_EQ(1, g_connection.pollEnabled);
    ConnectionEnd(&g_connection);
    EXPECT_EQ(0, g_connection.isOpen);
    EXPECT_EQ(0, g_connection.pollEnabled);
    EXPECT_EQ(0, g_connection.connected);
}
