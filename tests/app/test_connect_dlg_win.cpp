// Connecting in the real main window against the simulated instrument: the connect and
// identify sequence byte for byte over COM and LAN, its outcomes and messages, the Connect
// dialog's controls, validation, Test, Save as Default and restart, and the information
// panel built from what the instrument reported.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <cstring>
#include <string>
#include <vector>

#include "apphost.h"
#include "link/link.h"
#include "res/resource.h"
#include "simctl.h"

namespace {

const char kWakeCom[] = "\x14\x14^[";
const std::string kWakeLan("\x14\0\x14\0^[\0", 7);
const char kQueries[] = "calstr?\ncalver?\nversion?\n";
const std::string kQueriesLan("calstr?\n\0calver?\n\0version?\n\0", 28);
const char kIdn[] = "*IDN?\n";
const std::string kIdnLan("*IDN?\n\0", 7);

// --- Dialog helpers (all run inside a dialog action) --------------------------------------

void Pick(HWND dlg, int id, int index)
{
    SendDlgItemMessageA(dlg, id, CB_SETCURSEL, (WPARAM)index, 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, CBN_SELENDOK), (LPARAM)GetDlgItem(dlg, id));
}

void PickText(HWND dlg, int id, const char *text)
{
    LRESULT index = SendDlgItemMessageA(dlg, id, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    ASSERT_NE(CB_ERR, index) << text;
    Pick(dlg, id, (int)index);
}

// The selected entry's text, "" when nothing is selected.
std::string Selected(HWND dlg, int id)
{
    LRESULT index = SendDlgItemMessageA(dlg, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "";
    char text[64] = "";
    SendDlgItemMessageA(dlg, id, CB_GETLBTEXT, (WPARAM)index, (LPARAM)text);
    return text;
}

void SetIp(HWND dlg, const char *dotted)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!dotted[0] || sscanf(dotted, "%u.%u.%u.%u", &a, &b, &c, &d) != 4)
        SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_CLEARADDRESS, 0, 0);
    else
        SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

std::string IpText(HWND dlg)
{
    if (SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_ISBLANK, 0, 0)) return "";
    DWORD address = 0;
    SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_GETADDRESS, 0, (LPARAM)&address);
    char text[32];
    snprintf(text, sizeof text, "%d.%d.%d.%d", (int)FIRST_IPADDRESS(address), (int)SECOND_IPADDRESS(address),
             (int)THIRD_IPADDRESS(address), (int)FOURTH_IPADDRESS(address));
    return text;
}

bool Shown(HWND dlg, int id) { return IsWindowVisible(GetDlgItem(dlg, id)) != FALSE; }
bool Enabled(HWND dlg, int id) { return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE; }

std::string ItemText(HWND dlg, int id)
{
    char text[64] = "";
    GetDlgItemTextA(dlg, id, text, sizeof text);
    return text;
}

// Presses a button that ends in a "Test Connection" box, answering the box with OK. Returns
// the text of the box it caused, or "(no box)".
std::string PressForBox(HWND dlg, int id)
{
    size_t before = g_seenBoxes.size();
    AppExpect("Test Connection", AppAnswer(IDOK));
    AppPress(dlg, id);
    if (g_seenBoxes.size() == before) return "(no box)";
    EXPECT_EQ("Test Connection", g_seenBoxes.back().caption);
    return g_seenBoxes.back().text;
}

// --- Main window helpers --------------------------------------------------------------------

std::string Title()
{
    char title[256] = "";
    GetWindowTextA(AppWindow(), title, sizeof title);
    return title;
}

// The panel's text with its paragraph ends as single line feeds, whichever form the
// rich-edit control hands out.
std::string PanelText()
{
    std::string raw = AppText(IDC_INFO_PANEL), text;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '\r') {
            text += '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n') i++;
        } else {
            text += raw[i];
        }
    }
    return text;
}

struct RunFormat {
    bool found, bold;
    COLORREF color;  // CLR_INVALID for the automatic colour
};

// The character format of the first character of the first occurrence of text in the panel.
RunFormat PanelFormatOf(const char *text)
{
    HWND rich = AppChild(IDC_INFO_PANEL);
    // The panel is a wide rich edit: it reads a search's text wide, whichever message asks.
    std::wstring wide(text, text + strlen(text));  // the texts looked for are ASCII
    FINDTEXTW find = {{0, -1}, wide.c_str()};
    LRESULT at = SendMessageW(rich, EM_FINDTEXTW, FR_DOWN, (LPARAM)&find);
    if (at < 0) return {false, false, CLR_INVALID};
    SendMessageA(rich, EM_SETSEL, at, at + 1);
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(rich, EM_GETCHARFORMAT, SCF_SELECTION, (LPARAM)&format);
    return {true, (format.dwEffects & CFE_BOLD) != 0, (format.dwEffects & CFE_AUTOCOLOR) ? CLR_INVALID : format.crTextColor};
}

// Both texts, printable, for a failed comparison.
std::string Diff(const std::string &got, const std::string &wanted)
{
    return "\n   got " + ::Visible(got) + "\nwanted " + ::Visible(wanted);
}

// Connects through the dialog from any state. (The host's helper waits for "connected", which
// an earlier connection would satisfy before the dialog has even opened.)
bool Reconnect(int interfaceIndex, const char *portOrIp)
{
    SendMessageA(AppWindow(), WM_COMMAND, IDM_DISCONNECT, 0);
    return AppConnectWithDialog(interfaceIndex, portOrIp);
}

// A second instrument that never answers: port 10001 of a loopback address of this checkout's
// own (the simulator's, second byte 77) listening without ever accepting, so that connections
// complete and nothing comes back. Returns its address; *listener is closed by the caller.
std::string OpenSilentInstrument(SOCKET *listener)
{
    std::string lan = SimLanAddress();
    std::string address = "127.77." + lan.substr(lan.find('.', lan.find('.') + 1) + 1);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(address.c_str());
    local.sin_port = htons(10001);
    *listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (bind(*listener, (sockaddr *)&local, sizeof local) != 0 || listen(*listener, 4) != 0) {
        closesocket(*listener);
        *listener = INVALID_SOCKET;
    }
    return address;
}

class ConnectWin : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimOk("reset");
        AppSeedSettings(IFACE_USB, SimComPort(), 19200, SimLanAddress());
    }
    void TearDown() override { AppClose(); }

    static void StartWithDialog(std::function<void(HWND)> action)
    {
        AppExpect("Connect", action);
        AppStart();
    }
    // Waits until the transport has received every byte of want, then compares.
    static void ExpectTranscript(const char *transport, const std::string &want)
    {
        std::string got = SimWaitRx(transport, want.size(), 2000);
        AppPumpFor(30);  // anything sent after the last expected byte shows up too
        got = SimTranscript(transport);
        EXPECT_EQ(want, got) << transport << Diff(got, want);
    }
};

// --- The connect sequence on the wire ---------------------------------------------------

TEST_F(ConnectWin, SequenceOnEveryInterfaceIsExactAndIdentifiesTheInstrument)
{
    const std::string com = SimComPort(), lan = SimLanAddress();
    const struct {
        int index;
        const char *transport;
        std::string wire;
        const char *titleTail;
        std::string panelLink;
    } cases[] = {
        {0, "serial", kWakeCom + std::string(kIdn) + kQueries, "USB,RZT7680,12345,1.23",
         "  Interface:  USB\n  Address:  " + com + "\n"},
        {1, "lan", kWakeLan + kIdnLan + kQueriesLan, "LAN,RZT7680,12345,1.23",
         "  Interface:  LAN\n  Address:  " + lan + "\n"},
        {2, "serial", kWakeCom + std::string(kIdn) + kQueries, "SER,RZT7680,12345,1.23",
         "  Interface:  Serial\n  Address:  " + com + "\n  Baudrate:  19200\n"},
    };
    AppStart();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.transport + std::string(" interface index ") + std::to_string(c.index));
        SimOk("transcript clear");
        size_t boxes = g_seenBoxes.size();
        ASSERT_TRUE(Reconnect(c.index, c.index == 1 ? SimLanAddress() : SimComPort()));
        ExpectTranscript(c.transport, c.wire);
        EXPECT_EQ("", SimTranscript(c.index == 1 ? "serial" : "lan"));

        ASSERT_EQ(boxes + 1, g_seenBoxes.size());
        EXPECT_EQ("Test Connection", g_seenBoxes.back().caption);
        EXPECT_EQ("The connection was successful\nVendrel,RZT7680,12345,1.23", g_seenBoxes.back().text);
        EXPECT_EQ(1, g_connection.modelCode);
        EXPECT_STREQ("Vendrel,RZT7680,12345,1.23", g_connection.idnText);
        EXPECT_STREQ("15_Mar_2020,Vendrel", g_connection.calibrationText);
        EXPECT_STREQ("10_06_2021", g_connection.calVersionText);
        EXPECT_STREQ("RZT7680,1234,56,78,90", g_connection.versionText);
        EXPECT_EQ("Quillon2 v1_3     " + std::string(c.titleTail), Title());
        EXPECT_EQ("Connection Info.\n\n" + c.panelLink + "\n\nInstrument Info. \n\n",
                  PanelText().substr(0, PanelText().find("  Model:")));
    }
}

// An instrument that answers every query 700 ms late: the first "*IDN?" is answered during
// the second attempt, and the answer to the second arrives while the texts are asked for.
TEST_F(ConnectWin, LateAnswersToEarlierIdentityQueriesAreNotTakenForTheTexts)
{
    AppStart();
    SimOk("delay 700");
    for (int index : {0, 1}) {
        SCOPED_TRACE(index ? "LAN" : "USB");
        SetWindowTextA(AppChild(IDC_RESULTS), "");
        DWORD start = GetTickCount();
        ASSERT_TRUE(Reconnect(index, index ? SimLanAddress() : SimComPort()));
        printf("connect, replies 700 ms late, over %s: %lu ms\n", index ? "LAN" : "USB",
               (unsigned long)(GetTickCount() - start));
        EXPECT_EQ(1, g_connection.modelCode);
        EXPECT_STREQ("Vendrel,RZT7680,12345,1.23", g_connection.idnText);
        EXPECT_STREQ("15_Mar_2020,Vendrel", g_connection.calibrationText);
        EXPECT_STREQ("10_06_2021", g_connection.calVersionText);
        EXPECT_STREQ("RZT7680,1234,56,78,90", g_connection.versionText);
        EXPECT_NE(std::string::npos, PanelText().find("  Type:  1234\n")) << PanelText();
        AppPumpFor(1000);
        EXPECT_EQ("", AppText(IDC_RESULTS)) << "a late answer reached the results window";
    }
}

// The settings read from the dialog are the ones used, even when an unanswered attempt left a
// link open: to another address, another interface or another rate. Cancel and a reconnect
// that nobody answers leave no link open (an open COM port is locked for other programs).
TEST_F(ConnectWin, ChangedSettingsReachTheInstrumentNowChosen)
{
    SOCKET silent;
    std::string silentIp = OpenSilentInstrument(&silent);
    ASSERT_NE(INVALID_SOCKET, silent) << silentIp;
    SimOk("answer-from *IDN? 6");  // the simulator ignores five identifications, on any side
    std::vector<std::string> texts;
    std::string wireToFirst;
    StartWithDialog([&](HWND dlg) {
        Pick(dlg, IDC_CONNECT_INTERFACE, 1);
        SetIp(dlg, SimLanAddress());
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
        SetIp(dlg, silentIp.c_str());  // another instrument, which never answers
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
        wireToFirst = SimTranscript("lan");
        Pick(dlg, IDC_CONNECT_INTERFACE, 0);  // the simulator on USB now answers
        PickText(dlg, IDC_CONNECT_PORT, SimComPort());
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
    });
    closesocket(silent);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("The connection failed", texts[0]);
    EXPECT_EQ("The connection failed", texts[1]) << "the first instrument answered for the second";
    EXPECT_EQ(kWakeLan + kIdnLan + kIdnLan + kIdnLan + kIdnLan + kIdnLan, wireToFirst) << Visible(wireToFirst);
    EXPECT_EQ("The connection was successful\nVendrel,RZT7680,12345,1.23", texts[2]);
    ExpectTranscript("serial", kWakeCom + std::string(kIdn) + kQueries);
    EXPECT_TRUE(g_connection.connected);

    // Serial at 9600 unanswered, then 38400: the port runs at the new rate. Cancel closes it.
    SimOk("reset");
    SimOk("silence on");
    DWORD rate = 0;
    AppExpect("Connect", [&](HWND dlg) {
        Pick(dlg, IDC_CONNECT_INTERFACE, 2);
        PickText(dlg, IDC_CONNECT_BAUD, "9600");
        PressForBox(dlg, IDC_CONNECT_CONNECT);
        PickText(dlg, IDC_CONNECT_BAUD, "38400");
        PressForBox(dlg, IDC_CONNECT_CONNECT);
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (GetCommState((HANDLE)g_connection.portHandle, &dcb)) rate = dcb.BaudRate;
        AppPress(dlg, IDCANCEL);
    });
    SendMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 0);
    EXPECT_EQ(38400u, rate);
    EXPECT_FALSE(g_connection.isOpen) << "Cancel after a failed Connect";

    // Yes to the reconnect question, and the instrument stays silent.
    SimOk("silence off");
    ASSERT_TRUE(Reconnect(0, SimComPort()));
    SimOk("silence on");
    PostMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 1);
    ASSERT_TRUE(AppPumpUntil([] { return !g_connection.connected; }, 10000));
    EXPECT_FALSE(g_connection.isOpen) << "an unanswered reconnect";
}

// An unanswered attempt leaves the link open; if the instrument then ends its LAN connection
// or its port goes away (switched off and on, cable pulled and put back), Connect with the same
// settings must open a new link rather than ask on the dead one, again and again.
TEST_F(ConnectWin, LinkThatDiedAfterAnUnansweredAttemptIsOpenedAnew)
{
    AppStart();
    for (const char *end : {"lan close", "drop serial"}) {
        SCOPED_TRACE(end);
        bool lan = end[0] == 'l';
        SimOk("reset");
        SimOk("silence on");
        std::vector<std::string> texts;
        AppExpect("Connect", [&](HWND dlg) {
            Pick(dlg, IDC_CONNECT_INTERFACE, lan ? 1 : 0);
            if (lan) SetIp(dlg, SimLanAddress());
            else PickText(dlg, IDC_CONNECT_PORT, SimComPort());
            texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
            SimOk(end);
            SimOk("silence off");
            texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
            if (IsWindow(dlg)) AppPress(dlg, IDCANCEL);
        });
        SendMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 0);
        ASSERT_EQ(2u, texts.size());
        EXPECT_EQ("The connection failed", texts[0]);
        EXPECT_EQ("The connection was successful\nVendrel,RZT7680,12345,1.23", texts[1]);
        EXPECT_TRUE(g_connection.connected);
    }
}

// Test keeps the model code of its success; a silent instrument then gets the "incompatible"
// message from Test, while Connect (which clears the code first) reports a plain failure.
TEST_F(ConnectWin, SilentInstrumentFailsAfterFiveAttemptsWithTheRightMessage)
{
    std::vector<std::string> texts;
    DWORD silentTook = 0;
    std::string silentWire;
    StartWithDialog([&](HWND dlg) {
        PickText(dlg, IDC_CONNECT_PORT, SimComPort());
        texts.push_back(PressForBox(dlg, IDC_CONNECT_TEST));
        SimOk("silence on");
        SimOk("transcript clear");
        DWORD start = GetTickCount();
        texts.push_back(PressForBox(dlg, IDC_CONNECT_TEST));
        silentTook = GetTickCount() - start;
        SimWaitRx("serial", 34, 1000);
        silentWire = SimTranscript("serial");
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
        EXPECT_TRUE(IsWindow(dlg) && IsWindowVisible(dlg)) << "a failed Connect keeps the dialog open";
        EXPECT_FALSE(g_connection.connected);
        AppPress(dlg, IDCANCEL);
    });
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("The connection was successful\nVendrel,RZT7680,12345,1.23", texts[0]);
    EXPECT_EQ("Incompatable instrument", texts[1]);
    EXPECT_EQ("The connection failed", texts[2]);
    EXPECT_EQ(kWakeCom + std::string(kIdn) + kIdn + kIdn + kIdn + kIdn, silentWire) << Visible(silentWire);
    EXPECT_GE(silentTook, 2400u);
    EXPECT_FALSE(g_connection.connected);
    EXPECT_EQ("No connection", PanelText());
    EXPECT_EQ("Quillon2 v1_3", Title());
}

TEST_F(ConnectWin, UnrecognisedOrCommalessIdentityStillConnects)
{
    static const struct {
        const char *idn, *box, *idnText, *title;
        bool queries;
    } cases[] = {
        // No comma: not classified, and nothing names the instrument that answered before (an
        // unknown model likewise: the link tests tell the two apart).
        {"NOCOMMA", "The connection was successful\nUnknown Instrument", "", "Quillon2 v1_3     USB,Unknown Connection",
         false},
        {"Vendrel,RZT60,4,5", "The connection was successful\nVendrel,RZT60,4,5", "Vendrel,RZT60,4,5",
         "Quillon2 v1_3     USB,RZT60,4,5", true},
    };
    AppStart();
    ASSERT_TRUE(Reconnect(0, SimComPort()));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        SimOk(std::string("set idn ") + c.idn);
        SimOk("transcript clear");
        ASSERT_TRUE(Reconnect(0, SimComPort()));
        EXPECT_EQ(c.box, g_seenBoxes.back().text);
        EXPECT_STREQ(c.idnText, g_connection.idnText);
        EXPECT_EQ(c.title, Title());
        ExpectTranscript("serial", kWakeCom + std::string(kIdn) + (c.queries ? kQueries : ""));
        if (c.queries) {
            EXPECT_EQ(6, g_connection.modelCode);
            EXPECT_NE("Unknown Instrument", PanelText());
        } else {
            EXPECT_EQ(0, g_connection.modelCode);
            EXPECT_EQ("Unknown Instrument", PanelText());
            EXPECT_TRUE(PanelFormatOf("Unknown Instrument").bold);
        }
        EXPECT_TRUE(IsWindowEnabled(AppChild(IDC_COMMAND_LINE)));
    }
}

TEST_F(ConnectWin, LineFeedOnlyRepliesAreStoredWithTheirLineFeedOverCom)
{
    SimOk("set eol lf");
    AppStart();
    ASSERT_TRUE(Reconnect(0, SimComPort()));
    EXPECT_EQ(1, g_connection.modelCode);
    EXPECT_STREQ("Vendrel,RZT7680,12345,1.23\n", g_connection.idnText);
    EXPECT_STREQ("15_Mar_2020,Vendrel\n", g_connection.calibrationText);
    EXPECT_STREQ("10_06_2021\n", g_connection.calVersionText);
    EXPECT_STREQ("RZT7680,1234,56,78,90\n", g_connection.versionText);
    // Over LAN the reader ends the line at the LF.
    ASSERT_TRUE(Reconnect(1, SimLanAddress()));
    EXPECT_STREQ("Vendrel,RZT7680,12345,1.23", g_connection.idnText);
    EXPECT_STREQ("RZT7680,1234,56,78,90", g_connection.versionText);
}

// --- The dialog ----------------------------------------------------------------------------

TEST_F(ConnectWin, ControlsFollowTheChosenInterface)
{
    AppSeedSettings(IFACE_LAN, SimComPort(), 19200, "192.168.1.20");
    static const struct {
        int index;
        bool ip, port, baudEnabled;
        const char *label;
    } cases[] = {
        {0, false, true, false, "COM Port:"},  {1, true, false, false, "IP Address:"},
        {2, false, true, true, "COM Port:"},   {1, true, false, false, "IP Address:"},
        {0, false, true, false, "COM Port:"},
    };
    bool ran = false;
    StartWithDialog([&](HWND dlg) {
        ran = true;
        // As stored: LAN with its address, the COM and baud lists hidden.
        EXPECT_EQ("LAN", Selected(dlg, IDC_CONNECT_INTERFACE));
        EXPECT_EQ("192.168.1.20", IpText(dlg));
        EXPECT_TRUE(Shown(dlg, IDC_CONNECT_IP));
        EXPECT_TRUE(Shown(dlg, IDC_CONNECT_FIND));
        EXPECT_FALSE(Shown(dlg, IDC_CONNECT_PORT));
        EXPECT_FALSE(Shown(dlg, IDC_CONNECT_BAUD));
        EXPECT_FALSE(Shown(dlg, IDC_CONNECT_BAUD_LABEL));
        EXPECT_EQ("IP Address:", ItemText(dlg, IDC_CONNECT_PORT_LABEL));
        EXPECT_TRUE(Shown(dlg, IDC_CONNECT_TEST));
        EXPECT_TRUE(Shown(dlg, IDC_CONNECT_SAVE));
        EXPECT_EQ("19200", Selected(dlg, IDC_CONNECT_BAUD));
        EXPECT_EQ(SimComPort(), Selected(dlg, IDC_CONNECT_PORT));

        static const char *const lists[][6] = {{"USB", "LAN", "Serial"},
                                               {"1200", "2400", "4800", "9600", "19200", "38400"}};
        static const int counts[] = {3, 6};
        static const int ids[] = {IDC_CONNECT_INTERFACE, IDC_CONNECT_BAUD};
        for (int l = 0; l < 2; l++) {
            ASSERT_EQ(counts[l], (int)SendDlgItemMessageA(dlg, ids[l], CB_GETCOUNT, 0, 0));
            for (int i = 0; i < counts[l]; i++) {
                char text[32] = "";
                SendDlgItemMessageA(dlg, ids[l], CB_GETLBTEXT, i, (LPARAM)text);
                EXPECT_STREQ(lists[l][i], text);
            }
        }

        for (const auto &c : cases) {
            SCOPED_TRACE("interface index " + std::to_string(c.index));
            Pick(dlg, IDC_CONNECT_INTERFACE, c.index);
            EXPECT_EQ(c.ip, Shown(dlg, IDC_CONNECT_IP));
            EXPECT_EQ(c.ip, Shown(dlg, IDC_CONNECT_FIND));
            EXPECT_EQ(c.port, Shown(dlg, IDC_CONNECT_PORT));
            EXPECT_EQ(c.port, Shown(dlg, IDC_CONNECT_BAUD));
            EXPECT_EQ(c.port, Shown(dlg, IDC_CONNECT_BAUD_LABEL));
            if (c.port) {
                EXPECT_EQ(c.baudEnabled, Enabled(dlg, IDC_CONNECT_BAUD));
                EXPECT_EQ(c.baudEnabled, Enabled(dlg, IDC_CONNECT_BAUD_LABEL));
                EXPECT_TRUE(Enabled(dlg, IDC_CONNECT_PORT));
            }
            EXPECT_EQ(c.label, ItemText(dlg, IDC_CONNECT_PORT_LABEL));
            EXPECT_TRUE(Shown(dlg, IDC_CONNECT_TEST));
        }
        AppPress(dlg, IDCANCEL);
    });
    EXPECT_TRUE(ran);
    EXPECT_FALSE(g_connection.connected);
    EXPECT_EQ("", SimTranscript("serial"));
    EXPECT_EQ("", SimTranscript("lan"));
}

// USB always runs at 19200, whatever the list shows; Serial uses the chosen rate. The rate
// is checked on the open COM device itself.
TEST_F(ConnectWin, BaudRateIsForcedForUsbAndChosenForSerial)
{
    static const struct {
        int index;
        const char *chosen;
        DWORD rate;
        const char *baudLine;
    } cases[] = {
        {0, "9600", 19200, ""},
        {2, "2400", 2400, "  Baudrate:  2400\n"},
        {0, "1200", 19200, ""},
    };
    AppStart();
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.chosen) + " on interface index " + std::to_string(c.index));
        std::string box;
        AppExpect("Connect", [&](HWND dlg) {
            Pick(dlg, IDC_CONNECT_INTERFACE, c.index);
            PickText(dlg, IDC_CONNECT_PORT, SimComPort());
            PickText(dlg, IDC_CONNECT_BAUD, c.chosen);
            box = PressForBox(dlg, IDC_CONNECT_CONNECT);
        });
        SendMessageA(AppWindow(), WM_COMMAND, IDM_CONNECTION, 0);
        ASSERT_TRUE(AppPumpUntil([] { return g_connection.connected && g_connection.pollEnabled; }, 5000)) << box;
        EXPECT_EQ(c.rate, g_connection.baudRate);
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState((HANDLE)g_connection.portHandle, &dcb));
        EXPECT_EQ(c.rate, dcb.BaudRate);
        std::string panel = PanelText();
        std::string link = panel.substr(0, panel.find("\n\nInstrument Info."));
        EXPECT_EQ(std::string("Connection Info.\n\n  Interface:  ") + (c.index ? "Serial" : "USB") + "\n  Address:  " +
                      SimComPort() + "\n" + c.baudLine,
                  link);
    }
}

TEST_F(ConnectWin, MissingChoicesAreReportedAndKeepTheDialogOpen)
{
    AppSeedSettings(IFACE_NONE, "", 0, "");
    std::vector<std::string> texts;
    StartWithDialog([&](HWND dlg) {
        EXPECT_EQ("", Selected(dlg, IDC_CONNECT_INTERFACE));
        EXPECT_EQ("", Selected(dlg, IDC_CONNECT_PORT));
        EXPECT_EQ("", Selected(dlg, IDC_CONNECT_BAUD));
        EXPECT_EQ("", IpText(dlg));
        // No interface: Connect returns at once without a message.
        size_t boxes = g_seenBoxes.size();
        AppPress(dlg, IDC_CONNECT_CONNECT);
        AppPumpFor(50);
        EXPECT_EQ(boxes, g_seenBoxes.size());
        // Connect and Test validate alike.
        Pick(dlg, IDC_CONNECT_INTERFACE, 2);
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
        PickText(dlg, IDC_CONNECT_PORT, SimComPort());
        texts.push_back(PressForBox(dlg, IDC_CONNECT_TEST));
        Pick(dlg, IDC_CONNECT_INTERFACE, 1);
        texts.push_back(PressForBox(dlg, IDC_CONNECT_CONNECT));
        SetIp(dlg, "0.0.0.0");  // what a blank control reads as
        texts.push_back(PressForBox(dlg, IDC_CONNECT_TEST));
        EXPECT_TRUE(IsWindowVisible(dlg));
        AppPress(dlg, IDCANCEL);
    });
    static const char *const wanted[] = {
        "Please select a COM Port",
        "Please choose a baudrate",
        "Please enter an IP address",
        "Please enter an IP address",
    };
    ASSERT_EQ(sizeof wanted / sizeof *wanted, texts.size());
    for (size_t i = 0; i < texts.size(); i++) EXPECT_EQ(wanted[i], texts[i]) << "press " << i;
    for (const SeenBox &box : g_seenBoxes) EXPECT_EQ("Test Connection", box.caption) << box.text;
    EXPECT_FALSE(g_connection.connected);
    EXPECT_EQ("", SimTranscript("serial"));
    EXPECT_EQ("", SimTranscript("lan"));
}

// A stored port that no longer exists and a stored rate not in the list select nothing; the
// record keeps them, and Connect tries the stored port. An address that refuses the
// connection is named in its message too.
TEST_F(ConnectWin, StoredPortOrRateNotListedSelectsNothing)
{
    AppSeedSettings(IFACE_SERIAL, "COM77", 14400, "");
    std::string box, lanBox, port, baud;
    bool listed = false;
    StartWithDialog([&](HWND dlg) {
        port = Selected(dlg, IDC_CONNECT_PORT);
        baud = Selected(dlg, IDC_CONNECT_BAUD);
        listed = SendDlgItemMessageA(dlg, IDC_CONNECT_PORT, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)SimComPort()) != CB_ERR;
        EXPECT_TRUE(Enabled(dlg, IDC_CONNECT_BAUD));
        box = PressForBox(dlg, IDC_CONNECT_CONNECT);
        EXPECT_TRUE(IsWindowVisible(dlg));
        EXPECT_STREQ("COM77", g_connection.portName);
        EXPECT_EQ(14400u, g_connection.baudRate);
        SimOk("lan listen off");
        Pick(dlg, IDC_CONNECT_INTERFACE, 1);
        SetIp(dlg, SimLanAddress());
        lanBox = PressForBox(dlg, IDC_CONNECT_CONNECT);
        SimOk("lan listen on");
        EXPECT_TRUE(IsWindowVisible(dlg));
        AppPress(dlg, IDCANCEL);
    });
    EXPECT_EQ(std::string("Failed to connect to IP address ") + SimLanAddress(), lanBox);
    EXPECT_EQ("", port);
    EXPECT_EQ("", baud);
    EXPECT_TRUE(listed) << "the simulator's port is listed";
    EXPECT_EQ("Unable to open port COM77", box);
    EXPECT_FALSE(g_connection.connected);
    EXPECT_FALSE(g_connection.isOpen);
}

TEST_F(ConnectWin, SaveAsDefaultIsWhatTheNextStartShows)
{
    static const struct {
        int index;
        const char *baud, *ip;
        const char *iniInterface, *iniBaud;
    } cases[] = {
        {2, "9600", "10.1.2.3", "3", "9600"},
        {1, "2400", "192.168.1.20", "2", "2400"},
        {0, "4800", "", "1", "19200"},  // USB stores its fixed rate
    };
    std::string path = AppSettingsPath();
    for (const auto &c : cases) {
        SCOPED_TRACE("interface index " + std::to_string(c.index));
        StartWithDialog([&](HWND dlg) {
            Pick(dlg, IDC_CONNECT_INTERFACE, c.index);
            PickText(dlg, IDC_CONNECT_PORT, SimComPort());
            PickText(dlg, IDC_CONNECT_BAUD, c.baud);
            SetIp(dlg, c.ip);
            size_t boxes = g_seenBoxes.size();
            AppPress(dlg, IDC_CONNECT_SAVE);
            EXPECT_EQ(boxes, g_seenBoxes.size()) << "Save as Default shows nothing";
            AppPress(dlg, IDCANCEL);
        });
        static const char *const keys[] = {"Interface", "ComPort", "BaudRate", "IPAddr"};
        const char *wanted[] = {c.iniInterface, SimComPort(), c.iniBaud, c.ip};
        for (int k = 0; k < 4; k++) {
            char value[64] = "?";
            GetPrivateProfileStringA("Connect", keys[k], "(missing)", value, sizeof value, path.c_str());
            EXPECT_STREQ(wanted[k], value) << keys[k];
        }
        AppClose();
        WritePrivateProfileStringA(NULL, NULL, NULL, path.c_str());  // flush the profile cache

        StartWithDialog([&](HWND dlg) {
            EXPECT_EQ(c.index, (int)SendDlgItemMessageA(dlg, IDC_CONNECT_INTERFACE, CB_GETCURSEL, 0, 0));
            EXPECT_EQ(SimComPort(), Selected(dlg, IDC_CONNECT_PORT));
            EXPECT_EQ(c.iniBaud, Selected(dlg, IDC_CONNECT_BAUD));
            EXPECT_EQ(c.ip, IpText(dlg));
            EXPECT_EQ(c.index == 1, Shown(dlg, IDC_CONNECT_IP));
            EXPECT_EQ(c.index != 1, Shown(dlg, IDC_CONNECT_PORT));
            if (c.index != 1) {
                EXPECT_EQ(c.index == 2, Enabled(dlg, IDC_CONNECT_BAUD));
            }
            AppPress(dlg, IDCANCEL);
        });
        AppClose();
    }
}

TEST_F(ConnectWin, TestReportsTheInstrumentAndLeavesTheSystemDisconnected)
{
    std::string box;
    bool openAfterTest = true;
    StartWithDialog([&](HWND dlg) {
        PickText(dlg, IDC_CONNECT_PORT, SimComPort());
        box = PressForBox(dlg, IDC_CONNECT_TEST);
        openAfterTest = g_connection.isOpen != 0;
        EXPECT_TRUE(IsWindowVisible(dlg));
        AppPress(dlg, IDCANCEL);
    });
    EXPECT_EQ("The connection was successful\nVendrel,RZT7680,12345,1.23", box);
    EXPECT_FALSE(openAfterTest);
    ExpectTranscript("serial", kWakeCom + std::string(kIdn) + kQueries);
    EXPECT_FALSE(g_connection.connected);
    EXPECT_FALSE(g_connection.pollEnabled);
    EXPECT_FALSE(IsWindowEnabled(AppChild(IDC_COMMAND_LINE)));
    EXPECT_EQ("No connection", PanelText());
    EXPECT_EQ("Quillon2 v1_3", Title());
    EXPECT_EQ((UINT)MF_GRAYED, GetMenuState(GetMenu(AppWindow()), IDM_UPGRADE_FIRMWARE, MF_BYCOMMAND) & MF_GRAYED);
    // Typing goes nowhere: the link is closed.
    SimOk("transcript clear");
    SendMessageA(AppWindow(), WM_COMMAND, IDC_SEND, 0);
    AppPumpFor(50);
    EXPECT_EQ("", SimTranscript("serial"));
}

// --- The information panel ------------------------------------------------------------------

std::string MonthAbbrev(int month)
{
    static const char *const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return names[(month - 1) % 12];
}

TEST_F(ConnectWin, PanelShowsWhatTheInstrumentReported)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string recentYear = std::to_string(now.wYear), recentMonth = MonthAbbrev(now.wMonth);
    std::string recent = "02_" + recentMonth + "_" + recentYear;
    const std::string head = "Connection Info.\n\n  Interface:  USB\n  Address:  " + std::string(SimComPort()) +
                             "\n\n\nInstrument Info. \n\n";
    const std::string warning = "  >18 months since VDL Calibration  \n";
    const struct {
        std::string idn, version, calstr, calver;
        std::string body;
        bool warns;
    } cases[] = {
        // A local-calibration model with a recent maker calibration: both dates, no warning.
        {"Vendrel,RZT26,SN42,1", "RZT26,T7,2001,3,4,5", recent + ",Vendrel", "01_07_2023",
         "  Model:  RZT26\n  Serial No:  SN42\n  Type:  T7\n  Main release:  2001\n  FPGA release:  3\n"
         "  DSP release:  4\n  BOOT release:  5\n\n  Last local calibration:  \n    01 07 2023\n\n"
         "  Last VDL calibration:  \n    02 " + recentMonth + " " + recentYear + "\n\n",
         false},
        // The same model calibrated long ago: the warning follows the date.
        {"Vendrel,RZT7680,12345,1.23", "RZT7680,1234,56,78,90", "15_Mar_2020,Vendrel", "10_06_2021",
         "  Model:  RZT7680\n  Serial No:  12345\n  Type:  1234\n  Main release:  56\n  FPGA release:  78\n"
         "  DSP release:  90\n  BOOT release:  Unknown\n\n  Last local calibration:  \n    10 06 2021\n\n"
         "  Last VDL calibration:  \n    15 Mar 2020\n\n" + warning,
         true},
    };
    AppStart();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn + " / " + c.calstr);
        SimOk("set idn " + c.idn);
        SimOk("set version " + c.version);
        SimOk("set calstr " + c.calstr);
        SimOk("set calver " + c.calver);
        ASSERT_TRUE(Reconnect(0, SimComPort()));
        std::string panel = PanelText();
        EXPECT_EQ(head + c.body, panel) << Diff(panel, head + c.body);

        RunFormat title = PanelFormatOf("Connection Info."), info = PanelFormatOf("Instrument Info.");
        RunFormat model = PanelFormatOf("  Model:"), link = PanelFormatOf("  Interface:");
        EXPECT_TRUE(title.bold && info.bold);
        EXPECT_EQ(CLR_INVALID, title.color);
        EXPECT_FALSE(model.bold || link.bold);
        EXPECT_EQ(CLR_INVALID, model.color);
        RunFormat warn = PanelFormatOf(">18 months");
        EXPECT_EQ(c.warns, warn.found);
        if (warn.found) {
            EXPECT_TRUE(warn.bold);
            EXPECT_EQ(RGB(255, 40, 40), warn.color);
        }
    }
    SendMessageA(AppWindow(), WM_COMMAND, IDM_DISCONNECT, 0);
    EXPECT_EQ("No connection", PanelText());
    RunFormat none = PanelFormatOf("No connection");
    EXPECT_FALSE(none.bold);
    EXPECT_EQ(CLR_INVALID, none.color);
}

}  // namespace

