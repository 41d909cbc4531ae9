// The firmware upgrade's portable core: the upgrade plan and its firmware files, the
// descriptor and direct-HEX readers, the target checks and the proposed operation.
// Runs on the user-interface thread; the plan is then handed to the worker (bootproto.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/textrun.h"
#include "link/ui.h"

enum {
    UPGRADE_MAX_ENTRIES = 50,   // slots of one target set
    UPGRADE_SET_COUNT = 2,      // target sets a descriptor may define
    UPGRADE_PATH_SIZE = 260,    // path and on-disk name: at most 259 characters
    UPGRADE_MODEL_SIZE = 21,    // target model: at most 20 characters
    UPGRADE_WARNING_SIZE = 256, // warning text: at most 255 characters
    UPGRADE_SECTOR_LIMIT = 7,   // highest sector a descriptor may name
    UPGRADE_SECTOR_LIMIT_EXT = 15,  // ... while the target model begins with "RZT86"
};

// How a target set's version threshold is compared with the instrument's internal version.
enum ComparisonKind : int32_t {
    COMPARE_UNRECOGNISED = 0,
    COMPARE_NONE = 1,
    COMPARE_GT = 2,
    COMPARE_GTEQ = 3,
    COMPARE_LT = 4,
    COMPARE_LTEQ = 5,
    COMPARE_EQ = 6,
};

// What a find-first directory lookup tells about a file.
struct FileFacts {
    int64_t writeTime;      // seconds since 1970-01-01 UTC
    uint32_t size;          // bytes
    char name[UPGRADE_PATH_SIZE];  // the name as stored on disk
};

// One firmware file to program into one flash sector.
struct LoadEntry {
    char path[UPGRADE_PATH_SIZE];
    FileFacts facts;        // valid when exists; otherwise name may hold the name as written
    int32_t sector;
    uint8_t exists;         // the lookup found the file
    uint8_t over;           // from an OVER line: its sector is programmed without an erase
    uint8_t excluded;       // left out of the files list by its serial range: not programmed
    int32_t serialLow;      // serial range; both 0 when no SERIAL line applies
    int32_t serialHigh;
};

// Two target sets of entries, each filled from its first slot without gaps.
struct EntryTable {
    LoadEntry sets[UPGRADE_SET_COUNT][UPGRADE_MAX_ENTRIES];
    int32_t counts[UPGRADE_SET_COUNT];
};

// How far the worker has taken the instrument (UpgradePlan::stage), for what a stopped or
// failed upgrade leaves behind.
enum UpgradeStage : uint8_t {
    UPGRADE_STAGE_NORMAL = 0,     // nothing sent yet: the instrument runs its firmware as before
    UPGRADE_STAGE_BOOT = 1,       // the attention byte went out: it waits in its boot loader
    UPGRADE_STAGE_FLASH = 2,      // an erase went out: its firmware is incomplete until programmed
    UPGRADE_STAGE_RESTARTED = 3,  // the restart went out after every file was programmed
};

// The upgrade the command has settled, handed to the progress dialog and its worker.
struct UpgradePlan {
    void *dialogWindow;     // progress dialog (an HWND); set by the dialog when it opens
    uint8_t succeeded;      // set by the worker after the restart commands
    char targetModel[UPGRADE_MODEL_SIZE];
    int32_t versionThreshold[UPGRADE_SET_COUNT];
    int32_t comparison[UPGRADE_SET_COUNT];  // ComparisonKind
    char warningText[UPGRADE_SET_COUNT][UPGRADE_WARNING_SIZE];
    LoadEntry *chosenEntries;  // first of the UPGRADE_MAX_ENTRIES slots of the chosen set
    // Set by the front end from another thread (the headless runner's Ctrl-C): the worker
    // sends nothing more once it sees it, but a command under way still gets its reply.
    volatile uint8_t stopRequested;
    volatile uint8_t stage;  // UpgradeStage; set by the worker, read by the front end after it
};

// Reads an upgrade descriptor into table (zeroed first) and plan (comparisons set to none,
// thresholds to 0 first). limit is the per-set entry limit (at most UPGRADE_MAX_ENTRIES).
// Sets *blocking for a sector out of range. Returns the entry count of the set being filled
// when reading stopped; 0 when the file cannot be opened.
int ReadUpgradeDescriptor(const char *path, EntryTable *table, int limit, UpgradePlan *plan,
                          bool *blocking);

// Fills set 0 of table (zeroed first) with the main HEX file at path and its companions;
// sets *blocking when one of them is missing. Returns 3, or 2 for "SQ"/"PC" names; -1 when
// the name is not that of a main HEX file ("AB_..."; the command tells the user).
int ReadDirectHexFile(const char *path, EntryTable *table, bool *blocking);

// Model check. Writes the warning text into text (capacity cap) and returns true when it must
// be shown (target does not match the instrument, target empty, or instrument not detected).
bool CheckTargetModel(const char *idnText, const char *targetModel, bool detected, char *text,
                      size_t cap);

// True when the upgrade file names a model (targetModel not empty) and the instrument's
// identification names another: the one case of CheckTargetModel that is a real mismatch
// rather than a model that cannot be checked.
bool TargetModelDiffers(const char *idnText, const char *targetModel);

// Verdict of the version check: the set to use, or the message that ends the command.
struct VersionVerdict {
    int chosenSet;          // 0 or 1; -1 when the command must abort
    const char *message;    // null when a set was chosen
    UiIcon icon;
};

// Version check: set 0 at once when its comparison is none; otherwise compares the second
// comma field of versionText with each set's threshold as its comparison says.
VersionVerdict CheckFirmwareVersion(const UpgradePlan *plan, const char *versionText);

// How a run of the proposed operation is shown: the rich text gives labels and headings in
// grey, the title also bold and underlined, and what blocks the operation (a missing file, a
// sector out of range) in red; the plain text puts each red run in square brackets.
enum ProposalStyle { PROPOSAL_PLAIN, PROPOSAL_LABEL, PROPOSAL_TITLE, PROPOSAL_RED };

// The proposed operation for the count entries of one set, as runs (style: ProposalStyle),
// each red sector and each file name a run of its own. Lower-cases each entry's on-disk name
// in place and marks the entries that the instrument's serial number (the third field of
// idnText) leaves out, so that the worker programs exactly what is listed.
// Sets *blocking when a listed file does not exist, a listed sector is outside 0 to the
// limit of targetModel, or nothing is listed. Returns no runs when memory runs out.
std::vector<TextRun> BuildProposedOperation(LoadEntry *entries, int count, const char *idnText,
                                            const char *targetModel, bool *blocking);

// The runs as the rich text of the firmware files dialog (Courier New, 10 points).
std::string ProposalRichText(const std::vector<TextRun> &runs);

// The runs as plain text, lines ending in LF; a red run stands in square brackets, its
// trailing commas and blanks outside them: "[dsp_12.hex]", "[9],".
std::string ProposalPlainText(const std::vector<TextRun> &runs);

// Integer reading shared by the upgrade readers: TextToInt, clamped to the signed 32-bit range.
int32_t UpgradeTextToInt(const char *text);
