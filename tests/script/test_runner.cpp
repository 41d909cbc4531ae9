// The script runner driven tick by tick with a fake clock, the fake link and the fake
// window seams: results text and wire bytes of every kind of line, reply waits and
// timeouts, pacing, pauses and stops (and why each one came), the state table, and loading
// script files. Every tick goes through the pump, as the window's timer and the headless
// runner drive it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/console.h"
#include "common/texttab.h"
#include "common/tick.h"
#include "fakelink.h"
#include "fakescripthost.h"
#include "fakeui.h"
#include "script/rpn.h"
#include "script/script.h"

static const char TIMEOUT_TEXT[] = "TIMEOUT\r\n";
static const char INVALID_PRINT[] = "!!Invalid file location in script!!";

class ScriptRunnerTest : public ::testing::Test {
protected:
    std::vector<int> stops;  // why each tick that stopped a continuous run stopped it
    std::vector<uint32_t> lineTimes;  // ticks at which a line ran
    std::function<void(uint32_t)> beforeTick;  // the instrument's side of a tick
    std::string dir;

    void SetUp() override
    {
        FakeLinkReset();
        FakeUiReset();
        FakeScriptHostReset();
        ReplyPollReset();
        ScriptRunnerInit(&g_scriptRunner);
        g_connection.connected = 1;
        g_connection.isOpen = 1;
        g_connection.pollEnabled = 1;
        ConvertBinary = true;
        ReceivedCharCount = 0;
    }

    void TearDown() override
    {
        std::error_code ignored;
        if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
    }

    // A loaded script: Idle, nothing selected, as after a successful load.
    void Load(const std::vector<std::string> &lines)
    {
        g_host.lines = lines;
        g_host.selection = -1;
        g_scriptRunner.state = Idle;
    }

    // One timer tick through the pump.
    ScriptOutcome Tick(uint32_t now)
    {
        g_host.now = now;
        if (beforeTick) beforeTick(now);
        bool wasRunning = g_scriptRunner.state == Running;
        ScriptOutcome out = ScriptPumpStep();
        if (out.ran) lineTimes.push_back(now);
        if (wasRunning && g_scriptRunner.state == Idle) stops.push_back(out.stop);
        return out;
    }

    // Clicks Run at start and ticks every millisecond until the run has stopped or paused.
    void RunFrom(uint32_t start, uint32_t limitMs = 60000)
    {
        ScriptOnRun();
        for (uint32_t t = start; t - start < limitMs && g_scriptRunner.state == Running; t++) Tick(t);
    }

    // Step: one line on the next tick.
    ScriptOutcome StepAt(uint32_t now)
    {
        ScriptOnStep();
        return Tick(now);
    }

    std::string TempDir()
    {
        if (dir.empty()) {
            // Unique per process and fixture; std::filesystem works on both builds.
            static int serial = 0;
            dir = testing::TempDir() + "scriptrunner_" + std::to_string(getpid()) + "_" + std::to_string(++serial);
            std::filesystem::create_directories(dir);
        }
        return dir;
    }

    std::string WriteFile(const char *name, const std::string &bytes)
    {
        std::string path = TempDir() + "/" + name;
        FILE *f = fopen(path.c_str(), "wb");
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
        return path;
    }

    static std::string ReadFile(const std::string &path)
    {
        std::string text;
        FILE *f = fopen(path.c_str(), "rb");
        if (!f) return "<missing>";
        int c;
        while ((c = fgetc(f)) != EOF) text += (char)c;
        fclose(f);
        return text;
    }
};

TEST_F(ScriptRunnerTest, CommandsEchoSendAndEndTheRun)
{
    // Started long after boot: a fresh run's time of 0 is still due at once.
    Load({"\"*RST", "\"", "\"^c", "\"MEAS? X"});
    RunFrom(0x90000000u);
    EXPECT_EQ("*RST\n\n\x03\nMEAS? X\n", g_fake.sent);
    EXPECT_EQ("> *RST\r\n> \r\n> ^c\r\n> MEAS? X\r\n", g_ui.results);
    EXPECT_EQ((std::vector<uint32_t>{0x90000000u, 0x900000FAu, 0x900001F4u, 0x900002EEu}), lineTimes);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(-1, g_host.selection);
    EXPECT_EQ(std::vector<int>{SCRIPT_STOP_END}, stops);
    EXPECT_EQ("Run", g_host.runCaption);
    EXPECT_TRUE(g_host.stepCloseEnabled);
    EXPECT_FALSE(g_scriptRunner.awaitingReply);  // "MEAS? X" is not a query
}

TEST_F(ScriptRunnerTest, QueryConsumesFollowingReplyLine)
{
    Load({"\"*IDN?", "#REPLY,3", "\"X"});
    RunFrom(1000);
    EXPECT_EQ((std::vector<uint32_t>{1000, 1000 + 250 + 3000}), lineTimes);
    EXPECT_EQ("*IDN?\nX\n", g_fake.sent);
    EXPECT_EQ("> *IDN?\r\nTIMEOUT\r\n> X\r\n", g_ui.results);
}

TEST_F(ScriptRunnerTest, RemarkBetweenQueryAndReplyLineBreaksThePair)
{
    Load({"\"*IDN?", ";note", "#reply,3", "\"X"});
    RunFrom(1000);
    // Query waits 5 s; the remark takes the delay; "#reply" waits on its own.
    EXPECT_EQ((std::vector<uint32_t>{1000, 6250, 6500, 9750}), lineTimes);
    EXPECT_EQ("> *IDN?\r\nTIMEOUT\r\nTIMEOUT\r\n> X\r\n", g_ui.results);
}

// Reply text ends the wait 250 ms later, and every later line moves that on; a one-character
// line is reply text too, an empty line is not.
TEST_F(ScriptRunnerTest, ReplyLinesEndTheWait)
{
    static const struct {
        uint32_t at1; const char *bytes1; uint32_t at2; const char *bytes2, *shown; uint32_t next;
    } cases[] = {
        {1100, "Vendrel,RZT\r\n", 1300, "more\n", "> *IDN?\r\nVendrel,RZT\r\nmore\r\n> X\r\n", 1550},
        {1100, "1\r\n", 1200, "0\r\n", "> *IDN?\r\n1\r\n0\r\n> X\r\n", 1450},
        {1100, "\r\n", 0, "", "> *IDN?\r\nTIMEOUT\r\n> X\r\n", 6250},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        SetUp();
        lineTimes.clear();
        Load({"\"*IDN?", "\"X"});
        beforeTick = [&c](uint32_t now) {
            if (now == c.at1) g_fake.input += c.bytes1;
            if (now == c.at2) g_fake.input += c.bytes2;
        };
        RunFrom(1000);
        EXPECT_EQ((std::vector<uint32_t>{1000, c.next}), lineTimes);
        EXPECT_EQ(c.shown, g_ui.results);
    }
}

TEST_F(ScriptRunnerTest, LateAndUnendedRepliesStayWithTheirQuery)
{
    // meas:volt? times out at 6250 and the remark runs; meas:curr? is sent at 6500.
    static const struct { uint32_t at1; const char *bytes1; uint32_t at2; const char *bytes2; const char *shown; } cases[] = {
        // After the TIMEOUT and before the next command: late, not meas:curr?'s reply.
        {6300, "1.23456\r\n", 6600, "0.012345\r\n",
         "> meas:volt?\r\nTIMEOUT\r\nLATE REPLY: 1.23456\r\n> meas:curr?\r\n0.012345\r\n> X\r\n"},
        // Without its line end: ended when the command goes out, not glued to the next reply.
        {6300, "1.23456", 6600, "0.012345\r\n",
         "> meas:volt?\r\nTIMEOUT\r\nLATE REPLY: 1.23456\r\n> meas:curr?\r\n0.012345\r\n> X\r\n"},
        // ... nor counted as its reply: meas:curr? still times out.
        {6300, "1.23456", 0, "",
         "> meas:volt?\r\nTIMEOUT\r\nLATE REPLY: 1.23456\r\n> meas:curr?\r\nTIMEOUT\r\n> X\r\n"},
        // Within the wait but without its line end: the reply as it stands when the wait ends.
        {1100, "1.23456", 6600, "0.012345\r\n",
         "> meas:volt?\r\n1.23456\r\n> meas:curr?\r\n0.012345\r\n> X\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        SetUp();
        Load({"\"meas:volt?", ";note", "\"meas:curr?", "\"X"});
        beforeTick = [&c](uint32_t now) {
            if (now == c.at1) g_fake.input += c.bytes1;
            if (now == c.at2) g_fake.input += c.bytes2;
        };
        RunFrom(1000);
        EXPECT_EQ(c.shown, g_ui.results);
    }
}

TEST_F(ScriptRunnerTest, QueryAsLastLineStopsAtOnceAndTimesOutInTheNextFreshRun)
{
    Load({"\"*IDN?"});
    RunFrom(1000);
    EXPECT_EQ((std::vector<uint32_t>{1000}), lineTimes);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ("> *IDN?\r\n", g_ui.results);
    EXPECT_TRUE(g_scriptRunner.awaitingReply);

    RunFrom(9000);
    EXPECT_EQ("> *IDN?\r\nTIMEOUT\r\n> *IDN?\r\n", g_ui.results);
}

TEST_F(ScriptRunnerTest, SteppingPastAQueryTimesOutWithoutWaiting)
{
    Load({"\"*IDN?", "\"X"});
    ScriptOutcome first = StepAt(1000);
    EXPECT_TRUE(first.ran);
    EXPECT_EQ(0, first.line);
    EXPECT_EQ(SCRIPT_GOES_ON, first.stop);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);
    EXPECT_FALSE(Tick(1001).ran);  // Idle: nothing runs
    ScriptOutcome second = StepAt(1002);  // no deadline in step mode
    EXPECT_EQ(1, second.line);
    EXPECT_EQ(SCRIPT_STOP_END, second.stop);
    EXPECT_EQ("> *IDN?\r\nTIMEOUT\r\n> X\r\n", g_ui.results);
    EXPECT_EQ(1, g_scriptRunner.timeoutsTotal);  // what the runner's exit code counts
    EXPECT_TRUE(stops.empty());
}

TEST_F(ScriptRunnerTest, FailedSendReportsAndStopsTheRun)
{
    Load({"\"A", "\"B"});
    g_fake.sendResult = -1;
    RunFrom(1000);
    EXPECT_EQ("> AERROR SENDING THIS COMMAND\r\n", g_ui.results);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);  // Run continues with B
    EXPECT_EQ(std::vector<int>{SCRIPT_STOP_SEND_FAILED}, stops);
    EXPECT_EQ(1, g_scriptRunner.sendFailuresTotal);
    EXPECT_TRUE(g_ui.messages.empty());

    // A step with a failed send just ends in Idle on the next line.
    Load({"\"A", "\"B"});
    EXPECT_EQ(SCRIPT_STOP_SEND_FAILED, StepAt(2000).stop);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);
}

// After Disconnect a COM port reports its writes as done: the run must not believe it.
TEST_F(ScriptRunnerTest, CommandWhileDisconnectedIsASendFailure)
{
    g_connection.connected = 0;
    Load({"#echo,a", "\"meas:volt?", "\"B"});
    RunFrom(1000);
    EXPECT_EQ("a\r\n> meas:volt?ERROR SENDING THIS COMMAND\r\n", g_ui.results);
    EXPECT_EQ("", g_fake.sent);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(2, g_host.selection);
}

// The tick count wraps every 49.7 days. Ticks come every 16 ms, as a real timer delivers them.
TEST_F(ScriptRunnerTest, PacingAcrossTheTickCountWrap)
{
    static const struct { uint32_t now, deadline; bool reached; } cases[] = {
        {0xFFFFFFF0u, 0x00000010u, false},  // the deadline's sum wrapped: not due yet
        {0x00000010u, 0x00000010u, true},
        {0x00000004u, 0xFFFFFFFAu, true},   // due just before the wrap, seen just after it
        {0x7FFFFFFFu, 0x00000000u, true},
        {0x00000000u, 0x00000001u, false},
    };
    for (const auto &c : cases) EXPECT_EQ(c.reached, TickReached(c.now, c.deadline)) << std::hex << c.now << " " << c.deadline;
    EXPECT_EQ(0x14, TickSince(0x00000004u, 0xFFFFFFF0u));

    for (uint32_t start : {0xFFFFFF00u, 0xFFFFFF80u}) {
        SCOPED_TRACE(start);
        lineTimes.clear();
        Load({";a", ";b", ";c"});
        ScriptOnRun();
        for (uint32_t t = start; t - start < 2000 && g_scriptRunner.state == Running; t += 16) Tick(t);
        ASSERT_EQ(3u, lineTimes.size());
        // A fresh run starts at once; every later line waits its 250 ms, wrap or no wrap.
        EXPECT_EQ(start, lineTimes[0]);
        EXPECT_EQ(256, TickSince(lineTimes[1], lineTimes[0]));
        EXPECT_EQ(256, TickSince(lineTimes[2], lineTimes[1]));
    }
}

TEST_F(ScriptRunnerTest, WaitPausesARunButNotAStep)
{
    Load({"#wait", "\"A", "#wait,Check probe"});
    RunFrom(1000);
    EXPECT_EQ(std::string(AppTextTable[63]) + "\r\n", g_ui.results);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);
    EXPECT_EQ(std::vector<int>{SCRIPT_STOP_WAIT}, stops);

    // Run continues from the selection; the last line's wait asks for the only stop.
    g_scriptRunner.stackX = 42;
    RunFrom(5000);
    EXPECT_EQ(std::string(AppTextTable[63]) + "\r\n> A\r\nCheck probe\r\n", g_ui.results);
    EXPECT_EQ(42, g_scriptRunner.stackX);  // no fresh run
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(-1, g_host.selection);
    EXPECT_EQ((std::vector<int>{SCRIPT_STOP_WAIT, SCRIPT_STOP_END}), stops);

    g_ui.results.clear();
    stops.clear();
    Load({"#WAIT", "\"A"});
    StepAt(9000);
    EXPECT_EQ(std::string(AppTextTable[63]) + "\r\n", g_ui.results);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);
    EXPECT_TRUE(stops.empty());
}

TEST_F(ScriptRunnerTest, EchoTimeBeepAndClear)
{
    g_ui.results = "old\r\n";
    g_host.clock = {9, 5, 3, 7};
    Load({"#echo,hello, world", "#ECHO", "#time", "#beep", "#clear", "#echo,after"});
    for (uint32_t t = 1; g_host.selection != -1 || t == 1; t++) StepAt(t);
    EXPECT_EQ("after\r\n", g_ui.results);
    EXPECT_EQ(1, g_host.beeps);
    EXPECT_EQ(1, g_host.focusEntries);  // as the menu's Clear Results

    g_ui.results.clear();
    Load({"#echo,hello, world", "#ECHO", "#time"});
    RunFrom(100);
    EXPECT_EQ("hello, world\r\n\r\ntime: 09:05:03:007\r\n", g_ui.results);
}

TEST_F(ScriptRunnerTest, BinconSetsOrTogglesTheOption)
{
    static const struct { const char *line; bool before, after; int shown; } cases[] = {
        {"#bincon", true, false, 1},     {"#bincon", false, true, 1},
        {"#bincon,ON", false, true, 1},  {"#bincon,on", true, true, 1},
        {"#bincon,off", true, false, 1}, {"#bincon,of", false, false, 1},
        {"#bincon,xyz", true, false, 1}, {"#bincon,", true, true, 0},
        {"#bincon,", false, false, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.line) + (c.before ? " from on" : " from off"));
        g_ui.convertBinaryShown.clear();
        ConvertBinary = c.before;
        Load({c.line});
        StepAt(1);
        EXPECT_EQ(c.after, ConvertBinary);
        // The menu's check mark is told the new value.
        EXPECT_EQ(c.shown ? std::vector<bool>{c.after} : std::vector<bool>{}, g_ui.convertBinaryShown);
    }
}

// The file gets the results as they were, and the results then say where it went in full:
// a bare name lands in the current folder, whichever that is.
TEST_F(ScriptRunnerTest, PrintWritesTheResultsWithCrLfAndSaysWhere)
{
    std::string path = TempDir() + "/out.txt";
    WriteFile("out.txt", "an older and much longer content that must go");
    g_ui.results = "> *IDN?\r\nreply\r\nbare\nlast";
    std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(TempDir());
    Load({"#print,out.txt"});
    StepAt(1);
    const std::string full = (std::filesystem::current_path() / "out.txt").string();
    std::filesystem::current_path(before);
    EXPECT_EQ("> *IDN?\r\nreply\r\nbare\r\nlast", ReadFile(path));
    EXPECT_EQ("> *IDN?\r\nreply\r\nbare\nlast\r\nResults written to " + full + "\r\n", g_ui.results);
    EXPECT_EQ(0, g_scriptRunner.printFailuresTotal);

    g_ui.results.clear();
    Load({"#print," + TempDir() + "/empty.txt"});
    StepAt(2);
    EXPECT_EQ("", ReadFile(TempDir() + "/empty.txt"));
}

// The message stands on a line of its own, also after a reply line still without its end, and
// names the file it could not write; the runner counts the failure.
TEST_F(ScriptRunnerTest, PrintFailuresAreReportedOnALineOfTheirOwn)
{
    const std::string missing = (std::filesystem::path(TempDir()) / "no" / "such" / "folder" / "x.txt").string();
    const struct {
        std::string line, shown;
    } cases[] = {
        {"#print", INVALID_PRINT},
        {"#print,", INVALID_PRINT},
        {"#print," + missing, std::string(INVALID_PRINT) + " Results not written to " + missing},
    };
    for (const auto &c : cases) {
        for (const std::string before : {"x", "x\r\n", ""}) {
            SCOPED_TRACE(c.line + " after '" + before + "'");
            g_ui.results = before;
            Load({c.line});
            StepAt(1);
            const std::string lead = before == "x" ? "x\r\n" : before;
            EXPECT_EQ(lead + c.shown + "\r\n", g_ui.results);
            EXPECT_EQ(1, g_scriptRunner.printFailuresTotal);
        }
    }
}

TEST_F(ScriptRunnerTest, PacingFollowsTheDelayDirectivesAndPauses)
{
    Load({"#fast", ";a", "#slow", "b", "#normal", " c", "#pause,2", "#pause", "#Slowly", "d"});
    RunFrom(1000);
    EXPECT_EQ((std::vector<uint32_t>{1000, 1050, 1100, 1600, 2100, 2350, 2600, 4850, 6100, 6600}),
              lineTimes);
    EXPECT_EQ(500, g_scriptRunner.lineDelayMs);

    // The delay survives the end of the run, Close, and the next script's fresh run.
    ScriptOnClose();
    Load({";x", ";y"});
    lineTimes.clear();
    RunFrom(10000);
    EXPECT_EQ((std::vector<uint32_t>{10000, 10500}), lineTimes);
}

TEST_F(ScriptRunnerTest, ReplyDirectiveArmsAWait)
{
    Load({"#reply,2", "\"X", "#reply", "\"Y"});
    beforeTick = [](uint32_t now) {
        if (now == 4000) g_fake.input += "late\n";
    };
    RunFrom(1000);
    // The 2 s wait times out; the argument-less one would wait 1 s, but text came at 4000.
    EXPECT_EQ((std::vector<uint32_t>{1000, 3250, 3500, 4250}), lineTimes);
    EXPECT_EQ("TIMEOUT\r\n> X\r\nlate\r\n> Y\r\n", g_ui.results);
}

TEST_F(ScriptRunnerTest, FailedTestUnderStopOnFailPausesOnThatLine)
{
    Load({"=2", "=3", "=test,hi", "=stop,onfail", "\"A", "=1", "=cleartest", "=5"});
    RunFrom(1000);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(4, g_host.selection);
    EXPECT_EQ("", g_fake.sent);
    EXPECT_EQ(std::vector<int>{SCRIPT_STOP_TEST_FAILED}, stops);

    // failCount stays: the command runs, then the next '=' line pauses again.
    RunFrom(5000);
    EXPECT_EQ("A\n", g_fake.sent);
    EXPECT_EQ(6, g_host.selection);
    EXPECT_EQ(2u, stops.size());

    // "cleartest" does not pause; the run then ends normally.
    RunFrom(9000);
    EXPECT_EQ(-1, g_host.selection);
    EXPECT_EQ((std::vector<int>{SCRIPT_STOP_TEST_FAILED, SCRIPT_STOP_TEST_FAILED, SCRIPT_STOP_END}), stops);
    EXPECT_EQ(0, g_scriptRunner.failCount);
    EXPECT_EQ(1, g_scriptRunner.testsFailedTotal);
}

TEST_F(ScriptRunnerTest, FailingLastLineStopsOnceAndStepsDoNotPost)
{
    Load({"=stop,onfail", "=2", "=1", "=test,lo"});
    RunFrom(1000);
    EXPECT_EQ(std::vector<int>{SCRIPT_STOP_END}, stops);  // the end outranks the pause
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(-1, g_host.selection);

    stops.clear();
    g_ui.results.clear();
    Load({"=stop,onfail", "=2", "=1", "=test,lo", "=3"});
    for (uint32_t t = 1; t <= 5; t++) StepAt(t);
    EXPECT_TRUE(stops.empty());
    EXPECT_EQ(3, g_scriptRunner.stackX);  // a step still runs the line that fails the check
    EXPECT_EQ("", g_ui.results);  // and shows no pause text: it pauses nothing
}

// A stop-on-fail pause says which test failed, with the value and the limits it compared, on a
// line of its own; a later '=' line that pauses again names the same test, whatever the stack
// holds by then.
TEST_F(ScriptRunnerTest, StopOnFailPauseNamesTheFailedTestAndItsLimits)
{
    static const struct {
        std::vector<std::string> lines;  // after "=stop,onfail"; the last one pauses
        const char *shown;
    } cases[] = {
        {{"=1.5", "=2", "=test,hi"}, "=test,hi failed: 2 > 1.5 (hi)"},
        {{"=1.5", "=0.25", "=test,lo"}, "=test,lo failed: 0.25 < 1.5 (lo)"},
        {{"=1.3", "=1.2", "=0.1", "=test,out"}, "=test,out failed: 0.1 < 1.2 (out)"},
        {{"=1.3", "=1.2", "=1.4", "=test,out"}, "=test,out failed: 1.4 > 1.3 (out)"},
        {{"=1.3", "=1.2", "=1.25", "=test,in"}, "=test,in failed: 1.2 < 1.25 < 1.3 (in)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.shown);
        std::vector<std::string> lines = {"=stop,onfail"};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        lines.push_back("#echo,after");
        Load(lines);
        g_ui.results = "partial reply";
        RunFrom(1000);
        const std::string line = std::string("Limit test ") + c.shown + "; script stopped by =stop,onfail\r\n";
        EXPECT_EQ("partial reply\r\n" + line, g_ui.results);
        EXPECT_EQ((int)lines.size() - 1, g_host.selection);
    }
    // The failure comes first; "stop,onfail" then pauses on its own line, and "=5" once more.
    Load({"=2", "=1", "=test,lo", "=stop,onfail", "=5", "#echo,after"});
    g_ui.results.clear();
    RunFrom(1000);
    EXPECT_EQ(4, g_host.selection);
    RunFrom(2000);
    EXPECT_EQ(5, g_host.selection);
    const std::string line = "Limit test =test,lo failed: 1 < 2 (lo); script stopped by =stop,onfail\r\n";
    EXPECT_EQ(line + line, g_ui.results);
}

// Each line's outcome carries its own limit test, for the report (the limits it compared are
// checked through the stop-on-fail text).
TEST_F(ScriptRunnerTest, OutcomeCarriesTheLinesLimitTest)
{
    Load({"=1", "=2", "=test,hi", "=TEST,hi", "=test,lo", "=3", "=test,out"});
    std::vector<ScriptTestResult> tests;
    for (uint32_t t = 1; t <= 7; t++) tests.push_back(StepAt(t).test);
    const int verdicts[] = {SCRIPT_TEST_NONE, SCRIPT_TEST_NONE, SCRIPT_TEST_FAILED, SCRIPT_TEST_NOTHING,
                            SCRIPT_TEST_PASSED, SCRIPT_TEST_NONE, SCRIPT_TEST_FAILED};
    for (int i = 0; i < 7; i++) EXPECT_EQ(verdicts[i], tests[i].verdict) << "line " << i;
    EXPECT_EQ("3 > 1 (out)", RpnFailureText(tests[6]));
}

// A test names the query its value was measured by, carried through the calculator, and never
// one whose value a later number replaced. Only whole reply lines of the script's own wait are
// stored: not a piece cut off by the end of the wait, nor what answers a typed command.
TEST_F(ScriptRunnerTest, TestsNameTheQueryTheirValueCameFrom)
{
    Load({"\"meas:volt?", "=2", "=[1", "=test,hi", "=1000", "=*", "=test,hi", "=1.5", "=2", "=test,hi"});
    StepAt(1);
    g_fake.input += "1.0\n2.3";
    std::vector<int> named;
    for (uint32_t t = 2; t <= 10; t++) {
        ScriptOutcome out = StepAt(t);
        if (out.test.verdict != SCRIPT_TEST_NONE) named.push_back(out.test.queryLine);
    }
    EXPECT_EQ((std::vector<int>{0, 0, -1}), named);
    EXPECT_EQ(1, g_scriptRunner.registerCount);  // "2.3" came without its line end

    Load({"\"meas:volt?", "=[1"});
    StepAt(1);
    ConsoleSendTyped("*IDN?");
    g_fake.input += "Vendrel,RZT7680,12345,1.23\n";
    StepAt(2);
    EXPECT_EQ(0, g_scriptRunner.registerCount);
}

// A read error in the reply poll is the link lost: no line runs (a command would go nowhere),
// the run pauses with the query whose reply was lost selected, and goes on only by Run.
TEST_F(ScriptRunnerTest, LostLinkPausesAtTheQuery)
{
    Load({";a", "\"meas:volt?", "=[1", ";b"});
    ScriptOnRun();
    Tick(1000);
    Tick(1300);  // the query: its reply wait is armed
    EXPECT_EQ(2, g_host.selection);
    g_fake.sent.clear();
    g_fake.readError = 1;
    ScriptOutcome out = Tick(1400);
    EXPECT_FALSE(out.ran);
    EXPECT_EQ(SCRIPT_STOP_LINK_LOST, out.stop);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(1, g_host.selection);
    EXPECT_FALSE(g_scriptRunner.awaitingReply);
    g_fake.readError = 0;
    EXPECT_FALSE(Tick(5000).ran);  // stays paused
    EXPECT_EQ("", g_fake.sent);
    ScriptOnRun();
    EXPECT_TRUE(Tick(5001).ran);
    EXPECT_EQ("meas:volt?\n", g_fake.sent);  // sent again
}

TEST_F(ScriptRunnerTest, StepOnLastLineThenFreshRun)
{
    Load({"=1", "=2"});
    StepAt(1);
    StepAt(2);
    EXPECT_EQ(-1, g_host.selection);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(2, g_scriptRunner.stackX);
    EXPECT_EQ(1, g_scriptRunner.stackY);
    g_scriptRunner.failCount = 3;
    g_scriptRunner.stopOnFail = true;
    g_scriptRunner.lineDelayMs = 50;

    StepAt(3);  // fresh run from line 0
    EXPECT_EQ(1, g_scriptRunner.stackX);
    EXPECT_EQ(0, g_scriptRunner.stackY);
    EXPECT_EQ(0, g_scriptRunner.failCount);
    EXPECT_FALSE(g_scriptRunner.stopOnFail);
    EXPECT_EQ(50, g_scriptRunner.lineDelayMs);
    EXPECT_EQ(1, g_host.selection);
}

TEST_F(ScriptRunnerTest, ClickedLineRunsNextWhileRunning)
{
    Load({"\"0", "\"1", "\"2", "\"3"});
    ScriptOnRun();
    Tick(1000);
    g_host.selection = 3;  // the user clicks line 3 during the delay
    for (uint32_t t = 1001; g_scriptRunner.state == Running; t++) Tick(t);
    EXPECT_EQ("0\n3\n", g_fake.sent);
    EXPECT_EQ((std::vector<uint32_t>{1000, 1250}), lineTimes);
}

TEST_F(ScriptRunnerTest, ButtonStateTable)
{
    ScriptOnRun();  // no script: nothing
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    ScriptOnStep();
    EXPECT_EQ(NoScript, g_scriptRunner.state);

    Load({";a", ";b"});
    ScriptOnRun();
    EXPECT_EQ(Running, g_scriptRunner.state);
    EXPECT_EQ("Stop", g_host.runCaption);
    EXPECT_FALSE(g_host.stepCloseEnabled);
    ScriptOnStep();  // ignored while running
    EXPECT_EQ(Running, g_scriptRunner.state);
    ScriptOnRun();
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ("Run", g_host.runCaption);
    EXPECT_TRUE(g_host.stepCloseEnabled);
    ScriptOnStep();
    EXPECT_EQ(StepRequested, g_scriptRunner.state);
    ScriptOnStep();
    EXPECT_EQ(StepRequested, g_scriptRunner.state);
    Tick(1);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    ScriptOnClose();
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ((std::vector<int32_t>{NoScript}), g_host.layouts);
    EXPECT_EQ(1, g_host.focusEntries);
}

TEST_F(ScriptRunnerTest, MenuScriptIgnoredWhileBusyOrDisconnected)
{
    g_host.chooseResult = true;
    g_host.choosePath = WriteFile("s.txt", "\"A\r\n");
    for (ScriptState busy : {Running, StepRequested}) {
        g_scriptRunner.state = busy;
        ScriptOnMenuScript();
        EXPECT_EQ(busy, g_scriptRunner.state);
    }
    g_scriptRunner.state = NoScript;
    g_connection.connected = 0;
    ScriptOnMenuScript();
    EXPECT_EQ(0, g_host.chooseCalls);
    EXPECT_TRUE(g_host.layouts.empty());
    EXPECT_EQ(0, g_host.focusEntries);
}

TEST_F(ScriptRunnerTest, MenuScriptLoadsCancelsAndRejects)
{
    // Cancel with nothing loaded: console layout, focus to the entry line.
    ScriptOnMenuScript();
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ((std::vector<int32_t>{NoScript}), g_host.layouts);
    EXPECT_EQ(1, g_host.focusEntries);

    // A script loads: Idle, script layout, nothing selected, path kept.
    g_host.chooseResult = true;
    g_host.choosePath = WriteFile("good.txt", "\"*RST\r\n#wait\r\n");
    g_host.selection = 0;
    ScriptOnMenuScript();
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(Idle, g_host.layouts.back());
    EXPECT_EQ((std::vector<std::string>{"\"*RST", "#wait"}), g_host.lines);
    EXPECT_EQ(-1, g_host.selection);
    EXPECT_EQ(g_host.choosePath, g_scriptRunner.scriptPath);
    EXPECT_TRUE(g_ui.messages.empty());

    // A rejected and an unreadable choice while a script is loaded: the state stays Idle, the
    // message comes twice (test, then reload), and the list is reloaded from the chosen file:
    // the non-script's lines, or nothing for the unreadable one.
    const std::string rejected = WriteFile("notes.txt", "=1\r\nplain\r\n");
    const std::string missing = TempDir() + "/missing.txt";
    static const struct { bool readable; const char *text; std::vector<std::string> lines; } cases[] = {
        {true, " does not appear to be a script file", {"=1", "plain"}},
        {false, "Unable to read file ", {}},
    };
    for (const auto &c : cases) {
        const std::string path = c.readable ? rejected : missing;
        const std::string text = c.readable ? path + c.text : c.text + path;
        SCOPED_TRACE(path);
        g_ui.messages.clear();
        g_host.choosePath = path;
        ScriptOnMenuScript();
        ASSERT_EQ(2u, g_ui.messages.size());
        for (const auto &m : g_ui.messages) {
            EXPECT_EQ(text, m.text);
            EXPECT_EQ("Quillon2", m.caption);
            EXPECT_EQ(UI_ICON_INFO, m.icon);
        }
        EXPECT_EQ(Idle, g_scriptRunner.state);
        EXPECT_EQ(c.lines, g_host.lines);
        EXPECT_EQ(path, g_scriptRunner.scriptPath);
    }

    // Rejected with nothing loaded: the state stays NoScript.
    ScriptOnClose();
    g_host.choosePath = rejected;
    ScriptOnMenuScript();
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ(NoScript, g_host.layouts.back());
}

// Every way a file's lines are read: CR, LF and CR LF end lines alike, a byte-order mark is
// not part of the first line, a line too long to hold refuses the whole file (never split
// into pieces that run on their own), and a file that only has remarks is no script.
TEST_F(ScriptRunnerTest, LoadRulesForLineEndsLengthsAndScripts)
{
    const std::string long2047 = "\"" + std::string(2046, 'a');
    const std::string notScript = " does not appear to be a script file";
    const struct {
        const char *name;
        std::string bytes;
        std::string message;  // with the path: a prefix "Line N of " or a suffix
        std::vector<std::string> listed;
        std::vector<int> numbers;
    } cases[] = {
        {"mixed", "\"*RST\r\n\r\n\x1a\"skipped\r\n" + long2047 + "\n=1\r\n; remark\r\n  \r\nno end", "",
         {"\"*RST", long2047, "=1", "; remark", "  ", "no end"}, {1, 4, 5, 6, 7, 8}},
        {"cr only", "#fast\r\"*IDN?\r=test,hi\r", "", {"#fast", "\"*IDN?", "=test,hi"}, {1, 2, 3}},
        {"every end", "#a\r\n\"b\n\"c\r\r\n#d", "", {"#a", "\"b", "\"c", "#d"}, {1, 2, 3, 5}},
        {"byte-order mark", "\xEF\xBB\xBF\"*RST\r\n#beep", "", {"\"*RST", "#beep"}, {1, 2}},
        {"long remark", ";" + std::string(4094, 'x') + "\"*RST\r\n", "Line 1 of ", {}, {}},
        {"long command", "#fast\n\"" + std::string(2047, 'b') + "\n\"*RST\n", "Line 2 of ", {}, {}},
        {"remarks only", "; a\r\n# note\r\n=test,hi\r\n \"x", notScript, {"; a", "# note", "=test,hi", " \"x"}, {1, 2, 3, 4}},
        {"mark alone", "\xEF\xBB\xBF", notScript, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteFile("rules.txt", c.bytes);
        g_ui.messages.clear();
        g_host.lines = {"stale"};
        g_host.selection = 0;
        EXPECT_EQ(c.message.empty(), ScriptFileTest(path.c_str()));
        EXPECT_EQ(c.message.empty(), LoadScriptList(path.c_str(), true));
        EXPECT_EQ(c.listed, g_host.lines);
        EXPECT_EQ(-1, g_host.selection);
        EXPECT_EQ(c.numbers, ScriptListLineNumbers(path.c_str()));
        if (c.message.empty()) {
            EXPECT_TRUE(g_ui.messages.empty());
            continue;
        }
        const std::string text = c.message == notScript ? path + notScript
                                                        : c.message + path + " is longer than 2047 characters";
        ASSERT_EQ(2u, g_ui.messages.size());
        EXPECT_EQ(text, g_ui.messages[0].text);
        EXPECT_EQ(text, g_ui.messages[1].text);
    }

    g_ui.messages.clear();
    const std::string missing = TempDir() + "/none.txt";
    EXPECT_FALSE(LoadScriptList(missing.c_str(), true));
    ASSERT_EQ(1u, g_ui.messages.size());
    EXPECT_EQ("Unable to read file " + missing, g_ui.messages[0].text);
    EXPECT_TRUE(g_host.lines.empty());

    // A line of the longest length runs whole.
    LoadScriptList(WriteFile("echo.txt", "#echo," + std::string(2041, 'e')).c_str(), true);
    g_scriptRunner.state = Idle;
    RunFrom(1000);
    EXPECT_EQ(std::string(2041, 'e') + "\r\n", g_ui.results);
}

// A run begun by Step has no deadline of its own, and a stopped run keeps its last one; once
// that time lies more than 24.8 days back (the tick count read as signed), Run must still go
// on at once rather than wait for the count to come round again.
TEST_F(ScriptRunnerTest, RunAfterAStepOrALongStopGoesOnAtOnce)
{
    Load({"=1", "=2", "=3"});
    StepAt(0x90000000u);  // 28 days after boot
    RunFrom(0x90000001u, 2000);
    EXPECT_EQ((std::vector<uint32_t>{0x90000000u, 0x90000001u, 0x900000FBu}), lineTimes);

    lineTimes.clear();
    Load({"=1", "#pause,3", "=3", "=4"});
    ScriptOnRun();
    for (uint32_t t = 1000; g_host.selection != 2; t++) Tick(t);
    ScriptOnRun();  // Stop during the pause ...
    RunFrom(1400, 4000);  // ... and Run at once: the pause is still served
    EXPECT_EQ((std::vector<uint32_t>{1000, 1250, 4500, 4750}), lineTimes);
    lineTimes.clear();
    Load({"=1", "#pause,3", "=3", "=4"});
    ScriptOnRun();
    for (uint32_t t = 1000; g_host.selection != 2; t++) Tick(t);
    ScriptOnRun();
    RunFrom(0x90000000u, 2000);  // Run again four weeks later
    EXPECT_EQ((std::vector<uint32_t>{1000, 1250, 0x90000000u, 0x900000FAu}), lineTimes);
}

TEST_F(ScriptRunnerTest, MeasuredRepliesReachTheLimitTests)
{
    // Each query is answered 100 ms after it goes out, the last one only after its wait ended:
    // that late reply must not be tested in place of the one that never came.
    Load({"=stop,onfail", "\"meas:volt?", "=5.1", "=4.9", "=[1", "=test,out",
          "\"meas:volt?", "=5.1", "=4.9", "=[1", "=test,out",
          "\"meas:volt?", "#reply,1", "=[1"});
    std::vector<std::string> replies = {"5.02\n", "5.3,VDC\n", "5.0\n"};
    size_t queries = 0;
    uint32_t sentAt = 0;
    beforeTick = [&](uint32_t now) {
        size_t sent = 0;
        for (size_t at = 0; (at = g_fake.sent.find("meas:volt?", at)) != std::string::npos; at++) sent++;
        if (sent > queries) queries = sent, sentAt = now;
        uint32_t delay = queries == 3 ? 1500 : 100;
        if (queries && now == sentAt + delay) g_fake.input += replies[queries - 1];
    };
    RunFrom(1000);
    EXPECT_EQ(1, g_scriptRunner.testsFailedTotal);  // 5.02 passes, 5.3 fails
    EXPECT_EQ(5.3, g_scriptRunner.failedTest.value);
    EXPECT_EQ("meas:volt?", ScriptCommandText(g_scriptRunner.failedTest.queryLine));
    EXPECT_NE(std::string::npos,
              g_ui.results.find("Limit test =test,out of meas:volt? failed: 5.3 > 5.1 (out); script stopped"));
    RunFrom(5000);
    EXPECT_EQ(0, g_scriptRunner.stackX);  // the timed-out wait stored nothing
    // Each reply line of a wait is told to the host with the command it answers and its numbers.
    EXPECT_EQ((std::vector<std::string>{"1:5.02:5.02", "6:5.3,VDC:5.3"}), g_host.replyLines);
}
