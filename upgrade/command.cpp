// The "Upgrade Firmware..." command flow: the re-identification of the instrument, reading
// the descriptor or main HEX file, the model and version checks and the hand-over to the
// confirmation and progress dialogs, which the front end supplies (command.h). UI thread only.
#include "upgrade/command.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/texttab.h"
#include "common/textutil.h"
#include "link/ui.h"
#include "link/connect.h"
#include "link/ident.h"
#include "link/link.h"
#include "upgrade/bootproto.h"
#include "upgrade/recovery.h"

static const char UPGRADE_CAPTION[] = "Upgrade Firmware";

// Everything one run of the command works on; zeroed at its start.
struct UpgradeCommand {
    UiOwner owner;
    UpgradePlan plan;
    EntryTable table;
    bool blocking;
    bool detected;  // the instrument answered the first identification (UpgradeDetect)
    std::string link;           // the name of the link's recovery record
    bool recovering;            // the link leads to the boot loader the record describes
    RecoveryRecord recovery;    // ... and the instrument as it was before its failed upgrade
    UpgradeOutcome outcome;     // why the command ends, should it end at the latest message
};

// Keeps why the command would end here: message, as the user was shown it, and for a
// question the answer it got.
static void UpgradeNote(UpgradeCommand *c, UpgradeRefusal why, const char *message, int answer)
{
    c->outcome.refusal = why;
    c->outcome.message = message;
    c->outcome.answer = answer;
}

// A question's answer, noted as the reason when it is No or Cancel. Returns answer.
static int UpgradeNoteAnswer(UpgradeCommand *c, const char *question, int answer)
{
    bool declined = answer == UI_ANSWER_NO || answer == UI_ANSWER_CANCEL;
    UpgradeNote(c, declined ? UPGRADE_REFUSED_DECLINED : UPGRADE_REFUSED_CHECK, question, answer);
    return answer;
}


// The identification the checks go by: the instrument's own, or when it waits in its boot
// loader, the one it gave before its failed upgrade.
static const char *UpgradeIdnText(const UpgradeCommand *c)
{
    return c->recovering ? c->recovery.idnText : g_connection.idnText;
}
static const char *UpgradeVersionText(const UpgradeCommand *c)
{
    return c->recovering ? c->recovery.versionText : g_connection.versionText;
}

// Keeps the reply poll off the link for as long as it lives, then puts pollEnabled back as
// it was: every way out of the command restores it, early returns included.
struct PollSuspension {
    uint8_t saved;
    PollSuspension() : saved(g_connection.pollEnabled) { g_connection.pollEnabled = 0; }
    ~PollSuspension() { g_connection.pollEnabled = saved; }
    PollSuspension(const PollSuspension &) = delete;
    PollSuspension &operator=(const PollSuspension &) = delete;
};

// QVN73 and QVN44 instruments take new firmware over a serial link only. Checked after each
// identification that succeeds, since the second one decides the link the worker uses.
// Returns true (after telling the user) when the upgrade must not go on.
static bool UpgradeRefuseLan(UpgradeCommand *c)
{
    if (g_connection.interfaceKind != IFACE_LAN || g_connection.modelCode != MODEL_QVN73) return false;
    static const char UPGRADE_SERIAL_ONLY[] =
        "QVN7300 and QVNN7386 instruments can only upgrade firmware using a serial connection";
    UiMessage(c->owner, UPGRADE_SERIAL_ONLY, AppTextTable[0], UI_ICON_INFO, UI_OK);
    UpgradeNote(c, UPGRADE_REFUSED_CHECK, UPGRADE_SERIAL_ONLY, UI_ANSWER_OK);
    return true;
}

enum RecoveryOffer { RECOVERY_NONE, RECOVERY_ACCEPTED, RECOVERY_DECLINED };

// Before the identification, when a failed upgrade on this link left an instrument in its boot
// loader: that instrument answering "*IDN?" no longer waits there, and its record is forgotten
// (another one's answer leaves the record for when it comes back); a link on which the boot
// loader accepts its initialise command is offered the same file again.
// Anything but that file is refused. Sets *identified to the identification's result when it
// was tried. RECOVERY_NONE: the command goes on as usual.
static RecoveryOffer UpgradeOfferRecovery(UpgradeCommand *c, const char *path, int *identified)
{
    if (c->link.empty() || !RecoveryLoad(c->link.c_str(), &c->recovery)) return RECOVERY_NONE;
    CloseLink(&g_connection);
    bool answered = ConnectAndIdentify(c->owner, &g_connection, false);
    *identified = answered;
    // Any identification, also of a model the program does not know, is an instrument running
    // its firmware: only a reply without fields ("err") or none at all may be the boot loader.
    const char *reply = ConnectIdentityReply();
    if (answered && strchr(reply, ',')) {
        if (RecoveryIsInstrument(&c->recovery, reply)) RecoveryForget(c->link.c_str());
        return RECOVERY_NONE;
    }
    if (!g_connection.isOpen) return RECOVERY_NONE;
    bool waiting = BootLoaderAnswers();
    SetReplyTimeout(CONNECT_QUERY_TIMEOUT_MS, &g_connection);
    if (!waiting) return RECOVERY_NONE;
    // The link leads to that instrument, even though it cannot say so itself.
    g_connection.connected = 1;
    std::string question = RecoveryQuestion(&c->recovery);
    int answer = UiMessage(c->owner, question.c_str(), UPGRADE_CAPTION, UI_ICON_QUESTION, UI_YES_NO);
    UpgradeNoteAnswer(c, question.c_str(), answer);
    if (answer != UI_ANSWER_YES) return RECOVERY_DECLINED;
    if (!RecoverySameFile(path, c->recovery.file)) {
        std::string other = RecoveryOtherFileText(&c->recovery);
        UiMessage(c->owner, other.c_str(), UPGRADE_CAPTION, UI_ICON_INFO, UI_OK);
        UpgradeNote(c, UPGRADE_REFUSED_CHECK, other.c_str(), UI_ANSWER_OK);
        return RECOVERY_DECLINED;
    }
    c->recovering = true;
    c->detected = true;
    return RECOVERY_ACCEPTED;
}

// The first identification: true when the command may go on; sets c->detected when the
// instrument answered. identified is the result of an identification already tried by the recovery offer, or -1.
static bool UpgradeDetect(UpgradeCommand *c, int identified)
{
    if (identified >= 0) {
        c->detected = identified != 0;
    } else if (g_connection.connected) {
        CloseLink(&g_connection);
        c->detected = ConnectAndIdentify(c->owner, &g_connection, false);
    }
    if (c->detected) return !UpgradeRefuseLan(c);
    static const char UPGRADE_NOT_DETECTED[] =
        "No instrument was detected.\n\nDo you want to try and continue with the upgrade";
    int answer = UiMessage(c->owner, UPGRADE_NOT_DETECTED, AppTextTable[0], UI_ICON_QUESTION, UI_YES_NO);
    return UpgradeNoteAnswer(c, UPGRADE_NOT_DETECTED, answer) == UI_ANSWER_YES;
}

// Identifies once more, whatever the first identification gave, and stores the result in
// connected. When it fails after the user chose to go on, the command reads no file; saying so
// beats ending without a word.
// A link that could not even be opened has already been reported by ConnectAndIdentify.
static bool UpgradeIdentifyAgain(UpgradeCommand *c, bool goOn)
{
    CloseLink(&g_connection);
    g_connection.connected = ConnectAndIdentify(c->owner, &g_connection, false) ? 1 : 0;
    if (!goOn) return false;
    if (g_connection.connected) return !UpgradeRefuseLan(c);
    bool openFailureShown = g_connection.interfaceKind != IFACE_NONE && !g_connection.isOpen;
    if (!openFailureShown) UiMessage(c->owner, "No instrument was detected", UPGRADE_CAPTION, UI_ICON_INFO, UI_OK);
    return false;
}

// Reads the file by the text after the last '.' of its path. Returns the count, or -1 after
// telling the user that a HEX file is not a main HEX file.
static int UpgradeReadFile(UpgradeCommand *c, const char *path)
{
    const char *dot = strrchr(path, '.');
    if (!dot) return 0;
    const char *ending = dot + 1;
    if (TextEqualNoCase(ending, "hex")) {
        // A main HEX file carries no version condition: set 0 is taken without asking the
        // instrument. Left at 0 (unrecognised), the version check would refuse every such file.
        for (int s = 0; s < UPGRADE_SET_COUNT; s++) c->plan.comparison[s] = COMPARE_NONE;
        int count = ReadDirectHexFile(path, &c->table, &c->blocking);
        if (count < 0) {
            static const char UPGRADE_NOT_MAIN_HEX[] = "Please choose the main hex file for the Instrument to upgrade";
            UiMessage(c->owner, UPGRADE_NOT_MAIN_HEX, UPGRADE_CAPTION, UI_ICON_INFO, UI_OK);
            UpgradeNote(c, UPGRADE_REFUSED_CHECK, UPGRADE_NOT_MAIN_HEX, UI_ANSWER_OK);
        }
        return count;
    }
    if (TextEqualNoCase(ending, "upg") || TextEqualNoCase(ending, "upx")) {
        return ReadUpgradeDescriptor(path, &c->table, UPGRADE_MAX_ENTRIES, &c->plan, &c->blocking);
    }
    return 0;
}

// The target checks: model, version, the chosen set's warning. Returns the chosen
// set, or -1 when the command ends.
static int UpgradeCheckTarget(UpgradeCommand *c)
{
    char text[512];
    bool warn = CheckTargetModel(UpgradeIdnText(c), c->plan.targetModel, c->detected, text, sizeof text);
    bool differs = TargetModelDiffers(UpgradeIdnText(c), c->plan.targetModel);
    if (c->recovering && differs) {
        // The same file, but it names another model than the instrument that was in the
        // boot loader: whatever was allowed then, nothing tells which instrument waits now.
        UiMessage(c->owner, text, AppTextTable[0], UI_ICON_WARNING, UI_OK);
        UpgradeNote(c, UPGRADE_REFUSED_CHECK, text, UI_ANSWER_OK);
        return -1;
    }
    if (warn && !c->recovering && !ConfirmTargetModel(c->owner, text, differs)) {
        // Going on with firmware for another model takes more than the usual yes.
        UpgradeNote(c, differs ? UPGRADE_REFUSED_MODEL_DECLINED : UPGRADE_REFUSED_DECLINED, text, UI_ANSWER_CANCEL);
        return -1;
    }
    VersionVerdict verdict = CheckFirmwareVersion(&c->plan, UpgradeVersionText(c));
    if (verdict.chosenSet < 0) {
        UiMessage(c->owner, verdict.message, AppTextTable[0], verdict.icon, UI_OK);
        UpgradeNote(c, UPGRADE_REFUSED_CHECK, verdict.message, UI_ANSWER_OK);
        return -1;
    }
    const char *warning = c->plan.warningText[verdict.chosenSet];
    if (*warning) {
        int answer = UiMessage(c->owner, warning, "Firmware Warning", UI_ICON_WARNING, UI_OK_CANCEL);
        if (UpgradeNoteAnswer(c, warning, answer) != UI_ANSWER_OK) return -1;
    }
    return verdict.chosenSet;
}

// The proposed operation, and the upgrade itself when it is accepted. True when the
// progress dialog ran the procedure.
static bool UpgradeConfirmAndRun(UpgradeCommand *c, int set)
{
    c->outcome.refusal = UPGRADE_REFUSED_NOT_STARTED;
    std::vector<TextRun> runs = BuildProposedOperation(c->table.sets[set], c->table.counts[set],
                                                       UpgradeIdnText(c), c->plan.targetModel, &c->blocking);
    if (runs.empty()) return false;
    bool accepted = ShowFirmwareFilesDialog(c->owner, runs, c->blocking);
    if (!accepted) {
        c->outcome.refusal = c->blocking ? UPGRADE_REFUSED_FILES_BLOCKED : UPGRADE_REFUSED_FILES_DECLINED;
        return false;
    }
    c->outcome.refusal = UPGRADE_REFUSED_NOT_STARTED;
    c->plan.chosenEntries = c->table.sets[set];
    if (RunUpgradeProgressDialog(c->owner, &c->plan) < 0) return false;
    // The instrument restarted its network interface: the old connection is dead.
    if (c->plan.succeeded && g_connection.interfaceKind == IFACE_LAN) {
        CloseLink(&g_connection);
        OpenLink(&g_connection);
    }
    return true;
}

// After the procedure: an instrument left in its boot loader is remembered with the
// identification it gave before (for a recovery that failed too, the first one); an upgrade
// that restarted it leaves nothing to recover.
static void UpgradeRememberOutcome(UpgradeCommand *c, const char *path)
{
    if (c->link.empty()) return;
    if (c->plan.succeeded) {
        RecoveryForget(c->link.c_str());
    } else if (c->plan.stage >= UPGRADE_STAGE_BOOT) {
        RecoveryRecord rec;
        RecoveryFill(&rec, UpgradeIdnText(c), UpgradeVersionText(c), path);
        RecoverySave(c->link.c_str(), &rec);
    }
}

static bool UpgradeRun(UpgradeCommand *c, const char *path)
{
    c->link = RecoveryLinkName(&g_connection);
    int identified = -1;
    RecoveryOffer offer = UpgradeOfferRecovery(c, path, &identified);
    if (offer == RECOVERY_DECLINED) return false;
    if (offer == RECOVERY_NONE) {
        bool goOn = UpgradeDetect(c, identified);
        if (!UpgradeIdentifyAgain(c, goOn)) return false;
    }
    int count = UpgradeReadFile(c, path);
    if (count == 0) {
        static const char UPGRADE_NO_LOAD_LINES[] = "No valid load lines found in the upgrade descriptor file";
        UiMessage(c->owner, UPGRADE_NO_LOAD_LINES, UPGRADE_CAPTION, UI_ICON_INFO, UI_OK);
        UpgradeNote(c, UPGRADE_REFUSED_CHECK, UPGRADE_NO_LOAD_LINES, UI_ANSWER_OK);
        return false;
    }
    if (count < 0) return false;
    if (count >= UPGRADE_MAX_ENTRIES) {
        // The one way out without a word, as before the checks were written.
        UpgradeNote(c, UPGRADE_REFUSED_TOO_MANY_FILES, "", UI_ANSWER_OK);
        return false;
    }
    int set = UpgradeCheckTarget(c);
    if (set < 0) return false;
    bool ran = UpgradeConfirmAndRun(c, set);
    if (ran) UpgradeRememberOutcome(c, path);
    return ran;
}

UpgradeOutcome RunFirmwareUpgradeFile(UiOwner mainWindow, const char *path)
{
    PollSuspension suspension;
    UpgradePauseScript();
    // Heap, not stack: the entry table is some 56 KB and lives until the progress dialog closes.
    std::unique_ptr<UpgradeCommand> c(new (std::nothrow) UpgradeCommand());
    if (!c) return UpgradeOutcome{UPGRADE_REFUSED, UPGRADE_REFUSED_NOT_STARTED, std::string(), 0, 0};
    c->owner = mainWindow;
    void *cursor = UiBeginWait();
    bool ran = UpgradeRun(c.get(), path);
    UiEndWait(cursor);
    UpgradeOutcome outcome = c->outcome;
    outcome.stage = c->plan.stage;
    if (ran) outcome.result = c->plan.succeeded ? UPGRADE_DONE : UPGRADE_FAILED;
    // Whatever was said before, a link that ends without an instrument is the reason.
    else outcome.result = g_connection.connected ? UPGRADE_REFUSED : UPGRADE_NOT_IDENTIFIED;
    return outcome;
}

void RunFirmwareUpgrade(UiOwner mainWindow)
{
    PollSuspension suspension;
    char path[UPGRADE_CHOOSER_SIZE];
    if (!ChooseUpgradeFile(mainWindow, path, sizeof path)) return;
    RunFirmwareUpgradeFile(mainWindow, path);
}
