// The headless script runner (quillon2-run.exe): what its three files share. The command
// line and the settings-file default fill the connection record; the host seams send the
// results window to standard output and keep the script list in memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link.h"

// Exit codes of quillon2-run, as documented in its --help text.
enum {
    RUN_EXIT_PASSED = 0,       // the script ran to its end, no limit test failed
    RUN_EXIT_TEST_FAILED = 1,  // a limit test failed (with stop,onfail the run ended there)
    RUN_EXIT_LINK = 2,         // link not opened, no identification, a send or read failed
    RUN_EXIT_USAGE = 3,        // bad command line, no usable link setting, bad script file
    RUN_EXIT_INTERRUPTED = 130,  // Ctrl-C or Ctrl-Break; the link was closed
};

enum { RUN_REPLY_LIMIT_DEFAULT_S = 30, RUN_REPLY_LIMIT_MAX_S = 86400 };

// What the command line asked for.
struct RunOptions {
    bool help;             // --help: print the usage text and stop
    bool linkGiven;        // one of --usb, --serial, --lan was given
    int32_t interfaceKind; // IFACE_USB / IFACE_LAN / IFACE_SERIAL when linkGiven
    char portName[7];      // COM1 .. COM254
    char ipAddress[16];    // dotted IPv4
    uint32_t baudRate;     // --baud (Serial): one of the window's rates; 19200 for USB
    uint32_t replyLimitS;  // --reply-limit: longest a reply wait may be kept alive by replies
    std::string scriptPath;
};

// Parses argv[1..argc-1]. True when usable (or --help); false with *error set to the reason
// (unknown, repeated or conflicting options, bad values, no script).
bool RunParseArgs(int argc, char **argv, RunOptions *opt, std::string *error);
// The usage text printed by --help and after a usage error.
const char *RunUsageText();
// True when path can be a script: a missing file (reported later as unreadable) or a file
// on disk. A device name (nul.txt, com1.txt) or a pipe (<(...) is /dev/fd/N) gives false
// with *error set: it would be read as something else, or block the run for ever.
bool RunCheckScriptPath(const char *path, std::string *error);
// Copies the options' link choice into rec (interface, port, baud rate, address).
void RunApplyLinkOptions(const RunOptions *opt, ConnectionRecord *rec);
// Checks the record's link settings with the Connect dialog's rule (ConnectSettingsProblem):
// true when usable, else false with *error set (no interface, no port, no baud rate, no
// address).
bool RunCheckLinkSettings(const ConnectionRecord *rec, std::string *error);

// Reads the "Connect" section of the window program's settings file into rec (read only:
// the file is never created or written). *path receives the file's path. False when the
// file does not exist.
bool RunReadSettings(ConnectionRecord *rec, std::string *path);

// --- Output (run_host.cpp) ------------------------------------------------------------------
// Writes text to standard output at once, unchanged (CR LF line ends as in the results window).
void RunWriteOutput(const char *text);
// Writes a line to standard error, "quillon2-run: " first.
void RunWriteError(const char *text);

// Commands the core posted through ShellPostCommand, oldest first.
struct RunPosted {
    int id;
    intptr_t lParam;
};
// Takes the oldest posted command; false when none is waiting.
bool RunTakePosted(RunPosted *out);
