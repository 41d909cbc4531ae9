// Script language text rules: line kinds, directive keywords (prefix, case, order),
// arguments, queries, "bincon" arguments, wait times and the file-reading line rules.
#include <gtest/gtest.h>

#include <string>

#include "script/script.h"
#include "script/script_parse.h"

TEST(ScriptParse, LineKinds)
{
    static const struct { const char *line; ScriptLineKind kind; } cases[] = {
        {"\"*IDN?", SCRIPT_LINE_COMMAND}, {"\"", SCRIPT_LINE_COMMAND},
        {"#beep", SCRIPT_LINE_DIRECTIVE}, {"# slow", SCRIPT_LINE_DIRECTIVE},
        {"=+", SCRIPT_LINE_CALC},         {"", SCRIPT_LINE_REMARK},
        {" \"*IDN?", SCRIPT_LINE_REMARK}, {";comment", SCRIPT_LINE_REMARK},
        {"x", SCRIPT_LINE_REMARK},
    };
    for (const auto &c : cases) EXPECT_EQ(c.kind, ClassifyScriptLine(c.line)) << c.line;
}

TEST(ScriptParse, DirectiveKeywords)
{
    static const struct { const char *line; ScriptDirective dir; } cases[] = {
        {"#beep", DIR_BEEP},        {"#pause,3", DIR_PAUSE},     {"#reply,2", DIR_REPLY},
        {"#clear", DIR_CLEAR},      {"#wait", DIR_WAIT},         {"#echo,hi", DIR_ECHO},
        {"#time", DIR_TIME},        {"#bincon,on", DIR_BINCON},  {"#print,a.txt", DIR_PRINT},
        {"#fast", DIR_FAST},        {"#normal", DIR_NORMAL},     {"#slow", DIR_SLOW},
        {"#Slow", DIR_SLOW},        {"#slowly", DIR_SLOW},       {"#SLOW", DIR_SLOW},
        {"#TIME", DIR_TIME},        {"#timer", DIR_TIME},        {"#time now", DIR_TIME},
        {"#replying", DIR_REPLY},   {"#REPLY,10", DIR_REPLY},    {"#printer", DIR_PRINT},
        {"# slow", DIR_NONE},       {"#", DIR_NONE},             {"#slo", DIR_NONE},
        {"#sl", DIR_NONE},          {"#unknown", DIR_NONE},      {"slow", DIR_NONE},
        {"=slow", DIR_NONE},
    };
    for (const auto &c : cases) EXPECT_EQ(c.dir, MatchScriptDirective(c.line)) << c.line;
}

TEST(ScriptParse, ArgumentsQueriesAndReplyLines)
{
    EXPECT_EQ(nullptr, ScriptArgument("#print"));
    EXPECT_STREQ("", ScriptArgument("#print,"));
    EXPECT_STREQ(" a b ,c", ScriptArgument("#print, a b ,c"));  // only the first comma splits

    static const struct { const char *line; bool query; } queries[] = {
        {"\"*IDN?", true}, {"\"?", true},     {"\"*IDN? ", false}, {"\"MEAS?;X", false},
        {"\"", false},     {"", false},       {"\"a?b", false},
    };
    for (const auto &c : queries) EXPECT_EQ(c.query, ScriptIsQuery(c.line)) << c.line;

    static const struct { const char *line; bool reply; } replies[] = {
        {"#reply,3", true}, {"#REPLY,10", true}, {"#replying", true}, {"#repl", false},
        {"# reply", false}, {"reply", false},    {"", false},
    };
    for (const auto &c : replies) EXPECT_EQ(c.reply, ScriptIsReplyLine(c.line)) << c.line;
}

TEST(ScriptParse, BinconArguments)
{
    static const struct { const char *line; ScriptBincon want; } cases[] = {
        {"#bincon", BINCON_TOGGLE}, {"#bincon,", BINCON_NOTHING}, {"#bincon,on", BINCON_ON},
        {"#bincon,ON", BINCON_ON},  {"#bincon,oNward", BINCON_ON}, {"#bincon,off", BINCON_OFF},
        {"#bincon,of", BINCON_OFF}, {"#bincon,xyz", BINCON_OFF},  {"#bincon, on", BINCON_OFF},
        {"#bincon,o", BINCON_OFF},
    };
    for (const auto &c : cases) EXPECT_EQ(c.want, ParseBinconArgument(c.line)) << c.line;
}

TEST(ScriptParse, WaitSeconds)
{
    static const struct { const char *line; int32_t ms; } cases[] = {
        {"#pause", 1000},      {"#pause,", 1000},     {"#pause,0", 1000},    {"#pause,abc", 1000},
        {"#pause,-3", 1000},   {"#pause, 7", 7000},   {"#pause,7s", 7000},   {"#pause,500", 500000},
        {"#pause,9999", 500000}, {"#pause,99999999999999999999", 500000}, {"#reply,3", 3000},
        {"#pause,+2", 2000},
    };
    for (const auto &c : cases) EXPECT_EQ(c.ms, ParseWaitSeconds(c.line)) << c.line;
}

TEST(ScriptParse, FileLineRules)
{
    static const struct { const char *line; bool recognised; } cases[] = {
        {"\"x", true}, {"\"", true}, {"#fast", true}, {"#Slowly", true}, {"# remark", false},
        {"#note", false}, {"=1", false}, {" #x", false}, {"; \"x", false}, {"", false},
    };
    for (const auto &c : cases) EXPECT_EQ(c.recognised, ScriptLineRecognised(c.line)) << c.line;

    EXPECT_TRUE(ScriptLineListed("x"));
    EXPECT_FALSE(ScriptLineListed(""));
    EXPECT_FALSE(ScriptLineListed("\x1a\"x"));
}
