// Pure text rules of the script language: what kind a line is, which directive a '#' line
// names, where its argument starts, and the rules for reading script files.
// No state and no output, so every rule can be tested on its own.
#pragma once
#include <cstddef>
#include <cstdint>

enum ScriptLineKind {
    SCRIPT_LINE_REMARK = 0,     // anything else (blank, ';', empty ...)
    SCRIPT_LINE_COMMAND = 1,    // '"': the rest is sent to the instrument
    SCRIPT_LINE_DIRECTIVE = 2,  // '#'
    SCRIPT_LINE_CALC = 3,       // '='
};

// The kind of line by its first character.
ScriptLineKind ClassifyScriptLine(const char *line);

// Directives in the order they are matched; the values are that order.
enum ScriptDirective {
    DIR_NONE = 0,  // no keyword matched: a remark
    DIR_BEEP = 1,
    DIR_PAUSE = 2,
    DIR_REPLY = 3,
    DIR_CLEAR = 4,
    DIR_WAIT = 5,
    DIR_ECHO = 6,
    DIR_TIME = 7,
    DIR_BINCON = 8,
    DIR_PRINT = 9,
    DIR_FAST = 10,
    DIR_NORMAL = 11,
    DIR_SLOW = 12,
};

// The directive of a '#' line: the first keyword the text right after '#' begins with,
// ignoring case (so "#Slowly" is DIR_SLOW and "# slow" is DIR_NONE). DIR_NONE also for a
// line not starting with '#'.
ScriptDirective MatchScriptDirective(const char *line);

// The text after the first comma of the whole line, or null when there is no comma.
const char *ScriptArgument(const char *line);

enum { SCRIPT_MAX_WAIT_S = 500 };  // the longest pause or reply time a line can ask for
// Milliseconds of a pause/reply/"#reply" line: 1000 without a comma or for a value <= 0
// after it, else the value (at most SCRIPT_MAX_WAIT_S) times 1000.
int32_t ParseWaitSeconds(const char *line);

// A command line is a query when the line's last character is '?'.
bool ScriptIsQuery(const char *line);

// The line after a query is its reply time when it begins with "#reply" in any case.
bool ScriptIsReplyLine(const char *line);

// What "bincon" asks for.
enum ScriptBincon {
    BINCON_TOGGLE = 0,   // no comma
    BINCON_NOTHING = 1,  // a comma and nothing after it
    BINCON_ON = 2,       // the argument begins with "on", any case
    BINCON_OFF = 3,      // any other argument
};
ScriptBincon ParseBinconArgument(const char *line);

// A file is a script when one of its lines is recognised: a command ('"') or a directive
// MatchScriptDirective knows ("# note" and "#x" are remarks, and remarks alone do nothing).
bool ScriptLineRecognised(const char *line);
// A line goes into the list unless it is empty or begins with Ctrl-Z (26).
bool ScriptLineListed(const char *line);
