// The Connect dialog (resource 121): interface, COM port and baud rate or IP address; Test,
// Save as Default, Connect, and the LAN search button. It works on g_connection directly, so
// values chosen here stay in force until the program ends. UI thread only.
#include "app/connect_dlg_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/connect_dlg.h"
#include "app/connection.h"
#include "app/dpi_win.h"
#include "app/lan_probe_win.h"
#include "app/settings_win.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/connect.h"
#include "link/link.h"
#include "link/link_settings.h"
#include "res/resource.h"

enum { LIST_USB = 0, LIST_LAN = 1, LIST_SERIAL = 2, COM_PROBE_LAST = 254 };

static void ShowItem(HWND dlg, int id, bool show) { ShowWindow(GetDlgItem(dlg, id), show ? SW_SHOW : SW_HIDE); }

static int ComboSelection(HWND dlg, int id) { return (int)SendDlgItemMessageA(dlg, id, CB_GETCURSEL, 0, 0); }

static void SelectExact(HWND dlg, int id, const char *text)
{
    LRESULT index = SendDlgItemMessageA(dlg, id, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)text);
    if (index != CB_ERR) SendDlgItemMessageA(dlg, id, CB_SETCURSEL, (WPARAM)index, 0);
}

// Lists every COM port that exists, busy ones included: an open that fails for a port held
// by another program fails with access denied, sharing violation or a general failure.
static void FillComPorts(HWND dlg)
{
    for (int n = 1; n <= COM_PROBE_LAST; n++) {
        char path[32];
        snprintf(path, sizeof path, "\\\\.\\COM%d", n);
        HANDLE port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        bool exists = port != INVALID_HANDLE_VALUE;
        if (exists) {
            CloseHandle(port);
        } else {
            DWORD error = GetLastError();
            exists = error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE || error == ERROR_SHARING_VIOLATION;
        }
        if (exists) SendDlgItemMessageA(dlg, IDC_CONNECT_PORT, CB_ADDSTRING, 0, (LPARAM)(path + 4));
    }
}

static void ApplyInterfaceChange(HWND dlg)
{
    int index = ComboSelection(dlg, IDC_CONNECT_INTERFACE);
    bool lan = index == LIST_LAN;
    ShowItem(dlg, IDC_CONNECT_IP, lan);
    ShowItem(dlg, IDC_CONNECT_FIND, lan);
    ShowItem(dlg, IDC_CONNECT_PORT, !lan);
    ShowItem(dlg, IDC_CONNECT_BAUD, !lan);
    ShowItem(dlg, IDC_CONNECT_BAUD_LABEL, !lan);
    if (!lan) {
        // USB instruments always run at 19200: only Serial offers a choice.
        EnableWindow(GetDlgItem(dlg, IDC_CONNECT_BAUD), index == LIST_SERIAL);
        EnableWindow(GetDlgItem(dlg, IDC_CONNECT_BAUD_LABEL), index == LIST_SERIAL);
    }
    SetDlgItemTextA(dlg, IDC_CONNECT_PORT_LABEL, LinkTextTable[lan ? 18 : 17]);
}

static void SetIpControl(HWND dlg, const char *text)
{
    unsigned p[4];
    if (LinkParseIpv4(text, p))
        SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(p[0], p[1], p[2], p[3]));
    else
        SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_CLEARADDRESS, 0, 0);
}

static void InitConnectDialog(HWND dlg)
{
    for (int i = 2; i <= 4; i++) SendDlgItemMessageA(dlg, IDC_CONNECT_INTERFACE, CB_ADDSTRING, 0, (LPARAM)LinkTextTable[i]);
    FillComPorts(dlg);
    for (int i = LINK_BAUD_TEXT_FIRST; i <= LINK_BAUD_TEXT_LAST; i++)
        SendDlgItemMessageA(dlg, IDC_CONNECT_BAUD, CB_ADDSTRING, 0, (LPARAM)LinkTextTable[i]);
    if (g_connection.interfaceKind > 0) {
        SendDlgItemMessageA(dlg, IDC_CONNECT_INTERFACE, CB_SETCURSEL, (WPARAM)(g_connection.interfaceKind - 1), 0);
        ApplyInterfaceChange(dlg);
    }
    if (g_connection.portName[0]) SelectExact(dlg, IDC_CONNECT_PORT, g_connection.portName);
    if (g_connection.baudRate != 0) {
        char rate[16];
        snprintf(rate, sizeof rate, "%d", (int)g_connection.baudRate);
        SelectExact(dlg, IDC_CONNECT_BAUD, rate);
    }
    SetIpControl(dlg, g_connection.ipAddress);
    // The button grows with the dialog's font at higher DPIs; the icon is made to match.
    int side = DpiScale(16, WindowDpi(dlg));
    HANDLE icon = LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_FIND), IMAGE_ICON, side, side, 0);
    SendDlgItemMessageA(dlg, IDC_CONNECT_FIND, BM_SETIMAGE, IMAGE_ICON, (LPARAM)icon);
    ShowItem(dlg, IDC_CONNECT_TEST, true);
}

static void ReadDialogIntoRecord(HWND dlg)
{
    int index = ComboSelection(dlg, IDC_CONNECT_INTERFACE);
    if (index != CB_ERR) g_connection.interfaceKind = index + 1;
    char text[128];
    int port = ComboSelection(dlg, IDC_CONNECT_PORT);
    if (port != CB_ERR && SendDlgItemMessageA(dlg, IDC_CONNECT_PORT, CB_GETLBTEXTLEN, port, 0) < (LRESULT)sizeof text) {
        SendDlgItemMessageA(dlg, IDC_CONNECT_PORT, CB_GETLBTEXT, port, (LPARAM)text);
        TextCopy(g_connection.portName, sizeof g_connection.portName, text);
    }
    int rate = ComboSelection(dlg, IDC_CONNECT_BAUD);
    if (rate != CB_ERR) {
        SendDlgItemMessageA(dlg, IDC_CONNECT_BAUD, CB_GETLBTEXT, rate, (LPARAM)text);
        g_connection.baudRate = (uint32_t)TextToInt(text);
    }
    g_connection.baudRate = LinkBaudRate(g_connection.interfaceKind, g_connection.baudRate);
    // The control's text form; a blank control reads as 0.0.0.0, which counts as no address.
    DWORD address = 0;
    SendDlgItemMessageA(dlg, IDC_CONNECT_IP, IPM_GETADDRESS, 0, (LPARAM)&address);
    snprintf(text, sizeof text, "%d.%d.%d.%d", (int)FIRST_IPADDRESS(address), (int)SECOND_IPADDRESS(address),
             (int)THIRD_IPADDRESS(address), (int)FOURTH_IPADDRESS(address));
    if (strcmp(text, "0.0.0.0") == 0) text[0] = '\0';
    TextCopy(g_connection.ipAddress, LINK_IPV4_TEXT_SIZE, text);
}

static bool ValidateSettings(HWND dlg)
{
    const char *problem = ConnectSettingsProblem(&g_connection);
    if (!problem) return true;
    MessageBoxA(dlg, problem, LinkTextTable[22], MB_OK | MB_ICONINFORMATION);
    return false;
}

static void OnConnect(HWND dlg)
{
    ConnectionForget(&g_connection);
    ReadDialogIntoRecord(dlg);
    if (g_connection.interfaceKind != 0 && !ValidateSettings(dlg)) return;
    g_connection.connected = ConnectAndIdentify(dlg, &g_connection, true) ? 1 : 0;
    if (g_connection.connected) EndDialog(dlg, IDC_CONNECT_CONNECT);
}

static void OnTest(HWND dlg)
{
    ReadDialogIntoRecord(dlg);
    if (!ValidateSettings(dlg)) return;
    ConnectAndIdentify(dlg, &g_connection, true);
    CloseLink(&g_connection);
}

static void OnFind(HWND dlg)
{
    char address[LINK_IPV4_TEXT_SIZE];
    if (FindAndChooseInstrument(dlg, address, sizeof address)) SetIpControl(dlg, address);
}

static INT_PTR CALLBACK ConnectDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        InitConnectDialog(dlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CONNECT_INTERFACE:
            if (HIWORD(wParam) == CBN_SELENDOK) ApplyInterfaceChange(dlg);
            return TRUE;
        case IDC_CONNECT_CONNECT: OnConnect(dlg); return TRUE;
        case IDC_CONNECT_TEST: OnTest(dlg); return TRUE;
        case IDC_CONNECT_SAVE:
            ReadDialogIntoRecord(dlg);
            SaveConnectSettings();
            return TRUE;
        case IDC_CONNECT_FIND: OnFind(dlg); return TRUE;
        case IDCANCEL: EndDialog(dlg, IDCANCEL); return TRUE;
        }
        break;
    }
    return FALSE;
}

bool RunConnectDialog(HWND owner)
{
    DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CONNECT), owner, ConnectDlgProc, 0);
    return g_connection.connected != 0;
}
