// The arithmetic of the main window's layout: the table of its eight children with their
// design rectangles (at 96 dpi), anchors and growth, and the pure computation of where each
// goes for a given client area and DPI. The window (main_window_win.cpp) adds classes, styles
// and fonts and moves the children.
#pragma once

// Which edges of the client area a row's design x / y are measured from.
enum AnchorMode { ANCHOR_NONE, ANCHOR_RIGHT, ANCHOR_BOTTOM, ANCHOR_BOTTOM_RIGHT };
// Which dimensions follow the window's growth beyond its design outer size.
enum GrowMode { GROW_NONE, GROW_WIDTH, GROW_HEIGHT, GROW_BOTH };
// Console layout (no script loaded) or script layout (script pane shown).
enum LayoutMode { LAYOUT_CONSOLE, LAYOUT_SCRIPT };

enum {
    LAYOUT_ROWS = 8,
    DESIGN_DPI = 96,
    DESIGN_OUTER_WIDTH = 808,   // at 96 dpi with 4-pixel frames, a 19-pixel caption and a
    DESIGN_OUTER_HEIGHT = 608,  // 19-pixel menu bar, around the design client area:
    DESIGN_CLIENT_WIDTH = 800,
    DESIGN_CLIENT_HEIGHT = 562,
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

// A length of the 96-dpi design at dpi, rounded to the nearest pixel (as MulDiv does).
int LayoutScale(int value, int dpi);
// The design client area at dpi, and the outer size around it with the window's non-client
// width and height (frames, caption, menu bar) at that DPI.
LayoutSize LayoutDesignClientSize(int dpi);
LayoutSize LayoutDesignOuterSize(int dpi, LayoutSize nonClient);
// Smallest outer size the user may drag: half the design outer size (integer division).
LayoutSize LayoutMinTrackSize(LayoutSize designOuter);

// Design height (96 dpi) of rows[index] in the given mode (rows 0 and 1 shrink in the script
// layout).
int LayoutDesignHeight(const LayoutRow *rows, int index, LayoutMode mode);
// True when the layout pass moves the row (it grows or is anchored).
bool LayoutRowMoves(const LayoutRow &row);

// Computes out[i] for each of the count rows at dpi: the design rectangles scaled, and the
// growing rows grown by what the client area has beyond the design client area at dpi. Sizes
// are not clamped (a window below its design size shrinks the growing rows).
void LayoutCompute(const LayoutRow *rows, int count, LayoutMode mode, int dpi, LayoutSize client,
                   LayoutRect *out);

// Layout mode for a script state (0 = no script loaded -> console layout).
LayoutMode LayoutModeForState(int scriptState);
// Whether row index of MainLayoutRows is shown for a script state: results and panel always,
// command line and Send only without a script, the script pane only with one.
bool LayoutRowVisible(int index, int scriptState);
