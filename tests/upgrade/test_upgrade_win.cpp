// The firmware upgrade command end to end under Wine: the command's boxes and dialogs driven
// from a thread timer, the worker talking to the simulated boot loader over COM and LAN, and
// the boot-loader dialogue checked byte by byte from the simulator's transcript.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/link.h"
#include "script/script.h"
#include "simctl.h"
#include "upgrade/command.h"
#include "upgrade_fixtures.h"

namespace {

const char QUESTION[] = "Quillon2|No instrument was detected.\n\nDo you want to try and continue with the upgrade";

// Select codes of the sectors the fixtures use.
std::string Select(int sector)
{
    static const char *const codes[] = {"C72Dy", "2DC7y", "7C2Dy", "D2C7y", "27DCy"};
    return std::string(codes[sector]) + "\n";
}
std::string Erase(int sector) { return Select(sector) + "x"; }

const std::string INIT = std::string("\x19") + "C7D2z\n";
const std::string RESTART = "z\n\x15";

// One firmware file of a fixture: its name, sector, lines and where its data lies.
struct FixtureFile {
    std::string name;
    int sector;
    std::vector<std::string> lines;
};

void ConfigureLink(int kind, bool connected)
{
    CloseLink(&g_connection);
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = kind;
    strcpy(g_connection.portName, SimComPort());
    strcpy(g_connection.ipAddress, SimLanAddress());
    g_connection.baudRate = 19200;
    g_connection.connected = connected ? 1 : 0;
    g_connection.pollEnabled = 1;
    ScriptRunnerInit(&g_scriptRunner);
}

class UpgradeTest : public ::testing::TestWithParam<int> {
protected:
    HWND owner = NULL;
    std::string folder;

    void SetUp() override
    {
        owner = MakeOwnerWindow();
        ASSERT_TRUE(owner != NULL) << "quillon2.exe must be built next to the test";
        SimOk("reset");
        ConfigureLink(GetParam(), true);
        SimOk("transcript clear");
        folder = MakeTempFolder("upg");
    }
    void TearDown() override { CloseLink(&g_connection); }

    bool IsLan() const { return GetParam() == IFACE_LAN; }
    const char *Wire() const { return IsLan() ? "lan" : "serial"; }

    std::string Write(const std::string &name, const std::string &text)
    {
        EXPECT_TRUE(WriteTextFile(folder + name, text)) << folder + name;
        return folder + name;
    }
    // Writes the files and a descriptor listing them (OVER for the names in over).
    std::string WriteDescriptor(const std::vector<FixtureFile> &files, const std::string &head = "TARGET,RZT7680\r\n",
                                const std::string &over = "")
    {
        std::string text = head;
        for (const FixtureFile &f : files) {
            Write(f.name, JoinLines(f.lines));
            text += (over.find(f.name) != std::string::npos ? "OVER," : "LOAD,") + std::to_string(f.sector) + "," +
                    f.name + "\r\n";
        }
        return Write("fw.upg", text);
    }
    // Runs the command for path with d answering; checks that pollEnabled came back.
    bool Run(const std::string &path, UiDriver *d)
    {
        bool ran = false;
        WithDriver(d, [&] { UpgradeResult r = RunFirmwareUpgradeFile(owner, path.c_str()).result;
            ran = r == UPGRADE_DONE || r == UPGRADE_FAILED; });
        EXPECT_EQ(1, g_connection.pollEnabled) << "pollEnabled restored";
        return ran;
    }
    // The boot-loader dialogue, waiting up to 3 s for at least want bytes of it.
    std::string BootWire(size_t want)
    {
        std::string boot;
        for (int i = 0; i < 60; i++) {
            boot = BootPart(SimTranscript(Wire()));
            if (boot.size() >= want) break;
            Sleep(50);
        }
        return boot;
    }
    void ExpectFlash(int sector, const std::vector<std::string> &names)
    {
        std::string command = "boot flash-verify " + std::to_string(sector);
        for (const std::string &n : names) command += " " + UnixPathOf(folder + n);
        EXPECT_EQ(0u, Sim(command).find("ok ")) << command << " -> " << Sim(command);
    }
};

TEST_P(UpgradeTest, CompleteUpgradeProgramsEverySectorInTheBootLoaderDialogue)
{
    // Sector 0 is shared by two files and erased once; sector 3 comes only from OVER and is
    // programmed without an erase. Comments and blank lines of a file are not sent.
    std::vector<FixtureFile> files = {
        {"a.hex", 0, HexLines(0x0000, 64, 1)},
        {"b.hex", 2, HexLines(0x20000, 40, 2)},
        {"c.hex", 0, HexLines(0x1000, 32, 3)},
        {"d.hex", 3, HexLines(0x30000, 16, 4)},
    };
    files[1].lines.insert(files[1].lines.begin() + 1, "; built for the test");
    files[1].lines.insert(files[1].lines.begin() + 2, "");
    std::string path = WriteDescriptor(files, "TARGET,RZT7680\r\n", "d.hex");

    UiDriver d;
    ASSERT_TRUE(Run(path, &d));
    EXPECT_TRUE(d.filesSeen && d.filesAcceptEnabled);
    EXPECT_NE(std::string::npos, d.filesText.find("Proposed Operation")) << d.filesText;
    EXPECT_NE(std::string::npos, d.filesText.find("d.hex")) << d.filesText;
    EXPECT_EQ(std::string::npos, d.filesText.find("\\rtf1")) << "read as rich text: " << d.filesText;
    EXPECT_TRUE(d.buttonsDisabledWhileRunning);
    EXPECT_TRUE(d.survivedPoke) << "Cancel and close must be ignored while the worker runs";
    ASSERT_TRUE(d.finishedSeen);
    EXPECT_EQ("Finished", d.cancelText);
    EXPECT_EQ("Finished", d.status);
    EXPECT_FALSE(d.startVisible);
    EXPECT_EQ(100, d.progress);
    EXPECT_EQ("Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK\r\n", d.log);
    EXPECT_TRUE(d.boxes.empty()) << d.boxes[0];

    std::string expected = INIT + Erase(0) + Erase(2);
    for (const FixtureFile &f : files) expected += Select(f.sector) + RecordsOnWire(f.lines);
    expected += RESTART;
    // After success over LAN the dialog's Finished closes the link and opens it again (DC4).
    if (IsLan()) expected += "\x14";
    std::string boot = BootWire(expected.size());
    EXPECT_EQ(Visible(expected), Visible(boot));
    EXPECT_TRUE(g_connection.isOpen);

    ExpectFlash(0, {"a.hex", "c.hex"});
    ExpectFlash(2, {"b.hex"});
    ExpectFlash(3, {"d.hex"});
}

TEST_P(UpgradeTest, RecordRefusedThreeTimesIsSentAgainUntilAccepted)
{
    std::vector<FixtureFile> files = {{"e.hex", 1, HexLines(0x10000, 32, 5)}};
    std::string path = WriteDescriptor(files);
    SimOk("boot bad-replies 3");

    UiDriver d;
    d.pokeWhileRunning = false;
    ASSERT_TRUE(Run(path, &d));
    EXPECT_EQ("Instrument initialised OK\r\nAll sectors erased OK\r\nFirmware sent OK\r\n", d.log);
    const std::vector<std::string> &l = files[0].lines;
    std::string first = l[0] + "\n\r\n";
    std::string expected = INIT + Erase(1) + Select(1) + first + first + first + RecordsOnWire(l) + RESTART;
    if (IsLan()) expected += "\x14";
    EXPECT_EQ(Visible(expected), Visible(BootWire(expected.size())));
    ExpectFlash(1, {"e.hex"});
}

// Each failure leaves its line in the log and nothing more on the wire; the status says the
// upgrade failed, the log's last line that the boot loader waits, the button reads Close (not
// Finished, as after success), Start is never offered, and a failed run over LAN does not
// reopen the link.
TEST_P(UpgradeTest, EveryFailureIsLoggedAndEndsTheDialogue)
{
    std::vector<FixtureFile> files = {{"a.hex", 0, HexLines(0x0000, 48, 6)}, {"b.hex", 2, HexLines(0x0000, 16, 7)}};
    std::string path = WriteDescriptor(files);
    const std::vector<std::string> &l = files[0].lines;
    const std::string r0 = l[0] + "\n\r\n", r1 = l[1] + "\n\r\n", r2 = l[2] + "\n\r\n";
    const std::string erased = INIT + Erase(0) + Erase(2);
    const struct {
        const char *fault;
        std::string log;
        std::string wire;
    } cases[] = {
        {"boot refuse-init 2", "ERROR: Instrument failed to initialise\r\n", INIT + "C7D2z\n"},
        {"boot refuse-sector 2", "Instrument initialised OK\r\nERROR: Failed to erase sector 2\r\n",
         INIT + Erase(0) + Select(2)},
        {"boot bad-replies 4",
         "Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\n",
         erased + Select(0) + r0 + r0 + r0 + r0},
        {"boot drop-after 2",
         "Instrument initialised OK\r\nAll sectors erased OK\r\nERROR: Failed to send file a.hex\r\n",
         erased + Select(0) + r0 + r1 + r2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        SimOk("reset");
        ConfigureLink(GetParam(), true);
        SimOk("transcript clear");
        SimOk(c.fault);
        UiDriver d;
        d.pokeWhileRunning = false;
        ASSERT_TRUE(Run(path, &d));
        ASSERT_TRUE(d.finishedSeen);
        EXPECT_EQ("Close", d.cancelText);
        EXPECT_EQ("Upgrade failed", d.status);
        EXPECT_FALSE(d.startVisible);
        EXPECT_EQ(c.log + "The instrument waits in its boot loader: run the upgrade again to recover it\r\n", d.log);
        Sleep(300);  // anything sent after the failure would have arrived by now
        EXPECT_EQ(Visible(c.wire), Visible(BootWire(c.wire.size())));
        if (c.log.find("initialise") != std::string::npos && c.log.find("OK") == std::string::npos) {
            EXPECT_EQ(0, d.progress);
        }
    }
}

TEST_P(UpgradeTest, Qvn7ModelsUpgradeOnlyOverASerialLink)
{
    std::vector<FixtureFile> files = {{"q.hex", 0, HexLines(0, 16, 8)}};
    std::string path = WriteDescriptor(files, "TARGET,QVN7300\r\n");
    SimOk("set idn Vendrel,QVN7300,555,2.0");
    UiDriver d;
    d.acceptFiles = false;
    EXPECT_FALSE(Run(path, &d));
    if (IsLan()) {
        ASSERT_EQ(1u, d.boxes.size());
        EXPECT_EQ("Quillon2|QVN7300 and QVNN7386 instruments can only upgrade firmware using a serial connection",
                  d.boxes[0]);
        EXPECT_FALSE(d.filesSeen);
    } else {
        EXPECT_TRUE(d.boxes.empty()) << d.boxes[0];
        EXPECT_TRUE(d.filesSeen);
    }
    EXPECT_EQ(1, g_connection.connected) << "the second identification is stored";
    EXPECT_EQ("", BootPart(SimTranscript(Wire())));
}

INSTANTIATE_TEST_SUITE_P(Transports, UpgradeTest, ::testing::Values((int)IFACE_USB, (int)IFACE_LAN),
                         [](const ::testing::TestParamInfo<int> &p) {
                             return std::string(p.param == IFACE_LAN ? "Lan" : "Com");
                         });

// The checks before anything is sent to the boot loader, over COM: each case ends at a
// message, or reaches the files dialog (which is then cancelled).
class UpgradeChecksTest : public UpgradeTest {};

TEST_P(UpgradeChecksTest, ChecksStopTheCommandWithTheirMessages)
{
    Write("m.hex", JoinLines(HexLines(0, 16, 9)));
    const char *load = "LOAD,1,m.hex\r\n";
    const char *mismatch = "Quillon2|The upgrade file is for a RZT9999. You are connected to a RZT7680\n\n"
                           "Please ensure the firmware file name and target instrument model match before continuing\n";
    const char *unknown = "Quillon2|The upgrade file is for a Unknown Model. You are connected to a RZT7680\n\n"
                          "Please ensure the firmware file name and target instrument model match before continuing\n";
    const char *noLines = "Upgrade Firmware|No valid load lines found in the upgrade descriptor file";
    const struct {
        const char *name;
        std::string descriptor;
        const char *sim;           // control command before the run, or null
        std::vector<int> answers;
        std::vector<std::string> boxes;
        bool files;                // reached dialog 151
    } cases[] = {
        {"match.upg", std::string("TARGET,RZT7680\r\n") + load, nullptr, {}, {}, true},
        {"mismatch.upg", std::string("TARGET,RZT9999\r\n") + load, nullptr, {IDCANCEL}, {mismatch}, false},
        {"mismatch-ok.UPX", std::string("TARGET,RZT9999\r\n") + load, nullptr, {IDOK}, {mismatch}, true},
        {"notarget.upg", load, nullptr, {IDOK}, {unknown}, true},
        {"gteq.upg", std::string("TARGET,RZT7680,1000,gteq\r\n") + load, nullptr, {}, {}, true},
        {"old.upg", std::string("TARGET,RZT7680,1000,gteq\r\n") + load, "set version RZT7680,999", {},
         {"Quillon2|The connected instrument is incompatible with the selected firmware"}, false},
        {"noversion.upg", std::string("TARGET,RZT7680,1000,gteq\r\n") + load, "set version RZT7680", {},
         {"Quillon2|Error communicating with instrument, unable to determine instrument internal version"}, false},
        {"badcmp.upg", std::string("TARGET,RZT7680,1000,gtx\r\n") + load, nullptr, {},
         {"Quillon2|Error reading firmware, unable to determine firmware target"}, false},
        {"warn.upg", std::string("TARGET,RZT7680\r\nWARNING,Keep the power on\r\n") + load, nullptr, {IDCANCEL},
         {"Firmware Warning|Keep the power on"}, false},
        {"warn-ok.upg", std::string("TARGET,RZT7680\r\nWARNING,Keep the power on\r\n") + load, nullptr, {IDOK},
         {"Firmware Warning|Keep the power on"}, true},
        {"empty.upg", "TARGET,RZT7680\r\n; nothing to load\r\n", nullptr, {}, {noLines}, false},
        {"other.txt", std::string("TARGET,RZT7680\r\n") + load, nullptr, {}, {noLines}, false},
        {"x_1.hex", ":00000001FF\r\n", nullptr, {},
         {"Upgrade Firmware|Please choose the main hex file for the Instrument to upgrade"}, false},
        {"silent.upg", std::string("TARGET,RZT7680\r\n") + load, "silence on", {IDNO}, {QUESTION}, false},
        {"silent-yes.upg", std::string("TARGET,RZT7680\r\n") + load, "silence on", {IDYES},
         {QUESTION, "Upgrade Firmware|No instrument was detected"}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SimOk("reset");
        ConfigureLink(GetParam(), true);
        if (c.sim) SimOk(c.sim);
        UiDriver d;
        d.answers = c.answers;
        d.acceptFiles = false;
        EXPECT_FALSE(Run(Write(c.name, c.descriptor), &d));
        EXPECT_EQ(c.files, d.filesSeen);
        ASSERT_EQ(c.boxes.size(), d.boxes.size()) << (d.boxes.empty() ? "" : d.boxes[0]);
        for (size_t i = 0; i < c.boxes.size(); i++) EXPECT_EQ(c.boxes[i], d.boxes[i]);
    }
    EXPECT_EQ("", BootPart(SimTranscript(Wire())));
}

// Without a connection the question comes first, and the second identification decides.
TEST_P(UpgradeChecksTest, NotConnectedAsksFirstAndStoresTheNewIdentification)
{
    std::string path = WriteDescriptor({{"n.hex", 0, HexLines(0, 16, 10)}});
    ConfigureLink(GetParam(), false);
    UiDriver d;
    d.answers = {IDYES, IDCANCEL};  // go on; then the model warning (not detected) is declined
    d.acceptFiles = false;
    EXPECT_FALSE(Run(path, &d));
    ASSERT_EQ(2u, d.boxes.size());
    EXPECT_EQ(QUESTION, d.boxes[0]);
    EXPECT_EQ(0u, d.boxes[1].find("Quillon2|The upgrade file is for a RZT7680.")) << d.boxes[1];
    EXPECT_EQ(1, g_connection.connected);
}

// A missing file blocks the operation: Accept is disabled and its command is refused. Its
// name shows whole, also when it begins with a digit. A device name is no file either: the
// lookup finds "aux.hex" as a device, which the worker would read for ever after erasing.
TEST_P(UpgradeChecksTest, MissingFileDisablesAccept)
{
    for (const char *name : {"2nowhere.hex", "aux.hex", "nul"}) {
        SCOPED_TRACE(name);
        std::string path = Write("missing.upg", std::string("TARGET,RZT7680\r\nLOAD,0,") + name + "\r\n");
        UiDriver d;
        d.acceptFiles = false;
        EXPECT_FALSE(Run(path, &d));
        EXPECT_TRUE(d.filesSeen);
        EXPECT_FALSE(d.filesAcceptEnabled);
        EXPECT_FALSE(d.progressSeen);
        EXPECT_NE(std::string::npos, d.filesText.find(name)) << d.filesText;
    }
}

// A running or stepping script is paused before the command uses the link; pollEnabled comes
// back as it was, also when it was off.
TEST_P(UpgradeChecksTest, ScriptIsPausedAndPollingRestored)
{
    std::string path = WriteDescriptor({{"s.hex", 0, HexLines(0, 16, 11)}});
    for (ScriptState state : {Running, StepRequested, Idle, NoScript}) {
        SCOPED_TRACE(state);
        ConfigureLink(GetParam(), true);
        g_scriptRunner.state = state;
        UiDriver d;
        d.acceptFiles = false;
        Run(path, &d);
        EXPECT_EQ(state == NoScript ? NoScript : Idle, g_scriptRunner.state);
    }
    ConfigureLink(GetParam(), true);
    g_connection.pollEnabled = 0;
    UiDriver d;
    d.acceptFiles = false;
    WithDriver(&d, [&] { RunFirmwareUpgradeFile(owner, path.c_str()); });
    EXPECT_EQ(0, g_connection.pollEnabled);
}

// The whole command from the menu: the open-file dialog cancelled ends it quietly; a typed
// path goes on to the files dialog, also from a folder named beyond ASCII, whose files are found.
TEST_P(UpgradeChecksTest, OpenFileDialogCancelOrChoose)
{
    std::string path = WriteDescriptor({{"o.hex", 0, HexLines(0, 16, 12)}});
    UiDriver cancel;
    WithDriver(&cancel, [&] { RunFirmwareUpgrade(owner); });
    EXPECT_TRUE(cancel.fileDialogSeen);
    EXPECT_FALSE(cancel.filesSeen);
    EXPECT_EQ(1, g_connection.pollEnabled);

    UiDriver choose;
    choose.typePath = path;
    choose.acceptFiles = false;
    WithDriver(&choose, [&] { RunFirmwareUpgrade(owner); });
    EXPECT_TRUE(choose.fileDialogSeen);
    EXPECT_TRUE(choose.filesSeen);
    EXPECT_EQ(1, g_connection.pollEnabled);

    CreateDirectoryW(WideFromUtf8((folder + "测量 Prüfung").c_str()).c_str(), NULL);
    Write("测量 Prüfung\\o.hex", JoinLines(HexLines(0, 16, 12)));
    UiDriver named;
    named.typePath = Write("测量 Prüfung\\o.upg", "TARGET,RZT7680\r\nLOAD,0,o.hex\r\n");
    named.acceptFiles = false;
    WithDriver(&named, [&] { RunFirmwareUpgrade(owner); });
    EXPECT_TRUE(named.filesSeen) << (named.boxes.empty() ? "" : named.boxes[0]);
    EXPECT_TRUE(named.filesAcceptEnabled) << named.filesText;
}

INSTANTIATE_TEST_SUITE_P(Com, UpgradeChecksTest, ::testing::Values((int)IFACE_USB),
                         [](const ::testing::TestParamInfo<int> &) { return std::string("Com"); });

}  // namespace
