// The proposed-operation rich text and the target checks that come before it.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

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

// Written out by hand from the dialog's template, not produced by the code under test.
static const char HEADER[] =
    R"({\rtf1\ansi\ansicpg1252\deff0\deflang2057{\fonttbl{\f0\fswiss\fcharset0 Courier New;}})"
    R"({\colortbl ;\red0\green0\blue0;\red0\green192\blue0;\red255\green0\blue0;\red127\green127\blue127;})"
    R"(\deftab1000\viewkind4\uc1\ul\pard\cf4\b\f0\fs20 Proposed Operation\par\fs20\ulnone\b0\par)";
static const char FILES_HEAD[] =
    R"(\par\cf0\par\cf4 Program Sectors with the following code:\par\cf0\par)"
    R"(\cf4 File Sector Filename            Date & Time\par)";

TEST(Proposal, SmallCaseByHand)
{
    LoadEntry entries[3] = {
        ProposalEntry(1, "Main.HEX", true),
        ProposalEntry(9, "2dsp.hex", true),      // beyond sector 7: red in the erase list
        ProposalEntry(1, "2Missing.hex", false), // red in the file list, and blocks
    };
    bool blocking = false;
    std::string text = BuildProposedOperation(entries, 3, "VENDREL,RZT6680,0,1.0", "RZT6680", &blocking);
    std::string want = std::string(HEADER) +
        R"(\cf4 Instrument: \cf0 VENDREL,RZT6680,0,1.0\par\cf4 Target: \cf0 RZT6680\par)"
        R"(\cf4 Erase Sectors: \cf0 1,\cf3 9,)" + FILES_HEAD +
        R"(\cf0 1    1      \cf0 main.hex            \cf0 --/--/--\par)"
        R"(\cf0 2    9      \cf0 2dsp.hex            \cf0 --/--/--\par)"
        R"(\cf0 3    1      \cf3 2missing.hex        \cf0 --/--/--\par})";
    EXPECT_EQ(want, text);
    EXPECT_TRUE(blocking);
    EXPECT_STREQ("main.hex", entries[0].facts.name);  // the worker reports it like this too
}

// The headless runner prints the same list without colours: what is red stands in brackets,
// the columns stay, and a backslash or brace from the instrument shows as itself. The LF an
// LF-only instrument leaves on its reply is no line break in the dialog, nor here.
TEST(Proposal, PlainText)
{
    LoadEntry entries[3] = {
        ProposalEntry(1, "Main.HEX", true),
        ProposalEntry(9, "2dsp.hex", true),
        ProposalEntry(1, "2Missing.hex", false),
    };
    bool blocking = false;
    std::string rich = BuildProposedOperation(entries, 3, "VENDREL,RZT6680,0,{1\\0}\n", "RZT6680", &blocking);
    EXPECT_EQ("Proposed Operation\n\n"
              "Instrument: VENDREL,RZT6680,0,{1\\0}\n"
              "Target: RZT6680\n"
              "Erase Sectors: 1,[9],\n\n"
              "Program Sectors with the following code:\n\n"
              "File Sector Filename            Date & Time\n"
              "1    1      main.hex            --/--/--\n"
              "2    9      2dsp.hex            --/--/--\n"
              "3    1      [2missing.hex]      --/--/--\n",
              ProposedOperationText(rich.c_str()));
}

TEST(Proposal, NoTargetNoBlock)
{
    LoadEntry e = ProposalEntry(0, "a.hex", true);
    bool blocking = false;
    std::string text = BuildProposedOperation(&e, 1, "VENDREL,X", "", &blocking);
    EXPECT_EQ(std::string(HEADER) + R"(\cf4 Instrument: \cf0 VENDREL,X\par\cf4 Erase Sectors: \cf0 0,)" +
                  FILES_HEAD + R"(\cf0 1    0      \cf0 a.hex               \cf0 --/--/--\par})",
              text);
    EXPECT_FALSE(blocking);
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
        {"Vendrel,RZT7680,500,1.23", R"(\cf0 0,\cf0 1,\cf0 4,\cf0 5,\cf0 2,)", "12568", false},
        {"Vendrel,RZT7680", R"(\cf0 0,\cf0 1,\cf0 2,\cf0 3,\cf0 4,\cf0 5,\cf0 6,)", "12345678", true},  // serial -1
        {"Vendrel,RZT7680,-3,1.23", R"(\cf0 0,\cf0 1,\cf0 2,\cf0 3,\cf0 4,\cf0 5,\cf0 6,)", "12345678", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.idn);
        bool blocking = false;
        std::string text = BuildProposedOperation(entries, 8, c.idn, "", &blocking);
        EXPECT_NE(std::string::npos, text.find(std::string("Erase Sectors: ") + c.erase + "\\par")) << text;
        std::string numbers;
        for (size_t at = 0; (at = text.find("\\par\\cf0 ", at)) != std::string::npos; at++) {
            numbers += text[at + 9];
        }
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
    std::string rzt86 = BuildProposedOperation(entries, 4, "V,1", "RZT8610", &blocking);
    EXPECT_NE(std::string::npos, rzt86.find(R"(Erase Sectors: \cf0 15,\cf3 -1,\cf0 7,\cf3 16,\par)"));
    EXPECT_TRUE(blocking);  // a red sector
    blocking = false;
    std::string other = BuildProposedOperation(entries, 4, "V,1", "RZT6610", &blocking);
    EXPECT_NE(std::string::npos, other.find(R"(Erase Sectors: \cf3 15,\cf3 -1,\cf0 7,\cf3 16,\par)"));
    EXPECT_NE(std::string::npos, other.find(R"(a.hex               \cf0 --/--/--\par)"));
    EXPECT_NE(std::string::npos, other.find(R"(d.hex               \cf0 --/--/--\par)"));
    EXPECT_NE(std::string::npos, other.find(std::string(R"(c.hex               \cf0 )") + local + "\\par"));
    EXPECT_TRUE(blocking);
    blocking = false;
    BuildProposedOperation(&entries[2], 1, "V,1", "RZT6610", &blocking);  // sector 7 only
    EXPECT_FALSE(blocking);
}

TEST(Proposal, TextsCannotBreakTheMarkup)
{
    LoadEntry e = ProposalEntry(0, "sub\\{X}.hex", false);  // a missing file keeps the name as written
    bool blocking = false;
    std::string text = BuildProposedOperation(&e, 1, "V,A\\par{", "T}", &blocking);
    EXPECT_NE(std::string::npos, text.find(R"(\cf0 V,A\\par\{\par)"));
    EXPECT_NE(std::string::npos, text.find(R"(\cf0 T\}\par)"));
    EXPECT_NE(std::string::npos, text.find(R"(\cf3 sub\\\{x\}.hex         \cf0)"));
    EXPECT_EQ('}', text.back());
}

TEST(Proposal, LongNameCutToColumn)
{
    LoadEntry e = ProposalEntry(0, "ABCDEFGHIJKLMNOPQRSTUVWXYZ.hex", true);
    bool blocking = false;
    std::string text = BuildProposedOperation(&e, 1, "V,1", "", &blocking);
    EXPECT_NE(std::string::npos, text.find(R"(\cf0 abcdefghijklmnopqrst\cf0 --/--/--)"));
}

// File names are UTF-8: each character beyond ASCII is one \u in the rich text, shown as itself
// whatever the dialog's code page, and one in the column; the runner's text has the name back.
// A byte that is no UTF-8 stays as it was.
TEST(Proposal, NamesBeyondAscii)
{
    static const struct { const char *name, *rich, *text; } cases[] = {
        {"pr\xC3\xBC" "fung.hex", "pr\\u252?fung.hex         ", "pr\xC3\xBC" "fung.hex         "},
        // U+6D4B U+91CF ("measure"), cut at 20 characters, not at 20 bytes.
        {"\xE6\xB5\x8B\xE9\x87\x8F-0123456789abcdefgh.hex", "\\u27979?\\u-28209?-0123456789abcdefg",
         "\xE6\xB5\x8B\xE9\x87\x8F-0123456789abcdefg"},
        // U+1F4CF, beyond U+FFFF: two units.
        {"\xF0\x9F\x93\x8F.hex", "\\u-10179?\\u-9009?.hex               ", "\xF0\x9F\x93\x8F.hex               "},
        {"caf\xE9.hex", "caf\xE9.hex            ", "caf\xE9.hex            "},  // Latin-1
        {"caf\xC3.hex", "caf\xC3.hex            ", "caf\xC3.hex            "},  // a sequence cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        LoadEntry e = ProposalEntry(0, c.name, true);
        bool blocking = false;
        std::string rich = BuildProposedOperation(&e, 1, "V,1", "", &blocking);
        EXPECT_NE(std::string::npos, rich.find(std::string("\\cf0 ") + c.rich + "\\cf0 --/--/--")) << rich;
        std::string text = ProposedOperationText(rich.c_str());
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
