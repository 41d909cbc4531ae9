// The proposed operation and the target checks that come before it.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "upgrade/upgrade.h"

static LoadEntry ProposalEntry(int32_t sector, const char *name, bool exists, int64_t writeTime = 0,
                               int32_t low = 0, int32_t high = 0)
{
    LoadEntry e;
    memset(&e, 0, sizeof e);
    snprintf(e.facts.name, sizeof e.facts.name, "%s", name);
    e.facts.writeTime = writeTime;
    e.sector = sector;
    e.exists = exists;
    e.serialLow = low;
    e.serialHigh = high;
    return e;
}

// The texts the list shows in red, in order.
static std::vector<std::string> RedTexts(const std::vector<TextRun> &runs)
{
    std::vector<std::string> red;
    for (const TextRun &run : runs)
        if (run.style == PROPOSAL_RED) red.push_back(run.text);
    return red;
}

// What the dialog shows, line by line, and what of it is red: a sector beyond the target's
// limit and a missing file, which block Accept. The runner prints the same without colours:
// what is red stands in brackets and the columns stay. A backslash or brace from the
// instrument shows as itself; the LF an LF-only instrument leaves on its reply is no line break.
TEST(Proposal, TextAndWhatIsRed)
{
    LoadEntry entries[3] = {
        ProposalEntry(1, "Main.HEX", true),
        ProposalEntry(9, "2dsp.hex", true),      // beyond sector 7
        ProposalEntry(1, "2Missing.hex", false),
    };
    bool blocking = false;
    std::vector<TextRun> runs = BuildProposedOperation(entries, 3, "VENDREL,RZT6680,0,{1\\0}\n", "RZT6680", &blocking);
    EXPECT_TRUE(blocking);
    EXPECT_STREQ("main.hex", entries[0].facts.name);  // the worker reports it like this too
    EXPECT_EQ((std::vector<std::string>{"9,", "2missing.hex        "}), RedTexts(runs));
    EXPECT_EQ("Proposed Operation\n\n"
              "Instrument: VENDREL,RZT6680,0,{1\\0}\n"
              "Target: RZT6680\n"
              "Erase Sectors: 1,[9],\n\n"
              "Program Sectors with the following code:\n\n"
              "File Sector Filename            Date & Time\n"
              "1    1      main.hex            --/--/--\n"
              "2    9      2dsp.hex            --/--/--\n"
              "3    1      [2missing.hex]      --/--/--\n",
              ProposalPlainText(runs));

    LoadEntry e = ProposalEntry(0, "a.hex", true);
    blocking = false;
    runs = BuildProposedOperation(&e, 1, "VENDREL,X", "", &blocking);
    EXPECT_FALSE(blocking);
    EXPECT_TRUE(RedTexts(runs).empty());
    EXPECT_EQ(0u, ProposalPlainText(runs).find("Proposed Operation\n\nInstrument: VENDREL,X\nErase Sectors: 0,\n\n"))
        << "no target line without a target";
}

// The dialog's rich text: the red runs in the colour table's red, texts that cannot break the
// markup, a name that begins with a digit not read as part of a colour number, and a name
// beyond ASCII as \u characters, shown as themselves whatever the dialog's code page.
TEST(Proposal, RichText)
{
    LoadEntry e = ProposalEntry(0, "2sub\\{X}.hex", false);  // a missing file keeps the name as written
    bool blocking = false;
    std::string rich = ProposalRichText(BuildProposedOperation(&e, 1, "V,A\\par{", "T}", &blocking));
    EXPECT_EQ(0u, rich.find("{\\rtf1"));
    EXPECT_NE(std::string::npos, rich.find("{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green192\\blue0;\\red255\\green0\\blue0;"));
    EXPECT_NE(std::string::npos, rich.find("V,A\\\\par\\{\\par"));
    EXPECT_NE(std::string::npos, rich.find("T\\}\\par"));
    EXPECT_NE(std::string::npos, rich.find("\\cf3 2sub\\\\\\{x\\}.hex        \\cf0 --/--/--\\par")) << rich;
    int depth = 0;
    for (size_t i = 0; i < rich.size(); i++) {
        if (rich[i] == '\\') i++;
        else depth += rich[i] == '{' ? 1 : rich[i] == '}' ? -1 : 0;
        ASSERT_TRUE(depth > 0 || i == rich.size() - 1) << "closed early at " << i;
    }
    EXPECT_EQ(0, depth);

    static const struct { const char *text, *rich; } names[] = {
        {"pr\xC3\xBC" "f", "pr\\u252?f"},
        {"\xF0\x9F\x93\x8F", "\\u-10179?\\u-9009?"},   // U+1F4CF, beyond U+FFFF: two units
        {"caf\xE9", "caf\xE9"},                         // Latin-1: no UTF-8, goes in as it is
    };
    for (const auto &n : names) {
        SCOPED_TRACE(n.text);
        EXPECT_NE(std::string::npos, ProposalRichText({TextRun{PROPOSAL_PLAIN, n.text}}).find(n.rich));
    }
}

TEST(Proposal, SerialRangesHideEntries)
{
    LoadEntry entries[] = {
        ProposalEntry(0, "n1.hex", true),                  // no range
        ProposalEntry(1, "n2.hex", true, 0, 100, 600),
        ProposalEntry(2, "n3.hex", true, 0, 600, 0),       // below low
        ProposalEntry(3, "n4.hex", true, 0, 100, 400),     // above high
        ProposalEntry(4, "n5.hex", true, 0, 100, 0),       // no upper bound
        ProposalEntry(5, "n6.hex", true, 0, 500, 500),
        ProposalEntry(6, "n7.hex", false, 0, 600, 700),    // hidden: does not block
        ProposalEntry(2, "n8.hex", true, 0, 0, 0),         // sector 2 listed after all
    };
    static const struct { const char *idn; const char *erase; const char *numbers; bool blocks; } cases[] = {
        {"Vendrel,RZT7680,500,1.23", "0,1,4,5,2,", "12568", false},
        {"Vendrel,RZT7680", "0,1,2,3,4,5,6,", "12345678", true},  // serial -1
        {"Vendrel,RZT7680,-3,1.23", "0,1,2,3,4,5,6,", "12345678", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        bool blocking = false;
        std::string text = ProposalPlainText(BuildProposedOperation(entries, 8, c.idn, "", &blocking));
        EXPECT_NE(std::string::npos, text.find(std::string("Erase Sectors: ") + c.erase + "\n")) << text;
        std::string numbers;
        for (size_t at = text.find("Date & Time\n"); (at = text.find('\n', at)) != std::string::npos && at + 1 < text.size(); at++)
            numbers += text[at + 1];
        EXPECT_EQ(c.numbers, numbers);
        EXPECT_EQ(c.blocks, blocking);
    }
}

TEST(Proposal, SectorLimitAndDates)
{
    time_t when = 1600000000;
    char local[32];
    strftime(local, sizeof local, "%d/%m/%y %H:%M", localtime(&when));
    LoadEntry entries[] = {
        ProposalEntry(15, "a.hex", true, 86400),     // the first day counts as no date
        ProposalEntry(-1, "b.hex", true, 86401),
        ProposalEntry(7, "c.hex", true, 1600000000),
        ProposalEntry(16, "d.hex", true, -5),
    };
    bool blocking = false;
    std::string rzt86 = ProposalPlainText(BuildProposedOperation(entries, 4, "V,1", "RZT8610", &blocking));
    EXPECT_NE(std::string::npos, rzt86.find("Erase Sectors: 15,[-1],7,[16],\n"));
    EXPECT_TRUE(blocking);  // a red sector
    blocking = false;
    std::string other = ProposalPlainText(BuildProposedOperation(entries, 4, "V,1", "RZT6610", &blocking));
    EXPECT_NE(std::string::npos, other.find("Erase Sectors: [15],[-1],7,[16],\n"));
    EXPECT_NE(std::string::npos, other.find("a.hex               --/--/--\n"));
    EXPECT_NE(std::string::npos, other.find("d.hex               --/--/--\n"));
    EXPECT_NE(std::string::npos, other.find(std::string("c.hex               ") + local + "\n"));
    EXPECT_TRUE(blocking);
    blocking = false;
    BuildProposedOperation(&entries[2], 1, "V,1", "RZT6610", &blocking);  // sector 7 only
    EXPECT_FALSE(blocking);
}

// File names are UTF-8: the column counts characters, not bytes, and a long name is cut to it.
// A byte that is no UTF-8 counts as one.
TEST(Proposal, NameColumn)
{
    static const struct { const char *name, *text; } cases[] = {
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ.hex", "abcdefghijklmnopqrst"},
        {"pr\xC3\xBC" "fung.hex", "pr\xC3\xBC" "fung.hex         "},
        // U+6D4B U+91CF ("measure"), cut at 20 characters, not at 20 bytes.
        {"\xE6\xB5\x8B\xE9\x87\x8F-0123456789abcdefgh.hex", "\xE6\xB5\x8B\xE9\x87\x8F-0123456789abcdefg"},
        {"\xF0\x9F\x93\x8F.hex", "\xF0\x9F\x93\x8F.hex               "},
        {"caf\xE9.hex", "caf\xE9.hex            "},  // Latin-1
        {"caf\xC3.hex", "caf\xC3.hex            "},  // a sequence cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoadEntry e = ProposalEntry(0, c.name, true);
        bool blocking = false;
        std::string text = ProposalPlainText(BuildProposedOperation(&e, 1, "V,1", "", &blocking));
        EXPECT_NE(std::string::npos, text.find(std::string("1    0      ") + c.text + "--/--/--\n")) << text;
    }
}

// --- Target checks ----------------------------------------------------------------------------

TEST(UpgradeModelCheck, WarningAndText)
{
    // differs: a real mismatch (the runner's --yes does not answer it), not a model unchecked.
    static const struct { const char *idn, *target; bool detected, warn, differs; const char *shown; } cases[] = {
        {"VENDREL,RZT6680,123,1.0", "RZT66", true, false, false, "a RZT66. You are connected to a RZT6680\n"},
        {"VENDREL,rzt6680", "RZT66", true, false, false, "a RZT66. You are connected to a rzt6680\n"},
        {"VENDREL,RZT4680,1", "RZT66", true, true, true, "a RZT66. You are connected to a RZT4680\n"},
        {"VENDREL,RZT6680", "", true, true, false, "a Unknown Model. You are connected to a RZT6680\n"},
        {"VENDREL,RZT6680", "RZT66", false, true, false, "a RZT66. You are connected to a RZT6680\n"},
        {"VENDREL,RZT66", "RZT6680", true, true, true, "a RZT6680. You are connected to a RZT66\n"},
        {"NOCOMMA", "NOC", true, false, false, "a NOC. You are connected to a Unknown Instrument\n"},
        {"ERR -113\r\n", "RZT76", true, true, true, "a RZT76. You are connected to a Unknown Instrument\n"},
        // An identification without a model names it as the information panel does.
        {"", "RZT66", true, true, true, "a RZT66. You are connected to a Unknown Instrument\n"},
        {"VENDREL,,123", "RZT66", true, true, true, "a RZT66. You are connected to a Unknown Instrument\n"},
        {"\n", "RZT66", true, true, true, "a RZT66. You are connected to a Unknown Instrument\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        char text[512];
        EXPECT_EQ(c.warn, CheckTargetModel(c.idn, c.target, c.detected, text, sizeof text));
        EXPECT_EQ(c.differs, TargetModelDiffers(c.idn, c.target));
        std::string want = std::string("The upgrade file is for ") + c.shown +
                           "\nPlease ensure the firmware file name and target instrument model match "
                           "before continuing\n";
        EXPECT_EQ(want, text);
    }
    char small[10];
    CheckTargetModel("V,X", "X", true, small, sizeof small);
    EXPECT_STREQ("The upgra", small) << "bounded";
}

TEST(UpgradeVersionCheck, EveryComparison)
{
    static const char *const INCOMPATIBLE = "The connected instrument is incompatible with the selected firmware";
    static const char *const UNRECOGNISED = "Error reading firmware, unable to determine firmware target";
    static const char *const NO_VERSION =
        "Error communicating with instrument, unable to determine instrument internal version";
    static const struct {
        int32_t cmp0, thr0, cmp1, thr1;
        const char *version;
        int set;
        const char *message;
        UiIcon icon;
    } cases[] = {
        {COMPARE_NONE, 0, COMPARE_NONE, 0, "", 0, nullptr, UI_ICON_INFO},  // not even asked
        {COMPARE_GT, 1000, COMPARE_NONE, 0, "x,1001", 0, nullptr, UI_ICON_INFO},
        {COMPARE_GT, 1000, COMPARE_NONE, 0, "x,1000", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_GTEQ, 1000, COMPARE_NONE, 0, "x,1000", 0, nullptr, UI_ICON_INFO},
        {COMPARE_GTEQ, 1000, COMPARE_NONE, 0, "x,999", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_LT, 1000, COMPARE_NONE, 0, "x,999", 0, nullptr, UI_ICON_INFO},
        {COMPARE_LT, 1000, COMPARE_NONE, 0, "x,1000", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_LTEQ, 1000, COMPARE_NONE, 0, "x,1000", 0, nullptr, UI_ICON_INFO},
        {COMPARE_LTEQ, 1000, COMPARE_NONE, 0, "x,1001", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_EQ, 1000, COMPARE_NONE, 0, "x, +1000\n", 0, nullptr, UI_ICON_INFO},
        {COMPARE_EQ, 1000, COMPARE_NONE, 0, "x,-1000", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_GTEQ, 0, COMPARE_NONE, 0, "x,abc,7", 0, nullptr, UI_ICON_INFO},  // no digits: 0
        {COMPARE_UNRECOGNISED, 0, COMPARE_NONE, 0, "x,5", -1, UNRECOGNISED, UI_ICON_WARNING},
        {COMPARE_GT, 2000, COMPARE_LT, 2000, "x,1000", 1, nullptr, UI_ICON_INFO},
        {COMPARE_GT, 500, COMPARE_LT, 2000, "x,1000", 0, nullptr, UI_ICON_INFO},  // first holding set
        {COMPARE_GT, 2000, COMPARE_UNRECOGNISED, 0, "x,1000", -1, UNRECOGNISED, UI_ICON_WARNING},
        {COMPARE_UNRECOGNISED, 0, COMPARE_GT, 500, "x,1000", 1, nullptr, UI_ICON_INFO},
        {COMPARE_UNRECOGNISED, 0, COMPARE_GT, 5000, "x,1000", -1, INCOMPATIBLE, UI_ICON_INFO},
        {COMPARE_GT, 1, COMPARE_NONE, 0, "1000", -1, NO_VERSION, UI_ICON_WARNING},
        {COMPARE_GT, 1, COMPARE_NONE, 0, "1000,", -1, NO_VERSION, UI_ICON_WARNING},
        {COMPARE_GT, 1, COMPARE_NONE, 0, "", -1, NO_VERSION, UI_ICON_WARNING},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.cmp0 << " " << c.thr0 << " / " << c.cmp1 << " " << c.thr1
                                        << " with \"" << c.version << "\"");
        UpgradePlan plan;
        memset(&plan, 0, sizeof plan);
        plan.comparison[0] = c.cmp0;
        plan.versionThreshold[0] = c.thr0;
        plan.comparison[1] = c.cmp1;
        plan.versionThreshold[1] = c.thr1;
        VersionVerdict v = CheckFirmwareVersion(&plan, c.version);
        EXPECT_EQ(c.set, v.chosenSet);
        if (c.message) {
            ASSERT_NE(nullptr, v.message);
            EXPECT_STREQ(c.message, v.message);
            EXPECT_EQ(c.icon, v.icon);
        } else {
            EXPECT_EQ(nullptr, v.message);
        }
    }
}
