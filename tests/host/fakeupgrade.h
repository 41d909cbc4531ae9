// Host stand-ins for the upgrade's seams: the file lookup (a test says which paths exist and
// with what facts) and the worker's notifications to its dialog (recorded in order).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "upgrade/upgrade.h"

struct FakeNote {
    int code;           // UPN_*
    intptr_t param;     // UPN_FINISHED, UPN_PROGRESS
    std::string text;   // UPN_STATUS, UPN_LOG
};

struct FakeUpgrade {
    std::map<std::string, FileFacts> files;  // paths LookupFileFacts finds
    std::vector<std::string> lookups;        // every path looked up, in order
    std::vector<FakeNote> notes;             // every notification, in order
};

extern FakeUpgrade g_fakeUpgrade;

void FakeUpgradeReset();
// Makes path exist with the given size, modification time and on-disk name (default: the
// part of path after its last separator).
void FakeUpgradeAddFile(const std::string &path, uint32_t size = 100, int64_t writeTime = 0,
                        const char *diskName = nullptr);
// The texts posted with code (UPN_STATUS or UPN_LOG), in order.
std::vector<std::string> FakeUpgradeTexts(int code);
