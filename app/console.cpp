// The portable command console: what a typed or scripted command becomes on the wire, the
// history, the reply poll that turns received bytes into results-window lines, and the texts
// derived from the connection (titles) and from the results window (saved files).
#include "app/console.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/shell.h"
#include "common/fileio.h"
#include "common/texttab.h"
#include "common/textutil.h"
#include "link/link.h"

bool ConvertBinary = true;
int32_t ReceivedCharCount = 0;
CommandHistory g_commandHistory;

// --- Sending ----------------------------------------------------------------------------

static bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

static void EndLateReplies();

bool SendCommandText(const char *text)
{
    if (!text) text = "";
    EndLateReplies();
    // "^X" lets the user type control characters the edit control cannot hold; "^[" is ESC.
    if (text[0] == '^' && (IsAsciiLetter(text[1]) || text[1] == '[')) {
        char upper = (text[1] >= 'a' && text[1] <= 'z') ? (char)(text[1] - 'a' + 'A') : text[1];
        const char control[3] = {(char)(upper - 64), '\n', '\0'};
        return SendLine(control, &g_connection) < 0;
    }
    std::string line(text);
    line += '\n';
    return SendLine(line.c_str(), &g_connection) < 0;
}

// Told of each reply line of a script's reply wait (ReplyPollSetLineObserver).
static void (*s_lineObserver)(const char *line);

int ConsoleSendTyped(const char *text)
{
    if (!g_connection.connected || !text || !text[0]) return CONSOLE_IDLE;
    if (SendCommandText(text)) return CONSOLE_SEND_FAILED;
    // What answers a typed command is no measurement of the script's reply wait.
    s_lineObserver = nullptr;
    HistoryStore(&g_commandHistory, text);
    std::string echo = "> ";
    echo += text;
    echo += "\r\n";
    ShellAppendResults(echo.c_str());
    return CONSOLE_SENT;
}

// --- History ----------------------------------------------------------------------------

static bool SlotFilled(const CommandHistory *h, int i)
{
    return i >= 0 && i < HISTORY_SLOTS && !h->slots[i].empty();
}

void HistoryStore(CommandHistory *h, const char *text)
{
    if (!text || !text[0]) return;
    std::string copy(text);  // text may be one of the slots, which the shift below moves
    for (int i = 0; i < HISTORY_SLOTS; i++) {
        if (h->slots[i].empty()) {
            h->slots[i] = std::move(copy);
            h->cursor = i;
            return;
        }
    }
    for (int i = 0; i + 1 < HISTORY_SLOTS; i++) h->slots[i] = std::move(h->slots[i + 1]);
    h->slots[HISTORY_SLOTS - 1] = std::move(copy);
    h->cursor = HISTORY_SLOTS - 1;
}

bool HistoryBack(CommandHistory *h, std::string *out)
{
    h->cursor--;
    if (h->cursor < 0) {
        // Past the oldest entry: wrap to the newest. With nothing stored the cursor rests at
        // -1 rather than running further negative on every Up.
        h->cursor = -1;
        for (int i = HISTORY_SLOTS - 1; i >= 0; i--) {
            if (SlotFilled(h, i)) {
                h->cursor = i;
                break;
            }
        }
        if (h->cursor < 0) return false;
    }
    if (!SlotFilled(h, h->cursor)) return false;
    *out = h->slots[h->cursor];
    return true;
}

bool HistoryForward(CommandHistory *h, std::string *out)
{
    h->cursor++;
    if (h->cursor < 0 || !SlotFilled(h, h->cursor)) h->cursor = 0;
    if (!SlotFilled(h, h->cursor)) return false;
    *out = h->slots[h->cursor];
    return true;
}

void HistoryRelease(CommandHistory *h)
{
    for (std::string &s : h->slots) std::string().swap(s);
    h->cursor = 0;
}

// --- Results window texts ---------------------------------------------------------------

static bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// "hh:mm:ss.mmm ", the stamp Show Timestamps puts before a line: its length, else 0.
static size_t StampLength(const std::string &text, size_t at)
{
    static const char pattern[] = "00:00:00.000 ";
    size_t n = sizeof pattern - 1;
    if (text.size() - at < n) return 0;
    for (size_t i = 0; i < n; i++) {
        bool digit = pattern[i] == '0';
        char c = text[at + i];
        if (digit ? !(c >= '0' && c <= '9') : c != pattern[i]) return 0;
    }
    return n;
}

bool RecallClickedLine(const std::string &text, size_t lineStart, bool hasSelection, std::string *out)
{
    if (lineStart < text.size()) lineStart += StampLength(text, lineStart);
    if (hasSelection || lineStart >= text.size() || text[lineStart] != '>') return false;
    // A bare ">" line: skipping two characters would step over its line end into the next line.
    if (lineStart + 1 >= text.size() || IsLineEnd(text[lineStart + 1])) return false;
    size_t start = lineStart + 2;
    size_t end = start;
    while (end < text.size() && end - start < RECALL_MAX && !IsLineEnd(text[end])) end++;
    if (end == start) return false;
    *out = text.substr(start, end - start);
    return true;
}

std::string ResultsToFileText(const std::string &windowText)
{
    std::string out;
    out.reserve(windowText.size() + windowText.size() / 16);
    for (char c : windowText) {
        if (c == '\r') continue;
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

int WriteResultsFile(const char *path)
{
    // Binary mode: ResultsToFileText already made every line end CR LF, on every build.
    FILE *file = FileOpen(path, "wb");
    if (!file) return RESULTS_FILE_CANNOT_OPEN;
    std::string text = ResultsToFileText(ShellResultsText());
    bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    bool closed = fclose(file) == 0;
    if (!written) return RESULTS_FILE_WRITE_FAILED;
    return closed ? RESULTS_FILE_OK : RESULTS_FILE_CLOSE_FAILED;
}

void SetConvertBinary(bool on)
{
    ConvertBinary = on;
    ShellShowConvertBinary(on);
}

// --- Reply poll ---------------------------------------------------------------------------

const char LATE_REPLY_MARK[] = "LATE REPLY: ";

static unsigned char s_replyLine[REPLY_LINE_SIZE];
static size_t s_replyLength;
static char s_convertedLine[REPLY_LINE_SIZE];
// The lines of one poll, shown with one append: an edit-control insertion costs far more
// per call than per line. REPLY_POLL_MAX_BYTES bounds it (to about three times that, for
// packed values and line ends).
static std::string s_pendingText;
static bool s_late;  // after a TIMEOUT, until the next command goes out
static bool s_linkLost;  // the last poll's read failed

void ReplyPollSetLineObserver(void (*observer)(const char *line)) { s_lineObserver = observer; }

size_t ConvertReplyLine(const unsigned char *line, size_t len, char *out, size_t cap)
{
    if (cap == 0) return 0;
    size_t n = 0;
    size_t i = 0;
    // A long line of packed values expands up to threefold; whatever does not fit the
    // converted buffer is cut rather than written past it.
    while (i < len && n < cap - 1) {
        if (line[i] < 0x80 || !ConvertBinary) {
            out[n++] = (char)line[i++];
            continue;
        }
        unsigned char packed[4];
        for (size_t k = 0; k < 4; k++) packed[k] = i + k < len ? line[i + k] : 0;
        char text[PACKED_TEXT_SIZE];
        ConvertPackedValue(packed, text);
        size_t wanted = TextCopy(out + n, cap - n, text);
        n += wanted < cap - n ? wanted : cap - n - 1;
        i += 4;
    }
    out[n] = '\0';
    return n;
}

typedef void (*AppendFn)(const char *text);

static void FlushPending(AppendFn append)
{
    if (s_pendingText.empty()) return;
    append(s_pendingText.c_str());
    s_pendingText.clear();
}

// ended: the line's end came (a piece cut off by a full buffer or by the end of a reply wait
// has not: its last number may be cut too, so the observer is not told of it).
static void FinishReplyLine(bool ended)
{
    if (s_replyLength > 0) {
        size_t n = ConvertReplyLine(s_replyLine, s_replyLength, s_convertedLine, sizeof s_convertedLine);
        if (s_late) s_pendingText += LATE_REPLY_MARK;
        s_pendingText.append(s_convertedLine, n);
        s_pendingText += "\r\n";
        if (!s_late && ended && s_lineObserver) s_lineObserver(s_convertedLine);
    }
    // A late line answers the query before: counted, it would end the next one's wait.
    int32_t add = s_late ? 0 : (int32_t)s_replyLength;
    // Saturate: a session may outlive 2 GB of replies, and the script runner only tests
    // whether the count moved.
    ReceivedCharCount = ReceivedCharCount > INT32_MAX - add ? INT32_MAX : ReceivedCharCount + add;
    s_replyLength = 0;
}

int ReplyPoll()
{
    return ReplyPollTo(ShellAppendResults);
}

int ReplyPollTo(void (*append)(const char *text))
{
    if (!append) append = ShellAppendResults;
    int bytesRead = 0;
    int c = -2;
    while (bytesRead < REPLY_POLL_MAX_BYTES && (c = ReadByte(&g_connection)) >= 0) {
        bytesRead++;
        if (c == '\n' || c == '\r' || c == '\0') {
            FinishReplyLine(true);
            continue;
        }
        s_replyLine[s_replyLength++] = (unsigned char)c;
        if (s_replyLength >= REPLY_LINE_SIZE - 1) FinishReplyLine(false);
    }
    s_linkLost = c == -1;
    FlushPending(append);
    if (c == -1) ShellLinkLost();
    return bytesRead;
}

bool ReplyPollLinkLost() { return s_linkLost; }

void ReplyPollReset()
{
    s_replyLength = 0;
    s_late = false;
}

void ReplyPollFinishLine()
{
    FinishReplyLine(false);
    FlushPending(ShellAppendResults);
}

void ReplyPollMarkLate()
{
    s_late = true;
}

// What came before the command goes out is late, even if the timer's poll has not taken it
// yet; whatever comes after it is the command's.
static void EndLateReplies()
{
    if (!s_late) return;
    if (g_connection.connected && g_connection.pollEnabled) ReplyPoll();
    ReplyPollFinishLine();
    s_late = false;
}

// --- Results window scrollback -----------------------------------------------------------

int ResultsMaxLinesFromSetting(long value)
{
    return value >= RESULTS_MAX_LINES_MIN && value <= RESULTS_MAX_LINES_MAX ? (int)value : RESULTS_MAX_LINES_DEFAULT;
}

int ResultsLinesToTrim(int lineCount, int maxLines)
{
    if (maxLines <= 0 || lineCount <= maxLines) return 0;
    int trim = lineCount - maxLines + maxLines / 10;
    return trim < lineCount ? trim : lineCount;
}

// --- Titles ---------------------------------------------------------------------------------

size_t BuildStartupTitle(char *out, size_t cap)
{
    const char *version = AppTextTable[1];
    std::string title = AppTextTable[0];
    title += ' ';
    title.append(version, strcspn(version, " "));
    return TextCopy(out, cap, title.c_str());
}

size_t BuildConnectedTitle(char *out, size_t cap, const char *startupTitle, int interfaceKind,
                           const char *idnText)
{
    std::string title = startupTitle ? startupTitle : "";
    title += "     ";
    title += interfaceKind == IFACE_LAN ? "LAN" : interfaceKind == IFACE_USB ? "USB" : "SER";
    if (!idnText || !idnText[0]) {
        title += ",Unknown Connection";
    } else if (const char *comma = strchr(idnText, ',')) {
        title += comma;
    } else {
        // No fields to skip: show the whole reply rather than nothing.
        title += ',';
        title += idnText;
    }
    return TextCopy(out, cap, title.c_str());
}
