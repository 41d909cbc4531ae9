// The LAN search end to end: the broadcast queries, the chooser dialog and the find button's
// handler, against simulated instruments in their own network namespaces. Runs only inside
// the namespaces that lan_find_netns.sh builds; anywhere else every test is skipped.
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/lan_probe_win.h"
#include "link/lan_find.h"
#include "link/link.h"
#include "res/resource.h"
#include "simctl.h"

namespace {

const char IDN[] = "Vendrel,RZT7680,12345,1.23";  // the simulator's default "*IDN?" answer

std::string Env(const char *name)
{
    const char *v = getenv(name);
    return v ? v : "";
}

// The addresses in a comma-separated list: QLANFIND_SIMS names the instruments on the first
// subnet (their control channels listen on the same address at QLANFIND_CONTROL_PORT),
// QLANFIND_MANY the further addresses the third one can answer from. QLANFIND_SUBNET2 is the
// one instrument on the second subnet, behind the application's other interface.
std::vector<std::string> Addresses(const char *variable)
{
    std::vector<std::string> out;
    std::string all = Env(variable);
    size_t start = 0;
    while (start < all.size()) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        out.push_back(all.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

std::string SimAt(const std::string &address, const std::string &command)
{
    std::string control = "QSIM_CONTROL=" + address + ":" + Env("QLANFIND_CONTROL_PORT");
    _putenv(control.c_str());
    return SimOk(command);
}

// The broadcasts may only leave from the application's namespace. There a simulator on
// 127.0.0.1 answers "*IDN?" with a token made for this run; reading that token over a socket
// of this process proves that our sockets live in that namespace. (Binding to the namespace's
// own address proves nothing: Wine's bind succeeds for foreign addresses too.)
bool InsideTestNamespace()
{
    std::string token = Env("QLANFIND_TOKEN");
    WSADATA data;
    if (token.empty() || WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = inet_addr("127.0.0.1");
    peer.sin_port = htons((u_short)atoi(Env("QLANFIND_TOKEN_PORT").c_str()));
    std::string line;
    if (s != INVALID_SOCKET && connect(s, (sockaddr *)&peer, sizeof peer) == 0) {
        DWORD timeout = 3000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&timeout, sizeof timeout);
        send(s, "*IDN?\n", 6, 0);
        char c;
        while (line.size() < 200 && recv(s, &c, 1, 0) == 1 && c != '\n') {
            if (c != '\r') line += c;
        }
    }
    if (s != INVALID_SOCKET) closesocket(s);
    WSACleanup();
    return line == token;
}

// The chooser loads its dialog from the program's own module: this exe, which carries the
// product's resources; null when it does not.
HMODULE ProductResources()
{
    HMODULE self = GetModuleHandleA(NULL);
    return FindResourceA(self, MAKEINTRESOURCEA(IDD_CHOOSE_INSTRUMENT), (LPCSTR)RT_DIALOG) ? self : NULL;
}

// --- Driving the modal windows from a thread timer ----------------------------------------

struct Row {
    std::string ip, instrument;
    int index;
};

// What the timer saw of the chooser or the message box when it acted.
struct Seen {
    bool shown = false;
    std::string caption, text;
    std::vector<Row> rows;
    int selected = -1;
    bool okEnabled = false;
    bool stillOpenAfterEarlyOk = false;
};

Seen g_seen;
std::function<void(HWND dlg, HWND view)> g_action;

std::string WindowText(HWND w)
{
    char buf[512] = "";
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

std::string ItemText(HWND view, int row, int column)
{
    char buf[256] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = sizeof buf;
    SendMessageA(view, LVM_GETITEMTEXTA, row, (LPARAM)&item);
    return buf;
}

void ReadChooser(HWND dlg, HWND view)
{
    int count = (int)SendMessageA(view, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = i;
        SendMessageA(view, LVM_GETITEMA, 0, (LPARAM)&item);
        g_seen.rows.push_back({ItemText(view, i, 0), ItemText(view, i, 1), (int)item.lParam});
    }
    g_seen.selected = (int)SendMessageA(view, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    g_seen.okEnabled = IsWindowEnabled(GetDlgItem(dlg, IDOK)) != 0;
}

BOOL CALLBACK FindDialog(HWND w, LPARAM out)
{
    char cls[32] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, "#32770") != 0 || !IsWindowVisible(w)) return TRUE;
    *(HWND *)out = w;
    return FALSE;
}

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dlg = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, (LPARAM)&dlg);
    if (!dlg || !g_action) return;
    std::function<void(HWND, HWND)> action = g_action;
    g_action = nullptr;  // once only, even if the action pumps messages
    g_seen.shown = true;
    g_seen.caption = WindowText(dlg);
    g_seen.text = WindowText(GetDlgItem(dlg, 0xFFFF));  // a message box's text
    HWND view = GetDlgItem(dlg, IDC_CHOOSE_LIST);
    if (view) ReadChooser(dlg, view);
    action(dlg, view);
}

// Runs body with action queued for the first dialog it shows.
void WithDialog(std::function<void(HWND, HWND)> action, const std::function<void()> &body)
{
    g_seen = Seen();
    g_action = std::move(action);
    UINT_PTR timer = SetTimer(NULL, 0, 50, OnTimer);
    body();
    KillTimer(NULL, timer);
    g_action = nullptr;
}

void Press(HWND dlg, int id)
{
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dlg, id));
}

void SelectRow(HWND view, int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(view, LVM_SETITEMSTATE, row, (LPARAM)&item);
}

int RowOf(const std::string &ip)
{
    for (size_t i = 0; i < g_seen.rows.size(); i++) {
        if (g_seen.rows[i].ip == ip) return (int)i;
    }
    return -1;
}

std::string Describe(const std::vector<Row> &rows)
{
    std::string out;
    for (const Row &r : rows) out += "[" + r.ip + " | " + r.instrument + " | " + std::to_string(r.index) + "] ";
    return out;
}

std::string Describe(const FoundInstrument *list)
{
    std::string out;
    for (int i = 0; i < LAN_FIND_MAX && list[i].ipText[0]; i++) out += std::string(list[i].ipText) + " ";
    return out.empty() ? "(none)" : out;
}

long StatsValue(const std::string &stats, const std::string &key)
{
    size_t at = stats.find(" " + key + "=");
    return at == std::string::npos ? -1 : atol(stats.c_str() + at + key.size() + 2);
}

// --- Tests ------------------------------------------------------------------------------

class LanFind : public ::testing::Test {
protected:
    std::vector<std::string> sims;
    std::string subnet2;
    FoundInstrument list[LAN_FIND_MAX];
    char address[16];

    void SetUp() override
    {
        if (Env("QLANFIND_TOKEN").empty()) GTEST_SKIP() << "broadcasts: runs only inside lan_find_netns.sh";
        ASSERT_TRUE(InsideTestNamespace()) << "not inside the test namespace: refusing to broadcast";
        sims = Addresses("QLANFIND_SIMS");
        ASSERT_EQ(3u, sims.size()) << Env("QLANFIND_SIMS");
        subnet2 = Env("QLANFIND_SUBNET2");
        for (const std::string &sim : sims) SimAt(sim, "reset");
        if (!subnet2.empty()) SimAt(subnet2, "reset");  // none while its interface is down
        ASSERT_TRUE(ProductResources() != NULL) << "no dialog resources";
        memset(list, 0, sizeof list);
        strcpy(address, "1.2.3.4");
    }
    void TearDown() override
    {
        EXPECT_EQ(5000u, lanReplyTimeoutMs);
        EXPECT_FALSE(winsockStarted);
    }

    int Find() { return FindLanInstruments(list); }
    bool FindAndChoose(std::function<void(HWND, HWND)> action)
    {
        bool chosen = false;
        WithDialog(std::move(action), [&] { chosen = FindAndChooseInstrument(NULL, address, sizeof address); });
        return chosen;
    }
};

TEST_F(LanFind, OneInstrumentIsListedOnceSelectedAndOkCopiesItsAddress)
{
    SimAt(sims[0], "udp 30718");
    long before = StatsValue(SimAt(sims[0], "stats"), "udp30718");
    DWORD start = GetTickCount();
    ASSERT_EQ(1, Find()) << Describe(list);
    DWORD took = GetTickCount() - start;
    printf("LAN search, both queries: %lu ms\n", (unsigned long)took);
    EXPECT_EQ(sims[0], list[0].ipText);
    // Its LAN is on two of our interfaces: each sends to 255.255.255.255 and to the subnet's
    // broadcast once per pass, and the four answers of a pass make one entry.
    EXPECT_EQ(3 * 2 * 2, StatsValue(SimAt(sims[0], "stats"), "udp30718") - before);
    EXPECT_GE(took, 1700u);  // 2 queries x 3 passes x 300 ms
    EXPECT_LT(took, 4000u);

    start = GetTickCount();
    bool chosen = FindAndChoose([](HWND dlg, HWND) { Press(dlg, IDOK); });
    printf("search, probing of one instrument and choice: %lu ms\n", (unsigned long)(GetTickCount() - start));
    EXPECT_EQ("Please Choose Instrument", g_seen.caption);
    ASSERT_EQ(1u, g_seen.rows.size()) << Describe(g_seen.rows);
    EXPECT_EQ(sims[0], g_seen.rows[0].ip);
    EXPECT_EQ(IDN, g_seen.rows[0].instrument);
    EXPECT_EQ(0, g_seen.selected);
    EXPECT_TRUE(g_seen.okEnabled);
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(sims[0].c_str(), address);
}

// Windows sends a limited broadcast out of one interface only: the search goes out on each,
// side by side, and takes no longer than with one.
TEST_F(LanFind, InstrumentsOnBothSubnetsAreFoundInTheTimeOfOne)
{
    ASSERT_FALSE(subnet2.empty());
    SimAt(sims[0], "udp both");
    SimAt(subnet2, "udp both");
    DWORD start = GetTickCount();
    ASSERT_EQ(4, Find()) << Describe(list);
    DWORD took = GetTickCount() - start;
    printf("LAN search of two subnets, both queries: %lu ms\n", (unsigned long)took);
    std::set<std::string> both = {sims[0], subnet2};
    EXPECT_EQ(both, (std::set<std::string>{list[0].ipText, list[1].ipText})) << "port-65535 part";
    EXPECT_EQ(both, (std::set<std::string>{list[2].ipText, list[3].ipText})) << "port-30718 part";
    EXPECT_LT(took, 2500u);
}

TEST_F(LanFind, SixteenRespondersAreAllListed)
{
    std::vector<std::string> many = Addresses("QLANFIND_MANY");
    ASSERT_EQ(16u, many.size());
    std::string from = "udp from";
    for (const std::string &responder : many) from += " " + responder;
    SimAt(sims[2], "udp 30718");
    SimAt(sims[2], from);
    EXPECT_EQ(16, Find()) << Describe(list);
    std::set<std::string> found;
    for (int i = 0; i < LAN_FIND_MAX && list[i].ipText[0]; i++) found.insert(list[i].ipText);
    EXPECT_EQ(std::set<std::string>(many.begin(), many.end()), found);
}

// The search's probe closes its own record: the main link, left open by a Connect that got no
// answer, must still reach its instrument afterwards.
TEST_F(LanFind, SearchLeavesAnOpenMainLinkWorking)
{
    SimAt(sims[0], "udp 30718");
    InitConnectionRecord(&g_connection);
    g_connection.interfaceKind = IFACE_LAN;
    strcpy(g_connection.ipAddress, sims[0].c_str());
    // The control channel's own start of Windows Sockets would keep the count above zero: give
    // it back while only the product's records use sockets.
    WSACleanup();
    ASSERT_EQ(0, OpenLink(&g_connection));
    bool chosen = FindAndChoose([](HWND dlg, HWND) { Press(dlg, IDOK); });
    char reply[128] = "";
    int sent = SendLine("*IDN?\n", &g_connection);
    int got = ReceiveLine(reply, sizeof reply, &g_connection);
    CloseLink(&g_connection);
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(sims[0].c_str(), address);
    EXPECT_EQ(0, sent);
    EXPECT_EQ((int)strlen(IDN), got);
    EXPECT_STREQ(IDN, reply);
}

TEST_F(LanFind, AnInstrumentAnsweringBothQueriesGivesTwoRows)
{
    SimAt(sims[1], "udp both");
    ASSERT_EQ(2, Find()) << Describe(list);
    EXPECT_EQ(sims[1], list[0].ipText);
    EXPECT_EQ(sims[1], list[1].ipText);

    bool chosen = FindAndChoose([](HWND dlg, HWND view) {
        Press(dlg, IDOK);  // OK is still disabled: nothing happens
        g_seen.stillOpenAfterEarlyOk = IsWindowVisible(dlg) != 0;
        SelectRow(view, 1);
        g_seen.okEnabled = IsWindowEnabled(GetDlgItem(dlg, IDOK)) != 0;
        Press(dlg, IDOK);
    });
    ASSERT_EQ(2u, g_seen.rows.size()) << Describe(g_seen.rows);
    EXPECT_EQ(-1, g_seen.selected) << "no preselection with two rows";
    EXPECT_TRUE(g_seen.stillOpenAfterEarlyOk);
    EXPECT_TRUE(g_seen.okEnabled) << "selecting a row enables OK";
    for (const Row &r : g_seen.rows) {
        EXPECT_EQ(sims[1], r.ip);
        EXPECT_EQ(IDN, r.instrument);
    }
    EXPECT_EQ(0, g_seen.rows[0].index);
    EXPECT_EQ(1, g_seen.rows[1].index);
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(sims[1].c_str(), address);
}

TEST_F(LanFind, DoubleClickOnARowActsAsOk)
{
    SimAt(sims[0], "udp 65535");
    SimAt(sims[2], "udp 30718");
    bool chosen = FindAndChoose([](HWND dlg, HWND view) {
        NMITEMACTIVATE nm = {};
        nm.hdr.hwndFrom = view;
        nm.hdr.idFrom = IDC_CHOOSE_LIST;
        nm.hdr.code = NM_DBLCLK;
        SelectRow(view, 1);  // the first click of a double click selects the row
        nm.iItem = -1;       // below the last row
        SendMessageA(dlg, WM_NOTIFY, IDC_CHOOSE_LIST, (LPARAM)&nm);
        g_seen.stillOpenAfterEarlyOk = IsWindowVisible(dlg) != 0;
        nm.iItem = 1;
        SendMessageA(dlg, WM_NOTIFY, IDC_CHOOSE_LIST, (LPARAM)&nm);
    });
    EXPECT_TRUE(g_seen.stillOpenAfterEarlyOk) << "a double click beside the rows is no OK";
    ASSERT_EQ(2u, g_seen.rows.size()) << Describe(g_seen.rows);
    EXPECT_EQ(sims[0], g_seen.rows[0].ip) << "the port-65535 part comes first";
    EXPECT_EQ(sims[2], g_seen.rows[1].ip);
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(sims[2].c_str(), address);
}

TEST_F(LanFind, AnswersThatFailTheReplyTestsAreIgnored)
{
    SimAt(sims[0], "udp 65535");
    SimAt(sims[0], "udp port-text 10002");
    SimAt(sims[1], "udp 30718");
    SimAt(sims[1], "udp len 31");
    SimAt(sims[2], "udp 65535");  // the one valid answer, so that the search is seen working
    ASSERT_EQ(1, Find()) << Describe(list);
    EXPECT_EQ(sims[2], list[0].ipText);
}

TEST_F(LanFind, DatagramsLongerThan1024BytesAreSkipped)
{
    // "AVendrel-LAN RZT7680 SN12345/" (29) + port text + "/tcp" (4).
    std::string fits = "10001/" + std::string(1024 - 29 - 4 - 6, 'x');
    SimAt(sims[0], "udp 65535");
    SimAt(sims[0], "udp port-text " + fits);
    SimAt(sims[1], "udp 65535");
    SimAt(sims[1], "udp port-text " + fits + "x");
    ASSERT_EQ(1, Find()) << Describe(list);
    EXPECT_EQ(sims[0], list[0].ipText) << "a 1024-byte answer is taken, a 1025-byte one is not";
}

TEST_F(LanFind, FailedProbesStillGiveRowsThatCanBeChosen)
{
    for (const std::string &sim : sims) SimAt(sim, "udp 30718");
    SimAt(sims[0], "lan listen off");
    SimAt(sims[1], "silence on");
    SimAt(sims[2], "set idn NoCommaHere");
    DWORD start = GetTickCount();
    bool chosen = FindAndChoose([&](HWND dlg, HWND view) {
        int silent = RowOf(sims[1]);
        if (silent >= 0) SelectRow(view, silent);
        Press(dlg, IDOK);
    });
    printf("search and probing of three failing instruments: %lu ms\n", (unsigned long)(GetTickCount() - start));
    ASSERT_EQ(3u, g_seen.rows.size()) << Describe(g_seen.rows);
    std::map<std::string, std::string> byIp;
    for (const Row &r : g_seen.rows) byIp[r.ip] = r.instrument;
    EXPECT_EQ("Connection Failed 1", byIp[sims[0]]) << "refused";
    EXPECT_EQ("Connection Failed 2", byIp[sims[1]]) << "silent";
    EXPECT_EQ("Connection Failed 3", byIp[sims[2]]) << "no comma";
    EXPECT_EQ(-1, g_seen.selected);
    EXPECT_TRUE(chosen);
    EXPECT_STREQ(sims[1].c_str(), address);
}

TEST_F(LanFind, CancelLeavesTheAddressUnchanged)
{
    SimAt(sims[0], "udp 30718");
    bool chosen = FindAndChoose([](HWND dlg, HWND) { Press(dlg, IDCANCEL); });
    EXPECT_EQ(1u, g_seen.rows.size()) << Describe(g_seen.rows);
    EXPECT_FALSE(chosen);
    EXPECT_STREQ("1.2.3.4", address);
}

TEST_F(LanFind, NoResponderShowsTheMessageAndLeavesTheAddress)
{
    DWORD start = GetTickCount();
    EXPECT_EQ(0, Find()) << Describe(list);
    printf("LAN search without responders: %lu ms\n", (unsigned long)(GetTickCount() - start));
    bool chosen = FindAndChoose([](HWND dlg, HWND) { Press(dlg, IDOK); });
    EXPECT_TRUE(g_seen.shown);
    EXPECT_EQ("LAN Find Instrument", g_seen.caption);
    EXPECT_EQ("No Instruments found on this subnet", g_seen.text);
    EXPECT_FALSE(chosen);
    EXPECT_STREQ("1.2.3.4", address);
}

}  // namespace
