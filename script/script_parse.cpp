// Pure text rules of the script language (see script_parse.h).
#include "script/script_parse.h"

#include <cstring>

#include "common/textutil.h"

ScriptLineKind ClassifyScriptLine(const char *line)
{
    switch (line[0]) {
    case '"': return SCRIPT_LINE_COMMAND;
    case '#': return SCRIPT_LINE_DIRECTIVE;
    case '=': return SCRIPT_LINE_CALC;
    default: return SCRIPT_LINE_REMARK;
    }
}

ScriptDirective MatchScriptDirective(const char *line)
{
    // First match wins and a keyword only has to begin the text, so "#timer" runs "time"
    // and the order of this table is part of the language.
    static const struct { const char *keyword; ScriptDirective directive; } table[] = {
        {"beep", DIR_BEEP},   {"pause", DIR_PAUSE},   {"reply", DIR_REPLY},
        {"clear", DIR_CLEAR}, {"wait", DIR_WAIT},     {"echo", DIR_ECHO},
        {"time", DIR_TIME},   {"bincon", DIR_BINCON}, {"print", DIR_PRINT},
        {"fast", DIR_FAST},   {"normal", DIR_NORMAL}, {"slow", DIR_SLOW},
    };
    if (line[0] != '#') return DIR_NONE;
    for (const auto &entry : table) {
        if (TextStartsWithNoCase(line + 1, entry.keyword)) return entry.directive;
    }
    return DIR_NONE;
}

const char *ScriptArgument(const char *line)
{
    const char *comma = strchr(line, ',');
    return comma ? comma + 1 : nullptr;
}

int32_t ParseWaitSeconds(const char *line)
{
    const char *arg = ScriptArgument(line);
    if (!arg) return 1000;
    long seconds = TextToInt(arg);
    if (seconds <= 0) return 1000;
    if (seconds > SCRIPT_MAX_WAIT_S) seconds = SCRIPT_MAX_WAIT_S;
    return (int32_t)(seconds * 1000);
}

bool ScriptIsQuery(const char *line)
{
    size_t len = strlen(line);
    return len > 0 && line[len - 1] == '?';
}

bool ScriptIsReplyLine(const char *line) { return TextStartsWithNoCase(line, "#reply"); }

ScriptBincon ParseBinconArgument(const char *line)
{
    const char *arg = ScriptArgument(line);
    if (!arg) return BINCON_TOGGLE;
    if (!*arg) return BINCON_NOTHING;
    return TextStartsWithNoCase(arg, "on") ? BINCON_ON : BINCON_OFF;
}

bool ScriptLineRecognised(const char *line)
{
    return line[0] == '"' || MatchScriptDirective(line) != DIR_NONE;
}

bool ScriptLineListed(const char *line) { return line[0] != '\0' && line[0] != 26; }
