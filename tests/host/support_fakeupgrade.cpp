// Host stand-ins for upgrade/filefacts.h and upgrade/notify.h.
#include <cstring>

#include "common/textutil.h"
#include "fakeupgrade.h"
#include "upgrade/filefacts.h"
#include "upgrade/notify.h"

FakeUpgrade g_fakeUpgrade;

void FakeUpgradeReset() { g_fakeUpgrade = FakeUpgrade(); }

void FakeUpgradeAddFile(const std::string &path, uint32_t size, int64_t writeTime, const char *diskName)
{
    FileFacts facts;
    memset(&facts, 0, sizeof facts);
    facts.size = size;
    facts.writeTime = writeTime;
    if (!diskName) {
        size_t sep = path.find_last_of("\\/");
        diskName = path.c_str() + (sep == std::string::npos ? 0 : sep + 1);
    }
    TextCopy(facts.name, sizeof facts.name, diskName);
    g_fakeUpgrade.files[path] = facts;
}

std::vector<std::string> FakeUpgradeTexts(int code)
{
    std::vector<std::string> texts;
    for (const FakeNote &n : g_fakeUpgrade.notes) {
        if (n.code == code) texts.push_back(n.text);
    }
    return texts;
}

bool LookupFileFacts(const char *path, FileFacts *out)
{
    g_fakeUpgrade.lookups.push_back(path);
    memset(out, 0, sizeof *out);
    auto it = g_fakeUpgrade.files.find(path);
    if (it == g_fakeUpgrade.files.end()) return false;
    *out = it->second;
    return true;
}

void UpgradeNotify(UpgradePlan *, int code, intptr_t param)
{
    g_fakeUpgrade.notes.push_back({code, param, std::string()});
}

void PostDialogText(UpgradePlan *, int code, const char *text)
{
    g_fakeUpgrade.notes.push_back({code, 0, text});
}
