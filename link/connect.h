// The connect-and-identify sequence: opens the link, wakes the instrument, identifies it and
// reads its calibration and firmware texts into the record's identification fields. Portable:
// it talks only through the link operations and the user-interface seam, so the window
// program and a headless runner share it.
#pragma once
#include <cstddef>

#include "link/ui.h"
#include "link/link.h"

enum {
    CONNECT_REPLY_SIZE = 256,     // reply buffer of every query
    CONNECT_IDN_ATTEMPTS = 5,     // "*IDN?" tries before giving up
    CONNECT_IDN_TIMEOUT_MS = 500, // reply wait of each "*IDN?"
    CONNECT_QUERY_TIMEOUT_MS = 5000,  // reply wait afterwards, and left set on return
    // Quiet needed before the queries when replies to earlier "*IDN?" may still be coming.
    // Late replies follow each other one attempt apart, which is a little more than the
    // reply wait (the timeout is noticed and the next attempt sent): a quiet of exactly the
    // reply wait would end just before the next one arrives.
    CONNECT_LATE_REPLY_QUIET_MS = CONNECT_IDN_TIMEOUT_MS + 250,
};

// Opens rec's link and identifies the instrument, filling modelCode, idnText, calibrationText,
// calVersionText and versionText. True when the link is open and the instrument gave a
// non-empty "*IDN?" reply (also for a model that is not recognised); false for interface None
// (nothing sent, nothing shown), an open failure (reported in a message box to owner unless
// reportOpenFailure is false: the reconnect wait tries a port that is not back yet many
// times) or no reply. With showResult the outcome is reported in a message box. An open link is
// reused when its settings are those in rec now, and closed first when they are not. The link
// stays open after a reply failure; the caller decides whether to close it. UI thread only.
bool ConnectAndIdentify(UiOwner owner, ConnectionRecord *rec, bool showResult, bool reportOpenFailure = true);

// The reply the last ConnectAndIdentify got to "*IDN?" (empty when none came), kept also when
// the model is not recognised and idnText stays empty, so that a report can still name what
// answered. UI thread only.
const char *ConnectIdentityReply();

// Builds the "IDENTIFIED" comms-log marker for reply and code into out (capacity cap). When
// the whole reply does not fit, the reply is cut so that the closing " (code)\t***\n" is
// always kept. Returns the length written.
size_t ConnectIdentifiedMarker(char *out, size_t cap, const char *reply, int code);
