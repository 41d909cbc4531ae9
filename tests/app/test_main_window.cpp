// Main window layout arithmetic: the design-size picture, a resize, the script layout, the
// frame allowance and the layout-mode visibility rule.
#include <gtest/gtest.h>

#include "app/main_window.h"
#include "res/resource.h"

namespace {

enum { RESULTS, PANEL, COMMAND, SEND, LIST, RUN, STEP, CLOSE };

// 4-pixel frames: outer 808 x 608; client 800 wide, and (say) 554 high under caption and menu.
const LayoutSize kDesign = {808, 608};
const int kClientR = 800, kClientB = 554;

void Compute(LayoutMode mode, LayoutSize outer, int r, int b, LayoutRect *out)
{
    LayoutCompute(MainLayoutRows, LAYOUT_ROWS, mode, outer, kDesign, r, b, out);
}

}  // namespace

TEST(Layout, TableHoldsTheEightChildrenInCreationOrder)
{
    static const int ids[LAYOUT_ROWS] = {IDC_RESULTS, IDC_INFO_PANEL, IDC_COMMAND_LINE, IDC_SEND,
                                         IDC_SCRIPT_LIST, IDC_SCRIPT_RUN, IDC_SCRIPT_STEP, IDC_SCRIPT_CLOSE};
    for (int i = 0; i < LAYOUT_ROWS; i++) {
        EXPECT_EQ(ids[i], MainLayoutRows[i].id) << "row " << i;
        EXPECT_TRUE(LayoutRowMoves(MainLayoutRows[i])) << "row " << i;
    }
}

TEST(Layout, DesignSizeConsole)
{
    LayoutRect r[LAYOUT_ROWS];
    Compute(LAYOUT_CONSOLE, kDesign, kClientR, kClientB, r);
    EXPECT_EQ(6, r[RESULTS].x);
    EXPECT_EQ(6, r[RESULTS].y);
    EXPECT_EQ(648, r[RESULTS].w);
    EXPECT_EQ(514, r[RESULTS].h);
    EXPECT_EQ(kClientR - 6, r[PANEL].x + r[PANEL].w);
    EXPECT_EQ(2, r[PANEL].x - (r[RESULTS].x + r[RESULTS].w));
    EXPECT_EQ(6, r[PANEL].y);
    EXPECT_EQ(514, r[PANEL].h);
    EXPECT_EQ(706, r[COMMAND].w);
    EXPECT_EQ(6, r[COMMAND].x);
    EXPECT_EQ(kClientB - 6, r[COMMAND].y + r[COMMAND].h);
    EXPECT_EQ(kClientR - 6, r[SEND].x + r[SEND].w);
    EXPECT_EQ(kClientB - 6, r[SEND].y + r[SEND].h);
}

TEST(Layout, ResizeGrowsAndMovesOnlyWhatTheRulesSay)
{
    // 100 wider and 50 taller: the client grows by the same amounts.
    LayoutRect r[LAYOUT_ROWS];
    Compute(LAYOUT_CONSOLE, {908, 658}, kClientR + 100, kClientB + 50, r);
    EXPECT_EQ(748, r[RESULTS].w);
    EXPECT_EQ(564, r[RESULTS].h);
    EXPECT_EQ(138, r[PANEL].w);  // panel grows in height only
    EXPECT_EQ(564, r[PANEL].h);
    EXPECT_EQ(kClientR + 100 - 6, r[PANEL].x + r[PANEL].w);
    EXPECT_EQ(806, r[COMMAND].w);
    EXPECT_EQ(24, r[COMMAND].h);
    EXPECT_EQ(kClientB + 50 - 6, r[COMMAND].y + r[COMMAND].h);
    EXPECT_EQ(75, r[SEND].w);
    EXPECT_EQ(kClientR + 100 - 6, r[SEND].x + r[SEND].w);

    // At the minimum tracking size nothing is clamped: the growing rows shrink just as much.
    LayoutSize min = LayoutMinTrackSize(kDesign);
    Compute(LAYOUT_CONSOLE, min, kClientR - 404, kClientB - 304, r);
    EXPECT_EQ(648 - 404, r[RESULTS].w);
    EXPECT_EQ(514 - 304, r[RESULTS].h);
}

TEST(Layout, ScriptLayout)
{
    LayoutRect r[LAYOUT_ROWS];
    Compute(LAYOUT_SCRIPT, kDesign, kClientR, kClientB, r);
    EXPECT_EQ(384, r[RESULTS].h);
    EXPECT_EQ(384, r[PANEL].h);
    EXPECT_EQ(152, r[LIST].h);
    EXPECT_EQ(kClientB - 6, r[LIST].y + r[LIST].h);
    static const struct { int row, bottomMargin; } buttons[] = {{RUN, 134}, {STEP, 108}, {CLOSE, 82}};
    for (const auto &b : buttons) {
        EXPECT_EQ(kClientB - b.bottomMargin, r[b.row].y + r[b.row].h) << "row " << b.row;
        EXPECT_EQ(kClientR - 6, r[b.row].x + r[b.row].w) << "row " << b.row;
    }
    EXPECT_EQ(r[LIST].y, r[RUN].y);  // Run's top level with the list's top
    // The table itself is not changed by the script layout.
    EXPECT_EQ(514, MainLayoutRows[RESULTS].design.h);
    EXPECT_EQ(514, LayoutDesignHeight(MainLayoutRows, RESULTS, LAYOUT_CONSOLE));
}

TEST(Layout, FrameAllowanceAndMinimumTrackingSize)
{
    static const struct { int cx, cy, w, h, minW, minH; } cases[] = {
        {4, 4, 808, 608, 404, 304},
        {1, 3, 808, 608, 404, 304},  // thin frames add nothing
        {8, 4, 816, 608, 408, 304},
        {5, 7, 810, 614, 405, 307},  // odd halves round down
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "frame " << c.cx << "x" << c.cy);
        LayoutSize d = LayoutDesignOuterSize(c.cx, c.cy);
        EXPECT_EQ(c.w, d.w);
        EXPECT_EQ(c.h, d.h);
        LayoutSize m = LayoutMinTrackSize(d);
        EXPECT_EQ(c.minW, m.w);
        EXPECT_EQ(c.minH, m.h);
    }
}

TEST(Layout, ModeSwitchVisibility)
{
    // Rows: results, panel, command, send, list, run, step, close.
    static const bool console[LAYOUT_ROWS] = {true, true, true, true, false, false, false, false};
    static const bool script[LAYOUT_ROWS] = {true, true, false, false, true, true, true, true};
    for (int state : {0, 1, 2, 3}) {
        const bool *want = state == 0 ? console : script;
        EXPECT_EQ(state == 0 ? LAYOUT_CONSOLE : LAYOUT_SCRIPT, LayoutModeForState(state));
        for (int i = 0; i < LAYOUT_ROWS; i++)
            EXPECT_EQ(want[i], LayoutRowVisible(i, state)) << "state " << state << " row " << i;
    }
    EXPECT_FALSE(LayoutRowVisible(LAYOUT_ROWS, 0));
    EXPECT_FALSE(LayoutRowVisible(-1, 1));
}
