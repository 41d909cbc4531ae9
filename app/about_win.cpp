// The About box: the product name, the version text and the maker, from the text table.
// UI thread only.
#include "app/about_win.h"

#include "common/texttab.h"
#include "res/resource.h"

static INT_PTR CALLBACK AboutDlgProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM)
{
    switch (msg) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dlg, IDC_ABOUT_PRODUCT, AppTextTable[0]);
        SetDlgItemTextA(dlg, IDC_ABOUT_VERSION, AppTextTable[1]);
        SetDlgItemTextA(dlg, IDC_ABOUT_MAKER, AppTextTable[10]);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}

void ShowAboutBox(HWND owner)
{
    DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDlgProc, 0);
}
