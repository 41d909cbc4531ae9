// The instrument boot-loader conversation and the upgrade worker's procedure, written over the
// link operations on g_connection. Runs on the upgrade worker thread, which alone uses the
// link while it runs; it reports only through the notifications of notify.h.
#pragma once
#include <cstdint>

#include "upgrade/upgrade.h"

enum {
    BOOT_REPLY_SIZE = 128,  // reply buffer; a reply is received with size 127
    BOOT_LINE_SIZE = 512,   // HEX line buffer: a line of at most 510 characters
    BOOT_LINE_MAX = 510,
    BOOT_RECORD_SENDS = 4,  // a record is sent at most this often before it counts as failed
};

// Progress position 0..100 for done of total: done*100/total + 1 (done/(total/100) + 1 from
// 20000001 on, which cannot overflow), capped at 100. Never divides by zero: a total of 0 or
// less gives 0 for nothing done and 100 otherwise.
int ProgressPercent(int32_t total, int32_t done);

// True when a boot-loader reply is accepted: at least two characters, the last two "ok" in
// any case.
bool ReplyIsOk(const char *reply);

// Sends text with SendLine and receives one reply; true when the reply is accepted.
// A failed send (negative result) counts as not accepted without waiting for a reply.
bool SendExpectOk(const char *text);

// The select code of sector ("C72Dy" ...), or null for sectors without one (only 0..14 have).
const char *SectorSelectCode(int32_t sector);

// SendExpectOk of the sector's select code and a line feed. False, with nothing sent, for a
// sector that has no select code.
bool SelectSector(int32_t sector);

// The worker: initialise the boot loader, erase the sectors of the chosen set's existing
// entries that are not excluded (those the files list showed), program their files, restart
// the instrument; always ends with UPN_FINISHED. Sets plan->succeeded only after the
// restart. Once plan->stopRequested is set it sends nothing more (it looks before the
// attention byte, the initialise command, each erase, each file and each record, and before
// each repeat of an unanswered one) and logs no error for the part left undone. Returns
// plan->succeeded.
bool RunUpgradeProcedure(UpgradePlan *plan);
