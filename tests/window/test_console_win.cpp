// The main window and its command console, in this process, against the simulated
// instrument: children and layout, typing and sending, replies, history, link failures,
// the settings file, the title and the information panel.
#include <windows.h>
#include <commdlg.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "apphost.h"
#include "app/console.h"
#include "common/texttab.h"
#include "link/link.h"
#include "res/resource.h"
#include "simctl.h"
#include "upgrade/recovery.h"
#include "window/main_window_win.h"

namespace {

std::string ReadFileText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

RECT ChildRect(int id)
{
    RECT r;
    GetWindowRect(AppChild(id), &r);
    MapWindowPoints(NULL, AppWindow(), (POINT *)&r, 2);
    return r;
}

class Console : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimOk("reset");
        AppSeedSettings(IFACE_USB, SimComPort(), 19200, SimLanAddress());
    }
    void TearDown() override { AppClose(); }

    void StartConnected(int interfaceIndex)
    {
        AppStart();
        ASSERT_TRUE(AppConnectWithDialog(interfaceIndex, interfaceIndex == 1 ? SimLanAddress() : SimComPort()));
        SimOk("transcript clear");
    }
    bool ResultsContain(const std::string &text)
    {
        return AppPumpUntil([&] { return AppText(IDC_RESULTS).find(text) != std::string::npos; }, 5000);
    }
};

TEST_F(Console, ChildrenStartDisabledAndFollowTheLayout)
{
    AppStart();
    static const int shown[] = {IDC_RESULTS, IDC_INFO_PANEL, IDC_COMMAND_LINE, IDC_SEND};
    static const int hidden[] = {IDC_SCRIPT_LIST, IDC_SCRIPT_RUN, IDC_SCRIPT_STEP, IDC_SCRIPT_CLOSE};
    for (int id : shown) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(AppChild(id));
        EXPECT_TRUE(IsWindowVisible(AppChild(id)));
        EXPECT_FALSE(IsWindowEnabled(AppChild(id)));
    }
    for (int id : hidden) EXPECT_FALSE(IsWindowVisible(AppChild(id))) << id;
    EXPECT_EQ(nullptr, AppChild(18004));
    EXPECT_EQ("Send", AppText(IDC_SEND));

    char cls[32];
    GetClassNameA(AppChild(IDC_INFO_PANEL), cls, sizeof cls);
    EXPECT_STREQ("RichEdit20W", cls);  // wide: Wine hands another process nothing of a narrow one holding "…"
    EXPECT_EQ("No connection", AppText(IDC_INFO_PANEL));

    for (int grow : {0, 150}) {
        SCOPED_TRACE(grow);
        RECT outer;
        GetWindowRect(AppWindow(), &outer);
        MoveWindow(AppWindow(), outer.left, outer.top, outer.right - outer.left + grow, outer.bottom - outer.top + grow, TRUE);
        AppPumpFor(50);
        RECT client, results = ChildRect(IDC_RESULTS), panel = ChildRect(IDC_INFO_PANEL);
        RECT line = ChildRect(IDC_COMMAND_LINE), send = ChildRect(IDC_SEND);
        GetClientRect(AppWindow(), &client);
        EXPECT_EQ(6, results.left);
        EXPECT_EQ(6, results.top);
        EXPECT_EQ(client.right - 6, panel.right);
        EXPECT_EQ(results.right + 2, panel.left);
        EXPECT_EQ(client.bottom - 6, line.bottom);
        EXPECT_EQ(client.right - 6, send.right);
        EXPECT_EQ(client.bottom - 6, send.bottom);
        EXPECT_EQ(75, send.right - send.left);
    }
}

// A WM_DPICHANGED (the window went to a monitor of twice the scale): the window takes the
// suggested rectangle and the children their design sizes and fonts at the new DPI; back at
// the first DPI, the first picture returns to the pixel; the size is saved at 96 dpi.
TEST_F(Console, DpiChangeScalesTheLayoutAndFontsAndComesBack)
{
    AppStart();
    HWND main = AppWindow();
    auto picture = [main] {
        std::vector<long> p;
        RECT r;
        GetWindowRect(main, &r);
        p.insert(p.end(), {r.left, r.top, r.right, r.bottom});
        for (int id : {IDC_RESULTS, IDC_INFO_PANEL, IDC_COMMAND_LINE, IDC_SEND}) {
            r = ChildRect(id);
            p.insert(p.end(), {r.left, r.top, r.right, r.bottom});
        }
        LOGFONTA font;
        GetObjectA((HFONT)SendMessageA(AppChild(IDC_COMMAND_LINE), WM_GETFONT, 0, 0), sizeof font, &font);
        p.push_back(labs(font.lfHeight));
        return p;
    };
    std::vector<long> first = picture();
    RECT outer, now, client;
    GetWindowRect(main, &outer);
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(NULL, screen);
    RECT suggested = {outer.left, outer.top, outer.left + 2 * (outer.right - outer.left),
                      outer.top + 2 * (outer.bottom - outer.top)};
    SendMessageA(main, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), (LPARAM)&suggested);
    GetWindowRect(main, &now);
    EXPECT_TRUE(EqualRect(&suggested, &now));
    GetClientRect(main, &client);
    RECT results = ChildRect(IDC_RESULTS), line = ChildRect(IDC_COMMAND_LINE), send = ChildRect(IDC_SEND);
    int scale = 2 * dpi;  // lengths below are design lengths at this DPI
    EXPECT_EQ(MulDiv(6, scale, 96), results.left);
    EXPECT_EQ(client.bottom - MulDiv(6, scale, 96), line.bottom);
    EXPECT_EQ(MulDiv(24, scale, 96), line.bottom - line.top);
    EXPECT_EQ(client.right - MulDiv(6, scale, 96), send.right);
    EXPECT_EQ(MulDiv(75, scale, 96), send.right - send.left);
    EXPECT_NEAR(2 * first.back(), picture().back(), 1) << "command line font height";

    SendMessageA(main, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), (LPARAM)&outer);
    EXPECT_EQ(first, picture());

    // Closed at twice the DPI, the window's size is saved as at 96 dpi.
    SendMessageA(main, WM_DPICHANGED, MAKEWPARAM(2 * dpi, 2 * dpi), (LPARAM)&suggested);
    AppClose();
    EXPECT_EQ(MulDiv(outer.right - outer.left, 96, dpi),
              (int)GetPrivateProfileIntA("Init", "MainWindowWidth", -1, AppSettingsPath().c_str()));
}

TEST_F(Console, TypedCommandIsSentEchoedAndAnswered)
{
    StartConnected(0);
    AppTypeAndSend("*IDN?");
    ASSERT_TRUE(ResultsContain("Vendrel,RZT7680,12345,1.23\r\n"));
    EXPECT_EQ("> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n", AppText(IDC_RESULTS));
    EXPECT_EQ("*IDN?\n", SimTranscript("serial"));
    EXPECT_EQ("*IDN?", g_commandHistory.slots[0]);
    // The command stays in the line, selected, and no line break was added to it.
    AppPumpFor(50);
    EXPECT_EQ("*IDN?", AppText(IDC_COMMAND_LINE));
    DWORD start = 1, end = 0;
    SendMessageA(AppChild(IDC_COMMAND_LINE), EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(0u, start);
    EXPECT_EQ(5u, end);

    // Typed beyond ASCII: the instrument gets the system's code page (1252 here), as it always
    // did, not the program's UTF-8; the echo and the history give the character back.
    SetWindowTextW(AppChild(IDC_COMMAND_LINE), L"unit 25\u00B0C");
    SendMessageA(AppChild(IDC_COMMAND_LINE), WM_CHAR, '\r', 0);
    ASSERT_TRUE(ResultsContain("> unit 25\xB0" "C\r\n"));
    EXPECT_EQ("*IDN?\nunit 25\xB0" "C\n", SimTranscript("serial"));
    SetWindowTextA(AppChild(IDC_COMMAND_LINE), "");
    SendMessageA(AppWindow(), WM_COMMAND, CMD_HISTORY_BACK, 0);
    wchar_t recalled[32];
    GetWindowTextW(AppChild(IDC_COMMAND_LINE), recalled, 32);
    EXPECT_STREQ(L"*IDN?", recalled);
    SendMessageA(AppWindow(), WM_COMMAND, CMD_HISTORY_BACK, 0);
    GetWindowTextW(AppChild(IDC_COMMAND_LINE), recalled, 32);
    EXPECT_STREQ(L"unit 25\u00B0C", recalled);
}

TEST_F(Console, CaretNotationAndPackedRepliesOnLan)
{
    StartConnected(1);
    SimOk("reply " + Hex("\x03") + " " + Hex(std::string("V=\x82\x30\x20\x20\r\n")));
    AppTypeAndSend("^c");
    ASSERT_TRUE(ResultsContain("V=3.01575E\r\n"));
    EXPECT_EQ(std::string("\x03\n\0", 3), SimTranscript("lan"));
    EXPECT_EQ("> ^c\r\nV=3.01575E\r\n", AppText(IDC_RESULTS));

    // Convert Binary off: the raw bytes are shown.
    SendMessageA(AppWindow(), WM_COMMAND, IDM_CONVERT_BINARY, 0);
    EXPECT_EQ((UINT)MF_UNCHECKED, GetMenuState(GetMenu(AppWindow()), IDM_CONVERT_BINARY, MF_BYCOMMAND) & MF_CHECKED);
    AppTypeAndSend("^c");
    ASSERT_TRUE(ResultsContain("V=\x82\x30"));
}

TEST_F(Console, HistoryAndRecallOfAClickedEchoLine)
{
    StartConnected(0);
    for (const char *cmd : {"meas:volt?", "meas:curr?", "*IDN?"}) {
        AppTypeAndSend(cmd);
        AppPumpFor(80);
    }
    ASSERT_TRUE(ResultsContain("Vendrel"));
    HWND line = AppChild(IDC_COMMAND_LINE);
    SendMessageA(AppWindow(), WM_COMMAND, CMD_HISTORY_BACK, 0);
    EXPECT_EQ("meas:curr?", AppText(IDC_COMMAND_LINE));
    SendMessageA(AppWindow(), WM_COMMAND, CMD_HISTORY_FORWARD, 0);
    EXPECT_EQ("*IDN?", AppText(IDC_COMMAND_LINE));
    SendMessageA(AppWindow(), WM_COMMAND, CMD_HISTORY_FORWARD, 0);  // past the newest: the oldest
    EXPECT_EQ("meas:volt?", AppText(IDC_COMMAND_LINE));
    // The Up key's release reaches the history through the subclass.
    SendMessageA(line, WM_KEYUP, VK_UP, 0);
    AppPumpFor(30);
    EXPECT_EQ("*IDN?", AppText(IDC_COMMAND_LINE));

    // Clicking on the echo line of "meas:curr?" (the third line) recalls it.
    HWND results = AppChild(IDC_RESULTS);
    LRESULT third = SendMessageA(results, EM_LINEINDEX, 2, 0);
    ASSERT_EQ('>', AppText(IDC_RESULTS)[third]);
    SendMessageA(results, EM_SETSEL, third + 4, third + 4);
    SendMessageA(results, WM_LBUTTONUP, 0, 0);  // through the subclass
    AppPumpFor(30);
    EXPECT_EQ(AppText(IDC_RESULTS).substr(third + 2, 10), AppText(IDC_COMMAND_LINE));
    // A click on a reply line, or with a selection, recalls nothing.
    SetWindowTextA(line, "unchanged");
    LRESULT reply = SendMessageA(results, EM_LINEINDEX, 1, 0);
    SendMessageA(results, EM_SETSEL, reply, reply);
    SendMessageA(AppWindow(), WM_COMMAND, CMD_RECALL_CLICKED_LINE, 0);
    SendMessageA(results, EM_SETSEL, third, third + 5);
    SendMessageA(AppWindow(), WM_COMMAND, CMD_RECALL_CLICKED_LINE, 0);
    EXPECT_EQ("unchanged", AppText(IDC_COMMAND_LINE));
}

TEST_F(Console, NotConnectedSendDoesNothing)
{
    AppStart();
    SetWindowTextA(AppChild(IDC_COMMAND_LINE), "*IDN?");
    SendMessageA(AppWindow(), WM_COMMAND, IDC_SEND, 0);
    AppPumpFor(100);
    EXPECT_EQ("", AppText(IDC_RESULTS));
    EXPECT_EQ("", g_commandHistory.slots[0]);
    EXPECT_EQ("", SimTranscript("serial"));
}

TEST_F(Console, SendFailureOnADroppedLanLinkDisconnectsWithoutAQuestion)
{
    StartConnected(1);
    // With the reply poll on, the reset would be found by its read first (the reconnect
    // question): keep it off, so that the send is what finds the link gone.
    g_connection.pollEnabled = 0;
    SimOk("drop lan");
    AppPumpFor(100);
    // The first send after a reset may still be accepted by the socket; the next fails.
    for (int i = 0; i < 10 && g_connection.connected; i++) {
        AppTypeAndSend("*IDN?");
        AppPumpFor(100);
    }
    EXPECT_FALSE(g_connection.connected);
    EXPECT_FALSE(g_connection.pollEnabled);
    ASSERT_FALSE(g_seenBoxes.empty());
    EXPECT_EQ("Comms Failed - the connection will be closed", g_seenBoxes.back().text);
    EXPECT_EQ("Quillon2", g_seenBoxes.back().caption);
    for (const SeenBox &box : g_seenBoxes) EXPECT_NE(AppTextTable[65], box.text);
    EXPECT_FALSE(IsWindowEnabled(AppChild(IDC_COMMAND_LINE)));
    EXPECT_EQ("No connection", AppText(IDC_INFO_PANEL));
    EXPECT_EQ((UINT)MF_GRAYED, GetMenuState(GetMenu(AppWindow()), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND) & MF_GRAYED);
}

TEST_F(Console, ReadFailureAsksToReconnect)
{
    StartConnected(0);
    AppExpect("Quillon2", AppAnswer(IDNO));
    SimOk("drop serial");
    ASSERT_TRUE(AppPumpUntil([] { return !g_connection.connected; }, 5000));
    AppPumpFor(100);
    ASSERT_FALSE(g_seenBoxes.empty());
    EXPECT_EQ(AppTextTable[65], g_seenBoxes.back().text);
    EXPECT_FALSE(g_connection.isOpen);

    // Yes reconnects with the same settings and no dialog; the simulator's new port works.
    ASSERT_TRUE(AppConnectWithDialog(0, SimComPort()));
    AppExpect("Quillon2", AppAnswer(IDYES));
    size_t boxes = g_seenBoxes.size();
    SimOk("drop serial");
    ASSERT_TRUE(AppPumpUntil([&] { return g_seenBoxes.size() > boxes; }, 5000));
    EXPECT_EQ(AppTextTable[65], g_seenBoxes.back().text);
    ASSERT_TRUE(AppPumpUntil([] { return g_connection.connected && g_connection.pollEnabled; }, 10000));
    SimOk("transcript clear");
    AppTypeAndSend("*IDN?");
    EXPECT_TRUE(ResultsContain("Vendrel,RZT7680"));
}

// (The panel's text and colours after connecting: the Connect dialog's tests.)
TEST_F(Console, TitleMenuAndDisconnectAfterConnecting)
{
    StartConnected(0);
    char title[256];
    GetWindowTextA(AppWindow(), title, sizeof title);
    EXPECT_STREQ("Quillon2 v1_3     USB,RZT7680,12345,1.23", title);
    EXPECT_EQ(0u, GetMenuState(GetMenu(AppWindow()), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_TRUE(IsWindowEnabled(AppChild(IDC_COMMAND_LINE)));


    // Disconnect by menu: no question, the title stays.
    SendMessageA(AppWindow(), WM_COMMAND, IDM_DISCONNECT, 0);
    EXPECT_EQ("No connection", AppText(IDC_INFO_PANEL));
    GetWindowTextA(AppWindow(), title, sizeof title);
    EXPECT_STREQ("Quillon2 v1_3     USB,RZT7680,12345,1.23", title);
    EXPECT_TRUE(g_seenBoxes.size() <= 1);  // only the connect result
}

// A failed upgrade leaves a boot loader that may answer nothing to "*IDN?": a connect that finds
// no instrument on a port with a recovery record leaves Upgrade Firmware available. The record
// comes back from its file as it was given, less the line end of an LF-only instrument.
TEST_F(Console, UpgradeStaysAvailableWhereAFailedUpgradeLeftTheBootLoader)
{
    StartConnected(0);
    RecoveryRecord rec, back;
    RecoveryFill(&rec, "Vendrel,RZT7680,12345,1.23\n", "RZT7680,1234,56\n", "fw.upg");
    RecoverySave(SimComPort(), &rec);
    ASSERT_TRUE(RecoveryLoad(SimComPort(), &back));
    EXPECT_STREQ("Vendrel,RZT7680,12345,1.23", back.idnText);
    EXPECT_STREQ("RZT7680,1234,56", back.versionText);
    SimOk("boot enter");
    SimOk("boot quiet on");
    SendMessageA(AppWindow(), WM_COMMAND, IDM_DISCONNECT, 0);
    PostMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 1);
    auto upgradeEnabled = [] { return !(GetMenuState(GetMenu(AppWindow()), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND) & MF_GRAYED); };
    EXPECT_TRUE(AppPumpUntil(upgradeEnabled, 15000));
    EXPECT_FALSE(g_connection.connected);
    RecoveryForget(SimComPort());
}

TEST_F(Console, ClearAndSaveResults)
{
    StartConnected(0);
    AppTypeAndSend("*IDN?");
    ASSERT_TRUE(ResultsContain("Vendrel"));
    char folder[MAX_PATH];
    GetTempPathA(sizeof folder, folder);
    std::string path = std::string(folder) + "quillon_results.txt";
    DeleteFileA(path.c_str());
    AppExpect("Save As", [path](HWND dlg) {
        SetDlgItemTextA(dlg, 0x47c /* file name combo */, path.c_str());
        SetDlgItemTextA(dlg, 0x480 /* file name edit */, path.c_str());
        AppPress(dlg, IDOK);
    });
    SendMessageA(AppWindow(), WM_COMMAND, IDM_SAVE_TO_FILE, 0);
    EXPECT_EQ("> *IDN?\r\nVendrel,RZT7680,12345,1.23\r\n", ReadFileText(path));
    // Cancelling the dialog is reported.
    AppExpect("Save As", AppAnswer(IDCANCEL));
    SendMessageA(AppWindow(), WM_COMMAND, IDM_SAVE_TO_FILE, 0);
    ASSERT_FALSE(g_seenBoxes.empty());
    EXPECT_EQ("Unable to create text file", g_seenBoxes.back().text);

    SendMessageA(AppWindow(), WM_COMMAND, IDM_CLEAR_RESULTS, 0);
    EXPECT_EQ("", AppText(IDC_RESULTS));
}

// Sends WM_NULL to the window from a thread of its own until told to stop, timing each
// answer. A window that does not answer within 5 s stops the stream, so that a hung poll
// fails the test instead of holding it.
struct ResponseProbe {
    HWND window;
    volatile LONG stop;
    double worstMs;
    int answered;
};

DWORD WINAPI ProbeWindow(void *arg)
{
    ResponseProbe *p = (ResponseProbe *)arg;
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    while (!InterlockedCompareExchange(&p->stop, 0, 0)) {
        DWORD_PTR result;
        QueryPerformanceCounter(&t0);
        LRESULT ok = SendMessageTimeoutA(p->window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        QueryPerformanceCounter(&t1);
        double ms = (t1.QuadPart - t0.QuadPart) * 1000.0 / freq.QuadPart;
        if (ms > p->worstMs) p->worstMs = ms;
        if (!ok) Sim("stream lan off");
        p->answered++;
        Sleep(20);
    }
    return 0;
}

size_t MemoryBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&counters, sizeof counters);
    return counters.WorkingSetSize;  // Wine leaves PrivateUsage at 0
}

// The simulator streaming as fast as the link takes it, for 10 s: the window answers within
// 250 ms throughout, keeps its scrollback (ResultsMaxLines) with every line whole and in
// order, and its memory stays flat once the scrollback has filled.
TEST_F(Console, FullSpeedStreamLeavesTheWindowResponsiveWithinItsScrollback)
{
    WritePrivateProfileStringA("Init", "ResultsMaxLines", "2000", AppSettingsPath().c_str());
    StartConnected(1);
    ResponseProbe probe = {AppWindow(), 0, 0, 0};
    SimOk("stream lan on 0");
    HANDLE thread = CreateThread(NULL, 0, ProbeWindow, &probe, 0, NULL);
    AppPumpFor(2000);
    size_t settled = MemoryBytes();
    AppPumpFor(8000);
    size_t last = MemoryBytes();
    InterlockedExchange(&probe.stop, 1);
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT) AppPumpFor(10);
    CloseHandle(thread);
    SimOk("stream lan off");
    AppPumpFor(300);
    printf("answered %d times, worst %.0f ms; memory in use %.1f MiB after 2 s, %+.2f MiB by 10 s\n", probe.answered,
           probe.worstMs, settled / 1048576.0, ((double)last - (double)settled) / 1048576.0);

    EXPECT_LE(probe.worstMs, 250.0);
    EXPECT_GE(probe.answered, 20);
    EXPECT_LE((double)last - (double)settled, 2.0 * 1048576);
    std::istringstream text(AppText(IDC_RESULTS));
    std::string line;
    int lines = 0, previous = -1;
    while (std::getline(text, line)) {
        unsigned n = 0;
        char end = 0;
        ASSERT_EQ(2, sscanf(line.c_str(), "STREAM,%6u%c", &n, &end)) << "line " << lines << ": " << Visible(line);
        ASSERT_EQ('\r', end) << "line " << lines;
        if (previous >= 0) {
            ASSERT_EQ((previous + 1) % 1000000, (int)n) << "line " << lines;
        }
        previous = (int)n;
        lines++;
    }
    EXPECT_GE(lines, 1800);
    EXPECT_LE(lines, 2000);
}

TEST(Settings, FirstStartCreatesTheFileAndExitWritesChangedSizesOnly)
{
    std::string path = AppSettingsPath();
    DeleteFileA(path.c_str());
    AppStart();
    std::string created = ReadFileText(path);
    EXPECT_TRUE(std::regex_search(created, std::regex("\\[Init\\]\r\nCreated=\\d\\d:\\d\\d:\\d\\d \\d{1,2}/\\d{1,2}/\\d{4}\r\n")))
        << created;
    RECT outer;
    GetWindowRect(AppWindow(), &outer);
    AppClose();
    char width[16], height[16];
    GetPrivateProfileStringA("Init", "MainWindowWidth", "", width, sizeof width, path.c_str());
    GetPrivateProfileStringA("Init", "MainWindowHeight", "", height, sizeof height, path.c_str());
    EXPECT_EQ(outer.right - outer.left, atoi(width));
    EXPECT_EQ(outer.bottom - outer.top, atoi(height));

    // Same size again: the file is not rewritten.
    std::string before = ReadFileText(path);
    WritePrivateProfileStringA(NULL, NULL, NULL, path.c_str());  // flush the profile cache
    AppStart();
    AppClose();
    EXPECT_EQ(before, ReadFileText(path));

    // A stored width beyond the screen is ignored and replaced at exit.
    WritePrivateProfileStringA("Init", "MainWindowWidth", "5000", path.c_str());
    AppStart();
    GetWindowRect(AppWindow(), &outer);
    EXPECT_EQ(atoi(width), outer.right - outer.left);
    AppClose();
    GetPrivateProfileStringA("Init", "MainWindowWidth", "", width, sizeof width, path.c_str());
    EXPECT_EQ(outer.right - outer.left, atoi(width));
}

// Minimised, the outer rectangle is the icon's (160 x 24); maximised, the screen's.
TEST(Settings, ExitSavesTheRestoredSize)
{
    std::string path = AppSettingsPath();
    for (int show : {SW_MINIMIZE, SW_MAXIMIZE}) {
        SCOPED_TRACE(show);
        WritePrivateProfileStringA("Init", "MainWindowWidth", NULL, path.c_str());
        WritePrivateProfileStringA("Init", "MainWindowHeight", NULL, path.c_str());
        AppStart();
        SetWindowPos(AppWindow(), NULL, 0, 0, 700, 500, SWP_NOMOVE | SWP_NOZORDER);
        ShowWindow(AppWindow(), show);
        AppPumpFor(100);
        AppClose();
        EXPECT_EQ(700, (int)GetPrivateProfileIntA("Init", "MainWindowWidth", -1, path.c_str()));
        EXPECT_EQ(500, (int)GetPrivateProfileIntA("Init", "MainWindowHeight", -1, path.c_str()));
    }
}

}  // namespace

namespace {

TEST(CommandLine, OnlyMinusDOneDeletesTheDebugFile)
{
    CreateDirectoryA("c:\\tmp", NULL);
    static const struct { const char *arg; bool deletes; } cases[] = {
        {"-d1", true}, {"-D1", true}, {"-d1x", true}, {"-d", false}, {"-d2", false}, {"d1", false}, {"-x1", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arg);
        FILE *f = fopen("c:\\tmp\\quillon2.dbg", "w");
        ASSERT_TRUE(f);
        fclose(f);
        char program[] = "quillon2.exe";
        char arg[16];
        strcpy(arg, c.arg);
        char *argv[] = {program, arg, nullptr};
        HandleCommandLine(2, argv);
        EXPECT_EQ(c.deletes, GetFileAttributesA("c:\\tmp\\quillon2.dbg") == INVALID_FILE_ATTRIBUTES);
    }
    // The program name itself is never taken for the switch.
    char program[] = "-d1";
    char *argv[] = {program, nullptr};
    HandleCommandLine(1, argv);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("c:\\tmp\\quillon2.dbg"));
    DeleteFileA("c:\\tmp\\quillon2.dbg");
}

}  // namespace
