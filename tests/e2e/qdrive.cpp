// qdrive: drives a running quillon2.exe from outside, as a user's hands and eyes would:
// finds its windows and dialogs, reads control texts, picks list entries, presses buttons.
// Typing into the focused window is left to the X server (xdotool) by the test scripts.
//   qdrive wait-dialog CAPTION [TIMEOUT_MS]      waits until a dialog with that caption shows
//   qdrive gone-dialog CAPTION [TIMEOUT_MS]      waits until no such dialog shows
//   qdrive box-text CAPTION                      prints the text of a message box
//   qdrive press CAPTION ID                      clicks button ID of that dialog
//   qdrive select CAPTION ID INDEX               picks entry INDEX of combo box ID (and notifies)
//   qdrive select-text CAPTION ID TEXT           picks the combo entry that reads TEXT
//   qdrive set-ip CAPTION ID A.B.C.D             fills an IP address control
//   qdrive set-text CAPTION ID TEXT              sets a control's text
//   qdrive text ID                               prints the text of main-window child ID
//   qdrive dialog-text CAPTION ID                prints the text of a dialog's control
//   qdrive title                                 prints the main window's title
//   qdrive wait-text ID SUBSTRING [TIMEOUT_MS]   waits until child ID's text contains SUBSTRING
//   qdrive wait-title SUBSTRING [TIMEOUT_MS]
//   qdrive focus                                 brings the main window forward, focus on the command line
//   qdrive command ID                            posts WM_COMMAND ID to the main window (a menu pick)
//   qdrive rect                                  prints the main window's screen rectangle
//   qdrive check-layout                          checks the main window's children: each one shown lies
//                                                inside the client area and clear of the others, the
//                                                command line holds a text line, the panel shows its
//                                                first line; prints "dpi N client W H", "shown ID...",
//                                                "wrapped L..." (the panel's lines, from 0, that wrap)
//   qdrive close                                 closes the main window
// Exit status 0 on success, 1 on a timeout or a missing window.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static const char kMainClass[] = "VDQuillonWClass";

struct DialogSearch {
    const char *caption;
    HWND found;
};

static BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam)
{
    DialogSearch *search = (DialogSearch *)lParam;
    char cls[32], text[256];
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    if (strcmp(cls, "#32770") == 0 && IsWindowVisible(hwnd) && strcmp(text, search->caption) == 0) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

static HWND Dialog(const char *caption)
{
    DialogSearch search = {caption, NULL};
    EnumWindows(FindDialog, (LPARAM)&search);
    return search.found;
}

static HWND MainWindow() { return FindWindowA(kMainClass, NULL); }

static std::string TextOf(HWND hwnd)
{
    // WM_GETTEXT is marshalled across processes, whatever the length.
    LRESULT len = SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::string text(len + 1, '\0');
    LRESULT got = SendMessageA(hwnd, WM_GETTEXT, (WPARAM)(len + 1), (LPARAM)&text[0]);
    text.resize(got > 0 ? got : 0);
    return text;
}

static BOOL CALLBACK LongestStatic(HWND child, LPARAM lParam)
{
    char cls[32];
    GetClassNameA(child, cls, sizeof cls);
    std::string text = TextOf(child);
    std::string *best = (std::string *)lParam;
    if (strcmp(cls, "Static") == 0 && text.size() > best->size()) *best = text;
    return TRUE;
}

static bool WaitFor(bool (*ready)(const char *, const char *), const char *a, const char *b, int timeoutMs)
{
    DWORD start = GetTickCount();
    while (!ready(a, b)) {
        if (GetTickCount() - start > (DWORD)timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

static bool DialogShown(const char *caption, const char *) { return Dialog(caption) != NULL; }
static bool DialogGone(const char *caption, const char *) { return Dialog(caption) == NULL; }
static bool ChildHas(const char *id, const char *needle)
{
    HWND main = MainWindow();
    return main && TextOf(GetDlgItem(main, atoi(id))).find(needle) != std::string::npos;
}
static bool TitleHas(const char *needle, const char *)
{
    HWND main = MainWindow();
    return main && TextOf(main).find(needle) != std::string::npos;
}

struct Shown {
    int id;
    RECT r;  // in the main window's client coordinates
};

static bool Overlap(const RECT &a, const RECT &b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Whether the command line holds one text line: where its second line would start.
static bool LineFits(HWND line)
{
    SendMessageA(line, WM_SETTEXT, 0, (LPARAM) "Ag\r\nAg");
    LRESULT second = SendMessageA(line, EM_POSFROMCHAR, 4, 0);
    SendMessageA(line, WM_SETTEXT, 0, (LPARAM) "");
    RECT client;
    GetClientRect(line, &client);
    return second != -1 && (short)HIWORD(second) <= client.bottom;
}

// The panel's text lines (from 0) that its rich-edit control wraps onto a further row: a row
// that does not start after a line end. The control counts a line end as one character.
static std::string WrappedLines(HWND panel)
{
    std::string text, raw = TextOf(panel);
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
        text += raw[i] == '\r' ? '\n' : raw[i];
    }
    std::string out;
    int rows = (int)SendMessageA(panel, EM_GETLINECOUNT, 0, 0), last = -1;
    for (int row = 1; row < rows; row++) {
        LRESULT start = SendMessageA(panel, EM_LINEINDEX, row, 0);
        if (start <= 0 || start > (LRESULT)text.size() || text[start - 1] == '\n') continue;
        int line = 0;
        for (LRESULT i = 0; i < start; i++) line += text[i] == '\n';
        if (line != last) out += " " + std::to_string(line);
        last = line;
    }
    return out;
}

static int g_faults;

static void Fault(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
    fputc('\n', stderr);
    g_faults++;
}

static int CheckLayout(HWND main)
{
    RECT client;
    GetClientRect(main, &client);
    std::vector<Shown> shown;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        Shown c = {GetDlgCtrlID(child), {}};
        GetWindowRect(child, &c.r);
        MapWindowPoints(NULL, main, (POINT *)&c.r, 2);
        shown.push_back(c);
    }
    HDC screen = GetDC(NULL);
    printf("dpi %d client %ld %ld\nshown", GetDeviceCaps(screen, LOGPIXELSX), client.right, client.bottom);
    ReleaseDC(NULL, screen);
    for (const Shown &c : shown) printf(" %d", c.id);
    for (size_t i = 0; i < shown.size(); i++) {
        const RECT &r = shown[i].r;
        if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom)
            Fault("child %d (%ld,%ld)-(%ld,%ld) outside the client area", shown[i].id, r.left, r.top, r.right, r.bottom);
        for (size_t j = i + 1; j < shown.size(); j++)
            if (Overlap(r, shown[j].r)) Fault("children %d and %d overlap", shown[i].id, shown[j].id);
    }
    HWND line = GetDlgItem(main, 18002), panel = GetDlgItem(main, 18001);
    if (IsWindowVisible(line) && !LineFits(line)) Fault("the command line is lower than its text");
    if (SendMessageA(panel, EM_GETFIRSTVISIBLELINE, 0, 0) != 0) Fault("the panel hides its top lines");
    printf("\nwrapped%s\n", WrappedLines(panel).c_str());
    return g_faults ? 1 : 0;
}

static void Notify(HWND dlg, int id, int code)
{
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(dlg, id));
}

static int Fail(const char *what)
{
    fprintf(stderr, "qdrive: %s\n", what);
    return 1;
}

static int DialogCommand(const char *verb, int argc, char **argv)
{
    HWND dlg = Dialog(argv[2]);
    if (!dlg) return Fail("no such dialog");
    if (!strcmp(verb, "box-text")) {
        std::string text;
        EnumChildWindows(dlg, LongestStatic, (LPARAM)&text);
        printf("%s\n", text.c_str());
        return 0;
    }
    if (argc < 4) return Fail("missing control id");
    int id = atoi(argv[3]);
    HWND control = GetDlgItem(dlg, id);
    if (!strcmp(verb, "press")) {
        // Posted: the button may start a modal loop of its own.
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)control);
        return 0;
    }
    if (!strcmp(verb, "dialog-text")) {
        printf("%s\n", TextOf(control).c_str());
        return 0;
    }
    if (argc < 5) return Fail("missing value");
    if (!strcmp(verb, "select") || !strcmp(verb, "select-text")) {
        LRESULT index = !strcmp(verb, "select") ? atoi(argv[4])
                        : SendMessageA(control, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)argv[4]);
        if (index < 0 || SendMessageA(control, CB_SETCURSEL, (WPARAM)index, 0) == CB_ERR) return Fail("no such entry");
        Notify(dlg, id, CBN_SELENDOK);
        return 0;
    }
    if (!strcmp(verb, "set-ip")) {
        unsigned a, b, c, d;
        if (sscanf(argv[4], "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return Fail("bad address");
        SendMessageA(control, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
        return 0;
    }
    if (!strcmp(verb, "set-text")) {
        SendMessageA(control, WM_SETTEXT, 0, (LPARAM)argv[4]);
        return 0;
    }
    return Fail("unknown command");
}

int main(int argc, char **argv)
{
    if (argc < 2) return Fail("usage: qdrive COMMAND ...");
    // Rectangles in the pixels the program lays out in, whatever the DPI.
    SetProcessDPIAware();
    _setmode(_fileno(stdout), _O_BINARY);  // texts are printed byte for byte, CR LF included
    const char *verb = argv[1];
    int timeout = 20000;
    if (!strcmp(verb, "wait-dialog") || !strcmp(verb, "gone-dialog")) {
        if (argc < 3) return Fail("missing caption");
        if (argc > 3) timeout = atoi(argv[3]);
        bool ok = WaitFor(!strcmp(verb, "wait-dialog") ? DialogShown : DialogGone, argv[2], "", timeout);
        return ok ? 0 : Fail("timed out waiting for a dialog");
    }
    if (!strcmp(verb, "wait-text") || !strcmp(verb, "wait-title")) {
        bool text = !strcmp(verb, "wait-text");
        if (argc < (text ? 4 : 3)) return Fail("missing arguments");
        if (argc > (text ? 4 : 3)) timeout = atoi(argv[text ? 4 : 3]);
        bool ok = text ? WaitFor(ChildHas, argv[2], argv[3], timeout) : WaitFor(TitleHas, argv[2], "", timeout);
        return ok ? 0 : Fail("timed out waiting for a text");
    }
    HWND main = MainWindow();
    if (!strcmp(verb, "title") || !strcmp(verb, "text") || !strcmp(verb, "command") ||
        !strcmp(verb, "rect") || !strcmp(verb, "close") || !strcmp(verb, "check-layout")) {
        if (!main) return Fail("no main window");
        if (!strcmp(verb, "check-layout")) return CheckLayout(main);
        if (!strcmp(verb, "title")) printf("%s\n", TextOf(main).c_str());
        if (!strcmp(verb, "close")) PostMessageA(main, WM_CLOSE, 0, 0);
        if (!strcmp(verb, "rect")) {
            RECT r;
            GetWindowRect(main, &r);
            printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
        if (argc < 3) return strcmp(verb, "text") && strcmp(verb, "command") ? 0 : Fail("missing id");
        if (!strcmp(verb, "text")) {
            std::string text = TextOf(GetDlgItem(main, atoi(argv[2])));
            fwrite(text.data(), 1, text.size(), stdout);
        }
        if (!strcmp(verb, "command")) PostMessageA(main, WM_COMMAND, atoi(argv[2]), 0);
        return 0;
    }
    if (!strcmp(verb, "focus")) {
        if (!main) return Fail("no main window");
        SetForegroundWindow(main);
        PostMessageA(main, WM_COMMAND, 123 /* focus the command line */, 0);
        return 0;
    }
    if (argc < 3) return Fail("missing caption");
    return DialogCommand(verb, argc, argv);
}
