// The information panel's content for a fixed "today": connection lines, missing pieces,
// calibration dates, the 18-month warning and its boundary, the month-name reader, and which
// facts are unknown.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "app/info_panel.h"
#include "link/ident.h"

using std::string;

namespace {

const char kWarning[] = "  >18 months since VDL Calibration  \n";

ConnectionRecord Connected(int model)
{
    ConnectionRecord rec;
    InitConnectionRecord(&rec);
    rec.connected = 1;
    rec.modelCode = model;
    rec.interfaceKind = IFACE_USB;
    strcpy(rec.portName, "COM5");
    strcpy(rec.idnText, "VENDREL,RZT7680,12345,1.02");
    strcpy(rec.versionText, "v,A,1,2,3,4");
    strcpy(rec.calVersionText, "1_2_3");
    strcpy(rec.calibrationText, "15_March_2020,other");
    return rec;
}

// Builds the panel and checks what every panel must satisfy: no two neighbours share a style.
std::vector<PanelRun> Build(const ConnectionRecord &rec, int y, int m, int d)
{
    std::vector<PanelRun> runs = BuildPanelRuns(rec, y, m, d);
    EXPECT_FALSE(runs.empty());
    for (size_t i = 1; i < runs.size(); i++) EXPECT_NE(runs[i - 1].style, runs[i].style) << "run " << i;
    return runs;
}

string AllText(const std::vector<PanelRun> &runs)
{
    string text;
    for (const PanelRun &run : runs) text += run.text;
    return text;
}

bool HasWarning(const std::vector<PanelRun> &runs)
{
    return !runs.empty() && runs.back().style == PANEL_WARNING && runs.back().text == kWarning;
}

bool Contains(const string &text, const string &part) { return text.find(part) != string::npos; }

}  // namespace

TEST(PanelText, NotConnectedAndNotRecognised)
{
    ConnectionRecord rec = Connected(MODEL_RZT76);
    rec.connected = 0;
    std::vector<PanelRun> runs = Build(rec, 2021, 1, 1);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(PANEL_PLAIN, runs[0].style);
    EXPECT_EQ("No connection", runs[0].text);

    rec = Connected(MODEL_UNKNOWN);
    runs = Build(rec, 2021, 1, 1);
    ASSERT_EQ(1u, runs.size());
    EXPECT_EQ(PANEL_BOLD, runs[0].style);
    EXPECT_EQ("Unknown Instrument", runs[0].text);
}

TEST(PanelText, WholePanelOfALocalCalibrationModel)
{
    std::vector<PanelRun> runs = Build(Connected(MODEL_RZT76), 2021, 9, 2);
    ASSERT_EQ(5u, runs.size());
    EXPECT_EQ(PANEL_BOLD, runs[0].style);
    EXPECT_EQ("Connection Info.\n\n", runs[0].text);
    EXPECT_EQ("  Interface:  USB\n  Address:  COM5\n", runs[1].text);
    EXPECT_EQ(PANEL_BOLD, runs[2].style);
    EXPECT_EQ("\n\nInstrument Info. \n\n", runs[2].text);
    EXPECT_EQ(PANEL_PLAIN, runs[3].style);
    EXPECT_EQ("  Model:  RZT7680\n  Serial No:  12345\n  Type:  A\n  Main release:  1\n"
              "  FPGA release:  2\n  DSP release:  3\n  BOOT release:  4\n\n"
              "  Last local calibration:  \n    1 2 3\n\n"
              "  Last VDL calibration:  \n    15 March 2020\n\n",
              runs[3].text);
    EXPECT_TRUE(HasWarning(runs));
}

TEST(PanelText, ConnectionLines)
{
    static const struct { int kind; const char *lines; } cases[] = {
        {IFACE_USB, "  Interface:  USB\n  Address:  COM5\n"},
        {IFACE_LAN, "  Interface:  LAN\n  Address:  10.1.2.3\n"},
        {IFACE_SERIAL, "  Interface:  Serial\n  Address:  COM5\n  Baudrate:  38400\n"},
        {IFACE_NONE, "  Interface:  Unknown\n  Address:  COM5\n"},  // never indexes outside the table
        {42, "  Interface:  Unknown\n  Address:  COM5\n"},
    };
    for (const auto &c : cases) {
        ConnectionRecord rec = Connected(MODEL_RZT76);
        rec.interfaceKind = c.kind;
        strcpy(rec.ipAddress, "10.1.2.3");
        rec.baudRate = 38400;
        std::vector<PanelRun> runs = Build(rec, 2021, 1, 1);
        ASSERT_GE(runs.size(), 2u);
        EXPECT_EQ(c.lines, runs[1].text) << "interface " << c.kind;
    }
}

TEST(PanelText, MissingPiecesShowUnknown)
{
    static const struct { const char *idn, *version, *expected; } cases[] = {
        {"VENDREL", "v,A,1,2,3,4", "  Model:  Unknown\n  Serial No:  Unknown\n"},
        {"VENDREL,RZT76", "v,A,1,2,3,4", "  Model:  RZT76\n  Serial No:  Unknown\n"},
        {"VENDREL,RZT76,", "v,A,1,2,3,4", "  Serial No:  Unknown\n"},  // trailing comma adds no piece
        {"VENDREL,,77", "v,A,1,2,3,4", "  Model:  \n  Serial No:  77\n"},  // an empty piece is not missing
        {"", "", "  Model:  Unknown\n  Serial No:  Unknown\n  Type:  Unknown\n  Main release:  Unknown\n"},
        {"V,M,S", "v,A,1", "  Type:  A\n  Main release:  1\n  FPGA release:  Unknown\n"
                           "  DSP release:  Unknown\n  BOOT release:  Unknown\n"},
        {"V,M,S", ",,,,,", "  Type:  \n  Main release:  \n  FPGA release:  \n  DSP release:  \n"
                           "  BOOT release:  Unknown\n"},
    };
    for (const auto &c : cases) {
        ConnectionRecord rec = Connected(MODEL_RZT66);
        strcpy(rec.idnText, c.idn);
        strcpy(rec.versionText, c.version);
        EXPECT_TRUE(Contains(AllText(Build(rec, 2021, 1, 1)), c.expected))
                    << "idn \"" << c.idn << "\" version \"" << c.version << "\"";
    }
}

TEST(PanelText, LocalCalibrationOnlyForItsModelsAndWhenComplete)
{
    static const struct { int model; const char *calver; bool shown; } cases[] = {
        {MODEL_RZT76, "1_2_3", true},  {MODEL_RZT26, "1_2_3", true}, {MODEL_RZT66, "1_2_3", true},
        {MODEL_RZT86, "1_2_3", true},  {MODEL_RZT6, "1_2_3", false}, {MODEL_RZT46, "1_2_3", false},
        {MODEL_HGB, "1_2_3", false},   {MODEL_RZT76, "1__3", false}, {MODEL_RZT76, "1_2", false},
        {MODEL_RZT76, "1_2_", false},  {MODEL_RZT76, "", false},     {MODEL_RZT76, "_1_2", false},
    };
    for (const auto &c : cases) {
        ConnectionRecord rec = Connected(c.model);
        strcpy(rec.calVersionText, c.calver);
        string text = AllText(Build(rec, 2020, 4, 1));
        EXPECT_EQ(c.shown, Contains(text, "  Last local calibration:  \n    ")) << c.model << " \"" << c.calver << "\"";
    }
}

TEST(PanelText, MakerCalibrationAgeBoundary)
{
    static const struct { const char *cal; int y, m, d; bool warn; } cases[] = {
        {"15_March_2020", 2021, 9, 1, false},  // the due date itself
        {"15_March_2020", 2021, 9, 2, true},
        {"15_March_2020", 2021, 8, 31, false},
        {"15_March_2020", 2022, 1, 1, true},
        {"15_March_2020", 2019, 12, 31, false},
        {"1_mar_2020", 2021, 9, 2, true},       // the day of the calibration does not matter
        {"31_Jul_2020", 2022, 1, 1, false},     // months carry into the year
        {"31_Jul_2020", 2022, 1, 2, true},
        {"3_Dec_2020", 2022, 6, 1, false},
        {"3_Dec_2020", 2022, 6, 2, true},
        {"3_Jan_2020", 2021, 7, 2, true},
        {"3_Jan_2020", 2021, 7, 1, false},
        {"3_Xyz_2020", 2040, 1, 1, false},      // not a month: shown, but no warning
        {"3_13_2020", 2040, 1, 1, false},
        {"15_Mar_99999999999999999999", 2021, 9, 2, false},  // saturates, far future
        {"15_Mar_-99999999999999999999", 2021, 9, 2, true},
        {"15_Mar_x", 2021, 9, 2, true},         // the year reads as 0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.cal << " on " << c.y << "-" << c.m << "-" << c.d);
        ConnectionRecord rec = Connected(MODEL_RZT86);
        strcpy(rec.calibrationText, c.cal);
        std::vector<PanelRun> runs = Build(rec, c.y, c.m, c.d);
        EXPECT_TRUE(Contains(AllText(runs), "  Last VDL calibration:  \n    "));
        EXPECT_EQ(c.warn, HasWarning(runs));
    }
}

TEST(PanelText, OtherModelsShowTheDateButNeverTheAgeWarning)
{
    for (int model : {MODEL_RZT6, MODEL_RZT46, MODEL_QVN83, MODEL_VDA71, MODEL_HGB}) {
        ConnectionRecord rec = Connected(model);
        std::vector<PanelRun> runs = Build(rec, 2030, 1, 1);
        string text = AllText(runs);
        EXPECT_TRUE(Contains(text, "  Last VDL calibration:  \n    15 March 2020\n\n")) << model;
        EXPECT_FALSE(HasWarning(runs)) << model;
        EXPECT_FALSE(Contains(text, "Last local calibration")) << model;
    }
}

TEST(PanelText, DefaultAndIncompleteMakerDates)
{
    static const struct { int model; const char *cal; const char *shown; bool warn; } cases[] = {
        {MODEL_RZT6, "default", "  Last VDL calibration:  \n    default \n\n", true},
        {MODEL_RZT76, "default\n", "  Last VDL calibration:  \n    default\n \n\n", true},
        {MODEL_HGB, "default_a_,x", "  Last VDL calibration:  \n    default a \n\n", true},
        {MODEL_RZT76, "defaults__2020", "  Last VDL calibration:  \n    defaults  2020 \n\n", true},
        {MODEL_RZT76, "15_March", nullptr, false},   // incomplete, not a default: nothing
        {MODEL_RZT76, "15__2020", nullptr, false},
        {MODEL_RZT76, ",15_March_2020", nullptr, false},  // the date is not in the first field
        {MODEL_RZT76, "", nullptr, false},
        {MODEL_RZT76, "_default", nullptr, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "model " << c.model << " \"" << c.cal << "\"");
        ConnectionRecord rec = Connected(c.model);
        strcpy(rec.calibrationText, c.cal);
        std::vector<PanelRun> runs = Build(rec, 2020, 1, 1);
        string text = AllText(runs);
        if (c.shown) EXPECT_TRUE(Contains(text, c.shown)) << text;
        else EXPECT_FALSE(Contains(text, "Last VDL calibration")) << text;
        EXPECT_EQ(c.warn, HasWarning(runs));
    }
}

// What the texts do not tell is unknown to the identification report: a missing piece, but not
// an empty one; a date, and the warning that needs it, when a query went unanswered.
TEST(PanelFacts, UnknownFacts)
{
    enum { RELEASES = PANEL_FACT_FPGA_RELEASE | PANEL_FACT_DSP_RELEASE | PANEL_FACT_BOOT_RELEASE,
           MAKER = PANEL_FACT_MAKER_CALIBRATION | PANEL_FACT_CALIBRATION_WARNING };
    static const struct { int model; const char *version, *calver, *calstr; unsigned unknown; } cases[] = {
        {MODEL_RZT76, "v,A,1,2,3,4", "1_2_3", "15_March_2020,x", 0},
        {MODEL_RZT76, "v,A,1", "1_2_3", "15_March_2020", RELEASES},
        {MODEL_RZT76, ",,,,,", "1_2_3", "15_March_2020", PANEL_FACT_BOOT_RELEASE},
        {MODEL_RZT76, "", "1_2_3", "15_March_2020", PANEL_FACT_TYPE | PANEL_FACT_MAIN_RELEASE | RELEASES},
        {MODEL_RZT76, "v,A,1,2,3,4", "", "", PANEL_FACT_LOCAL_CALIBRATION | MAKER},
        {MODEL_RZT6, "v,A,1,2,3,4", "", "", MAKER},  // keeps no local date: nothing to know
        {MODEL_RZT76, "v,A,1,2,3,4", "1_2_3", "15_Xyz_2020", PANEL_FACT_CALIBRATION_WARNING},
        {MODEL_RZT6, "v,A,1,2,3,4", "1_2_3", "15_Xyz_2020", 0},  // never warned about a date
        {MODEL_RZT76, "v,A,1,2,3,4", "1_2_3", "default_cal", 0},
    };
    for (const auto &c : cases) {
        ConnectionRecord rec = Connected(c.model);
        strcpy(rec.versionText, c.version);
        strcpy(rec.calVersionText, c.calver);
        strcpy(rec.calibrationText, c.calstr);
        EXPECT_EQ(c.unknown, ReadPanelFacts(rec, 2021, 1, 1).unknown)
            << c.model << " \"" << c.version << "\" \"" << c.calver << "\" \"" << c.calstr << "\"";
    }
}

TEST(PanelText, UnterminatedFieldsStayInsideTheRecord)
{
    ConnectionRecord rec = Connected(MODEL_RZT76);
    memset(rec.idnText, 'i', sizeof rec.idnText);
    memset(rec.calibrationText, '_', sizeof rec.calibrationText);
    memset(rec.portName, 'p', sizeof rec.portName);
    memset(rec.versionText, ',', sizeof rec.versionText);
    memset(rec.calVersionText, 'c', sizeof rec.calVersionText);
    string text = AllText(Build(rec, 2021, 1, 1));
    EXPECT_TRUE(Contains(text, "  Address:  ppppppp\n"));
    EXPECT_TRUE(Contains(text, "  Model:  Unknown\n"));
}

TEST(PanelText, MonthNames)
{
    static const struct { const char *name; int month; } cases[] = {
        {"January", 1}, {"jan", 1},   {"Feb", 2},  {"f", 2},     {"March", 3}, {"MAR", 3},
        {"Mxr", 3},     {"April", 4}, {"ap", 4},   {"May", 5},   {"mAy", 5},   {"Mxy", 5},
        {"June", 6},    {"JUN", 6},   {"July", 7}, {"jul", 7},   {"August", 8}, {"Au", 8},
        {"Sept", 9},    {"s", 9},     {"Oct", 10}, {"Nov", 11},  {"December", 12},
        {"", -1},       {"M", -1},    {"Ma", -1},  {"Mat", -1},  {"J", -1},    {"Ju", -1},
        {"Jux", -1},    {"Jo", -1},   {"A", -1},   {"Ab", -1},   {"B", -1},    {"3", -1},
        {" Mar", -1},
    };
    for (const auto &c : cases) EXPECT_EQ(c.month, MonthFromName(c.name)) << "\"" << c.name << "\"";
    EXPECT_GT(0, MonthFromName(nullptr));
}

TEST(PanelText, OverdueArithmeticIsSafeForAnyValue)
{
    static const struct { long year; int month, ty, tm, td; bool overdue; } cases[] = {
        {2020, 3, 2021, 9, 2, true},
        {2020, 3, 2021, 9, 1, false},
        {LONG_MAX, 12, 2021, 9, 2, false},
        {LONG_MIN, 1, 2021, 9, 2, true},
        {2020, 3, INT_MAX, 12, INT_MAX, true},
        {2020, 3, INT_MIN, 1, 1, false},
        {2020, INT_MAX, 2021, 1, 1, false},
        {2020, INT_MIN, 2021, INT_MIN, INT_MIN, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.overdue, PanelCalibrationOverdue(c.year, c.month, c.ty, c.tm, c.td))
            << c.year << "/" << c.month << " on " << c.ty << "-" << c.tm << "-" << c.td;
    }
}
