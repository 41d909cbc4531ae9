// The connect-and-identify sequence. Every milestone goes to the comms log so that a
// debugger can watch the link come up; the user sees at most one message box per call.
#include "link/connect.h"

#include <cstdio>
#include <cstring>

#include "common/texttab.h"
#include "common/textutil.h"
#include "link/commslog.h"
#include "link/ident.h"

// Shown after "The connection was successful\n" when the instrument's model is not known.
static const char kUnknownInstrument[] = "Unknown Instrument";
static const char kIdentifiedPrefix[] = "***\tIDENTIFIED: ";

static char s_identityReply[CONNECT_REPLY_SIZE];  // what the last sequence got to "*IDN?"

const char *ConnectIdentityReply() { return s_identityReply; }

size_t ConnectIdentifiedMarker(char *out, size_t cap, const char *reply, int code)
{
    if (cap == 0) return 0;
    char suffix[32];
    snprintf(suffix, sizeof suffix, " (%d)\t***\n", code);
    size_t fixed = strlen(kIdentifiedPrefix) + strlen(suffix);
    // A reply of up to 255 characters can outgrow the marker buffer; the reply gives way so
    // that the entry still ends with its closing asterisks and line feed.
    size_t room = cap > fixed ? cap - 1 - fixed : 0;
    snprintf(out, cap, "%s%.*s%s", kIdentifiedPrefix, (int)room, reply, suffix);
    return strlen(out);
}

static void ConnectReportOpenFailure(UiOwner owner, const ConnectionRecord *rec)
{
    // The record's fields are fixed arrays filled elsewhere; never read past them.
    char name[sizeof rec->ipAddress];
    char text[128];
    if (rec->interfaceKind == IFACE_LAN) {
        TextCopyN(name, sizeof name, rec->ipAddress, sizeof rec->ipAddress - 1);
        snprintf(text, sizeof text, LinkTextTable[27], name);
    } else {
        TextCopyN(name, sizeof name, rec->portName, sizeof rec->portName - 1);
        snprintf(text, sizeof text, LinkTextTable[28], name);
    }
    UiMessage(owner, text, LinkTextTable[22], UI_ICON_INFO, UI_OK);
}

// Asks "*IDN?" until a non-empty line comes back or the attempts run out. reply keeps
// what the last attempt left in it. Returns the number of attempts made.
static int ConnectAskIdentity(ConnectionRecord *rec, char *reply, int size)
{
    for (int attempt = 1; attempt <= CONNECT_IDN_ATTEMPTS; attempt++) {
        SendLine("*IDN?\n", rec);
        int got = ReceiveLine(reply, size, rec);
        reply[size - 1] = '\0';
        if (got >= 1 && reply[0] != '\0') return attempt;
    }
    return CONNECT_IDN_ATTEMPTS;
}

// Clears field, sends command and keeps at most keep characters of a reply of 1 or more.
static void ConnectQueryText(ConnectionRecord *rec, const char *command, char *field, size_t fieldSize,
                             size_t keep)
{
    char reply[CONNECT_REPLY_SIZE];
    memset(field, 0, fieldSize);
    SendLine(command, rec);
    int got = ReceiveLine(reply, sizeof reply, rec);
    reply[sizeof reply - 1] = '\0';
    if (got >= 1) TextCopyN(field, fieldSize, reply, keep);
}

// Sets modelCode from a non-empty reply and, for a known model, reads the instrument's texts.
static void ConnectClassify(ConnectionRecord *rec, const char *reply)
{
    // Something answered: whatever the reply says, the texts of the instrument before it no
    // longer describe the one on the link, and must not name it in the dialog or the title.
    rec->modelCode = MODEL_UNKNOWN;
    rec->idnText[0] = '\0';
    rec->calibrationText[0] = '\0';
    rec->calVersionText[0] = '\0';
    rec->versionText[0] = '\0';
    const char *comma = strchr(reply, ',');
    if (!comma) return;  // not an identification reply
    rec->modelCode = ClassifyModel(comma + 1);
    if (rec->modelCode == MODEL_UNKNOWN) {
        WriteCommsLog("***\tUNIDENTIFIED INSTRUMENT\t***\n");
        return;
    }
    char marker[CONNECT_REPLY_SIZE];
    ConnectIdentifiedMarker(marker, sizeof marker, reply, rec->modelCode);
    WriteCommsLog(marker);
    TextCopyN(rec->idnText, sizeof rec->idnText, reply, 127);
    ConnectQueryText(rec, "calstr?\n", rec->calibrationText, sizeof rec->calibrationText, 255);
    ConnectQueryText(rec, "calver?\n", rec->calVersionText, sizeof rec->calVersionText, 255);
    ConnectQueryText(rec, "version?\n", rec->versionText, sizeof rec->versionText, 127);
}

static void ConnectShowResult(UiOwner owner, const ConnectionRecord *rec, bool result)
{
    char text[256];
    if (result) {
        char idn[sizeof rec->idnText];
        TextCopyN(idn, sizeof idn, rec->idnText, sizeof rec->idnText - 1);
        TextCopy(text, sizeof text, LinkTextTable[25]);
        TextAppend(text, sizeof text, idn[0] ? idn : kUnknownInstrument);
    } else {
        // A code left by an earlier identification means something answered before.
        TextCopy(text, sizeof text, LinkTextTable[rec->modelCode != MODEL_UNKNOWN ? 29 : 26]);
    }
    UiMessage(owner, text, LinkTextTable[22], UI_ICON_INFO, UI_OK);
}

// Whether a link left open by an unanswered attempt still works: the instrument may since have
// been switched off and on, ended its LAN connection or lost its cable, and every attempt on
// the dead link would fail however well it answers now. What waits is thrown away (answers to
// earlier attempts); a read error means dead. Bounded, for an instrument that never stops.
static bool OpenLinkStillWorks(ConnectionRecord *rec)
{
    for (int n = 0; n < 4 * LAN_RING_SIZE; n++) {
        int c = ReadByte(rec);
        if (c < 0) return c != -1;
    }
    return true;
}

bool ConnectAndIdentify(UiOwner owner, ConnectionRecord *rec, bool showResult, bool reportOpenFailure)
{
    s_identityReply[0] = '\0';
    if (rec->interfaceKind == IFACE_NONE) return false;
    WriteCommsLog("***\tCONNECTING\t***\n");
    // A link left open by an unanswered attempt leads to the instrument (port, rate) of that
    // attempt: reuse it only when the settings are still the same, and it still works.
    if (rec->isOpen && (LinkSettingsChanged(rec) || !OpenLinkStillWorks(rec))) CloseLink(rec);
    bool reused = rec->isOpen != 0;
    if (OpenLink(rec) < 0) {
        if (reportOpenFailure) ConnectReportOpenFailure(owner, rec);
        return false;
    }
    WriteCommsLog("***\tCONNECTED\t***\n");
    // A second wake-up and an escape sequence put the instrument's interpreter into a
    // known state; neither carries a terminator.
    SendLine("\x14", rec);
    SendLine("^[", rec);
    SetReplyTimeout(CONNECT_IDN_TIMEOUT_MS, rec);
    void *cursor = UiBeginWait();

    char reply[CONNECT_REPLY_SIZE] = "";
    int attempts = ConnectAskIdentity(rec, reply, sizeof reply);
    SetReplyTimeout(CONNECT_QUERY_TIMEOUT_MS, rec);
    TextCopy(s_identityReply, sizeof s_identityReply, reply);
    bool result = reply[0] != '\0';
    // Replies to the attempts before the answered one (also those of an earlier call on this
    // open link) may still be on their way; read as answers to the queries they would put the
    // identity where the calibration and version texts belong. One attempt costs nothing.
    if (result && (attempts > 1 || reused)) DrainUntilQuiet(rec, CONNECT_LATE_REPLY_QUIET_MS);
    if (result) ConnectClassify(rec, reply);

    if (showResult) ConnectShowResult(owner, rec, result);
    UiEndWait(cursor);
    return result;
}
