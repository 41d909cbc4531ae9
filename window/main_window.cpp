// Layout arithmetic of the main window: pure functions over the child layout table, so the
// resize and DPI rules can be checked without a window.
#include "window/main_window.h"

#include "res/resource.h"

const LayoutRow MainLayoutRows[LAYOUT_ROWS] = {
    {IDC_RESULTS, {6, 6, 648, CONSOLE_PANE_HEIGHT}, ANCHOR_NONE, GROW_BOTH},
    {IDC_INFO_PANEL, {6, 6, 138, CONSOLE_PANE_HEIGHT}, ANCHOR_RIGHT, GROW_HEIGHT},
    {IDC_COMMAND_LINE, {6, 6, 706, 24}, ANCHOR_BOTTOM, GROW_WIDTH},
    {IDC_SEND, {6, 6, 75, 24}, ANCHOR_BOTTOM_RIGHT, GROW_NONE},
    {IDC_SCRIPT_LIST, {6, 6, 706, 152}, ANCHOR_BOTTOM, GROW_WIDTH},
    {IDC_SCRIPT_RUN, {6, 134, 75, 24}, ANCHOR_BOTTOM_RIGHT, GROW_NONE},
    {IDC_SCRIPT_STEP, {6, 108, 75, 24}, ANCHOR_BOTTOM_RIGHT, GROW_NONE},
    {IDC_SCRIPT_CLOSE, {6, 82, 75, 24}, ANCHOR_BOTTOM_RIGHT, GROW_NONE},
};

// Rows whose height depends on the layout mode: the results window and the panel give up
// room to the script pane below them.
enum { PANE_ROWS = 2 };

int LayoutScale(int value, int dpi)
{
    long long scaled = (long long)value * dpi;
    long long half = DESIGN_DPI / 2;
    return (int)(scaled >= 0 ? (scaled + half) / DESIGN_DPI : (scaled - half) / DESIGN_DPI);
}

LayoutSize LayoutDesignClientSize(int dpi)
{
    return LayoutSize{LayoutScale(DESIGN_CLIENT_WIDTH, dpi), LayoutScale(DESIGN_CLIENT_HEIGHT, dpi)};
}

LayoutSize LayoutDesignOuterSize(int dpi, LayoutSize nonClient)
{
    // Frames, caption and menu bar differ between systems and DPIs: sizing the window around
    // the design client area keeps every child inside it, whatever they measure.
    LayoutSize s = LayoutDesignClientSize(dpi);
    return LayoutSize{s.w + nonClient.w, s.h + nonClient.h};
}

LayoutSize LayoutMinTrackSize(LayoutSize designOuter)
{
    return LayoutSize{designOuter.w / 2, designOuter.h / 2};
}

int LayoutDesignHeight(const LayoutRow *rows, int index, LayoutMode mode)
{
    if (mode == LAYOUT_SCRIPT && index < PANE_ROWS) return SCRIPT_PANE_HEIGHT;
    return rows[index].design.h;
}

bool LayoutRowMoves(const LayoutRow &row)
{
    return row.grow != GROW_NONE || row.anchor != ANCHOR_NONE;
}

void LayoutCompute(const LayoutRow *rows, int count, LayoutMode mode, int dpi, LayoutSize client,
                   LayoutRect *out)
{
    LayoutSize design = LayoutDesignClientSize(dpi);
    int dW = client.w - design.w;
    int dH = client.h - design.h;
    for (int i = 0; i < count; i++) {
        const LayoutRow &r = rows[i];
        bool growW = r.grow == GROW_WIDTH || r.grow == GROW_BOTH;
        bool growH = r.grow == GROW_HEIGHT || r.grow == GROW_BOTH;
        bool right = r.anchor == ANCHOR_RIGHT || r.anchor == ANCHOR_BOTTOM_RIGHT;
        bool bottom = r.anchor == ANCHOR_BOTTOM || r.anchor == ANCHOR_BOTTOM_RIGHT;
        int marginX = LayoutScale(r.design.x, dpi), marginY = LayoutScale(r.design.y, dpi);
        LayoutRect &o = out[i];
        o.w = LayoutScale(r.design.w, dpi) + (growW ? dW : 0);
        o.h = LayoutScale(LayoutDesignHeight(rows, i, mode), dpi) + (growH ? dH : 0);
        o.x = right ? client.w - o.w - marginX : marginX;
        o.y = bottom ? client.h - o.h - marginY : marginY;
    }
}

LayoutMode LayoutModeForState(int scriptState)
{
    return scriptState == 0 ? LAYOUT_CONSOLE : LAYOUT_SCRIPT;
}

bool LayoutRowVisible(int index, int scriptState)
{
    if (index < 0 || index >= LAYOUT_ROWS) return false;
    if (index < PANE_ROWS) return true;
    bool scriptRow = MainLayoutRows[index].id >= IDC_SCRIPT_LIST;
    return scriptRow == (scriptState != 0);
}
