// The upgrade command from the chosen file to the boot loader, on the host: a scripted
// instrument on the fake link answers the identification and plays the boot loader; the
// files list and the progress dialog are the stand-ins of fakeupgrade.h.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fakelink.h"
#include "fakeui.h"
#include "fakeupgrade.h"
#include "upgrade/notify.h"
#include "script/script.h"
#include "upgrade/command.h"

namespace {

const char QUESTION[] = "No instrument was detected.\n\nDo you want to try and continue with the upgrade";
const char SERIAL_ONLY[] = "QVN7300 and QVNN7386 instruments can only upgrade firmware using a serial connection";

// Answers the identification queries; after the attention byte it is the boot loader, which
// acknowledges every command of its own and answers nothing else ("*IDN?" included).
struct FakeInstrument {
    std::string idn = "Vendrel,RZT7680,12345,1.23";
    int idnUnanswered = 0;           // "*IDN?" attempts that get no reply
    bool booting = false;
    bool refuseRecords = false;      // the boot loader answers every record "no"
    std::string boot;                // what the boot loader received, from the attention byte on

    void Attach()
    {
        g_fake.onSend = [this](const std::string &text) {
            if (text == "\x19") booting = true;
            if (booting) {
                boot += text;
                bool command = text == "C7D2z\n" || text == "x" || text[0] == ':' ||
                               (text.size() == 6 && text.compare(4, 2, "y\n") == 0);
                bool refused = refuseRecords && text[0] == ':';
                if (command) g_fake.input = refused ? "no\r\n" : "ok\r\n";
                return;
            }
            if (text == "*IDN?\n" && idnUnanswered > 0) idnUnanswered--;
            else if (text == "*IDN?\n") g_fake.input = idn + "\r\n";
            else if (text == "version?\n") g_fake.input = "RZT7680,1234,56,78,90\r\n";
            else if (text == "calstr?\n" || text == "calver?\n") g_fake.input = "10_06_2021\r\n";
        };
    }
};

// A HEX file of one data record, and what the worker sends of it: each record as read, then CR LF.
std::string Record(int seed)
{
    char line[32];
    snprintf(line, sizeof line, ":04000000%02X%02X%02X%02X00", seed, seed + 1, seed + 2, seed + 3);
    return line;
}
std::string Hex(int seed) { return Record(seed) + "\r\n:00000001FF\r\n"; }
std::string Sent(int seed) { return Record(seed) + "\n\r\n:00000001FF\n\r\n"; }

class UpgradeCommand : public ::testing::Test {
protected:
    FakeInstrument instrument;
    std::string dir = testing::TempDir();
    std::string tag = std::to_string(getpid());
    std::vector<std::string> written;

    void SetUp() override { Reset(IFACE_USB, true); }
    void TearDown() override
    {
        for (const std::string &f : written) remove(f.c_str());
    }
    void Reset(int kind, bool connected)
    {
        FakeLinkReset();
        FakeUpgradeReset();
        FakeUiReset();
        ScriptRunnerInit(&g_scriptRunner);
        g_ui.answer = UI_ANSWER_OK;
        g_connection.interfaceKind = kind;
        g_connection.connected = connected;
        instrument = FakeInstrument();
        instrument.Attach();
    }
    // Writes a file into the temp folder; firmware files are also made known to the lookup.
    std::string Write(const std::string &name, const std::string &text, bool firmware = true)
    {
        std::string path = dir + name;
        FILE *f = fopen(path.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        written.push_back(path);
        if (firmware) FakeUpgradeAddFile(path, (uint32_t)text.size());
        return path;
    }
    std::vector<std::string> Boxes() const
    {
        std::vector<std::string> texts;
        for (const FakeUiMessage &m : g_ui.messages) texts.push_back(m.text);
        return texts;
    }
    bool ListShows(const std::string &piece) const { return g_fakeUpgrade.filesText.find(piece) != std::string::npos; }
};

// A main HEX file chosen directly has no version condition: its companions are listed and
// then erased and programmed in list order, DSP (sector 2), FPG (1), the main file (0).
TEST_F(UpgradeCommand, MainHexFileIsProgrammedWithItsCompanions)
{
    char cwd[1024];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    for (const char *prefix : {"AB", "SQ"}) {
        SCOPED_TRACE(prefix);
        Reset(IFACE_USB, true);
        bool sq = prefix[0] == 'S';
        std::string suffix = "_" + tag + ".hex", main = prefix + suffix;
        // Chosen by a relative name, so that the companions are found beside it on every platform.
        for (const auto &file : {std::make_pair("DSP", 0x20), std::make_pair("FPG", 0x10), std::make_pair(prefix, 0)}) {
            if (sq && file.second == 0x10) continue;
            Write(file.first + suffix, Hex(file.second), false);
            FakeUpgradeAddFile(file.first + suffix, (uint32_t)Hex(file.second).size());
        }
        ASSERT_EQ(0, chdir(dir.c_str()));
        UpgradeOutcome outcome = RunFirmwareUpgradeFile(nullptr, main.c_str());
        ASSERT_EQ(0, chdir(cwd));
        EXPECT_EQ(UPGRADE_DONE, outcome.result);

        ASSERT_EQ(1u, g_ui.messages.size());
        EXPECT_EQ(0u, Boxes()[0].find("The upgrade file is for a Unknown Model. You are connected to a RZT7680"));
        EXPECT_FALSE(g_fakeUpgrade.filesBlocking);
        EXPECT_TRUE(ListShows(sq ? "Erase Sectors: 2,0,\n" : "Erase Sectors: 2,1,0,\n"))
            << g_fakeUpgrade.filesText;
        std::string erase = sq ? "7C2Dy\nxC72Dy\nx" : "7C2Dy\nx2DC7y\nxC72Dy\nx";
        std::string program = "7C2Dy\n" + Sent(0x20) + (sq ? "" : "2DC7y\n" + Sent(0x10)) + "C72Dy\n" + Sent(0);
        EXPECT_EQ("\x19" "C7D2z\n" + erase + program + "z\n\x15", instrument.boot);
        EXPECT_EQ("Firmware sent OK", FakeUpgradeTexts(UPGRADE_NOTIFY_LOG).back());
    }
}

// The serial number is the third field of the identification; an entry outside its serial
// range is neither listed nor erased nor programmed, and a list left empty cannot be accepted.
TEST_F(UpgradeCommand, SerialRangesDecideWhatIsListedAndProgrammed)
{
    const std::string high = "high_" + tag + ".hex", low = "low_" + tag + ".hex", old = "old_" + tag + ".hex";
    static const struct { const char *idn; const char *listed; bool blocks; } cases[] = {
        {"Vendrel,RZT7680,12345,1.23", "h", false},
        {"Vendrel,RZT7680,500,1.23", "lo", true},   // old.hex is missing
        {"Vendrel,RZT7680,0,1.23", "", true},       // nothing left to program
        {"Vendrel,RZT7680", "hlo", true},           // no serial field: every entry
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        Reset(IFACE_USB, true);
        instrument.idn = c.idn;
        Write(high, Hex(0x40));
        Write(low, Hex(0x50));
        std::string path = Write("serial_" + tag + ".upg",
                                 "TARGET,RZT7680\r\nSERIAL,1,10000,99999\r\nLOAD,0," + high + "\r\nSERIAL,2,1,9999\r\nLOAD,3," +
                                     low + "\r\nLOAD,1," + old + "\r\n",
                                 false);
        UpgradeOutcome outcome = RunFirmwareUpgradeFile(nullptr, path.c_str());
        EXPECT_EQ(c.blocks ? UPGRADE_REFUSED : UPGRADE_DONE, outcome.result);
        if (c.blocks) {
            EXPECT_EQ(UPGRADE_REFUSED_FILES_BLOCKED, outcome.refusal);
        }
        ASSERT_EQ(1, g_fakeUpgrade.filesShown);
        std::string listed;
        if (ListShows(high)) listed += "h";
        if (ListShows(low)) listed += "l";
        if (ListShows(old)) listed += "o";
        EXPECT_EQ(c.listed, listed);
        EXPECT_EQ(c.blocks, g_fakeUpgrade.filesBlocking);
        if (c.blocks) {
            EXPECT_TRUE(instrument.boot.empty());
            continue;
        }
        EXPECT_EQ("\x19" "C7D2z\nC72Dy\nxC72Dy\n" + Sent(0x40) + "z\n\x15", instrument.boot);
    }
}

// A QVN73/QVN44 instrument over LAN is refused also when only the second identification
// found it: after going on without a connection, or after unanswered first attempts.
TEST_F(UpgradeCommand, Qvn7OverLanIsRefusedWhicheverIdentificationFoundIt)
{
    std::string hex = Write("q_" + tag + ".hex", Hex(0x60));
    std::string path = Write("q_" + tag + ".upg", "TARGET,QVN7300\r\nLOAD,0,q_" + tag + ".hex\r\n", false);
    for (bool connected : {false, true}) {
        SCOPED_TRACE(connected ? "first identification unanswered" : "not connected");
        Reset(IFACE_LAN, connected);
        FakeUpgradeAddFile(hex, (uint32_t)Hex(0x60).size());
        instrument.idn = "Vendrel,QVN7300,555,2.0";
        instrument.idnUnanswered = connected ? 5 : 0;
        g_ui.answer = UI_ANSWER_YES;
        UpgradeOutcome outcome = RunFirmwareUpgradeFile(nullptr, path.c_str());
        EXPECT_EQ(UPGRADE_REFUSED, outcome.result);
        EXPECT_EQ(UPGRADE_REFUSED_CHECK, outcome.refusal);
        EXPECT_EQ(SERIAL_ONLY, outcome.message);
        EXPECT_EQ((std::vector<std::string>{QUESTION, SERIAL_ONLY}), Boxes());
        EXPECT_EQ(0, g_fakeUpgrade.filesShown);
        EXPECT_EQ(std::string::npos, g_fake.sent.find('\x19'));
    }
}

// A sector that the list shows in red (outside the range of the final target) blocks Accept,
// even when it was in range for the target in force at its LOAD line.
TEST_F(UpgradeCommand, RedSectorDisablesAccept)
{
    Write("r_" + tag + ".hex", Hex(0x70));
    std::string path =
        Write("r_" + tag + ".upg", "TARGET,RZT8610\r\nLOAD,12,r_" + tag + ".hex\r\nTARGET,RZT6680\r\n", false);
    EXPECT_EQ(UPGRADE_REFUSED_FILES_BLOCKED, RunFirmwareUpgradeFile(nullptr, path.c_str()).refusal);
    ASSERT_EQ(1, g_fakeUpgrade.filesShown);
    EXPECT_TRUE(ListShows("Erase Sectors: [12],\n")) << g_fakeUpgrade.filesText;
    EXPECT_TRUE(g_fakeUpgrade.filesBlocking);
    EXPECT_EQ(0, g_fakeUpgrade.progressRuns);
    EXPECT_TRUE(instrument.boot.empty());
}

// A failed upgrade leaves the instrument in its boot loader, which does not answer "*IDN?". The
// next upgrade on that link recognises the boot loader, asks, checks the file against the
// identification remembered from before, and programs it again; No, or another file, ends the
// command with nothing sent after the probe. An instrument of another model that does answer
// is never probed, and leaves the record as it was.
TEST_F(UpgradeCommand, FailedUpgradeIsRecoveredWithTheSameFileOnly)
{
    strcpy(g_connection.portName, "COM5");
    Write("rec_" + tag + ".hex", Hex(0x30));
    std::string load = "TARGET,RZT7680\r\nLOAD,0,rec_" + tag + ".hex\r\n";
    std::string path = Write("rec_" + tag + ".upg", load, false);
    std::string other = Write("oth_" + tag + ".upg", load, false);
    instrument.refuseRecords = true;
    UpgradeOutcome failed = RunFirmwareUpgradeFile(nullptr, path.c_str());
    EXPECT_EQ(UPGRADE_FAILED, failed.result);
    EXPECT_EQ(UPGRADE_STAGE_FLASH, failed.stage);
    std::vector<std::string> log = FakeUpgradeTexts(UPGRADE_NOTIFY_LOG);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ("ERROR: Failed to send file rec_" + tag + ".hex", log.end()[-2]);
    ASSERT_EQ(1u, g_fakeUpgrade.recovery.count("COM5"));
    RecoveryRecord rec = g_fakeUpgrade.recovery["COM5"];
    EXPECT_STREQ("Vendrel,RZT7680,12345,1.23", rec.idnText);
    const std::string question = "The instrument RZT7680 12345 is still in its boot loader after a failed upgrade at " +
                                 std::string(rec.time) + ". Program it again with " + path + "?";

    instrument.refuseRecords = false;
    instrument.booting = false;
    instrument.idn = "Acme,XY100,77,1.0";
    g_ui.answer = UI_ANSWER_CANCEL;  // the model warning
    g_fake.sent.clear();
    UpgradeOutcome declined = RunFirmwareUpgradeFile(nullptr, path.c_str());
    EXPECT_EQ(UPGRADE_REFUSED, declined.result);
    EXPECT_EQ(UPGRADE_REFUSED_MODEL_DECLINED, declined.refusal);  // another model: not a plain Cancel
    EXPECT_EQ(std::string::npos, g_fake.sent.find("C7D2z"));
    EXPECT_EQ(1u, g_fakeUpgrade.recovery.count("COM5"));
    instrument.booting = true;

    static const struct { bool sameFile; UiAnswer answer; int boxes; bool programmed; UpgradeRefusal why; } cases[] = {
        {false, UI_ANSWER_YES, 2, false, UPGRADE_REFUSED_CHECK},
        {true, UI_ANSWER_NO, 1, false, UPGRADE_REFUSED_DECLINED},
        {true, UI_ANSWER_YES, 1, true, UPGRADE_REFUSED_CHECK},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.sameFile ? "same file" : "other file") + (c.answer == UI_ANSWER_YES ? ", Yes" : ", No"));
        FakeUiReset();
        g_fakeUpgrade.notes.clear();
        g_ui.answer = c.answer;
        instrument.boot.clear();
        UpgradeOutcome outcome = RunFirmwareUpgradeFile(nullptr, (c.sameFile ? path : other).c_str());
        EXPECT_EQ(c.programmed ? UPGRADE_DONE : UPGRADE_REFUSED, outcome.result);
        ASSERT_EQ((size_t)c.boxes, Boxes().size());
        if (!c.programmed) {
            EXPECT_EQ(c.why, outcome.refusal);
            EXPECT_EQ(Boxes().back(), outcome.message);  // the reason is the box that ended it
        }
        EXPECT_EQ(question, Boxes()[0]);
        std::string procedure = "\x19" "C7D2z\nC72Dy\nxC72Dy\n" + Sent(0x30) + "z\n\x15";
        if (c.programmed) {
            EXPECT_EQ(0u, instrument.boot.size() - procedure.size() - instrument.boot.rfind(procedure));
            EXPECT_EQ("Firmware sent OK", FakeUpgradeTexts(UPGRADE_NOTIFY_LOG).back());
        } else {
            EXPECT_EQ("C7D2z\n", instrument.boot.substr(instrument.boot.size() - 6));  // the probe, last
        }
        EXPECT_EQ(c.programmed ? 0u : 1u, g_fakeUpgrade.recovery.count("COM5"));
    }
}

}  // namespace
