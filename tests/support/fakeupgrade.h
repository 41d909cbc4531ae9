// Host stand-ins for the upgrade's seams: the file lookup (a test says which paths exist and
// with what facts), the worker's notifications to its dialog (recorded in order), and the
// command's file choice and dialogs (the progress dialog runs the worker on the spot).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upgrade/recovery.h"
#include "upgrade/upgrade.h"

struct FakeNote {
    int code;           // UPGRADE_NOTIFY_*
    intptr_t param;     // UPGRADE_NOTIFY_FINISHED, UPGRADE_NOTIFY_PROGRESS
    std::string text;   // UPGRADE_NOTIFY_STATUS, UPGRADE_NOTIFY_LOG
};

struct FakeUpgrade {
    std::map<std::string, FileFacts> files;  // paths LookupFileFacts finds
    std::vector<std::string> lookups;        // every path looked up, in order
    std::vector<FakeNote> notes;             // every notification, in order
    std::string chosenPath;                  // ChooseUpgradeFile's choice; empty: cancelled
    bool acceptFiles = true;                 // the files list is accepted unless blocking
    int filesShown = 0;                      // files lists shown
    std::string filesText;                   // the last one's plain text ...
    bool filesBlocking = false;              // ... and whether its Accept was disabled
    int progressRuns = 0;                    // progress dialogs opened
    std::map<std::string, RecoveryRecord> recovery;  // the recovery records, by link
};

extern FakeUpgrade g_fakeUpgrade;

void FakeUpgradeReset();
// Makes path exist with the given size, modification time and on-disk name (default: the
// part of path after its last separator).
void FakeUpgradeAddFile(const std::string &path, uint32_t size = 100, int64_t writeTime = 0,
                        const char *diskName = nullptr);
// The texts posted with code (UPGRADE_NOTIFY_STATUS or UPGRADE_NOTIFY_LOG), in order.
std::vector<std::string> FakeUpgradeTexts(int code);
