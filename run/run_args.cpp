// The command-line companion's command line: the options of each form, their values, and the
// usage text. The link options' values are checked by the rules the settings file's are
// (run_link.cpp).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/fileio_win.h"
#include "common/textutil.h"
#include "link/link_settings.h"
#include "run/run.h"
#include "script/script_host.h"

const char *RunUsageText()
{
    return "Usage: quillon2-run [LINK...] [--reply-limit SECONDS] [--timeouts-pass]\n"
           "                    [--junit FILE] [--csv FILE] [--log FILE] [--timestamps | --json] SCRIPT\n"
           "       quillon2-run [LINK...] --identify [--junit FILE] [--log FILE] [--json | --timestamps]\n"
           "       quillon2-run --find [--log FILE] [--json | --timestamps]\n"
           "       quillon2-run [LINK...] --upgrade FILE [--yes] [--allow-model-mismatch]\n"
           "                    [--junit FILE] [--log FILE] [--timestamps | --json]\n"
           "LINK is --usb COMn, --serial COMn --baud N, --lan ADDRESS or --each-found.\n"
           "\n"
           "Runs a Quillon2 command script against an instrument without the window and\n"
           "reports the outcome in the exit code; or identifies the instrument, searches\n"
           "the LAN for instruments, or upgrades the instrument's firmware.\n"
           "\n"
           "  --usb COMn          USB instrument on virtual COM port n (19200 baud)\n"
           "  --serial COMn       RS-232 instrument on COM port n; needs --baud\n"
           "  --baud N            bit rate for --serial: 1200, 2400, 4800, 9600, 19200 or 38400\n"
           "  --lan ADDRESS       LAN instrument at the IPv4 ADDRESS (TCP port 10001)\n"
           "  --each-found        every instrument the LAN search finds and that identifies\n"
           "                      itself\n"
           "  --reply-limit SECONDS  end the run (exit 2) when replies keep one reply wait\n"
           "                      going for longer than this (default 30)\n"
           "  --timeouts-pass     a query that gets no reply (TIMEOUT) does not fail the run\n"
           "  --junit FILE        also write a JUnit XML report: one test case per limit test\n"
           "                      (an unanswered query, a failed print and what ended the\n"
           "                      run early as errors), per upgrade, or per identification\n"
           "  --csv FILE          also write a measurement log: one row per reply line of a\n"
           "                      query (time, script line, query, reply, its numbers)\n"
           "  --log FILE          also append every line of standard output to FILE, each\n"
           "                      stamped yyyy-mm-dd hh:mm:ss.mmm, as the window's session log\n"
           "  --timestamps        begin every line of standard output with hh:mm:ss.mmm\n"
           "  --identify          identify the instrument as the window does and print what\n"
           "                      its information panel shows\n"
           "  --find              search the LAN as the Connect dialog does: one line per\n"
           "                      instrument, its address, a TAB and its identification\n"
           "  --json              with --identify or --find, or several instruments: JSON,\n"
           "                      one object per line\n"
           "  --upgrade FILE      upgrade the firmware from an upgrade descriptor (.upg, .upx)\n"
           "                      or a main HEX file, as the window's Upgrade Firmware does\n"
           "  --yes               with --upgrade: answer its questions Yes or OK and accept\n"
           "                      the proposed operation (a blocked one never); not the\n"
           "                      model warning\n"
           "  --allow-model-mismatch  with --upgrade: answer OK to the warning that the\n"
           "                      file's model does not match the instrument's\n"
           "  --help              this text\n"
           "Each option but the link options and --baud may be given once. Without a link\n"
           "option the \"Connect\" section of Quilloner.ini (saved by the window's \"Save as\n"
           "Default\") chooses the link.\n"
           "Several link options, or --each-found, run the job on every instrument at once:\n"
           "each is identified first, and two links to one instrument (the same model and\n"
           "serial number) end the run before anything else is sent (exit 4). Every line\n"
           "begins with its link (\"[COM3] \"), or on a console each instrument has one\n"
           "status line; a table of the instruments follows (--json: one object each).\n"
           "--csv writes one log per instrument, its link added to the name (log-COM3.csv).\n"
           "The exit code is the most serious of theirs: 130, then 3, 2, 4 and 1.\n"
           "\n"
           "Standard output receives what the results window would show, line by line.\n"
           "\"wait\" shows its text and the run goes on; \"beep\" only sounds; \"print\" and\n"
           "\"clear\" work on the results text as in the window.\n"
           "An upgrade prints the proposed operation and its log lines on standard output\n"
           "and its progress on standard error. Without --yes every question is answered\n"
           "No or Cancel and the proposed operation is not accepted.\n"
           "\n"
           "Exit codes: 0 the script ran to its end and no limit test failed; the\n"
           "  instrument was identified; an instrument was found; the firmware was upgraded;\n"
           "  1 a limit test failed (with stop,onfail the run ends at that line); the search\n"
           "    found no instrument, or none that identified itself;\n"
           "  2 the link could not be opened, the instrument did not identify itself,\n"
           "    sending to or reading from it failed, or it kept replying beyond the\n"
           "    reply limit; a query got no reply (without --timeouts-pass); a print\n"
           "    could not write its file; standard output could not be written; the boot\n"
           "    loader refused or did not answer a command;\n"
           "  3 usage error, no usable link setting, or an unreadable or non-script file;\n"
           "  4 the upgrade was refused by a check or a question (the reason is shown);\n"
           "  130 interrupted by Ctrl-C (the link is closed first; an upgrade stops after\n"
           "    the command under way and sends nothing more).\n";
}

// A whole number of seconds, 1 to a day.
static bool ParseSeconds(const char *text, uint32_t *out)
{
    if (!*text || strspn(text, "0123456789") != strlen(text) || strlen(text) > 5) return false;
    long value = atol(text);
    if (value < 1 || value > RUN_REPLY_LIMIT_MAX_S) return false;
    *out = (uint32_t)value;
    return true;
}

// Each option's handler: stores value (null for an option without one) or sets *error.
typedef bool (*OptionHandler)(RunOptions *opt, const char *value, std::string *error);

// A link option adds a link; the same port or address twice would be one instrument run twice.
static bool AddLink(RunOptions *opt, const RunLink &link, std::string *error)
{
    for (const RunLink &other : opt->links) {
        if (RunLinkLabel(other) == RunLinkLabel(link)) {
            *error = RunLinkLabel(link) + " given more than once";
            return false;
        }
    }
    opt->links.push_back(link);
    return true;
}

static bool TakeComLink(RunOptions *opt, int32_t kind, const char *value, std::string *error)
{
    RunLink link = {};
    link.interfaceKind = kind;
    return RunCheckComPort(value, link.portName, sizeof link.portName, error) && AddLink(opt, link, error);
}

static bool TakeUsb(RunOptions *opt, const char *value, std::string *error)
{
    return TakeComLink(opt, IFACE_USB, value, error);
}

static bool TakeSerial(RunOptions *opt, const char *value, std::string *error)
{
    if (!TakeComLink(opt, IFACE_SERIAL, value, error)) return false;
    // A --baud given before its --serial.
    opt->links.back().baudRate = opt->pendingBaud;
    opt->pendingBaud = 0;
    return true;
}

static bool TakeLan(RunOptions *opt, const char *value, std::string *error)
{
    RunLink link = {};
    link.interfaceKind = IFACE_LAN;
    return RunCheckAddress(value, link.ipAddress, sizeof link.ipAddress, error) && AddLink(opt, link, error);
}

// The rate of the first --serial that has none yet, or else of the next --serial.
static bool TakeBaud(RunOptions *opt, const char *value, std::string *error)
{
    uint32_t rate;
    if (!RunCheckBaud(value, &rate, error)) return false;
    for (RunLink &link : opt->links) {
        if (link.interfaceKind == IFACE_SERIAL && link.baudRate == 0) {
            link.baudRate = rate;
            return true;
        }
    }
    if (opt->pendingBaud == 0) {
        opt->pendingBaud = rate;
        return true;
    }
    *error = "--baud goes with --serial only";
    return false;
}

static bool TakeEachFound(RunOptions *opt, const char *, std::string *)
{
    opt->eachFound = true;
    return true;
}

// --worker HANDLE: the control pipe of a production-line run that started this process.
static bool TakeWorker(RunOptions *opt, const char *value, std::string *error)
{
    char *end;
    unsigned long long handle = strtoull(value, &end, 10);
    if (*end || handle == 0) {
        *error = std::string("--worker needs a handle: ") + value;
        return false;
    }
    opt->workerPipe = (uintptr_t)handle;
    return true;
}

static bool TakeReplyLimit(RunOptions *opt, const char *value, std::string *error)
{
    if (ParseSeconds(value, &opt->replyLimitS)) return true;
    *error = std::string("not a number of seconds (1 to 86400): ") + value;
    return false;
}

static bool TakeHelp(RunOptions *opt, const char *, std::string *)
{
    opt->help = true;
    return true;
}

static bool TakeForm(RunOptions *opt, int form, std::string *error)
{
    if (opt->form != RUN_FORM_SCRIPT) {
        *error = "give only one of --identify, --find, --upgrade";
        return false;
    }
    opt->form = form;
    return true;
}

static bool TakeIdentify(RunOptions *opt, const char *, std::string *error)
{
    return TakeForm(opt, RUN_FORM_IDENTIFY, error);
}

static bool TakeFind(RunOptions *opt, const char *, std::string *error) { return TakeForm(opt, RUN_FORM_FIND, error); }

static bool TakeUpgrade(RunOptions *opt, const char *value, std::string *error)
{
    opt->upgradePath = value;
    return TakeForm(opt, RUN_FORM_UPGRADE, error);
}

static bool TakeJunit(RunOptions *opt, const char *value, std::string *)
{
    opt->junitPath = value;
    return true;
}

static bool TakeCsv(RunOptions *opt, const char *value, std::string *)
{
    opt->csvPath = value;
    return true;
}

static bool TakeLog(RunOptions *opt, const char *value, std::string *)
{
    opt->logPath = value;
    return true;
}

static bool TakeJson(RunOptions *opt, const char *, std::string *) { opt->json = true; return true; }
static bool TakeYes(RunOptions *opt, const char *, std::string *) { opt->yes = true; return true; }
static bool TakeAllowModelMismatch(RunOptions *opt, const char *, std::string *)
{
    opt->allowModelMismatch = true;
    return true;
}
static bool TakeTimestamps(RunOptions *opt, const char *, std::string *) { opt->timestamps = true; return true; }
static bool TakeTimeoutsPass(RunOptions *opt, const char *, std::string *) { opt->timeoutsPass = true; return true; }

// Which forms an option goes with.
enum {
    WITH_SCRIPT = 1 << RUN_FORM_SCRIPT,
    WITH_IDENTIFY = 1 << RUN_FORM_IDENTIFY,
    WITH_FIND = 1 << RUN_FORM_FIND,
    WITH_UPGRADE = 1 << RUN_FORM_UPGRADE,
    WITH_LINK = WITH_SCRIPT | WITH_IDENTIFY | WITH_UPGRADE,  // the forms that talk to one instrument
    WITH_ALL = WITH_LINK | WITH_FIND,
    REPEATS = 1 << 8,
};
static const char *const kFormNames[] = {"a script", "--identify", "--find", "--upgrade"};

// The options; a new form of the program adds its rows here.
static const struct {
    const char *name;
    const char *alias;  // another spelling, or null
    bool takesValue;
    OptionHandler handler;
    int forms;          // WITH_*, and REPEATS for an option that may be given more than once
} kOptions[] = {
    {"--usb", nullptr, true, TakeUsb, WITH_LINK | REPEATS},
    {"--serial", nullptr, true, TakeSerial, WITH_LINK | REPEATS},
    {"--lan", nullptr, true, TakeLan, WITH_LINK | REPEATS},
    {"--baud", nullptr, true, TakeBaud, WITH_LINK | REPEATS},
    {"--each-found", nullptr, false, TakeEachFound, WITH_LINK},
    {"--worker", nullptr, true, TakeWorker, WITH_LINK},
    {"--reply-limit", nullptr, true, TakeReplyLimit, WITH_SCRIPT},
    {"--timeouts-pass", nullptr, false, TakeTimeoutsPass, WITH_SCRIPT},
    {"--junit", nullptr, true, TakeJunit, WITH_LINK},
    {"--csv", nullptr, true, TakeCsv, WITH_SCRIPT},
    {"--timestamps", nullptr, false, TakeTimestamps, WITH_ALL},
    {"--log", nullptr, true, TakeLog, WITH_ALL},
    {"--identify", nullptr, false, TakeIdentify, WITH_IDENTIFY},
    {"--find", nullptr, false, TakeFind, WITH_FIND},
    {"--json", nullptr, false, TakeJson, WITH_ALL},
    {"--upgrade", nullptr, true, TakeUpgrade, WITH_UPGRADE},
    {"--yes", nullptr, false, TakeYes, WITH_UPGRADE},
    {"--allow-model-mismatch", nullptr, false, TakeAllowModelMismatch, WITH_UPGRADE},
    {"--help", "-h", false, TakeHelp, WITH_ALL},
};
enum { OPTION_COUNT = sizeof kOptions / sizeof kOptions[0] };

static int FindOption(const char *arg)
{
    for (int k = 0; k < OPTION_COUNT; k++) {
        if (!strcmp(arg, kOptions[k].name) || (kOptions[k].alias && !strcmp(arg, kOptions[k].alias))) return k;
    }
    return -1;
}

// One option at argv[*i] (its value, if any, at argv[*i + 1]); false with *error on any fault.
// A repeated option is an error: silently taking the last of two would hide a typing error.
static bool ParseOption(int argc, char **argv, int *i, RunOptions *opt, bool seen[], std::string *error)
{
    const char *arg = argv[*i];
    int k = FindOption(arg);
    if (k < 0) {
        *error = std::string("unknown option: ") + arg;
        return false;
    }
    if (seen[k] && !(kOptions[k].forms & REPEATS)) {
        *error = std::string(kOptions[k].name) + " given more than once";
        return false;
    }
    seen[k] = true;
    const char *value = nullptr;
    if (kOptions[k].takesValue) {
        if (*i + 1 >= argc) {
            *error = std::string(arg) + " needs a value";
            return false;
        }
        value = argv[++*i];
        // "--junit --timestamps x.txt" forgot the report's name: never write over a file named
        // like an option, nor take the option's own meaning away.
        if (value[0] == '-' && value[1]) {
            *error = std::string(arg) + " needs a value, not the option " + value;
            return false;
        }
    }
    return kOptions[k].handler(opt, value, error);
}

// Two names of one file, as far as the names tell ("x.txt" and ".\\X.TXT").
static bool NamesSameFile(const std::string &a, const std::string &b)
{
    if (a.empty() || b.empty()) return false;
    return TextEqualNoCase(ScriptHostFullPath(a.c_str()).c_str(), ScriptHostFullPath(b.c_str()).c_str());
}

bool RunParseArgs(int argc, char **argv, RunOptions *opt, std::string *error)
{
    *opt = RunOptions();
    opt->replyLimitS = RUN_REPLY_LIMIT_DEFAULT_S;
    bool seen[OPTION_COUNT] = {};
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!strcmp(arg, "/?")) {
            opt->help = true;
        } else if (arg[0] == '-' && arg[1]) {
            if (!ParseOption(argc, argv, &i, opt, seen, error)) return false;
        } else if (opt->scriptPath.empty()) {
            opt->scriptPath = arg;
        } else {
            *error = std::string("more than one script given: ") + arg;
            return false;
        }
        if (opt->help) return true;
    }
    for (int k = 0; k < OPTION_COUNT; k++) {
        if (seen[k] && !(kOptions[k].forms & (1 << opt->form))) {
            *error = std::string(kOptions[k].name) + " does not go with " + kFormNames[opt->form];
            return false;
        }
    }
    opt->many = opt->links.size() > 1 || opt->eachFound;
    std::string rateless;  // a --serial without its --baud
    for (const RunLink &link : opt->links)
        if (link.interfaceKind == IFACE_SERIAL && link.baudRate == 0 && rateless.empty()) rateless = RunLinkLabel(link);
    if (!rateless.empty()) *error = opt->many ? "--serial " + rateless + " needs --baud" : "--serial needs --baud";
    else if (opt->pendingBaud) *error = "--baud goes with --serial only";
    else if (opt->eachFound && !opt->links.empty()) *error = "--each-found does not go with a link option";
    else if (opt->many && opt->workerPipe) *error = "--worker takes one link";
    else if (opt->json && opt->timestamps) *error = "--timestamps does not go with --json";
    else if (opt->json && !opt->many && (opt->form == RUN_FORM_SCRIPT || opt->form == RUN_FORM_UPGRADE))
        *error = "--json goes with --identify, --find or several instruments";
    else if (opt->form == RUN_FORM_SCRIPT && opt->scriptPath.empty()) *error = "no script file given";
    else if (opt->form != RUN_FORM_SCRIPT && !opt->scriptPath.empty())
        *error = std::string("a script does not go with ") + kFormNames[opt->form] + ": " + opt->scriptPath;
    else if (NamesSameFile(opt->junitPath, opt->scriptPath) || NamesSameFile(opt->csvPath, opt->scriptPath) ||
             NamesSameFile(opt->logPath, opt->scriptPath))
        *error = "a report would be written over the script " + opt->scriptPath;
    else if (NamesSameFile(opt->junitPath, opt->csvPath)) *error = "--junit and --csv name the same file";
    else if (NamesSameFile(opt->logPath, opt->junitPath) || NamesSameFile(opt->logPath, opt->csvPath))
        *error = "--log names the same file as " + std::string(NamesSameFile(opt->logPath, opt->junitPath) ? "--junit" : "--csv");
    opt->linkGiven = opt->links.size() == 1;
    if (opt->linkGiven) {
        const RunLink &link = opt->links[0];
        opt->interfaceKind = link.interfaceKind;
        TextCopy(opt->portName, sizeof opt->portName, link.portName);
        TextCopy(opt->ipAddress, sizeof opt->ipAddress, link.ipAddress);
        opt->baudRate = LinkBaudRate(link.interfaceKind, link.baudRate);
    }
    return error->empty();
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any letter case, with or without an
// extension: Windows opens the device whatever folder the name stands in.
static bool IsDeviceName(const char *path)
{
    const char *base = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/' || *p == ':') base = p + 1;
    size_t len = strcspn(base, ".");
    while (len > 0 && base[len - 1] == ' ') len--;
    char name[5] = "";
    if (len < 3 || len > 4) return false;
    memcpy(name, base, len);
    name[len] = '\0';
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL"};
    for (const char *d : devices)
        if (TextEqualNoCase(name, d)) return true;
    return len == 4 && (TextStartsWithNoCase(name, "COM") || TextStartsWithNoCase(name, "LPT")) && name[3] >= '1' &&
           name[3] <= '9';
}

// Paths of the Unix device and process folders, as a shell hands them over under Wine:
// <(...) becomes /dev/fd/N, which Wine's server opens as its own descriptor N, some other file.
static bool IsUnixSpecialPath(const char *path)
{
    static const char *const prefixes[] = {"/dev/", "/proc/", "\\dev\\", "\\proc\\", "\\\\.\\"};
    for (const char *prefix : prefixes)
        if (TextStartsWithNoCase(path, prefix)) return true;
    return false;
}

bool RunCheckDiskFile(const char *path, const char *what, std::string *error)
{
    bool disk = !IsDeviceName(path) && !IsUnixSpecialPath(path);
    if (disk) {
        HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) return true;
        disk = GetFileType(file) == FILE_TYPE_DISK;
        CloseHandle(file);
    }
    if (!disk) *error = std::string(path) + " is not a file on disk: " + what + " must be one";
    return disk;
}
