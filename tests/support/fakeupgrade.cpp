// Host stand-ins for upgrade/filefacts.h, upgrade/notify.h and the front-end seams of
// upgrade/command.h.
#include <cstring>

#include "common/texttab.h"
#include "common/textutil.h"
#include "fakeupgrade.h"
#include "link/ui.h"
#include "upgrade/notify.h"
#include "upgrade/bootproto.h"
#include "upgrade/command.h"
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

bool ChooseUpgradeFile(UiOwner, char *path, size_t cap)
{
    TextCopy(path, cap, g_fakeUpgrade.chosenPath.c_str());
    return !g_fakeUpgrade.chosenPath.empty();
}

// As the window asks it: through the fake message box, which the test answers.
bool ConfirmTargetModel(UiOwner owner, const char *text, bool)
{
    return UiMessage(owner, text, AppTextTable[0], UI_ICON_WARNING, UI_OK_CANCEL) == UI_ANSWER_OK;
}

bool ShowFirmwareFilesDialog(UiOwner, const std::vector<TextRun> &runs, bool blocking)
{
    g_fakeUpgrade.filesShown++;
    g_fakeUpgrade.filesText = ProposalPlainText(runs);
    g_fakeUpgrade.filesBlocking = blocking;
    return g_fakeUpgrade.acceptFiles && !blocking;
}

int RunUpgradeProgressDialog(UiOwner, UpgradePlan *plan)
{
    g_fakeUpgrade.progressRuns++;
    plan->succeeded = 0;
    RunUpgradeProcedure(plan);
    return 2;
}

// No script runs beside the command in the host tests.
void UpgradePauseScript() {}

bool RecoveryLoad(const char *link, RecoveryRecord *out)
{
    auto it = g_fakeUpgrade.recovery.find(link);
    if (it == g_fakeUpgrade.recovery.end()) return false;
    *out = it->second;
    return true;
}

void RecoverySave(const char *link, const RecoveryRecord *rec) { g_fakeUpgrade.recovery[link] = *rec; }

void RecoveryForget(const char *link) { g_fakeUpgrade.recovery.erase(link); }

bool RecoverySameFile(const char *a, const char *b) { return strcmp(a, b) == 0; }
