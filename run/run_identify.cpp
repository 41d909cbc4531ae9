// --identify and --find: what the window's information panel and its LAN search chooser show,
// as lines of text or as JSON objects, one a line. The facts are the panel's
// (ReadPanelFacts), the search and the probe of its responders the Connect dialog's.
// Main thread only.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/info_panel.h"
#include "app/lan_probe.h"
#include "common/texttab.h"
#include "link/connect.h"
#include "link/lan_find.h"
#include "link/link.h"
#include "run/run.h"

// A reply without the line end an instrument that ends its lines with LF alone leaves on it.
static std::string ReplyText(const char *reply, size_t cap)
{
    std::string text(reply, strnlen(reply, cap));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string RunJsonString(const std::string &text)
{
    std::string out = "\"";
    for (unsigned char c : RunUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

// Builds one JSON object a member at a time, or the same facts as "label: value" lines.
struct Report {
    bool json;
    std::string text;
};

// A member whose JSON value is written as it is; a line only where label is not empty.
static void ReportAddRaw(Report *r, const char *key, const char *label, const std::string &json,
                         const std::string &text)
{
    if (r->json) r->text += std::string(r->text.empty() ? "{" : ",") + RunJsonString(key) + ":" + json;
    else if (*label) r->text += std::string(label) + ": " + text + "\n";
}

// A text member: an absent one (null) is null in JSON and no line in text. A fact taken from
// the end of a reply keeps the LF of an instrument that ends its lines with LF alone.
static void ReportAdd(Report *r, const char *key, const char *label, const std::string *value)
{
    std::string text = value ? ReplyText(value->c_str(), value->size()) : std::string();
    ReportAddRaw(r, key, value ? label : "", value ? RunJsonString(text) : "null", text);
}

// A fact that applies: its value, or when the instrument did not tell it, null in JSON and
// "unknown" in text (never an empty text or a false that would pass for a fact).
static void ReportAddFact(Report *r, const char *key, const char *label, bool known, const std::string &value)
{
    if (known) ReportAdd(r, key, label, &value);
    else ReportAddRaw(r, key, label, "null", "unknown");
}

// The reply to a query the connect sequence asks (asked) or leaves out; an unanswered one left
// its text empty, and what it would have told is unknown.
static void ReportAddReply(Report *r, const char *key, const char *label, bool asked, const std::string &text)
{
    if (asked) ReportAddFact(r, key, label, !text.empty(), text);
    else ReportAdd(r, key, label, nullptr);
}

static void ReportWrite(Report *r)
{
    if (r->json) r->text += "}\n";
    RunWriteLines(r->text.c_str());
}

// The panel's facts of a recognised instrument; for an unrecognised one the panel says only
// "Unknown Instrument", and the texts it would show are absent (null in JSON).
static void ReportFacts(Report *r, const ConnectionRecord &rec)
{
    bool known = rec.modelCode != 0;
    SYSTEMTIME today;
    GetLocalTime(&today);
    PanelFacts f = known ? ReadPanelFacts(rec, today.wYear, today.wMonth, today.wDay) : PanelFacts();
    ReportAdd(r, "interface", "Interface", known ? &f.interfaceName : nullptr);
    ReportAdd(r, "address", "Address", known ? &f.address : nullptr);
    // The members are the same for every instrument: what does not apply is null.
    std::string baud = std::to_string(f.baudRate);
    bool serial = known && f.serial;
    ReportAddRaw(r, "baudRate", serial ? "Baudrate" : "", serial ? baud : "null", baud);
    if (!known) {
        static const char *const keys[] = {"model", "serialNumber", "type", "mainRelease", "fpgaRelease",
                                           "dspRelease", "bootRelease", "localCalibration", "makerCalibration",
                                           "calibrationWarning"};
        for (const char *key : keys) ReportAdd(r, key, "", nullptr);
        return;
    }
    // What the panel shows "Unknown" for, or leaves out for want of a date, is unknown here.
    auto told = [&f](unsigned bit) { return !(f.unknown & bit); };
    ReportAddFact(r, "model", "Model", told(PANEL_FACT_MODEL), f.model);
    ReportAddFact(r, "serialNumber", "Serial No", told(PANEL_FACT_SERIAL_NUMBER), f.serialNumber);
    ReportAddFact(r, "type", "Type", told(PANEL_FACT_TYPE), f.type);
    ReportAddFact(r, "mainRelease", "Main release", told(PANEL_FACT_MAIN_RELEASE), f.mainRelease);
    ReportAddFact(r, "fpgaRelease", "FPGA release", told(PANEL_FACT_FPGA_RELEASE), f.fpgaRelease);
    ReportAddFact(r, "dspRelease", "DSP release", told(PANEL_FACT_DSP_RELEASE), f.dspRelease);
    ReportAddFact(r, "bootRelease", "BOOT release", told(PANEL_FACT_BOOT_RELEASE), f.bootRelease);
    // A model that keeps no local calibration has no such fact: null, and no line.
    const std::string &local = f.localCalibration;
    if (local.empty() && told(PANEL_FACT_LOCAL_CALIBRATION)) ReportAdd(r, "localCalibration", "", nullptr);
    else ReportAddFact(r, "localCalibration", "Last local calibration", !local.empty(), local);
    std::string maker = f.makerCalibration.substr(0, f.makerCalibration.find_last_not_of(' ') + 1);
    ReportAddFact(r, "makerCalibration", "Last VDL calibration", told(PANEL_FACT_MAKER_CALIBRATION), maker);
    bool judged = told(PANEL_FACT_CALIBRATION_WARNING), warn = f.calibrationWarning;
    ReportAddRaw(r, "calibrationWarning", ">18 months since VDL Calibration",
                 !judged ? "null" : warn ? "true" : "false", !judged ? "unknown" : warn ? "yes" : "no");
}

int RunIdentify(bool json)
{
    const ConnectionRecord &rec = g_connection;
    bool known = rec.modelCode != 0;
    // The connect sequence asks for the three texts only of a recognised model.
    std::string idn = ReplyText(ConnectIdentityReply(), CONNECT_REPLY_SIZE);
    std::string cal = ReplyText(rec.calibrationText, sizeof rec.calibrationText);
    std::string calVersion = ReplyText(rec.calVersionText, sizeof rec.calVersionText);
    std::string version = ReplyText(rec.versionText, sizeof rec.versionText);
    Report r = {json, std::string()};
    ReportAdd(&r, "idn", "*IDN?", &idn);
    ReportAddReply(&r, "calstr", "calstr?", known, cal);
    ReportAddReply(&r, "calver", "calver?", known, calVersion);
    ReportAddReply(&r, "version", "version?", known, version);
    std::string code = std::to_string(rec.modelCode);
    ReportAddRaw(&r, "modelCode", "Model code", code, code + (known ? " (recognised)" : " (not recognised)"));
    ReportAddRaw(&r, "recognised", "", known ? "true" : "false", "");
    ReportFacts(&r, rec);
    ReportWrite(&r);
    return RUN_EXIT_PASSED;
}

struct FoundRows {
    const FoundInstrument *list;
    bool json;
    int identified;  // rows that hold an identification
};

// One row of the chooser: the address and the identification, or why there is none. Every JSON
// row has the same members; what a row does not have is null.
static void PrintFoundRow(void *context, int index, const char *note)
{
    FoundRows *rows = (FoundRows *)context;
    const FoundInstrument *entry = &rows->list[index];
    bool identified = note == entry->reply;
    if (identified) rows->identified++;
    if (!rows->json) {
        RunWriteLines((std::string(entry->ipText) + "\t" + note + "\n").c_str());
        return;
    }
    Report r = {true, std::string()};
    std::string address = entry->ipText, text = note;
    ReportAdd(&r, "address", "", &address);
    ReportAdd(&r, "identification", "", identified ? &text : nullptr);
    ReportAdd(&r, "failure", "", identified ? nullptr : &text);
    ReportWrite(&r);
}

int RunFind(bool json)
{
    static FoundInstrument list[LAN_FIND_MAX];
    memset(list, 0, sizeof list);
    int found = FindLanInstruments(list);
    if (RunInterrupted()) return RUN_EXIT_INTERRUPTED;
    if (found == 0) {
        RunWriteError(LinkTextTable[30]);  // "No Instruments found on this subnet"
        return RUN_EXIT_NONE_FOUND;
    }
    FoundRows rows = {list, json, 0};
    LanProbeAll(list, PrintFoundRow, &rows);
    if (RunInterrupted()) return RUN_EXIT_INTERRUPTED;
    // Responders that all failed their probe give nothing a line could connect to.
    if (rows.identified == 0) {
        RunWriteError("none of the instruments found identified itself");
        return RUN_EXIT_NONE_FOUND;
    }
    return RUN_EXIT_PASSED;
}
