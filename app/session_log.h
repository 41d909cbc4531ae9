// The session's lines with their times: the stamps "hh:mm:ss.mmm " of the results window and
// standard output, and the session log, which keeps every line the results window gets,
// stamped "yyyy-mm-dd hh:mm:ss.mmm ", in a file that grows line by line. Portable; the file and
// the clock are session_log_win.cpp's.
#pragma once
#include <string>
#include <vector>

// The local time to the millisecond, as the front end reads it.
struct ClockStamp {
    int year, month, day, hour, minute, second, ms;
};

// "hh:mm:ss.mmm"
std::string ClockText(const ClockStamp &t);
// "yyyy-mm-dd hh:mm:ss.mmm"
std::string DateClockText(const ClockStamp &t);

// Puts a stamp before every line of a text that comes in pieces. A line is stamped when its
// first character comes, not when it ends: a reply that trickles in carries its arrival.
struct LineStamper {
    bool atLineStart = true;  // the next character begins a line
    // text with stamp (and a blank) before each line it begins; a line end is LF.
    std::string Stamp(const char *text, const std::string &stamp);
};

// Gathers pieces of text into whole lines for the log: each line as the results window shows
// it, its CRs left out, stamped with the time its first character came, and ended in CR LF.
struct SessionLogLines {
    std::string pending;       // the line begun, without its stamp
    std::string pendingStamp;  // the stamp it will carry
    bool pendingOpen = false;  // a line has begun and not ended
    // Appends the lines text ends to *done (text may end in the middle of a line).
    void Feed(const char *text, const std::string &stamp, std::vector<std::string> *done);
    // The line begun and not ended, ended now (when the log stops); false when there is none.
    bool TakePartial(std::string *line);
};
