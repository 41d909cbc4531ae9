// The boot-loader conversation and the worker procedure against a scripted boot loader on the
// fake link: exact bytes on the wire, retries, and that nothing follows a failure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fakelink.h"
#include "fakeupgrade.h"
#include "upgrade/notify.h"
#include "upgrade/bootproto.h"

TEST(BootProgress, Percent)
{
    static const struct { int32_t total, done; int want; } cases[] = {
        {3, 1, 34},       {3, 3, 100},   {1000, 500, 51}, {3, 2, 67},   {100, 0, 1},
        {1000, 999, 100}, {10, 50, 100}, {0, 0, 0},       {0, 7, 100},  {-5, 7, 100},
        {10, -1, 0},      // the large-total branch divides by total/100 instead of multiplying
        {40000000, 20000001, 51},        {40000000, 20000000, 51},      {30000000, 29999999, 100},
        {50, 20000001, 100},             // total/100 is 0: no division by zero
        {INT32_MAX, INT32_MAX, 100},     {INT32_MAX, 21474836, 2},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.want, ProgressPercent(c.total, c.done)) << c.total << ", " << c.done;
    }
}

TEST(BootReply, Accepted)
{
    static const struct { const char *reply; bool ok; } cases[] = {
        {"ok", true}, {"OK", true}, {"oK", true}, {":10000000AAok", true},  // echo before ok
        {"k", false}, {"", false},  {"ok\n", false},  // LF-only line end keeps its LF
        {"okay", false}, {"no", false},
    };
    for (const auto &c : cases) {
        FakeLinkReset();
        BootBeginConversation();
        g_fake.onSend = [&](const std::string &) { g_fake.input = std::string(c.reply) + "\r\n"; };
        EXPECT_EQ(c.ok, ReplyIsOk(c.reply)) << c.reply;
        EXPECT_EQ(c.ok, SendExpectOk("cmd\n")) << c.reply;
        EXPECT_EQ("cmd\n", g_fake.sent);
    }
}

TEST(BootReply, LongReplyStaysBounded)
{
    FakeLinkReset();
    BootBeginConversation();
    g_fake.onSend = [](const std::string &) { g_fake.input = std::string(300, 'a') + "ok\r\n"; };
    EXPECT_FALSE(SendExpectOk("x"));  // only the first 126 characters are the reply
}

TEST(BootReply, FailedSendIsNoReply)
{
    FakeLinkReset();
    BootBeginConversation();
    g_connection.interfaceKind = IFACE_LAN;
    g_fake.sendResult = -1;
    g_fake.input = "ok\r\n";  // stale: must not count for a send that failed
    EXPECT_FALSE(SendExpectOk("x"));
}

TEST(BootSector, Codes)
{
    static const char *const codes[] = {"C72Dy", "2DC7y", "7C2Dy", "D2C7y", "27DCy",
                                        "DC72y", "7D2Cy", "93EBy", "E9B3y", "3B9Ey",
                                        "B3E9y", "9BE3y", "E39By", "3E9By", "B93Ey"};
    for (int s = 0; s < 15; s++) {
        FakeLinkReset();
        BootBeginConversation();
        g_fake.onSend = [](const std::string &) { g_fake.input = "ok\r\n"; };
        EXPECT_TRUE(SelectSector(s)) << s;
        EXPECT_EQ(std::string(codes[s]) + "\n", g_fake.sent) << s;
    }
    for (int s : {15, -1, 16}) {
        FakeLinkReset();
        EXPECT_EQ(nullptr, SectorSelectCode(s)) << s;
        EXPECT_FALSE(SelectSector(s)) << s;
        EXPECT_EQ("", g_fake.sent) << s;
    }
}

// --- The procedure --------------------------------------------------------------------------

// A scripted boot loader: answers every command that expects a reply with "ok", unless a
// queue of replies was set for that command text.
struct BootLoader {
    struct Sent {
        std::string text;
        size_t drainsBefore;
        unsigned lastDrainMs;
    };
    std::vector<Sent> sent;
    std::map<std::string, std::deque<std::string>> replies;

    void Attach()
    {
        g_fake.onSend = [this](const std::string &text) {
            sent.push_back({text, g_fake.drains.size(), g_fake.lastDrainMs});
            if (text == "\x19" || text == "z\n" || text == "\x15") return;  // no reply expected
            auto &queue = replies[text];
            std::string reply = "ok";
            if (!queue.empty()) {
                reply = queue.front();
                queue.pop_front();
            }
            g_fake.input = reply + "\r\n";
        };
    }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> out;
        for (const Sent &s : sent) out.push_back(s.text);
        return out;
    }
};

class BootProcedure : public ::testing::Test {
protected:
    EntryTable table;
    UpgradePlan plan;
    BootLoader loader;
    std::vector<std::string> files;

    void SetUp() override
    {
        FakeLinkReset();
        FakeUpgradeReset();
        memset(&table, 0, sizeof table);
        memset(&plan, 0, sizeof plan);
        plan.chosenEntries = table.sets[0];
        loader = BootLoader();
        loader.Attach();
    }
    void TearDown() override
    {
        for (const std::string &f : files) remove(f.c_str());
        files.clear();
    }
    // Writes a HEX file and adds an existing entry for it to set 0.
    LoadEntry *AddFile(const char *name, int32_t sector, const std::string &content, bool over = false,
                       bool onDisk = true)
    {
        std::string path = testing::TempDir() + "boot_" + std::to_string(getpid()) + "_" + name;
        if (onDisk) {
            FILE *f = fopen(path.c_str(), "wb");
            fwrite(content.data(), 1, content.size(), f);
            fclose(f);
            files.push_back(path);
        }
        LoadEntry *e = &table.sets[0][table.counts[0]++];
        snprintf(e->path, sizeof e->path, "%s", path.c_str());
        snprintf(e->facts.name, sizeof e->facts.name, "%s", name);
        e->facts.size = (uint32_t)content.size();
        e->sector = sector;
        e->exists = 1;
        e->over = over;
        return e;
    }
    std::vector<int> Progress() const
    {
        std::vector<int> out;
        for (const FakeNote &n : g_fakeUpgrade.notes) {
            if (n.code == UPGRADE_NOTIFY_PROGRESS) out.push_back((int)n.param);
        }
        return out;
    }
    // Checks the run ended with exactly one UPGRADE_NOTIFY_FINISHED, last, and returns the log.
    std::vector<std::string> Finish(bool wantSucceeded)
    {
        bool result = RunUpgradeProcedure(&plan);
        EXPECT_EQ(wantSucceeded, result);
        EXPECT_EQ(wantSucceeded, plan.succeeded != 0);
        int finished = 0;
        for (const FakeNote &n : g_fakeUpgrade.notes) finished += n.code == UPGRADE_NOTIFY_FINISHED;
        EXPECT_EQ(1, finished);
        EXPECT_EQ(UPGRADE_NOTIFY_FINISHED, g_fakeUpgrade.notes.back().code);
        EXPECT_EQ(1, g_fakeUpgrade.notes.back().param);
        return FakeUpgradeTexts(UPGRADE_NOTIFY_LOG);
    }
};

static const size_t ATTENTION_DRAINS = (1000 + 5000) / 250;

static const char HEX_A[] = ":10000000AA\r\n; a comment\r\n\r\n:00000001FF";  // no final line end
static const char HEX_B[] = ":02000004BB\n";

TEST_F(BootProcedure, WholeRun)
{
    AddFile("a.hex", 1, HEX_A);
    AddFile("b.hex", 1, HEX_B);       // shares sector 1: erased once, selected again for its file
    AddFile("o.hex", 3, HEX_B, true); // OVER: never erased, still programmed
    AddFile("d.hex", 2, HEX_B);
    table.sets[0][table.counts[0]++] = LoadEntry();  // a missing slot is passed over
    std::vector<std::string> log = Finish(true);

    std::vector<std::string> want = {
        "\x19", "C7D2z\n",
        "2DC7y\n", "x", "7C2Dy\n", "x",                                     // erase 1, skip 3, erase 2
        "2DC7y\n", ":10000000AA\n\r\n", ":00000001FF\r\n",                  // a.hex
        "2DC7y\n", ":02000004BB\n\r\n",                                     // b.hex
        "D2C7y\n", ":02000004BB\n\r\n",                                     // o.hex
        "7C2Dy\n", ":02000004BB\n\r\n",                                     // d.hex
        "z\n", "\x15",
    };
    EXPECT_EQ(want, loader.Texts());
    // Attention between the 1000 ms and the 5000 ms pause, each drained in slices of 250 ms
    // (a stop ends them); restart byte after the 500 ms drain.
    EXPECT_EQ(4u, loader.sent[0].drainsBefore);
    EXPECT_EQ(250u, loader.sent[0].lastDrainMs);
    EXPECT_EQ(ATTENTION_DRAINS, loader.sent[1].drainsBefore);
    EXPECT_EQ(ATTENTION_DRAINS, loader.sent.end()[-2].drainsBefore);
    EXPECT_EQ(ATTENTION_DRAINS + 1, loader.sent.back().drainsBefore);
    EXPECT_EQ(500u, loader.sent.back().lastDrainMs);
    EXPECT_EQ(std::string(ATTENTION_DRAINS + 2, 'd'), g_fake.drains);
    EXPECT_EQ(1000u, g_fake.lastDrainMs);

    std::vector<std::string> status = {
        "Initialising Instrument", "Erasing sector 1", "Skipping sector 3", "Erasing sector 2",
        "Sending file a.hex", "Sending file b.hex", "Sending file o.hex", "Sending file d.hex",
        "Restarting Instrument", "Finished",
    };
    EXPECT_EQ(status, FakeUpgradeTexts(UPGRADE_NOTIFY_STATUS));
    std::vector<std::string> wantLog = {"Instrument initialised OK", "All sectors erased OK", "Firmware sent OK"};
    EXPECT_EQ(wantLog, log);

    // 0; erase 1/3, 2/3, 3/3; 0; one per line read (4 + 1 + 1 + 1); 100.
    std::vector<int> progress = Progress();
    ASSERT_EQ(13u, progress.size());
    EXPECT_EQ((std::vector<int>{0, 34, 67, 100, 0}), std::vector<int>(progress.begin(), progress.begin() + 5));
    for (size_t i = 5; i < progress.size(); i++) {
        EXPECT_LE(progress[i - 1], progress[i]) << i;
        EXPECT_LE(progress[i], 100) << i;
    }
    EXPECT_EQ(100, progress.back());
}

TEST_F(BootProcedure, SectorNamedByOverAndLoadIsErased)
{
    AddFile("o.hex", 4, HEX_B, true);
    AddFile("l.hex", 4, HEX_B);
    Finish(true);
    std::vector<std::string> want = {"\x19", "C7D2z\n", "27DCy\n", "x", "27DCy\n", ":02000004BB\n\r\n",
                                     "27DCy\n", ":02000004BB\n\r\n", "z\n", "\x15"};
    EXPECT_EQ(want, loader.Texts());
    EXPECT_EQ("Erasing sector 4", FakeUpgradeTexts(UPGRADE_NOTIFY_STATUS)[1]);
}

// The line buffer's edge: 509 characters and LF go out whole with CR LF (512 on the wire).
TEST_F(BootProcedure, LongestRecordSentWhole)
{
    std::string longest = ":" + std::string(508, '0') + "\n";
    std::string atEnd = ":" + std::string(509, '1');  // 510 characters, no line end
    AddFile("a.hex", 0, longest + atEnd);
    Finish(true);
    std::vector<std::string> texts = loader.Texts();
    ASSERT_EQ(9u, texts.size());
    EXPECT_EQ(longest + "\r\n", texts[5]);
    EXPECT_EQ(atEnd + "\r\n", texts[6]);
}

// A file longer than the reader's buffer, with a CR LF split by the buffer's edge: every line
// still goes out as read with CR LF as one LF.
TEST_F(BootProcedure, LineEndAcrossTheReadBufferIsOneLf)
{
    std::string content = "; " + std::string(180, 'x') + "\r\n";  // puts record 300's CR at byte 4095
    for (int i = 0; i < 400; i++) content += ":02000004BB\r\n";
    ASSERT_EQ('\r', content[4095]);
    AddFile("a.hex", 0, content);
    Finish(true);
    std::vector<std::string> texts = loader.Texts();
    ASSERT_EQ(4u + 1 + 400 + 2, texts.size());
    EXPECT_EQ(400, std::count(texts.begin(), texts.end(), ":02000004BB\n\r\n"));
}

TEST_F(BootProcedure, InitialiseRetriedOnce)
{
    AddFile("a.hex", 0, HEX_B);
    loader.replies["C7D2z\n"] = {"no"};
    std::vector<std::string> log = Finish(true);
    EXPECT_EQ("C7D2z\n", loader.sent[2].text);
    EXPECT_EQ("Instrument initialised OK", log[0]);
}

static const char WAITING[] = "The instrument waits in its boot loader: run the upgrade again to recover it";

// A failed initialise says so in the status, and the last log line says what the instrument
// was left in: its boot loader once the attention byte went out, its firmware when it did not.
TEST_F(BootProcedure, InitialiseFailsTwice)
{
    static const struct {
        const char *what;
        int sendResult;  // SendLine's result; -100: sent
        std::vector<std::string> sent;
        UpgradeStage stage;
        const char *state;
    } cases[] = {
        {"refused twice", -100, {"\x19", "C7D2z\n", "C7D2z\n"}, UPGRADE_STAGE_BOOT, WAITING},
        {"nothing goes out", -1, {}, UPGRADE_STAGE_NORMAL, "The instrument was not changed: it still runs its firmware"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        AddFile("a.hex", 0, HEX_B);
        loader.replies["C7D2z\n"] = {"no", "k"};
        g_fake.sendResult = c.sendResult;
        std::vector<std::string> log = Finish(false);
        EXPECT_EQ(c.sent, loader.Texts());
        EXPECT_EQ((std::vector<std::string>{"ERROR: Instrument failed to initialise", c.state}), log);
        EXPECT_EQ((std::vector<std::string>{"Initialising Instrument", "Upgrade failed"}), FakeUpgradeTexts(UPGRADE_NOTIFY_STATUS));
        EXPECT_EQ(c.stage, plan.stage);
        EXPECT_EQ((std::vector<int>{0}), Progress());
    }
}

TEST_F(BootProcedure, RecordAcceptedOnFourthSend)
{
    AddFile("a.hex", 0, HEX_B);
    loader.replies[":02000004BB\n\r\n"] = {"no", "err", "o", "OK"};
    Finish(true);
    std::vector<std::string> texts = loader.Texts();
    EXPECT_EQ(4, std::count(texts.begin(), texts.end(), ":02000004BB\n\r\n"));
}

// A boot loader that answers every line once and in order, some of the answers only after the
// reply wait that should have read them has ended (at the next ReceiveLine), and that refuses
// one send of a record. It stores a record only when it answers it "ok". Whatever the timing,
// the upgrade ends with every record stored, or fails: never a success with a record missing.
TEST_F(BootProcedure, LateRepliesAnswerOnlyTheirOwnSend)
{
    static const struct {
        const char *what;
        int lateFrom, lateCount;  // record sends (counted from 1) answered late
        int refused;              // the record send answered "no"; 0 for none
        bool succeeds;
    } cases[] = {
        {"one late reply, then a refusal", 3, 1, 6, true},
        {"a refusal answered late", 3, 1, 3, true},
        {"the first record answered late", 1, 1, 0, true},
        {"every reply late from the third send", 3, 1000, 0, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        std::string content;
        for (int i = 0; i < 8; i++) content += ":0" + std::to_string(i) + "\n";
        AddFile("a.hex", 0, content);
        std::deque<std::pair<int, std::string>> queued;  // reply and the ReceiveLine it is there for
        std::set<std::string> stored;
        int receives = 0, recordSends = 0;
        g_fake.onSend = [&](const std::string &text) {
            if (text == "\x19" || text == "z\n" || text == "\x15") return;
            std::string reply = "ok";
            if (text[0] == ':') {
                recordSends++;
                if (recordSends == c.refused) reply = "no";
                else stored.insert(text);
            }
            bool late = text[0] == ':' && recordSends >= c.lateFrom && recordSends < c.lateFrom + c.lateCount;
            queued.push_back({receives + (late ? 2 : 1), reply + "\r\n"});
        };
        g_fake.onReceive = [&]() {
            receives++;
            while (!queued.empty() && queued.front().first <= receives) {
                g_fake.input += queued.front().second;
                queued.pop_front();
            }
        };
        Finish(c.succeeds);
        if (c.succeeds) {
            EXPECT_EQ(8u, stored.size());
        }
    }
}

// Each failure: its log line, then the one on the boot loader it left waiting, the status
// "Upgrade failed", and nothing at all sent after the failing command.
TEST_F(BootProcedure, FailuresStopEverything)
{
    static const std::string longLine = ":" + std::string(509, '0') + "\n";  // 510 and LF: one too many
    static const struct {
        const char *what;
        const char *refused;     // command whose replies are refused (null: none)
        int acceptFirst;         // ... after this many accepted replies
        int32_t sector;
        bool over, onDisk;
        std::string content;
        const char *lastSent;    // last command on the wire
        int lastSentCount;       // ... and how often it went out in all
        const char *log;
    } cases[] = {
        {"select refused in erase", "2DC7y\n", 0, 1, false, true, HEX_B, "2DC7y\n", 1, "ERROR: Failed to erase sector 1"},
        {"erase refused", "x", 0, 1, false, true, HEX_B, "x", 1, "ERROR: Failed to erase sector 1"},
        {"select refused before file", "2DC7y\n", 1, 1, false, true, HEX_B, "2DC7y\n", 2, "ERROR: Failed to send file f.hex"},
        {"record refused 4 times", ":02000004BB\n\r\n", 0, 1, false, true, HEX_B, ":02000004BB\n\r\n", 4,
         "ERROR: Failed to send file f.hex"},
        {"file gone", nullptr, 0, 1, false, false, HEX_B, "x", 2, "ERROR: Failed to send file f.hex"},
        {"sector 15", nullptr, 0, 15, false, true, HEX_B, "C7D2z\n", 1, "ERROR: Failed to erase sector 15"},
        {"OVER sector 15", nullptr, 0, 15, true, true, HEX_B, "C7D2z\n", 1, "ERROR: Failed to send file f.hex"},
        {"line too long", nullptr, 0, 1, false, true, HEX_B + longLine + HEX_B, ":02000004BB\n\r\n", 1,
         "ERROR: Failed to send file f.hex"},
        {"NUL inside a record", nullptr, 0, 1, false, true, std::string(":0200\0" "0004BB\n", 13), "2DC7y\n", 2,
         "ERROR: Failed to send file f.hex"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        AddFile("f.hex", c.sector, c.content, c.over, c.onDisk);
        AddFile("g.hex", 2, HEX_B);  // must never be reached
        if (c.refused) {
            std::deque<std::string> &q = loader.replies[c.refused];
            for (int i = 0; i < c.acceptFirst; i++) q.push_back("ok");
            for (int i = 0; i < 4; i++) q.push_back("no");
        }
        std::vector<std::string> log = Finish(false);
        ASSERT_FALSE(loader.sent.empty());
        EXPECT_EQ(c.lastSent, loader.sent.back().text);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(c.log, log.end()[-2]);
        EXPECT_EQ(WAITING, log.back());
        EXPECT_EQ("Upgrade failed", FakeUpgradeTexts(UPGRADE_NOTIFY_STATUS).back());
        std::vector<std::string> texts = loader.Texts();
        EXPECT_EQ(c.lastSentCount, std::count(texts.begin(), texts.end(), c.lastSent));
        EXPECT_EQ(std::string::npos, g_fake.sent.find("\x15"));
        EXPECT_EQ(std::string(ATTENTION_DRAINS, 'd'), g_fake.drains);  // the attention's only: no restart
    }
}

TEST_F(BootProcedure, EmptyTotalKeepsProgressInRange)
{
    LoadEntry *e = AddFile("a.hex", 0, std::string(":00000001FF\n") + HEX_B + HEX_B);
    e->facts.size = 0;  // the file grew after it was listed
    Finish(true);
    for (int p : Progress()) {
        EXPECT_GE(p, 0);
        EXPECT_LE(p, 100);
    }
}

// A stop asked for while a command awaits its reply (the headless runner's Ctrl-C): that
// command still gets its reply, nothing is sent after it, and no error is logged. A command
// left unanswered is not sent again either.
TEST_F(BootProcedure, StopSendsNothingAfterTheCommandUnderWay)
{
    static const struct {
        const char *what;
        std::string stopAt;
        int occurrence;
        const char *reply;
        UpgradeStage stage;  // what the instrument is left in
    } cases[] = {
        {"during the attention pause", "\x19", 1, "", UPGRADE_STAGE_BOOT},
        {"during the erase", "x", 1, "ok", UPGRADE_STAGE_FLASH},
        {"during a record", ":02000004BB\n\r\n", 2, "ok", UPGRADE_STAGE_FLASH},
        {"during an unanswered record", ":02000004BB\n\r\n", 1, "", UPGRADE_STAGE_FLASH},
        {"during an unanswered initialise", "C7D2z\n", 1, "", UPGRADE_STAGE_BOOT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        AddFile("a.hex", 1, std::string(HEX_B) + HEX_B + HEX_B);
        AddFile("b.hex", 2, HEX_B);
        loader.replies[c.stopAt] = {c.reply, c.reply, c.reply, c.reply};
        std::function<void(const std::string &)> answer = g_fake.onSend;
        int seen = 0;
        g_fake.onSend = [&](const std::string &text) {
            answer(text);
            if (text == c.stopAt && ++seen == c.occurrence) plan.stopRequested = 1;
        };
        std::vector<std::string> log = Finish(false);
        std::vector<std::string> texts = loader.Texts();
        EXPECT_EQ(c.stopAt, texts.back());
        EXPECT_EQ(c.occurrence, std::count(texts.begin(), texts.end(), c.stopAt));
        for (const std::string &line : log) EXPECT_EQ(std::string::npos, line.find("ERROR")) << line;
        EXPECT_TRUE(log.empty() || log.back() != WAITING);  // the one who stopped it says what is left
        EXPECT_NE("Upgrade failed", FakeUpgradeTexts(UPGRADE_NOTIFY_STATUS).back());
        EXPECT_EQ(c.stage, plan.stage);
        EXPECT_LE(g_fake.lastDrainMs, 250u);  // no pause runs on for long after the stop
    }
}
