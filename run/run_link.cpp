// The link a run uses: the link options' and the settings file's values checked by one set of
// rules, and their fallback, the "Connect" section of the window program's settings file
// (<local app data>\Vendrel\Quilloner\Quilloner.ini), so that a setup saved with "Save as
// Default" works headless too. The file is found and read by the window's own code
// (app/settings_win.cpp), and only ever read here; the link settings are checked by the
// Connect dialog's rule (app/connect_dlg.cpp).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/connect_dlg.h"
#include "app/settings_win.h"
#include "common/fileio_win.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/link_settings.h"
#include "run/run.h"

enum { COM_MAX = 254 };

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

// Four decimal fields of 0..255 separated by dots, nothing else; stored without leading zeros.
static bool ParseIpv4(const char *text, char *out, size_t cap)
{
    unsigned p[4];
    if (!LinkParseIpv4(text, p)) return false;
    snprintf(out, cap, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return true;
}

// Only the rates the window's Connect dialog offers.
static bool ParseBaud(const char *text, uint32_t *out)
{
    for (int i = LINK_BAUD_TEXT_FIRST; i <= LINK_BAUD_TEXT_LAST; i++) {
        if (strcmp(text, LinkTextTable[i]) == 0) {
            *out = (uint32_t)atol(text);
            return true;
        }
    }
    return false;
}

bool RunCheckComPort(const char *text, char *out, size_t cap, std::string *error)
{
    if (ParseComName(text, out, cap)) return true;
    *error = std::string("not a COM port name (COM1 to COM254): ") + text;
    return false;
}

bool RunCheckBaud(const char *text, uint32_t *out, std::string *error)
{
    if (ParseBaud(text, out)) return true;
    *error = std::string("not a baud rate of the Connect dialog (1200, 2400, 4800, 9600, 19200, 38400): ") + text;
    return false;
}

bool RunCheckAddress(const char *text, char *out, size_t cap, std::string *error)
{
    if (ParseIpv4(text, out, cap)) return true;
    *error = std::string("not an IPv4 address: ") + text;
    return false;
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
    bool known = rec->interfaceKind == IFACE_USB || rec->interfaceKind == IFACE_SERIAL ||
                 rec->interfaceKind == IFACE_LAN;
    const char *problem = known ? ConnectSettingsProblem(rec) : "no interface chosen";
    if (problem) *error = problem;
    return error->empty();
}

// The file's values of the fields the interface uses, checked as the options' are and stored
// in rec. An empty one (a baud rate of 0: none chosen) is left to the Connect dialog's rule,
// which RunCheckLinkSettings applies with the dialog's own message.
static void CheckSettingsTexts(const ConnectSettingsTexts *texts, ConnectionRecord *rec, std::string *error)
{
    int kind = rec->interfaceKind;
    std::string why;
    if ((kind == IFACE_USB || kind == IFACE_SERIAL) && texts->comPort[0] &&
        !RunCheckComPort(texts->comPort, rec->portName, sizeof rec->portName, &why))
        *error = "ComPort: " + why;
    else if (kind == IFACE_SERIAL && texts->baudRate[0] && strcmp(texts->baudRate, "0") != 0 &&
             !RunCheckBaud(texts->baudRate, &rec->baudRate, &why))
        *error = "BaudRate: " + why;
    else if (kind == IFACE_LAN && texts->ipAddr[0] &&
             !RunCheckAddress(texts->ipAddr, rec->ipAddress, sizeof rec->ipAddress, &why))
        *error = "IPAddr: " + why;
}

bool RunReadSettings(ConnectionRecord *rec, std::string *path, std::string *error)
{
    SettingsPaths paths;
    SettingsLocate(&paths);
    *path = paths.file;
    // GetPrivateProfile* would quietly return the defaults for a missing file.
    if (FileAttributes(paths.file) == INVALID_FILE_ATTRIBUTES) return false;
    SettingsReadConnect(paths.file, rec);
    // The record's fields keep a cut value, which may look valid ("COM12345" as "COM123"): the
    // checks read the texts whole. The Connect dialog reads every address field in decimal
    // ("192.168.001.020" is .20, where the socket library would take octal and reach .16).
    ConnectSettingsTexts texts;
    SettingsReadConnectTexts(paths.file, &texts);
    CheckSettingsTexts(&texts, rec, error);
    // The window always connects a USB instrument at its one rate, whatever the file says.
    rec->baudRate = LinkBaudRate(rec->interfaceKind, rec->baudRate);
    return true;
}

std::string RunLinkLabel(const RunLink &link)
{
    return link.interfaceKind == IFACE_LAN ? link.ipAddress : link.portName;
}
