// The headless runner's command line and its fallback, the "Connect" section of the window
// program's settings file (<local app data>\Vendrel\Quilloner\Quilloner.ini), so that a
// setup saved with "Save as Default" works headless too. The file is only ever read here.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/texttab.h"
#include "common/textutil.h"
#include "run/run.h"

enum { USB_BAUD = 19200, COM_MAX = 254 };

const char *RunUsageText()
{
    return "Usage: quillon2-run [--usb COMn | --serial COMn --baud N | --lan ADDRESS] SCRIPT\n"
           "\n"
           "Runs a Quillon2 command script against an instrument without the window and\n"
           "reports the outcome in the exit code.\n"
           "\n"
           "  --usb COMn          USB instrument on virtual COM port n (19200 baud)\n"
           "  --serial COMn       RS-232 instrument on COM port n; needs --baud\n"
           "  --baud N            bit rate for --serial (the window offers 1200 to 38400)\n"
           "  --lan ADDRESS       LAN instrument at the IPv4 ADDRESS (TCP port 10001)\n"
           "  --help              this text\n"
           "\n"
           "Without a link option the \"Connect\" section of Quilloner.ini (saved by the\n"
           "window's \"Save as Default\") chooses the link.\n"
           "\n"
           "Standard output receives what the results window would show, line by line.\n"
           "\"wait\" shows its text and the run goes on; \"beep\" only sounds; \"print\" and\n"
           "\"clear\" work on the results text as in the window.\n"
           "\n"
           "Exit codes: 0 the script ran to its end and no limit test failed;\n"
           "  1 a limit test failed (with stop,onfail the run ends at that line);\n"
           "  2 the link could not be opened, the instrument did not identify itself,\n"
           "    or sending to or reading from it failed;\n"
           "  3 usage error, no usable link setting, or an unreadable or non-script file;\n"
           "  130 interrupted by Ctrl-C (the link is closed first).\n";
}

// "COM1" .. "COM254" in any letter case, stored in capitals.
static bool ParseComName(const char *text, char *out, size_t cap)
{
    if (!TextStartsWithNoCase(text, "COM")) return false;
    const char *digits = text + 3;
    if (!*digits || strspn(digits, "0123456789") != strlen(digits) || strlen(digits) > 3) return false;
    int n = atoi(digits);
    if (n < 1 || n > COM_MAX || digits[0] == '0') return false;
    snprintf(out, cap, "COM%d", n);
    return true;
}

// Four decimal fields of 0..255 separated by dots, nothing else.
static bool ParseIpv4(const char *text, char *out, size_t cap)
{
    unsigned a, b, c, d;
    char tail;
    if (strlen(text) > 15 || strspn(text, "0123456789.") != strlen(text)) return false;
    if (sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255) return false;
    snprintf(out, cap, "%u.%u.%u.%u", a, b, c, d);
    return true;
}

static bool ParseBaud(const char *text, uint32_t *out)
{
    if (!*text || strspn(text, "0123456789") != strlen(text) || strlen(text) > 7) return false;
    long value = atol(text);
    if (value <= 0) return false;
    *out = (uint32_t)value;
    return true;
}

// Takes the value of option argv[*i]; false when it is missing.
static bool TakeValue(int argc, char **argv, int *i, const char **value, std::string *error)
{
    if (*i + 1 >= argc) {
        *error = std::string(argv[*i]) + " needs a value";
        return false;
    }
    *value = argv[++*i];
    return true;
}

static bool ChooseLink(RunOptions *opt, int32_t kind, std::string *error)
{
    if (opt->linkGiven) {
        *error = "give only one of --usb, --serial, --lan";
        return false;
    }
    opt->linkGiven = true;
    opt->interfaceKind = kind;
    return true;
}

// One option at argv[*i]; false with *error on any fault.
static bool ParseOption(int argc, char **argv, int *i, RunOptions *opt, bool *baudGiven, std::string *error)
{
    const char *arg = argv[*i];
    const char *value = nullptr;
    if (!strcmp(arg, "--usb") || !strcmp(arg, "--serial")) {
        int32_t kind = arg[2] == 'u' ? IFACE_USB : IFACE_SERIAL;
        if (!ChooseLink(opt, kind, error) || !TakeValue(argc, argv, i, &value, error)) return false;
        if (ParseComName(value, opt->portName, sizeof opt->portName)) return true;
        *error = std::string("not a COM port name (COM1 to COM254): ") + value;
        return false;
    }
    if (!strcmp(arg, "--lan")) {
        if (!ChooseLink(opt, IFACE_LAN, error) || !TakeValue(argc, argv, i, &value, error)) return false;
        if (ParseIpv4(value, opt->ipAddress, sizeof opt->ipAddress)) return true;
        *error = std::string("not an IPv4 address: ") + value;
        return false;
    }
    if (!strcmp(arg, "--baud")) {
        if (!TakeValue(argc, argv, i, &value, error)) return false;
        *baudGiven = true;
        if (ParseBaud(value, &opt->baudRate)) return true;
        *error = std::string("not a baud rate: ") + value;
        return false;
    }
    *error = std::string("unknown option: ") + arg;
    return false;
}

bool RunParseArgs(int argc, char **argv, RunOptions *opt, std::string *error)
{
    *opt = RunOptions();
    bool baudGiven = false;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!strcmp(arg, "--help") || !strcmp(arg, "-h") || !strcmp(arg, "/?")) {
            opt->help = true;
            return true;
        }
        if (arg[0] == '-' && arg[1]) {
            if (!ParseOption(argc, argv, &i, opt, &baudGiven, error)) return false;
        } else if (opt->scriptPath.empty()) {
            opt->scriptPath = arg;
        } else {
            *error = std::string("more than one script given: ") + arg;
            return false;
        }
    }
    if (baudGiven && opt->interfaceKind != IFACE_SERIAL) *error = "--baud goes with --serial only";
    else if (opt->interfaceKind == IFACE_SERIAL && !baudGiven) *error = "--serial needs --baud";
    else if (opt->scriptPath.empty()) *error = "no script file given";
    if (opt->interfaceKind == IFACE_USB) opt->baudRate = USB_BAUD;
    return error->empty();
}

void RunApplyLinkOptions(const RunOptions *opt, ConnectionRecord *rec)
{
    rec->interfaceKind = opt->interfaceKind;
    TextCopy(rec->portName, sizeof rec->portName, opt->portName);
    TextCopy(rec->ipAddress, sizeof rec->ipAddress, opt->ipAddress);
    rec->baudRate = opt->baudRate;
}

bool RunCheckLinkSettings(const ConnectionRecord *rec, std::string *error)
{
    switch (rec->interfaceKind) {
    case IFACE_USB:
    case IFACE_SERIAL:
        if (!rec->portName[0]) *error = LinkTextTable[23];
        else if (rec->baudRate == 0) *error = LinkTextTable[24];
        break;
    case IFACE_LAN:
        if (!rec->ipAddress[0]) *error = LinkTextTable[21];
        break;
    default: *error = "no interface chosen"; break;
    }
    return error->empty();
}

typedef HRESULT(WINAPI *GetFolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);

// The window program's settings file path; empty when the folder cannot be determined.
static std::string SettingsFilePath()
{
    char base[MAX_PATH] = "";
    HMODULE lib = LoadLibraryA("SHFOLDER.DLL");
    if (lib) {
        GetFolderPathFn getFolderPath = (GetFolderPathFn)(void *)GetProcAddress(lib, "SHGetFolderPathA");
        if (!getFolderPath || FAILED(getFolderPath(NULL, CSIDL_LOCAL_APPDATA, NULL, SHGFP_TYPE_DEFAULT, base)))
            base[0] = '\0';
        FreeLibrary(lib);
    }
    // The window falls back to its working directory; so does the runner.
    if (!base[0]) GetCurrentDirectoryA(sizeof base, base);
    return std::string(base) + "\\Vendrel\\Quilloner\\Quilloner.ini";
}

bool RunReadSettings(ConnectionRecord *rec, std::string *path)
{
    *path = SettingsFilePath();
    const char *file = path->c_str();
    // GetPrivateProfile* would quietly return the defaults for a missing file.
    if (GetFileAttributesA(file) == INVALID_FILE_ATTRIBUTES) return false;
    char text[128];
    rec->interfaceKind = (int32_t)GetPrivateProfileIntA("Connect", "Interface", 0, file);
    GetPrivateProfileStringA("Connect", "ComPort", "", text, sizeof text, file);
    TextCopy(rec->portName, sizeof rec->portName, text);
    rec->baudRate = GetPrivateProfileIntA("Connect", "BaudRate", 0, file);
    GetPrivateProfileStringA("Connect", "IPAddr", "", text, sizeof text, file);
    TextCopy(rec->ipAddress, 16, text);  // at most 15 characters, as the window keeps
    // The window always connects a USB instrument at 19200, whatever the file says.
    if (rec->interfaceKind == IFACE_USB) rec->baudRate = USB_BAUD;
    return true;
}
