// The boot-loader conversation (attention, initialise, select, erase, records, restart) and the
// upgrade worker's procedure over it. Runs on the upgrade worker thread; every command waits
// for its own "ok" (never one that answered an earlier send), and after any failure nothing
// more is sent to the instrument.
#include "upgrade/bootproto.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/fileio.h"
#include "common/textutil.h"
#include "link/link.h"
#include "upgrade/notify.h"

enum { BOOT_TEXT_SIZE = 320 };  // status and log lines: a message and a name of up to 259

static const char BOOT_ATTENTION[] = "\x19";
static const char BOOT_INITIALISE[] = "C7D2z\n";
static const char BOOT_ERASE[] = "x";
static const char BOOT_RESTART[] = "z\n";
static const char BOOT_RESTART_BYTE[] = "\x15";

// Everything the worker keeps for one run.
struct BootRun {
    UpgradePlan *plan;
    LoadEntry *entries;                    // UPGRADE_MAX_ENTRIES slots of the chosen set
    int32_t sectors[UPGRADE_MAX_ENTRIES];  // distinct sectors, in order of first appearance
    int sectorCount;
    int32_t totalSize;                     // bytes of all existing files
    int32_t charsRead;                     // characters read so far, line ends as one
};

int ProgressPercent(int32_t total, int32_t done)
{
    if (done <= 0) return done < 0 ? 0 : (total > 0 ? 1 : 0);
    if (total <= 0) return 100;  // a file grew after it was listed: already past the end
    int64_t percent;
    if (done >= 20000001) {
        int32_t hundredth = total / 100;
        if (hundredth == 0) return 100;
        percent = done / hundredth + 1;
    } else {
        percent = (int64_t)done * 100 / total + 1;
    }
    return percent > 100 ? 100 : (int)percent;
}

bool ReplyIsOk(const char *reply)
{
    size_t len = strlen(reply);
    return len >= 2 && TextEqualNoCase(reply + len - 2, "ok");
}

// Replies the boot loader still owes: one for each send whose reply wait ended with nothing.
// It answers every command line once, however late, so the next lines to arrive answer those
// sends first. Worker thread only; BootBeginConversation starts it at 0.
static int s_repliesOwed;
static bool s_lineQuiet;  // drained until quiet since the last send

void BootBeginConversation()
{
    s_repliesOwed = 0;
    s_lineQuiet = false;
    SetReplyTimeout(BOOT_REPLY_TIMEOUT_MS, &g_connection);
}

// Throws away what arrives until the line has been quiet for BOOT_LATE_QUIET_MS; each whole
// line settles one owed reply.
static void BootDiscardLateReplies()
{
    SetReplyTimeout(BOOT_LATE_QUIET_MS, &g_connection);
    char line[BOOT_REPLY_SIZE];
    for (int n = 0; n < BOOT_LATE_LINES_MAX; n++) {
        ReceiveLine(line, BOOT_REPLY_SIZE - 1, &g_connection);
        if (!line[0]) break;
        if (s_repliesOwed > 0) s_repliesOwed--;
    }
    SetReplyTimeout(BOOT_REPLY_TIMEOUT_MS, &g_connection);
    s_lineQuiet = true;
}

bool SendExpectOk(const char *text)
{
    if (s_repliesOwed > 0 && !s_lineQuiet) BootDiscardLateReplies();
    if (SendLine(text, &g_connection) < 0) return false;
    s_lineQuiet = false;
    char reply[BOOT_REPLY_SIZE];
    for (;;) {
        ReceiveLine(reply, BOOT_REPLY_SIZE - 1, &g_connection);
        reply[BOOT_REPLY_SIZE - 1] = '\0';
        if (!reply[0]) {
            s_repliesOwed++;  // this send's reply may still come: it must not answer the next
            return false;
        }
        // The text is judged, not the result: a LAN line cut short by the timeout may still end in ok.
        if (s_repliesOwed == 0) return ReplyIsOk(reply);
        s_repliesOwed--;  // the late answer to an earlier send
    }
}

void BootQuietBeforeRepeat()
{
    if (!s_lineQuiet) BootDiscardLateReplies();
}

const char *SectorSelectCode(int32_t sector)
{
    static const char *const codes[] = {
        "C72Dy", "2DC7y", "7C2Dy", "D2C7y", "27DCy", "DC72y", "7D2Cy", "93EBy",
        "E9B3y", "3B9Ey", "B3E9y", "9BE3y", "E39By", "3E9By", "B93Ey",
    };
    if (sector < 0 || sector >= (int32_t)(sizeof codes / sizeof codes[0])) return nullptr;
    return codes[sector];
}

bool SelectSector(int32_t sector)
{
    const char *code = SectorSelectCode(sector);
    if (!code) return false;  // sector 15 exists for some targets, but has no select code
    char command[16];
    snprintf(command, sizeof command, "%s\n", code);
    return SendExpectOk(command);
}

__attribute__((format(printf, 3, 4)))
static void BootPost(UpgradePlan *plan, int code, const char *fmt, ...)
{
    char text[BOOT_TEXT_SIZE];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    PostDialogText(plan, code, text);
}

// A stop asked for from outside is honoured before the next command, never inside one.
static bool BootStopRequested(const UpgradePlan *plan) { return plan->stopRequested != 0; }

// A command not accepted, sent once more after the line has been quiet; false, with nothing
// sent, when a stop came first (also one that came during the quiet).
static bool BootSendAgain(const UpgradePlan *plan, const char *text)
{
    if (BootStopRequested(plan)) return false;
    BootQuietBeforeRepeat();
    return !BootStopRequested(plan) && SendExpectOk(text);
}

// DrainInput for milliseconds in slices, so that a stop ends the pause within one slice.
// False when a stop was asked for.
static bool BootPause(const UpgradePlan *plan, uint32_t milliseconds)
{
    for (uint32_t done = 0; done < milliseconds; done += BOOT_DRAIN_SLICE_MS) {
        if (BootStopRequested(plan)) return false;
        uint32_t left = milliseconds - done;
        DrainInput(&g_connection, left < BOOT_DRAIN_SLICE_MS ? left : (uint32_t)BOOT_DRAIN_SLICE_MS);
    }
    return !BootStopRequested(plan);
}

static bool BootInitialise(UpgradePlan *plan)
{
    BootPost(plan, UPGRADE_NOTIFY_STATUS, "Initialising Instrument");
    if (!BootPause(plan, 1000)) return false;
    // Only an attention byte that went out leaves the instrument in its boot loader.
    if (SendLine(BOOT_ATTENTION, &g_connection) >= 0) plan->stage = UPGRADE_STAGE_BOOT;
    if (!BootPause(plan, 5000)) return false;
    bool ok = SendExpectOk(BOOT_INITIALISE) || BootSendAgain(plan, BOOT_INITIALISE);
    if (!ok && BootStopRequested(plan)) return false;  // the second try was left undone
    BootPost(plan, UPGRADE_NOTIFY_LOG, ok ? "Instrument initialised OK" : "ERROR: Instrument failed to initialise");
    return ok;
}

// The worker erases and programs exactly what the files list showed: the existing entries
// that the instrument's serial number did not leave out.
static bool BootProgrammed(const LoadEntry *e) { return e->exists && !e->excluded; }

static void BootCollect(BootRun *run)
{
    int64_t total = 0;
    for (int i = 0; run->entries && i < UPGRADE_MAX_ENTRIES; i++) {
        const LoadEntry *e = &run->entries[i];
        if (!BootProgrammed(e)) continue;
        total += e->facts.size;
        bool listed = false;
        for (int j = 0; j < run->sectorCount && !listed; j++) listed = run->sectors[j] == e->sector;
        if (!listed) run->sectors[run->sectorCount++] = e->sector;
    }
    run->totalSize = total > INT32_MAX ? INT32_MAX : (int32_t)total;
}

// A sector named by both OVER and LOAD entries is erased: only a sector that every existing
// entry names with OVER keeps its contents.
static bool BootSectorSkipped(const BootRun *run, int32_t sector)
{
    for (int i = 0; i < UPGRADE_MAX_ENTRIES; i++) {
        const LoadEntry *e = &run->entries[i];
        if (BootProgrammed(e) && e->sector == sector && !e->over) return false;
    }
    return true;
}

// A sector without a select code (15) would fail part way through; refuse it before the
// first erase, so that no sector is left erased by a plan that cannot complete.
static bool BootCheckSectors(BootRun *run)
{
    for (int p = 0; p < run->sectorCount; p++) {
        int32_t sector = run->sectors[p];
        if (!SectorSelectCode(sector) && !BootSectorSkipped(run, sector)) {
            BootPost(run->plan, UPGRADE_NOTIFY_LOG, "ERROR: Failed to erase sector %d", (int)sector);
            return false;
        }
    }
    for (int i = 0; i < UPGRADE_MAX_ENTRIES; i++) {
        const LoadEntry *e = &run->entries[i];
        if (BootProgrammed(e) && !SectorSelectCode(e->sector)) {
            BootPost(run->plan, UPGRADE_NOTIFY_LOG, "ERROR: Failed to send file %s", e->facts.name);
            return false;
        }
    }
    return true;
}

static bool BootErase(BootRun *run)
{
    if (!BootCheckSectors(run)) return false;
    for (int p = 0; p < run->sectorCount; p++) {
        if (BootStopRequested(run->plan)) return false;
        int32_t sector = run->sectors[p];
        bool skipped = BootSectorSkipped(run, sector);
        BootPost(run->plan, UPGRADE_NOTIFY_STATUS, skipped ? "Skipping sector %d" : "Erasing sector %d", (int)sector);
        UpgradeNotify(run->plan, UPGRADE_NOTIFY_PROGRESS, ProgressPercent(run->sectorCount, p + 1));
        if (skipped) continue;
        bool selected = SelectSector(sector);
        if (selected) run->plan->stage = UPGRADE_STAGE_FLASH;
        if (!(selected && SendExpectOk(BOOT_ERASE))) {
            BootPost(run->plan, UPGRADE_NOTIFY_LOG, "ERROR: Failed to erase sector %d", (int)sector);
            return false;
        }
    }
    BootPost(run->plan, UPGRADE_NOTIFY_LOG, "All sectors erased OK");
    return true;
}

// A HEX file read through a buffer of its own: getc takes the stream's lock for every
// character, which on a fast link costs a noticeable part of a record's time.
struct BootFile {
    FILE *f;
    unsigned char buffer[4096];
    size_t at, count;
};

// The next character without taking it; EOF at the end of the file.
static int BootPeek(BootFile *bf)
{
    if (bf->at == bf->count) {
        bf->at = 0;
        bf->count = fread(bf->buffer, 1, sizeof bf->buffer, bf->f);
        if (bf->count == 0) return EOF;
    }
    return bf->buffer[bf->at];
}

static int BootGet(BootFile *bf)
{
    int c = BootPeek(bf);
    if (c != EOF) bf->at++;
    return c;
}

// Next line of a HEX file into line (BOOT_LINE_SIZE): at most BOOT_LINE_MAX characters,
// ending after its LF, CR LF read as one LF on every build. Returns its length, 0 at the end
// of the file, -1 for a line too long for the buffer (it must not be sent in pieces).
static int BootReadLine(BootFile *bf, char *line)
{
    int n = 0;
    while (n < BOOT_LINE_MAX) {
        int c = BootGet(bf);
        if (c == EOF) break;
        if (c == '\r' && BootPeek(bf) == '\n') c = BootGet(bf);
        line[n++] = (char)c;
        if (c == '\n') break;
    }
    line[n] = '\0';
    if (n == BOOT_LINE_MAX && line[n - 1] != '\n' && BootPeek(bf) != EOF) return -1;
    return n;
}

// One record: the line as read, then CR LF; sent again until accepted, at most 4 times. A
// stop ends the retries too: a silent boot loader would otherwise hold it for 15 s more.
static bool BootSendRecord(const UpgradePlan *plan, const char *line)
{
    char command[BOOT_LINE_MAX + 3];  // the longest line, CR LF and the terminator
    TextCopy(command, sizeof command, line);
    if (TextAppend(command, sizeof command, "\r\n") >= sizeof command) return false;  // never cut
    if (BootStopRequested(plan)) return false;
    if (SendExpectOk(command)) return true;
    for (int attempt = 1; attempt < BOOT_RECORD_SENDS && !BootStopRequested(plan); attempt++) {
        if (BootSendAgain(plan, command)) return true;
    }
    return false;
}

static bool BootSendFile(BootRun *run, const LoadEntry *e)
{
    BootPost(run->plan, UPGRADE_NOTIFY_STATUS, "Sending file %s", e->facts.name);
    BootFile file;
    file.f = FileOpen(e->path, "rb");
    file.at = file.count = 0;
    if (!file.f) return false;
    bool ok = !BootStopRequested(run->plan) && SelectSector(e->sector);
    if (ok) run->plan->stage = UPGRADE_STAGE_FLASH;  // an OVER sector changes without an erase
    char line[BOOT_LINE_SIZE];
    while (ok) {
        int n = BootReadLine(&file, line);
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        run->charsRead = n > INT32_MAX - run->charsRead ? INT32_MAX : run->charsRead + n;
        // A NUL inside a record would cut it short on the wire: the record counts as failed.
        if (line[0] == ':')
            ok = strlen(line) == (size_t)n && BootSendRecord(run->plan, line);
        UpgradeNotify(run->plan, UPGRADE_NOTIFY_PROGRESS, ProgressPercent(run->totalSize, run->charsRead));
    }
    fclose(file.f);
    return ok;
}

static bool BootProgram(BootRun *run)
{
    UpgradeNotify(run->plan, UPGRADE_NOTIFY_PROGRESS, 0);
    run->charsRead = 0;
    for (int i = 0; i < UPGRADE_MAX_ENTRIES; i++) {
        const LoadEntry *e = &run->entries[i];
        if (!BootProgrammed(e)) continue;
        if (!BootSendFile(run, e)) {
            if (!BootStopRequested(run->plan))
                BootPost(run->plan, UPGRADE_NOTIFY_LOG, "ERROR: Failed to send file %s", e->facts.name);
            return false;
        }
    }
    UpgradeNotify(run->plan, UPGRADE_NOTIFY_PROGRESS, 100);
    BootPost(run->plan, UPGRADE_NOTIFY_LOG, "Firmware sent OK");
    return true;
}

static void BootRestart(UpgradePlan *plan)
{
    BootPost(plan, UPGRADE_NOTIFY_STATUS, "Restarting Instrument");
    SendLine(BOOT_RESTART, &g_connection);
    plan->stage = UPGRADE_STAGE_RESTARTED;
    DrainInput(&g_connection, 500);
    SendLine(BOOT_RESTART_BYTE, &g_connection);
    DrainInput(&g_connection, 1000);
    BootPost(plan, UPGRADE_NOTIFY_STATUS, "Finished");
    plan->succeeded = 1;
}

bool BootLoaderAnswers()
{
    BootBeginConversation();
    DrainUntilQuiet(&g_connection, BOOT_LATE_QUIET_MS);
    return SendExpectOk(BOOT_INITIALISE);
}

static const char BOOT_UNCHANGED_TEXT[] = "The instrument was not changed: it still runs its firmware";
// The same upgrade on the same link finds the boot loader again (upgrade/recovery.h).
static const char BOOT_WAITING_TEXT[] = "The instrument waits in its boot loader: run the upgrade again to recover it";

const char *BootFailureStateText(int stage)
{
    return stage == UPGRADE_STAGE_NORMAL ? BOOT_UNCHANGED_TEXT : BOOT_WAITING_TEXT;
}

// Without these the dialog would stand at the step that failed, as if it were still going on,
// and leave the user to guess whether the instrument can still be used.
static void BootReportFailure(UpgradePlan *plan)
{
    if (plan->succeeded || BootStopRequested(plan)) return;
    BootPost(plan, UPGRADE_NOTIFY_STATUS, "Upgrade failed");
    BootPost(plan, UPGRADE_NOTIFY_LOG, "%s", BootFailureStateText(plan->stage));
}

bool RunUpgradeProcedure(UpgradePlan *plan)
{
    plan->succeeded = 0;
    plan->stage = UPGRADE_STAGE_NORMAL;
    BootBeginConversation();
    BootRun run = {};
    run.plan = plan;
    run.entries = plan->chosenEntries;
    bool ok = BootInitialise(plan);
    BootCollect(&run);
    UpgradeNotify(plan, UPGRADE_NOTIFY_PROGRESS, 0);
    if (ok && run.entries && BootErase(&run) && BootProgram(&run)) BootRestart(plan);
    BootReportFailure(plan);
    // The dialog may release the plan as soon as it has seen the last notification.
    bool succeeded = plan->succeeded != 0;
    UpgradeNotify(plan, UPGRADE_NOTIFY_FINISHED, 1);
    return succeeded;
}
