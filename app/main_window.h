// The arithmetic of the main window's layout: the table of its eight children with their
// design rectangles, anchors and growth, and the pure computation of where each goes for a
// given window size. The window (main_window_win.cpp) adds classes, styles and fonts and
// moves the children.
#pragma once

// Which edges of the client area a row's design x / y are measured from.
enum AnchorMode { ANCHOR_NONE, ANCHOR_RIGHT, ANCHOR_BOTTOM, ANCHOR_BOTTOM_RIGHT };
// Which dimensions follow the window's growth beyond its design outer size.
enum GrowMode { GROW_NONE, GROW_WIDTH, GROW_HEIGHT, GROW_BOTH };
// Console layout (no script loaded) or script layout (script pane shown).
enum LayoutMode { LAYOUT_CONSOLE, LAYOUT_SCRIPT };

enum {
    LAYOUT_ROWS = 8,
    DESIGN_OUTER_WIDTH = 808,   // before the sizing-frame allowance
    DESIGN_OUTER_HEIGHT = 608,
    CONSOLE_PANE_HEIGHT = 514,  // design height of rows 0 and 1 per layout mode
    SCRIPT_PANE_HEIGHT = 384,
};

struct LayoutRect {
    int x, y, w, h;
};

struct LayoutSize {
    int w, h;
};

struct LayoutRow {
    int id;             // control id (IDC_*)
    LayoutRect design;  // for an anchored side, x or y is the margin to that edge
    AnchorMode anchor;
    GrowMode grow;
};

// The eight children in creation (and layout) order: results, information panel, command
// line, Send, script list, Run, Step, Close.
extern const LayoutRow MainLayoutRows[LAYOUT_ROWS];

// Design outer size: 808 x 608 plus 2 * (frame - 4) for each frame size above 4.
LayoutSize LayoutDesignOuterSize(int cxFrame, int cyFrame);
// Smallest outer size the user may drag: half the design outer size (integer division).
LayoutSize LayoutMinTrackSize(LayoutSize designOuter);

// Design height of rows[index] in the given mode (rows 0 and 1 shrink in the script layout).
int LayoutDesignHeight(const LayoutRow *rows, int index, LayoutMode mode);
// True when the layout pass moves the row (it grows or is anchored).
bool LayoutRowMoves(const LayoutRow &row);

// Computes out[i] for each of the count rows: outer is the window's current outer size,
// designOuter its design outer size, clientRight/clientBottom the client area's right and
// bottom. Sizes are not clamped (a window below its design size shrinks the growing rows).
void LayoutCompute(const LayoutRow *rows, int count, LayoutMode mode, LayoutSize outer,
                   LayoutSize designOuter, int clientRight, int clientBottom, LayoutRect *out);

// Layout mode for a script state (0 = no script loaded -> console layout).
LayoutMode LayoutModeForState(int scriptState);
// Whether row index of MainLayoutRows is shown for a script state: results and panel always,
// command line and Send only without a script, the script pane only with one.
bool LayoutRowVisible(int index, int scriptState);
