// The LAN search behind the Connect dialog's find button, and the "Please Choose Instrument"
// dialog that shows what the probe of every responder (lan_probe.cpp) found before the user
// picks one. UI thread only; the probing runs while the dialog initialises, under the wait
// cursor.
#include "app/lan_probe_win.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "app/lan_probe.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "res/resource.h"

enum { ROW_TEXT_SIZE = 16 + 1 + LAN_PROBE_REPLY_SIZE };  // "%s\t%s": address, TAB, reply

static void AddChooserColumn(HWND view, int column, const char *title, int width)
{
    LVCOLUMNA col;
    memset(&col, 0, sizeof col);
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    col.pszText = (char *)title;
    col.cx = width;
    col.iSubItem = column;
    SendMessageA(view, LVM_INSERTCOLUMNA, column, (LPARAM)&col);
}

// Adds one row from its "%s\t%s" text; the row carries the index of its list entry.
static void AddChooserRow(HWND view, char *rowText, int index)
{
    char *tab = strchr(rowText, '\t');
    if (tab) *tab = '\0';
    LVITEMA item;
    memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = (int)SendMessageA(view, LVM_GETITEMCOUNT, 0, 0);
    item.pszText = rowText;
    item.lParam = index;
    int row = (int)SendMessageA(view, LVM_INSERTITEMA, 0, (LPARAM)&item);
    if (row < 0 || !tab) return;
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = 1;
    item.pszText = tab + 1;
    SendMessageA(view, LVM_SETITEMTEXTA, row, (LPARAM)&item);
}

// One probed entry's row: the list view and the list it shows, for LanProbeAll.
struct ChooserRows {
    HWND view;
    const FoundInstrument *list;
};

static void AddProbedRow(void *context, int index, const char *note)
{
    const ChooserRows *rows = (const ChooserRows *)context;
    char row[ROW_TEXT_SIZE];
    snprintf(row, sizeof row, "%s\t%s", rows->list[index].ipText, note);
    AddChooserRow(rows->view, row, index);
}

static void InitChooser(HWND dlg, FoundInstrument *list)
{
    HWND view = GetDlgItem(dlg, IDC_CHOOSE_LIST);
    SendMessageA(view, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    RECT client;
    GetClientRect(view, &client);
    int width = client.right - client.left;
    AddChooserColumn(view, 0, LinkTextTable[32], width * 30 / 100);
    AddChooserColumn(view, 1, LinkTextTable[33], width * 70 / 100);
    EnableWindow(GetDlgItem(dlg, IDOK), FALSE);
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    ChooserRows rows = {view, list};
    LanProbeAll(list, AddProbedRow, &rows);
    if (SendMessageA(view, LVM_GETITEMCOUNT, 0, 0) == 1) {
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(view, LVM_SETITEMSTATE, 0, (LPARAM)&item);
    }
    SetCursor(previous);
}

// Ends the dialog with the entry index of the selected row, or -1 when none is selected.
static void EndChooser(HWND dlg)
{
    HWND view = GetDlgItem(dlg, IDC_CHOOSE_LIST);
    int row = (int)SendMessageA(view, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
    int index = -1;
    if (row >= 0) {
        LVITEMA item;
        memset(&item, 0, sizeof item);
        item.mask = LVIF_PARAM;
        item.iItem = row;
        if (SendMessageA(view, LVM_GETITEMA, 0, (LPARAM)&item)) index = (int)item.lParam;
    }
    EndDialog(dlg, index);
}

static void OnChooserNotify(HWND dlg, const NMHDR *hdr)
{
    if (hdr->idFrom != IDC_CHOOSE_LIST) return;
    if (hdr->code == LVN_ITEMCHANGED) {
        if (((const NMLISTVIEW *)hdr)->uChanged & LVIF_STATE) EnableWindow(GetDlgItem(dlg, IDOK), TRUE);
    } else if (hdr->code == NM_DBLCLK) {
        if (((const NMITEMACTIVATE *)hdr)->iItem >= 0) EndChooser(dlg);
    }
}

static INT_PTR CALLBACK ChooserDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_INITDIALOG:
        InitChooser(dlg, (FoundInstrument *)lParam);
        return TRUE;
    case WM_NOTIFY:
        OnChooserNotify(dlg, (const NMHDR *)lParam);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            // Enter reaches here even while OK is still disabled.
            if (IsWindowEnabled(GetDlgItem(dlg, IDOK))) EndChooser(dlg);
            return TRUE;
        case IDCANCEL:
            EndDialog(dlg, -1);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

// The chooser over owner (null in tests): the chosen entry's index, or -1 on Cancel.
static int ChooseInstrument(HWND owner, FoundInstrument *list)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_CHOOSE_INSTRUMENT), owner,
                                     ChooserDlgProc, (LPARAM)list);
    return result < 0 || result >= LAN_FIND_MAX ? -1 : (int)result;
}

bool FindAndChooseInstrument(HWND owner, char *address, size_t cap)
{
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    FoundInstrument list[LAN_FIND_MAX];
    memset(list, 0, sizeof list);
    bool chosen = false;
    if (FindLanInstruments(list) <= 0) {
        MessageBoxA(owner, LinkTextTable[30], LinkTextTable[31], MB_OK | MB_ICONINFORMATION);
    } else {
        int index = ChooseInstrument(owner, list);
        if (index >= 0) {
            TextCopy(address, cap, list[index].ipText);
            chosen = true;
        }
    }
    SetCursor(previous);
    return chosen;
}
