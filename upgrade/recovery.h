// What a failed upgrade leaves behind: an instrument waiting in its boot loader, which no
// longer answers "*IDN?". The upgrade command remembers, per link, the identification of the
// last instrument whose upgrade failed after the attention byte, so that a later upgrade on
// that link can recognise the boot loader and program the same file again. The record
// outlives the program (the headless runner is a new process every time): the front ends
// keep it in a file (recovery_win.cpp; the host tests in memory). UI thread only.
#pragma once
#include <cstddef>
#include <string>

#include "link/link.h"
#include "upgrade/upgrade.h"

enum { RECOVERY_TIME_SIZE = 32 };

// The instrument as it was identified before its failed upgrade.
struct RecoveryRecord {
    char idnText[128];      // its "*IDN?" reply
    char versionText[128];  // its "version?" reply
    char file[UPGRADE_PATH_SIZE];  // the upgrade file, as the front end stored it
    char time[RECOVERY_TIME_SIZE];  // local time of the failure, "2026-12-09 14:05"
};

// --- Seams the front end supplies (both programs: upgrade/recovery_win.cpp; the host tests:
// tests/support/fakeupgrade.cpp) ---

// The record kept for link, if any.
bool RecoveryLoad(const char *link, RecoveryRecord *out);
// Keeps rec for link, replacing what was kept; file is stored as a full path.
void RecoverySave(const char *link, const RecoveryRecord *rec);
// Forgets the record of link.
void RecoveryForget(const char *link);
// True when the paths a and b name the same file (a relative path counts from the working
// directory; letters compare without regard to case, as the file system does).
bool RecoverySameFile(const char *a, const char *b);

// --- Portable ---

// The name a link's record is kept under: "COM5" for USB and serial links (the port, whatever
// the rate), "LAN 192.168.1.20" for LAN; empty without an interface.
std::string RecoveryLinkName(const ConnectionRecord *rec);

// Fills rec from the identification texts, the file and the current local time.
void RecoveryFill(RecoveryRecord *rec, const char *idnText, const char *versionText, const char *file);

// True when idnText names the instrument of rec: the same model and serial number.
bool RecoveryIsInstrument(const RecoveryRecord *rec, const char *idnText);

// The question asked when the boot loader answers: "The instrument <model> <serial> is still
// in its boot loader after a failed upgrade at <time>. Program it again with <file>?".
std::string RecoveryQuestion(const RecoveryRecord *rec);

// The refusal when another file is chosen for an instrument in that state.
std::string RecoveryOtherFileText(const RecoveryRecord *rec);
