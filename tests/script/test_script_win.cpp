// The script runner in the real main window, in this process, against the simulated
// instrument: loading through the "Select Script File" dialog, the script pane's states and
// buttons, commands and queries on the wire, reply waits and "TIMEOUT", directives, pacing
// and send failures. What the runner decides without the window (stop-on-fail pauses, a query
// on the last line, most load rules) is the runner's tests' to check.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <vector>

#include "apphost.h"
#include "app/console.h"
#include "common/fileio_win.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/link.h"
#include "res/resource.h"
#include "script/script.h"
#include "script/script_host.h"
#include "simctl.h"

namespace {

// Timer resolution allowed for when checking line periods: Wine delivers a 1 ms timer about
// every 10 ms, Windows every 10 to 15.6 ms.
const int TIMER_RESOLUTION_MS = 16;

// Paths here are UTF-8, as the program's are.
std::string ReadFileText(const std::string &path)
{
    std::string text;
    if (FILE *f = _wfopen(WideFromUtf8(path.c_str()).c_str(), L"rb")) {
        for (int c; (c = getc(f)) != EOF;) text += (char)c;
        fclose(f);
    }
    return text;
}

std::string TempPath(const char *name)
{
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    return std::string(folder) + name;
}

// Writes bytes exactly as given (the line ends are the caller's) and returns the path.
std::string WriteScript(const char *name, const std::string &bytes)
{
    std::string path = TempPath(name);
    if (FILE *f = _wfopen(WideFromUtf8(path.c_str()).c_str(), L"wb")) {
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

// The committed script files next to this source, as a Windows path.
std::string DataPath(const char *name)
{
    std::string source = __FILE__;
    if (const char *root = getenv("QUILLON_SOURCE")) source = std::string(root) + "/tests/script/x";
    std::string folder = source.substr(0, source.find_last_of("/\\") + 1) + "data/" + name;
    if (folder[0] == '/') folder = "Z:" + folder;
    for (char &c : folder)
        if (c == '/') c = '\\';
    return folder;
}

HWND Child(int id) { return AppChild(id); }

// The program's own message boxes seen since SetUp (the test host also records the open
// dialog, whose longest static text makes it look like a box).
std::vector<SeenBox> ProgramBoxes()
{
    std::vector<SeenBox> boxes;
    for (const SeenBox &box : g_seenBoxes)
        if (box.caption != "Select Script File") boxes.push_back(box);
    return boxes;
}

std::string SeenBoxes()
{
    std::string out;
    for (const SeenBox &box : ProgramBoxes()) out += "[" + box.caption + ": " + box.text + "] ";
    return out;
}

void Command(int id) { SendMessageA(AppWindow(), WM_COMMAND, id, 0); }

int Selection() { return (int)SendMessageA(Child(IDC_SCRIPT_LIST), LB_GETCURSEL, 0, 0); }

// The list's lines, read as the runner reads them.
std::vector<std::string> ListLines()
{
    std::vector<std::string> lines;
    std::vector<char> text(SCRIPT_LINE_SIZE * 2);
    for (int i = 0; i < ScriptHostListCount(); i++) {
        size_t len = ScriptHostListText(i, text.data(), text.size());
        lines.push_back(std::string(text.data(), len));
    }
    return lines;
}

bool ConvertBinaryChecked()
{
    return (GetMenuState(GetMenu(AppWindow()), IDM_CONVERT_BINARY, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

// Counts the dialogs (class #32770) this thread creates while it lives.
class DialogCounter {
public:
    DialogCounter() { hook_ = SetWindowsHookExA(WH_CBT, Hook, NULL, GetCurrentThreadId()); count_ = 0; }
    ~DialogCounter() { UnhookWindowsHookEx(hook_); }
    int count() const { return count_; }

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_CREATEWND) {
            char cls[32] = "";
            GetClassNameA((HWND)wParam, cls, sizeof cls);
            if (strcmp(cls, "#32770") == 0) count_++;
        }
        return CallNextHookEx(NULL, code, wParam, lParam);
    }
    HHOOK hook_;
    static int count_;
};
int DialogCounter::count_;

// Which script controls are visible, as text ("list run step close | line send").
std::string PaneVisibility()
{
    std::string out;
    static const struct { int id; const char *name; } controls[] = {
        {IDC_SCRIPT_LIST, "list"}, {IDC_SCRIPT_RUN, "run"},        {IDC_SCRIPT_STEP, "step"},
        {IDC_SCRIPT_CLOSE, "close"}, {IDC_COMMAND_LINE, "line"}, {IDC_SEND, "send"},
    };
    for (const auto &c : controls) {
        if (IsWindowVisible(Child(c.id))) out += std::string(out.empty() ? "" : " ") + c.name;
    }
    return out;
}

// The main window started once for the whole suite and connected over USB; every test starts
// from the console layout with an empty results window.
class ScriptWin : public ::testing::Test {
protected:
    static void TearDownTestSuite() { AppClose(); }

    void SetUp() override
    {
        SimOk("reset");
        if (!AppWindow()) {
            AppSeedSettings(IFACE_USB, SimComPort(), 19200, SimLanAddress());
            AppStart();
        }
        if (!g_connection.connected) {
            ASSERT_TRUE(AppConnectWithDialog(0, SimComPort()));
        }
        if (g_scriptRunner.state == Running) Command(IDC_SCRIPT_RUN);
        if (g_scriptRunner.state != NoScript) Command(IDC_SCRIPT_CLOSE);
        if (!ConvertBinary) Command(IDM_CONVERT_BINARY);
        AppPumpFor(30);
        g_scriptRunner.awaitingReply = false;
        ReceivedCharCount = 0;
        SetWindowTextA(Child(IDC_RESULTS), "");
        g_seenBoxes.clear();
        SimOk("transcript clear");
    }

    // Loads a script the way the menu command does once a file has passed the test.
    void Load(const std::string &path)
    {
        g_scriptRunner.state = Idle;
        ScriptHostSwitchLayout(Idle);
        TextCopy(g_scriptRunner.scriptPath, sizeof g_scriptRunner.scriptPath, path.c_str());
        ASSERT_TRUE(LoadScriptList(g_scriptRunner.scriptPath, true)) << path;
    }
    void LoadText(const char *name, const std::string &bytes) { Load(WriteScript(name, bytes)); }

    // "&Script" with the open dialog answered by typing path and pressing OK.
    void ChooseInDialog(const std::string &path)
    {
        AppExpect("Select Script File", [path](HWND dlg) { TypeFileName(dlg, path); });
        Command(IDM_SCRIPT);
        AppPumpFor(30);
    }
    // The file name box of an open or save dialog given path, typed as the user would, and OK.
    static void TypeFileName(HWND dlg, const std::string &path)
    {
        std::wstring wide = WideFromUtf8(path.c_str());
        SetDlgItemTextW(dlg, 0x47c /* file name combo */, wide.c_str());
        SetDlgItemTextW(dlg, 0x480 /* file name edit */, wide.c_str());
        AppPress(dlg, IDOK);
    }

    // Run, and wait until the run has stopped (at the end, a pause or a send failure).
    bool RunUntilStopped(int timeoutMs = 10000)
    {
        Command(IDC_SCRIPT_RUN);
        bool stopped = AppPumpUntil([] { return g_scriptRunner.state != Running; }, timeoutMs);
        AppPumpFor(30);  // replies still on their way, posted clear/bincon
        return stopped;
    }
    void Step()
    {
        Command(IDC_SCRIPT_STEP);
        ASSERT_TRUE(AppPumpUntil([] { return g_scriptRunner.state != StepRequested; }, 2000));
        AppPumpFor(30);
    }
    // Runs and returns the tick count at which each line executed (the selection moves on
    // within the timer message that ran the line).
    std::vector<DWORD> RunAndTimeLines(int timeoutMs)
    {
        std::vector<DWORD> times;
        int last = Selection();
        Command(IDC_SCRIPT_RUN);
        DWORD start = GetTickCount();
        MSG msg;
        while (g_scriptRunner.state == Running && GetTickCount() - start < (DWORD)timeoutMs) {
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&msg);
                int now = Selection();
                if (now != last) times.push_back(GetTickCount());
                last = now;
            }
            MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
        }
        return times;
    }
    bool ResultsContain(const std::string &text, int timeoutMs = 3000)
    {
        return AppPumpUntil([&] { return AppText(IDC_RESULTS).find(text) != std::string::npos; }, timeoutMs);
    }
};

TEST_F(ScriptWin, DialogLoadsTheListingAndSwitchesTheLayout)
{
    ASSERT_EQ("line send", PaneVisibility());
    // The dialog itself: one filter, no read-only check box.
    std::string filter = "?";
    bool readOnlyShown = true;
    AppExpect("Select Script File", [&](HWND dlg) {
        char text[128] = "";
        HWND types = GetDlgItem(dlg, 0x470 /* file type combo */);
        SendMessageA(types, CB_GETLBTEXT, 0, (LPARAM)text);
        filter = text + std::string(SendMessageA(types, CB_GETCOUNT, 0, 0) == 1 ? "" : " and more");
        readOnlyShown = IsWindowVisible(GetDlgItem(dlg, 0x410 /* read-only check box */)) != FALSE;
        AppPress(dlg, IDCANCEL);
    });
    Command(IDM_SCRIPT);
    EXPECT_EQ("Script Files", filter);
    EXPECT_FALSE(readOnlyShown);

    ChooseInDialog(DataPath("listing.txt"));
    ASSERT_EQ(Idle, g_scriptRunner.state) << DataPath("listing.txt");
    EXPECT_TRUE(ProgramBoxes().empty()) << SeenBoxes();
    EXPECT_EQ(DataPath("listing.txt"), g_scriptRunner.scriptPath);
    std::vector<std::string> expected = {
        "; listing rules: CR LF line ends, empty and Ctrl-Z lines left out", "\"*IDN?", "#echo,kept", "=1",
        "trailing line without a line end"};
    EXPECT_EQ(expected, ListLines());
    EXPECT_EQ(-1, Selection());
    EXPECT_EQ("list run step close", PaneVisibility());
    EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
    EXPECT_EQ("Step", AppText(IDC_SCRIPT_STEP));
    EXPECT_EQ("Close", AppText(IDC_SCRIPT_CLOSE));

    // Cancelled while loaded: list and state unchanged.
    AppExpect("Select Script File", AppAnswer(IDCANCEL));
    Command(IDM_SCRIPT);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(expected, ListLines());
    EXPECT_EQ("list run step close", PaneVisibility());

    // Close: console layout, focus to the entry line.
    SetFocus(Child(IDC_RESULTS));
    Command(IDC_SCRIPT_CLOSE);
    AppPumpFor(50);
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ("line send", PaneVisibility());
    EXPECT_EQ(Child(IDC_COMMAND_LINE), GetFocus());

    // Cancelled with no script: still the console.
    SetFocus(Child(IDC_RESULTS));
    AppExpect("Select Script File", AppAnswer(IDCANCEL));
    Command(IDM_SCRIPT);
    AppPumpFor(50);
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ("line send", PaneVisibility());
    EXPECT_EQ(Child(IDC_COMMAND_LINE), GetFocus());
}

TEST_F(ScriptWin, DialogRejectsNonScriptsAndUnreadableFiles)
{
    std::string other = DataPath("not_a_script.txt");
    ChooseInDialog(other);
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    EXPECT_EQ("line send", PaneVisibility());
    ASSERT_EQ(1u, ProgramBoxes().size()) << SeenBoxes();
    EXPECT_EQ("Quillon2", ProgramBoxes()[0].caption);
    EXPECT_EQ(other + " does not appear to be a script file", ProgramBoxes()[0].text);

    // A file another process holds without sharing cannot be read.
    std::string locked = WriteScript("quillon_locked.txt", "\"*IDN?\r\n");
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    g_seenBoxes.clear();
    ChooseInDialog(locked);
    CloseHandle(hold);
    EXPECT_EQ(NoScript, g_scriptRunner.state);
    ASSERT_EQ(1u, ProgramBoxes().size()) << SeenBoxes();
    EXPECT_EQ("Unable to read file " + locked, ProgramBoxes()[0].text);
}

// While a script is loaded, a rejected choice still reloads the list from the chosen file:
// the test's message, then the load's message, and the state stays Idle.
TEST_F(ScriptWin, RejectedChoiceWhileLoadedReloadsTheList)
{
    ChooseInDialog(DataPath("listing.txt"));
    ASSERT_EQ(Idle, g_scriptRunner.state);
    std::string other = DataPath("not_a_script.txt");
    ChooseInDialog(other);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    std::vector<std::string> reloaded = {"=1", "; remark", " \"indented quote", "\t#indented directive"};
    EXPECT_EQ(reloaded, ListLines());
    std::string message = other + " does not appear to be a script file";
    ASSERT_EQ(2u, ProgramBoxes().size()) << SeenBoxes();
    EXPECT_EQ(message, ProgramBoxes()[0].text);
    EXPECT_EQ(message, ProgramBoxes()[1].text);

    std::string locked = WriteScript("quillon_locked.txt", "\"*IDN?\r\n");
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    g_seenBoxes.clear();
    ChooseInDialog(locked);
    CloseHandle(hold);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_TRUE(ListLines().empty());
    ASSERT_EQ(2u, ProgramBoxes().size()) << SeenBoxes();
    EXPECT_EQ("Unable to read file " + locked, ProgramBoxes()[1].text);
}

// The list box holds a line of the longest length whole, and such a line runs whole. (The
// other load rules are the portable reader's, checked in the runner's tests.)
TEST_F(ScriptWin, LongestLineIsListedAndRunsWhole)
{
    const std::string q2047 = "\"" + std::string(2046, 'a');
    LoadText("quillon_rules.txt", q2047 + "\n#end\n");
    EXPECT_EQ((std::vector<std::string>{q2047, "#end"}), ListLines());
    EXPECT_EQ(-1, Selection());
    EXPECT_TRUE(g_seenBoxes.empty()) << SeenBoxes();

    LoadText("quillon_rules.txt", "#echo," + std::string(2041, 'e') + "\n");
    ASSERT_TRUE(RunUntilStopped(2000));
    EXPECT_EQ(std::string(2041, 'e') + "\r\n", AppText(IDC_RESULTS));
    SetWindowTextA(Child(IDC_RESULTS), "");
}

TEST_F(ScriptWin, CommandsAndQueriesOnTheWire)
{
    LoadText("quillon_cmds.txt",
             "#fast\r\n"
             "\"*IDN?\r\n"          // query: default reply wait, answered
             "\"meas:volt?\r\n"     // query paired with the "#reply" line after it
             "#reply,1\r\n"
             "\"meas:curr?\r\n"     // a remark between: no pairing
             "; remark\r\n"
             "#reply,1\r\n"         // runs on its own and times out
             "\"silent?\r\n"        // unanswered, with its own reply time
             "#REPLY,1\r\n"
             "\"*OPC?x\r\n"         // text after the question mark: no reply wait
             "\"\r\n");             // a bare line feed
    DWORD start = GetTickCount();
    ASSERT_TRUE(RunUntilStopped(12000));
    DWORD took = GetTickCount() - start;
    EXPECT_EQ("> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n"
              "> meas:volt?\r\n1.23456\r\n"
              "> meas:curr?\r\n0.012345\r\n"
              "TIMEOUT\r\n"
              "> silent?\r\n"
              "TIMEOUT\r\n"
              "> *OPC?x\r\n"
              "> \r\n",
              AppText(IDC_RESULTS));
    EXPECT_EQ("*IDN?\nmeas:volt?\nmeas:curr?\nsilent?\n*OPC?x\n\n", SimTranscript("serial"));
    EXPECT_EQ(-1, Selection());
    EXPECT_EQ(Idle, g_scriptRunner.state);
    // Three answered queries end 250 ms after their replies, two 1 s reply waits time out:
    // well under the 5 s a missed pairing would cost.
    EXPECT_GT(took, 2700u);
    EXPECT_LT(took, 4500u);
}

TEST_F(ScriptWin, SteppingQueriesWaitAndFreshRun)
{
    LoadText("quillon_step.txt",
             "\"silent?\n#reply,1\n\"*IDN?\n#wait\n=7\n#echo,last\n");
    struct StepCase {
        int selectionAfter;
        const char *resultsAfter;
    };
    static const StepCase steps[] = {
        {2, "> silent?\r\n"},  // the "#reply" line is consumed
        {3, "> silent?\r\nTIMEOUT\r\n> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n"},
        {4, "> silent?\r\nTIMEOUT\r\n> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n"
            "! Press Close to abort script or Press Run to continue\r\n"},
        {5, nullptr},
        {-1, nullptr},
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        SCOPED_TRACE(i);
        Step();
        if (i == 1) {
            ASSERT_TRUE(ResultsContain("Vendrel"));
        }
        EXPECT_EQ(Idle, g_scriptRunner.state);
        EXPECT_EQ(steps[i].selectionAfter, Selection());
        if (steps[i].resultsAfter) {
            EXPECT_EQ(steps[i].resultsAfter, AppText(IDC_RESULTS));
        }
        EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
        EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_STEP)));
    }
    EXPECT_EQ(7.0, g_scriptRunner.stackX);
    EXPECT_TRUE(AppText(IDC_RESULTS).size() > 6 && AppText(IDC_RESULTS).substr(AppText(IDC_RESULTS).size() - 6) == "last\r\n");
    EXPECT_EQ("silent?\n*IDN?\n", SimTranscript("serial"));

    // Past the end: the next Step starts again at line 0 with the calculator reset.
    g_scriptRunner.stackY = 3;
    g_scriptRunner.failCount = 2;
    g_scriptRunner.stopOnFail = true;
    Step();
    EXPECT_EQ(2, Selection());
    EXPECT_EQ(0.0, g_scriptRunner.stackX);
    EXPECT_EQ(0.0, g_scriptRunner.stackY);
    EXPECT_EQ(0, g_scriptRunner.failCount);
    EXPECT_FALSE(g_scriptRunner.stopOnFail);
    EXPECT_EQ("silent?\n*IDN?\nsilent?\n", SimTranscript("serial"));
}

TEST_F(ScriptWin, EchoWaitClearAndTimeInARun)
{
    LoadText("quillon_echo.txt",
             "#fast\n#echo,old\n#clear\n#echo,hello, world\n#echo\n#wait,check the probe\n"
             "#echo,after\n#TIME\n#timer\n#wait\n");
    ASSERT_TRUE(RunUntilStopped(3000));
    // Paused by the wait: Idle, the next line selected, Run shown.
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(6, Selection());
    EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
    EXPECT_EQ("hello, world\r\n\r\ncheck the probe\r\n", AppText(IDC_RESULTS));

    SYSTEMTIME before;
    GetLocalTime(&before);
    ASSERT_TRUE(RunUntilStopped(3000));
    // A pausing last line stops once: the run does not start again.
    AppPumpFor(200);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(-1, Selection());
    std::string text = AppText(IDC_RESULTS);
    std::smatch m;
    std::regex shape("check the probe\r\nafter\r\n"
                     "time: (\\d\\d):(\\d\\d):(\\d\\d):(\\d\\d\\d)\r\n"
                     "time: \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d\r\n"
                     "! Press Close to abort script or Press Run to continue\r\n$");
    ASSERT_TRUE(std::regex_search(text, m, shape)) << Visible(text);
    int shown = std::stoi(m[1]) * 3600 + std::stoi(m[2]) * 60 + std::stoi(m[3]);
    int local = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    EXPECT_LE(abs(shown - local), 2) << m[0];
}

TEST_F(ScriptWin, BinconSetsTheFlagAndTheCheckMark)
{
    static const struct {
        const char *line;
        bool after;
    } cases[] = {
        {"#bincon", false},      // toggles
        {"#bincon", true},       // toggles back
        {"#BINCON,ON", true},    // already on: stays on
        {"#bincon,off", false},
        {"#bincon,", false},     // comma and nothing: unchanged
        {"#bincon,On", true},    // (every other argument: the runner's tests)
    };
    std::string script;
    for (const auto &c : cases) script += std::string(c.line) + "\r\n";
    LoadText("quillon_bincon.txt", script + "\"packed?\r\n#bincon,off\r\n\"packed?\r\n");
    ASSERT_TRUE(ConvertBinary);
    for (const auto &c : cases) {
        bool before = ConvertBinary;
        Step();
        EXPECT_EQ(c.after, ConvertBinary) << c.line << " from " << before;
        EXPECT_EQ(c.after, ConvertBinaryChecked()) << c.line << " from " << before;
    }
    Step();
    ASSERT_TRUE(ResultsContain("1.50000E2\r\n"));
    Step();
    Step();
    ASSERT_TRUE(ResultsContain(std::string("\x88\x25\x40\r\n")));
    EXPECT_EQ("> packed?\r\n1.50000E2\r\n> packed?\r\n\x88\x25\x40\r\n", AppText(IDC_RESULTS));
}

TEST_F(ScriptWin, PrintWritesTheResultsOrReportsAnInvalidLocation)
{
    std::string good = TempPath("quillon_print.txt");
    std::string relative = " quillon print relative.txt";  // blanks kept, resolved against the current folder
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    SetCurrentDirectoryA(folder);
    std::ofstream(good, std::ios::binary) << std::string(500, 'o');  // truncated by the print
    DeleteFileA((std::string(folder) + relative).c_str());
    LoadText("quillon_printer.txt",
             "#fast\n#echo,line one\n#echo,line two\n#print," + good + "\n#print\n#print,\n"
             "#print," + TempPath("quillon_no_such_folder\\out.txt") + "\n#print," + relative + "\n#echo,end\n");
    ASSERT_TRUE(RunUntilStopped(3000));
    EXPECT_EQ("line one\r\nline two\r\n", ReadFileText(good));
    // Each print says where the results went, or could not go, in full.
    const std::string bad = "!!Invalid file location in script!!\r\n";
    const std::string before = "line one\r\nline two\r\nResults written to " + good + "\r\n" + bad + bad + bad.substr(0, bad.size() - 2) +
                               " Results not written to " + TempPath("quillon_no_such_folder\\out.txt") + "\r\n";
    EXPECT_EQ(before + "Results written to " + folder + relative + "\r\nend\r\n", AppText(IDC_RESULTS));
    EXPECT_EQ(before, ReadFileText(std::string(folder) + relative));
    DeleteFileA((std::string(folder) + relative).c_str());

    // An empty results window gives an empty file.
    LoadText("quillon_printer.txt", "#clear\n#print," + good + "\n");
    ASSERT_TRUE(RunUntilStopped(3000));
    EXPECT_EQ("", ReadFileText(good));
}

// An engineer's folders are named in any script: a script chosen there in the dialog, the
// results its "#print" and Save to File write there.
TEST_F(ScriptWin, FoldersNamedBeyondAscii)
{
    std::string folder = TempPath("quillon 测量 Prüfung");
    CreateDirectoryW(WideFromUtf8(folder.c_str()).c_str(), NULL);
    std::string printed = folder + "\\打印.txt", saved = folder + "\\gespeichert.txt";
    // A command line in the system's code page (1252 here: an older editor's) goes out byte for
    // byte, beside a #print name in UTF-8.
    std::string script = WriteScript("quillon 测量 Prüfung\\c.txt",
                                     "#echo,Messung 1\r\n\"unit 25\xB0" "C\r\n#print," + printed + "\r\n");
    ChooseInDialog(script);
    ASSERT_EQ(Idle, g_scriptRunner.state) << SeenBoxes();
    EXPECT_EQ(script, g_scriptRunner.scriptPath);
    ASSERT_TRUE(RunUntilStopped());
    EXPECT_EQ("unit 25\xB0" "C\n", SimTranscript("serial"));
    const std::string results = "Messung 1\r\n> unit 25\xB0" "C\r\n";
    EXPECT_EQ(results, ReadFileText(printed)) << AppText(IDC_RESULTS);
    // The full path shows as it is; Save writes it in the system's code page (1252 here).
    std::wstring shown(32768, L'\0');
    shown.resize(GetWindowTextW(AppChild(IDC_RESULTS), &shown[0], (int)shown.size()));
    EXPECT_NE(std::wstring::npos, shown.find(L"Results written to " + WideFromUtf8(printed.c_str())))
        << Utf8FromWide(shown.c_str());

    DeleteFileW(WideFromUtf8(saved.c_str()).c_str());  // left by an earlier run: no question
    AppExpect("Save As", [saved](HWND dlg) { TypeFileName(dlg, saved); });
    Command(IDM_SAVE_TO_FILE);
    std::string saveBytes = TempPath("quillon ?? Pr\xFC" "fung") + "\\??.txt";
    EXPECT_EQ(results + "Results written to " + saveBytes + "\r\n", ReadFileText(saved)) << SeenBoxes();
}

TEST_F(ScriptWin, FastNormalAndSlowPaceTheLines)
{
    // The delay in force after each line, and so the period until the next one.
    static const struct {
        const char *line;
        int periodMs;
    } lines[] = {
        {"#fast", 50},  {"; a", 50},  {"; b", 50},   {"; c", 50},   {"#NORMAL", 250}, {"; d", 250},
        {"; e", 250},   {"#slowly", 500}, {"; f", 500}, {"=1", 500}, {"#fast", 50},     {"#PAUSE, 1x", 1050},
        {"; g", 50},
        {"; end", 0},
    };
    std::string script;
    for (const auto &l : lines) script += std::string(l.line) + "\n";
    LoadText("quillon_pace.txt", script);
    std::vector<DWORD> times = RunAndTimeLines(8000);
    const size_t n = sizeof lines / sizeof lines[0];
    ASSERT_EQ(n, times.size());
    for (size_t i = 0; i + 1 < n; i++) {
        int period = (int)(times[i + 1] - times[i]);
        SCOPED_TRACE(std::string("after ") + lines[i].line + ": " + std::to_string(period) + " ms");
        EXPECT_GE(period, lines[i].periodMs - TIMER_RESOLUTION_MS);
        EXPECT_LE(period, lines[i].periodMs + 3 * TIMER_RESOLUTION_MS);
    }
    EXPECT_EQ(50, g_scriptRunner.lineDelayMs);
}

TEST_F(ScriptWin, StateTableWhileRunning)
{
    LoadText("quillon_states.txt", "#normal\n#echo,a\n#echo,b\n#echo,c\n#echo,d\n#echo,e\n");
    EXPECT_EQ("list run step close", PaneVisibility());
    Command(IDC_SCRIPT_RUN);
    EXPECT_EQ(Running, g_scriptRunner.state);
    EXPECT_EQ("Stop", AppText(IDC_SCRIPT_RUN));
    EXPECT_FALSE(IsWindowEnabled(Child(IDC_SCRIPT_STEP)));
    EXPECT_FALSE(IsWindowEnabled(Child(IDC_SCRIPT_CLOSE)));
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_RUN)));

    // "&Script" while running opens no dialog; Step does nothing.
    {
        DialogCounter dialogs;
        Command(IDM_SCRIPT);
        Command(IDC_SCRIPT_STEP);
        EXPECT_EQ(0, dialogs.count());
        EXPECT_EQ(Running, g_scriptRunner.state);
    }
    // Clicking another line makes it the next one.
    ASSERT_TRUE(ResultsContain("a\r\n"));
    SendMessageA(Child(IDC_SCRIPT_LIST), LB_SETCURSEL, 4, 0);
    ASSERT_TRUE(AppPumpUntil([] { return g_scriptRunner.state != Running; }, 3000));
    AppPumpFor(30);
    EXPECT_EQ("a\r\nd\r\ne\r\n", AppText(IDC_RESULTS));
    // Ended normally: pane open, Idle, Run, Step and Close enabled.
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ("list run step close", PaneVisibility());
    EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_STEP)));
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_CLOSE)));

    // Stop clicked mid-run: Idle on the next line; Run continues from there without a reset.
    Command(IDC_SCRIPT_RUN);
    ASSERT_TRUE(ResultsContain("b\r\n"));
    Command(IDC_SCRIPT_RUN);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
    int next = Selection();
    EXPECT_EQ(3, next);
    AppPumpFor(400);
    EXPECT_EQ(next, Selection());
    ASSERT_TRUE(RunUntilStopped(3000));
    EXPECT_EQ("a\r\nd\r\ne\r\na\r\nb\r\nc\r\nd\r\ne\r\n", AppText(IDC_RESULTS));

    // "&Script" in step mode or while disconnected opens no dialog.
    DialogCounter dialogs;
    g_scriptRunner.state = StepRequested;
    Command(IDM_SCRIPT);
    g_scriptRunner.state = Idle;
    Command(IDM_DISCONNECT);
    Command(IDM_SCRIPT);
    Command(IDC_SCRIPT_CLOSE);
    Command(IDM_SCRIPT);
    AppPumpFor(100);
    EXPECT_EQ(0, dialogs.count());
    EXPECT_EQ(NoScript, g_scriptRunner.state);
}

// The script pane hides the command line, which keeps its last command: whatever used to
// give the line the keyboard must give it to the script list, and the hidden line sends nothing.
TEST_F(ScriptWin, HiddenCommandLineNeverTakesTheKeyboard)
{
    AppTypeAndSend("meas:volt?");
    ASSERT_TRUE(ResultsContain("1.23456\r\n"));
    SimOk("transcript clear");
    HWND list = Child(IDC_SCRIPT_LIST), results = Child(IDC_RESULTS);
    SetFocus(Child(IDC_COMMAND_LINE));
    ChooseInDialog(DataPath("listing.txt"));
    ASSERT_EQ(Idle, g_scriptRunner.state);
    AppPumpFor(30);
    EXPECT_EQ(list, GetFocus()) << "load";
    static const struct { const char *name; std::function<void()> action; } actions[] = {
        {"recall", [] {
             HWND r = Child(IDC_RESULTS);
             SendMessageA(r, EM_SETSEL, 3, 3);  // on the echo line of "meas:volt?"
             SendMessageA(r, WM_LBUTTONUP, 0, 0);
         }},
        {"script dialog cancelled", [] {
             AppExpect("Select Script File", AppAnswer(IDCANCEL));
             Command(IDM_SCRIPT);
         }},
        {"Clear Results Window", [] { Command(IDM_CLEAR_RESULTS); }},
        {"step over #clear", [] {
             ScriptHostListClear();
             ScriptHostListAdd("#clear");
             ScriptHostListSelect(0);
             Command(IDC_SCRIPT_STEP);
         }},
        {"reconnect", [] {
             PostMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 1);
             AppPumpUntil([] { return SimTranscript("serial").find("version?") != std::string::npos; }, 5000);
         }},
    };
    for (const auto &a : actions) {
        SetFocus(results);
        a.action();
        AppPumpFor(100);
        EXPECT_EQ(list, GetFocus()) << a.name;
        // A real Enter goes to the focused control; one sent to the hidden line as well.
        SendMessageA(GetFocus(), WM_CHAR, '\r', 0);
        SendMessageA(Child(IDC_COMMAND_LINE), WM_CHAR, '\r', 0);
        AppPumpFor(100);
        EXPECT_EQ(std::string::npos, SimTranscript("serial").find("meas:volt?")) << a.name;
    }
    EXPECT_EQ("meas:volt?", AppText(IDC_COMMAND_LINE));
}

// Step, Close and the Run/Stop caption follow the runner, whatever enabled the children last.
TEST_F(ScriptWin, ButtonsAgreeWithTheStateAfterReconnectCloseAndLoad)
{
    LoadText("quillon_buttons.txt", "#pause,5\n#echo,done\n");
    Command(IDC_SCRIPT_RUN);
    ASSERT_EQ(Running, g_scriptRunner.state);
    // Yes to the reconnect question while running: every child is enabled again.
    PostMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 1);
    ASSERT_TRUE(AppPumpUntil([] { return SimTranscript("serial").find("version?") != std::string::npos; }, 5000));
    AppPumpFor(100);
    EXPECT_EQ(Running, g_scriptRunner.state);
    EXPECT_EQ("Stop", AppText(IDC_SCRIPT_RUN));
    EXPECT_FALSE(IsWindowEnabled(Child(IDC_SCRIPT_STEP)));
    EXPECT_FALSE(IsWindowEnabled(Child(IDC_SCRIPT_CLOSE)));

    // Closed while running, then another script loaded: Idle reads "Run", and Run runs.
    Command(IDC_SCRIPT_CLOSE);
    ChooseInDialog(DataPath("listing.txt"));
    ASSERT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ("Run", AppText(IDC_SCRIPT_RUN));
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_STEP)));
    EXPECT_TRUE(IsWindowEnabled(Child(IDC_SCRIPT_CLOSE)));
    Command(IDC_SCRIPT_RUN);
    EXPECT_EQ(Running, g_scriptRunner.state);
    EXPECT_EQ("Stop", AppText(IDC_SCRIPT_RUN));
}

// A dropped LAN link: the script's send fails, the failure is shown on the echo line and the
// run stops on the line after the failed one; the script shows no message box of its own.
TEST_F(ScriptWin, FailedSendStopsTheRun)
{
    Command(IDM_DISCONNECT);
    ASSERT_TRUE(AppConnectWithDialog(1, SimLanAddress()));
    SimOk("transcript clear");
    LoadText("quillon_fail.txt", "#fast\n\"a\n\"b\n\"c\n\"d\n\"e\n\"f\n#echo,not reached\n");
    SimOk("drop lan");
    AppPumpFor(100);
    ASSERT_TRUE(RunUntilStopped(5000));
    std::string text = AppText(IDC_RESULTS);
    size_t failed = text.find("ERROR SENDING THIS COMMAND\r\n");
    ASSERT_NE(std::string::npos, failed) << Visible(text);
    // The failure text stands right after the command on its echo line, and nothing follows.
    size_t lineStart = text.rfind("> ", failed);
    ASSERT_NE(std::string::npos, lineStart);
    EXPECT_EQ(3u, failed - lineStart) << Visible(text);
    char command = text[lineStart + 2];
    EXPECT_EQ(text.size(), failed + strlen("ERROR SENDING THIS COMMAND\r\n")) << Visible(text);
    EXPECT_EQ(Idle, g_scriptRunner.state);
    EXPECT_EQ(command - 'a' + 2, Selection()) << Visible(text);
    for (const SeenBox &box : g_seenBoxes) EXPECT_NE(AppTextTable[49], box.text);

    // A single step after it fails the same way and simply moves on.
    if (g_connection.connected && command < 'f') {
        Step();
        EXPECT_EQ(command - 'a' + 3, Selection());
        EXPECT_EQ(std::string("> ") + char(command + 1) + "ERROR SENDING THIS COMMAND\r\n",
                  AppText(IDC_RESULTS).substr(text.size()));
    }
    Command(IDM_DISCONNECT);  // the next test connects over USB again
}

}  // namespace
