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
    BOOT_REPLY_TIMEOUT_MS = 5000,  // reply wait of every command
    // Quiet that ends the discarding of late replies before a repeat or after a wait that
    // ended with nothing; a late reply that comes after it is still recognised (SendExpectOk).
    BOOT_LATE_QUIET_MS = 1000,
    BOOT_LATE_LINES_MAX = 64,  // lines discarded at most in one go: a line that never stops
    BOOT_DRAIN_SLICE_MS = 250, // the attention pauses look for a stop this often
};

// Progress position 0..100 for done of total: done*100/total + 1 (done/(total/100) + 1 from
// 20000001 on, which cannot overflow), capped at 100. Never divides by zero: a total of 0 or
// less gives 0 for nothing done and 100 otherwise.
int ProgressPercent(int32_t total, int32_t done);

// True when a boot-loader reply is accepted: at least two characters, the last two "ok" in
// any case.
bool ReplyIsOk(const char *reply);

// Starts a conversation with the boot loader: sets the link's reply wait to
// BOOT_REPLY_TIMEOUT_MS and forgets the replies owed to the sends of an earlier one.
void BootBeginConversation();

// Sends text with SendLine and receives its reply; true when the reply is accepted. Every
// send whose wait ended with nothing leaves a reply owed: before the next send the line is
// first drained until quiet, and any owed reply that still comes later is read and dropped
// before the one that answers this send, so a reply is never paired with the wrong send.
// A failed send (negative result) counts as not accepted without waiting for a reply.
bool SendExpectOk(const char *text);

// Before a command not accepted is sent again: discards what arrives until the line has been
// quiet for BOOT_LATE_QUIET_MS (unless that was done since the last send), so that what
// answered the earlier send cannot answer the repeat.
void BootQuietBeforeRepeat();

// The select code of sector ("C72Dy" ...), or null for sectors without one (only 0..14 have).
const char *SectorSelectCode(int32_t sector);

// SendExpectOk of the sector's select code and a line feed. False, with nothing sent, for a
// sector that has no select code.
bool SelectSector(int32_t sector);

// Whether a boot loader waits on the link: after the line has been quiet, sends the initialise
// command once and returns true when it is accepted. Leaves the reply wait at
// BOOT_REPLY_TIMEOUT_MS.
bool BootLoaderAnswers();

// The log line that ends a failed upgrade: what the instrument was left in at stage (an
// UpgradeStage short of UPGRADE_STAGE_RESTARTED).
const char *BootFailureStateText(int stage);

// The worker: initialise the boot loader, erase the sectors of the chosen set's existing
// entries that are not excluded (those the files list showed), program their files, restart
// the instrument; always ends with UPGRADE_NOTIFY_FINISHED. Sets plan->succeeded only after the
// restart. A failure ends with the status "Upgrade failed" and BootFailureStateText as the
// last log line. Once plan->stopRequested is set it sends nothing more (it looks before the
// attention byte, the initialise command, each erase, each file and each record, and before
// each repeat of an unanswered one) and logs nothing for the part left undone: whoever asked
// for the stop says what it left. Returns plan->succeeded.
bool RunUpgradeProcedure(UpgradePlan *plan);
