// The portable half of the command console: sending in the caret notation, the command
// history, recalling echo lines, the reply poll with packed-value conversion, the window
// titles, the results file and the commands that touch no window. Shared by the main window
// (console_win.cpp) and the headless runner, so nothing here touches Win32; output goes
// through app/shell.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Convert Binary: packed values in reply lines are shown as text. Initially true; the
// "Convert Binary" menu item and the script language set it, through SetConvertBinary.
extern bool ConvertBinary;
// Sets ConvertBinary and shows it (ShellShowConvertBinary: the menu's check mark).
void SetConvertBinary(bool on);
// Raw characters of every completed reply line, added by the reply poll. The script runner
// sets it to 0 or -1 and watches it to end reply waits.
extern int32_t ReceivedCharCount;

enum {
    HISTORY_SLOTS = 50,
    RECALL_MAX = 256,          // characters taken from a clicked echo line
    REPLY_LINE_SIZE = 20480,   // reply line and converted line buffers (bytes)
    TITLE_SIZE = 260,          // enough for any title built here
    // Most bytes one reply poll reads. A stream faster than the poll would otherwise keep it
    // reading for ever, with the window's messages and the runner's checks waiting behind it
    // and its lines piling up for one append. 48 KiB is some 3,300 lines of 15 bytes, which the
    // window shows in about 100 ms under Wine. Much of that is the same for any number of lines
    // (every change of the results window's text or view redraws both its scroll bars, some
    // 10 ms under Wine, five times for an append with a trim), so smaller portions show fewer
    // lines a second.
    REPLY_POLL_MAX_BYTES = 48 * 1024,
};

// The results window's scrollback ("ResultsMaxLines" in the settings file's "Init" section).
enum {
    RESULTS_MAX_LINES_DEFAULT = 20000,
    RESULTS_MAX_LINES_MIN = 100,
    RESULTS_MAX_LINES_MAX = 1000000,
};
// The limit a settings value gives: the value when within MIN..MAX, else the default.
int ResultsMaxLinesFromSetting(long value);
// Lines to remove from the top of a results text of lineCount lines to keep it within
// maxLines: 0 while it is within; past it, enough to come back to maxLines less a tenth of
// it, so that the oldest lines go in blocks and one removal serves a tenth of the limit.
int ResultsLinesToTrim(int lineCount, int maxLines);

// Sends one command line (no line end) to g_connection: "^X" (X a letter or "[") becomes the
// control byte and LF, anything else the text and LF; late replies (ReplyPollMarkLate) are
// shown and ended first. Returns true when sending FAILED.
bool SendCommandText(const char *text);

// The 50 most recent typed commands, oldest first; an empty string is an empty slot and
// filled slots never follow an empty one.
struct CommandHistory {
    std::string slots[HISTORY_SLOTS];
    int cursor = 0;
};

// The history of the one console (released at main-window destruction).
extern CommandHistory g_commandHistory;

// Stores a copy of text (ignored when empty) after a successful send; the cursor moves to it.
void HistoryStore(CommandHistory *h, const char *text);
// Up arrow: true and *out = the text for the command line, false when nothing changes.
bool HistoryBack(CommandHistory *h, std::string *out);
// Down arrow: true and *out = the text for the command line, false when nothing changes.
bool HistoryForward(CommandHistory *h, std::string *out);
// Empties every slot and returns the cursor to 0 (shutdown).
void HistoryRelease(CommandHistory *h);

// A click in the results window: when there is no selection and the caret's line (starting
// at lineStart in text) begins with ">" (after a stamp of Show Timestamps, if any), true and *out = that line from its third character
// to CR/LF/end, at most RECALL_MAX characters; false when nothing is to be recalled.
bool RecallClickedLine(const std::string &text, size_t lineStart, bool hasSelection, std::string *out);

// Outcome of ConsoleSendTyped.
enum { CONSOLE_SENT = 0, CONSOLE_IDLE = 1, CONSOLE_SEND_FAILED = -1 };
// The Send command's core: not connected or empty text -> CONSOLE_IDLE (nothing done);
// send failure -> CONSOLE_SEND_FAILED (not stored, not echoed; the caller reports and
// disconnects); else stores it in g_commandHistory, appends "> text\r\n" and -> CONSOLE_SENT.
int ConsoleSendTyped(const char *text);

// The results window's text as written to a file: CRs removed, every LF becomes CR LF.
std::string ResultsToFileText(const std::string &windowText);

// Results of WriteResultsFile.
enum {
    RESULTS_FILE_OK = 0,
    RESULTS_FILE_CANNOT_OPEN = -1,   // nothing written
    RESULTS_FILE_WRITE_FAILED = -2,  // opened, not all written
    RESULTS_FILE_CLOSE_FAILED = -3,  // all written, but closing (flushing) failed
};
// Creates or truncates the file at path and writes the results window to it in the file
// form above (Save to File and the script's "print"). Returns RESULTS_FILE_*.
int WriteResultsFile(const char *path);

// One timer tick of reply reading: reads ReadByte(&g_connection) until nothing waits or
// REPLY_POLL_MAX_BYTES have come, assembles and converts lines, appends all completed lines
// with one ShellAppendResults, adds to ReceivedCharCount and calls ShellLinkLost when the
// last read failed with -1. Returns the number of bytes read.
int ReplyPoll();
// ReplyPoll with the completed lines going to append instead of ShellAppendResults (a
// headless runner's own output, or a test counting the appends).
int ReplyPollTo(void (*append)(const char *text));
// True when the last ReplyPoll ended on a read error (-1): the link is lost.
bool ReplyPollLinkLost();
// Forgets the partially received line and ends late replies (at every connect).
void ReplyPollReset();
// After a TIMEOUT: reply lines now answer a query the script has given up on. Until the next
// command is sent they are shown with LATE_REPLY_MARK first and not added to
// ReceivedCharCount; SendCommandText first shows what has arrived by then, a partial line
// included, and so ends it.
void ReplyPollMarkLate();
// Called with every reply line that is not late and whose line end has come, as the results
// show it (packed values converted); null for none. The script runner stores a reply's
// numbers this way. A typed command (ConsoleSendTyped) sets it back to none: its replies are
// not the script's.
void ReplyPollSetLineObserver(void (*observer)(const char *line));
extern const char LATE_REPLY_MARK[];  // "LATE REPLY: "
// Ends the partially received line as if its line end had come (a run that stops now shows
// what has arrived of it): appended like a completed line and counted in ReceivedCharCount.
void ReplyPollFinishLine();

// Converts one completed reply line (len raw bytes) into out (capacity cap > 0, always
// NUL-terminated, cut at cap - 1). Packed values are expanded when ConvertBinary is set.
// Returns the length written.
size_t ConvertReplyLine(const unsigned char *line, size_t len, char *out, size_t cap);

// "Quillon2 v1_3": the product name, a space and the version text up to its first space.
// Returns the length wanted (>= cap means cut).
size_t BuildStartupTitle(char *out, size_t cap);
// The connected title: startupTitle, five spaces, "LAN"/"USB"/"SER" by interfaceKind (2/1/
// other), then idnText from its first comma, "," + idnText when it has none, or
// ",Unknown Connection" when empty. Returns the length wanted (>= cap means cut).
size_t BuildConnectedTitle(char *out, size_t cap, const char *startupTitle, int interfaceKind,
                           const char *idnText);
