// The books of the one connection (g_connection) that both programs keep the same way: the
// record forgets the instrument before a connect sequence, is marked connected with the reply
// poll started once the instrument identified itself, and is closed with the poll stopped.
// What each program shows around them (menus, title, messages) stays in its front end.
// Portable; UI thread (the runner's main thread).
#pragma once
#include "link/link.h"

// Before the connect sequence: no instrument connected, no model known.
void ConnectionForget(ConnectionRecord *rec);
// After a connect sequence: the reply poll starts from a fresh line; when the instrument
// identified itself the record is connected and the poll may read from the link, else the
// connection ends (ConnectionEnd). Returns identified.
bool ConnectionBegin(ConnectionRecord *rec, bool identified);
// The poll stops reading, the record is no longer connected, and the link is closed
// (harmless when nothing is open).
void ConnectionEnd(ConnectionRecord *rec);
