// Main window layout arithmetic: the design-size picture, a resize, the script layout, the
// design outer size, the scaled layout at other DPIs and the layout-mode visibility rule.
#include <gtest/gtest.h>

#include "window/main_window.h"

namespace {

enum { RESULTS, PANEL, COMMAND, SEND, LIST, RUN, STEP, CLOSE };

// The design client area at 96 dpi.
const int kClientR = 800, kClientB = 562;

void Compute(LayoutMode mode, int r, int b, LayoutRect *out)
{
    LayoutCompute(MainLayoutRows, LAYOUT_ROWS, mode, 96, LayoutSize{r, b}, out);
}

}  // namespace

// At the design size, 100 wider and 50 taller, and at the minimum tracking size (nothing
// clamped): the results grow by what the client grows, the panel in height only, the command
// line in width only, and every margin stays.
TEST(Layout, ConsoleRowsFollowTheClient)
{
    static const struct { int dw, dh; } sizes[] = {{0, 0}, {100, 50}, {-404, -304}};
    for (const auto &g : sizes) {
        SCOPED_TRACE(testing::Message() << g.dw << ", " << g.dh);
        const int right = kClientR + g.dw, bottom = kClientB + g.dh;
        LayoutRect r[LAYOUT_ROWS];
        Compute(LAYOUT_CONSOLE, right, bottom, r);
        EXPECT_EQ(6, r[RESULTS].x);
        EXPECT_EQ(6, r[RESULTS].y);
        EXPECT_EQ(648 + g.dw, r[RESULTS].w);
        EXPECT_EQ(514 + g.dh, r[RESULTS].h);
        EXPECT_EQ(2, r[PANEL].x - (r[RESULTS].x + r[RESULTS].w));
        EXPECT_EQ(right - 6, r[PANEL].x + r[PANEL].w);
        EXPECT_EQ(6, r[PANEL].y);
        EXPECT_EQ(138, r[PANEL].w);
        EXPECT_EQ(514 + g.dh, r[PANEL].h);
        EXPECT_EQ(6, r[COMMAND].x);
        EXPECT_EQ(706 + g.dw, r[COMMAND].w);
        EXPECT_EQ(24, r[COMMAND].h);
        EXPECT_EQ(bottom - 6, r[COMMAND].y + r[COMMAND].h);
        EXPECT_EQ(75, r[SEND].w);
        EXPECT_EQ(right - 6, r[SEND].x + r[SEND].w);
        EXPECT_EQ(bottom - 6, r[SEND].y + r[SEND].h);
    }
}

TEST(Layout, ScriptLayout)
{
    LayoutRect r[LAYOUT_ROWS];
    Compute(LAYOUT_SCRIPT, kClientR, kClientB, r);
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

TEST(Layout, DesignOuterSizeAndMinimumTrackingSize)
{
    // Non-client width and height: frames, caption and menu bar as each system draws them.
    static const struct { int dpi, ncW, ncH, w, h, minW, minH; } cases[] = {
        {96, 8, 46, 808, 608, 404, 304},     // 4-pixel frames, 19-pixel caption and menu bar
        {96, 16, 59, 816, 621, 408, 310},    // thicker frames and taller bars keep the client
        {120, 10, 52, 1010, 755, 505, 377},  // 562 * 1.25 = 702.5 rounds up
        {144, 12, 68, 1212, 911, 606, 455},
        {192, 16, 92, 1616, 1216, 808, 608},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.dpi << " dpi, non-client " << c.ncW << "x" << c.ncH);
        LayoutSize d = LayoutDesignOuterSize(c.dpi, LayoutSize{c.ncW, c.ncH});
        EXPECT_EQ(c.w, d.w);
        EXPECT_EQ(c.h, d.h);
        LayoutSize m = LayoutMinTrackSize(d);
        EXPECT_EQ(c.minW, m.w);
        EXPECT_EQ(c.minH, m.h);
    }
}

bool Overlap(const LayoutRect &a, const LayoutRect &b)
{
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

// At every DPI and in both layouts, the rows shown at the design size lie inside the client
// area, apart from one another, at their scaled heights: rounding must not make them touch.
TEST(Layout, ScaledLayoutFitsTheScaledClient)
{
    for (int dpi : {96, 108, 120, 144, 168, 192, 288}) {
        for (int state : {0, 1}) {
            SCOPED_TRACE(testing::Message() << dpi << " dpi, script state " << state);
            LayoutSize client = LayoutDesignClientSize(dpi);
            LayoutRect r[LAYOUT_ROWS];
            LayoutCompute(MainLayoutRows, LAYOUT_ROWS, LayoutModeForState(state), dpi, client, r);
            for (int i = 0; i < LAYOUT_ROWS; i++) {
                if (!LayoutRowVisible(i, state)) continue;
                EXPECT_GE(r[i].x, LayoutScale(6, dpi) - 1) << "row " << i;
                EXPECT_GE(r[i].y, LayoutScale(6, dpi) - 1) << "row " << i;
                EXPECT_LE(r[i].x + r[i].w, client.w - LayoutScale(6, dpi) + 1) << "row " << i;
                EXPECT_LE(r[i].y + r[i].h, client.h - LayoutScale(6, dpi) + 1) << "row " << i;
                for (int j = i + 1; j < LAYOUT_ROWS; j++)
                    EXPECT_FALSE(LayoutRowVisible(j, state) && Overlap(r[i], r[j])) << "rows " << i << ", " << j;
            }
            EXPECT_EQ(state ? LayoutScale(152, dpi) : LayoutScale(24, dpi), r[state ? LIST : COMMAND].h);
            EXPECT_EQ(LayoutScale(state ? 384 : 514, dpi), r[RESULTS].h);
        }
    }
    EXPECT_EQ(15, LayoutScale(10, 144));
    EXPECT_EQ(8, LayoutScale(6, 120));  // 7.5 rounds up
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
