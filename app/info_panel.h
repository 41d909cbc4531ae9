// The information panel's content: what the panel says about the link and the instrument,
// as a list of styled runs. Portable; the window side (info_panel_win.cpp) only renders the
// runs, in order, at the end of the rich-edit panel.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/textrun.h"
#include "link/link.h"

// How a run is shown. The renderer applies each run's style explicitly: the panel's default
// character format for PANEL_PLAIN, default plus bold for PANEL_BOLD, and default plus bold in
// red (255, 40, 40) for PANEL_WARNING. (Inserting plain text without a format would inherit
// the bold of the run before it.)
enum PanelStyle { PANEL_PLAIN, PANEL_BOLD, PANEL_WARNING };

using PanelRun = TextRun;  // style: PanelStyle

// Facts of PanelFacts the instrument's texts may leave unknown: bits of PanelFacts::unknown.
enum PanelFactBit {
    PANEL_FACT_MODEL = 1 << 0,
    PANEL_FACT_SERIAL_NUMBER = 1 << 1,
    PANEL_FACT_TYPE = 1 << 2,
    PANEL_FACT_MAIN_RELEASE = 1 << 3,
    PANEL_FACT_FPGA_RELEASE = 1 << 4,
    PANEL_FACT_DSP_RELEASE = 1 << 5,
    PANEL_FACT_BOOT_RELEASE = 1 << 6,
    PANEL_FACT_LOCAL_CALIBRATION = 1 << 7,
    PANEL_FACT_MAKER_CALIBRATION = 1 << 8,
    PANEL_FACT_CALIBRATION_WARNING = 1 << 9,
};

// What the panel says about a connected, recognised instrument, before it is styled: the text
// after each of its labels. The headless runner's identification report shows the same facts.
struct PanelFacts {
    std::string interfaceName;  // "USB", "LAN", "Serial" ("Unknown" for any other kind)
    std::string address;        // IP address for LAN, else the COM port
    bool serial;                // a Serial link: the panel also shows its baud rate
    uint32_t baudRate;
    // Pieces the instrument's texts do not have read "Unknown".
    std::string model, serialNumber, type, mainRelease, fpgaRelease, dspRelease, bootRelease;
    std::string localCalibration;  // "10 06 2021"; empty when the panel shows no such line
    std::string makerCalibration;  // "15 Mar 2020" (or a "default" text's pieces, each with a
                                   // space after it); empty when the panel shows no such line
    bool calibrationWarning;       // the red ">18 months since VDL Calibration" line is shown
    // PANEL_FACT_* bits of what the texts do not tell: a missing piece (shown "Unknown"), a
    // local calibration date a model that keeps one did not give, no maker calibration date,
    // and a warning that could not be judged (no maker date, or a month name that is none).
    // calibrationWarning is then false, as the panel shows no warning.
    unsigned unknown;
};

// The facts for rec (connected, modelCode not 0), judged against today's date (month 1-12).
PanelFacts ReadPanelFacts(const ConnectionRecord &rec, int todayYear, int todayMonth, int todayDay);

// The whole panel content for rec, judged against today's date (month 1-12). Adjacent runs
// never share a style: consecutive texts of one style are merged into one run, which saves
// the renderer an insertion each. Never empty.
std::vector<PanelRun> BuildPanelRuns(const ConnectionRecord &rec, int todayYear, int todayMonth, int todayDay);

// Month number 1-12 read from the first letters of a month name, case-insensitive
// ("Mar", "march", "SEPT"...). -1 when the text is not a month name (or null).
int MonthFromName(const char *name);

// True when the maker calibration of calYear/calMonth (1-12) is overdue on the given day:
// strictly after the first day of the month 18 months after the calibration month. The
// calibration's day of month does not matter. Any int values are safe.
bool PanelCalibrationOverdue(long calYear, int calMonth, int todayYear, int todayMonth, int todayDay);
