// The upgrade descriptor reader: any file contents, read from a short or a long folder, with
// the files it names found or not as the input says; then the proposed operation for the set
// it filled. Entries, texts and counts must stay within their arrays and limits.
#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakeui.h"
#include "fakeupgrade.h"
#include "fuzz_common.h"
#include "rtf_check.h"
#include "upgrade/upgrade.h"

static bool Terminated(const char *text, size_t size) { return strnlen(text, size) < size; }

static std::string DescriptorPath(bool longFolder)
{
    static std::string shortPath, longPath;
    if (shortPath.empty()) {
        shortPath = FuzzScratchDir() + "/desc.txt";
        // A folder deep enough that folder and file name together pass the 259 characters.
        std::string dir = FuzzScratchDir() + "/" + std::string(180, 'd');
        mkdir(dir.c_str(), 0700);
        longPath = dir + "/desc.txt";
    }
    return longFolder ? longPath : shortPath;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    bool longFolder = in.ConsumeBool();
    int limit = in.ConsumeIntegralInRange<int>(-1, UPGRADE_MAX_ENTRIES + 5);
    uint64_t found = in.ConsumeIntegral<uint64_t>();  // which looked-up files exist
    uint32_t fileSize = in.ConsumeIntegral<uint32_t>();
    int64_t writeTime = in.ConsumeIntegral<int64_t>();
    char idnText[128];
    FuzzFillText(in, idnText);
    std::string contents = in.ConsumeRemainingBytesAsString();
    const std::string path = DescriptorPath(longFolder);
    FUZZ_CHECK(FuzzWriteFile(path, contents.data(), contents.size()));

    static EntryTable table;
    static UpgradePlan plan;
    // First pass: which files does the descriptor look for? Second pass: some of them exist.
    FakeUpgradeReset();
    memset(&plan, 0, sizeof plan);
    bool blocking = false;
    ReadUpgradeDescriptor(path.c_str(), &table, limit, &plan, &blocking);
    std::vector<std::string> lookups = g_fakeUpgrade.lookups;
    FakeUpgradeReset();
    for (size_t i = 0; i < lookups.size(); i++) {
        if (found >> (i % 64) & 1) FakeUpgradeAddFile(lookups[i], fileSize + (uint32_t)i, writeTime);
    }
    memset(&plan, 0, sizeof plan);
    blocking = false;
    int count = ReadUpgradeDescriptor(path.c_str(), &table, limit, &plan, &blocking);

    int cap = limit > UPGRADE_MAX_ENTRIES ? UPGRADE_MAX_ENTRIES : limit;
    FUZZ_CHECK(count >= 0 && count <= (cap > 0 ? cap : 0));
    FUZZ_CHECK(count == table.counts[0] || count == table.counts[1]);
    for (int s = 0; s < UPGRADE_SET_COUNT; s++) {
        FUZZ_CHECK(table.counts[s] >= 0 && table.counts[s] <= UPGRADE_MAX_ENTRIES);
        FUZZ_CHECK(plan.comparison[s] >= COMPARE_UNRECOGNISED && plan.comparison[s] <= COMPARE_EQ);
        FUZZ_CHECK(Terminated(plan.warningText[s], UPGRADE_WARNING_SIZE));
        for (int i = 0; i < table.counts[s]; i++) {
            LoadEntry &e = table.sets[s][i];
            FUZZ_CHECK(Terminated(e.path, sizeof e.path));
            FUZZ_CHECK(Terminated(e.facts.name, sizeof e.facts.name));
            if (e.exists) {
                auto it = g_fakeUpgrade.files.find(e.path);
                FUZZ_CHECK(it != g_fakeUpgrade.files.end());
                FUZZ_CHECK(e.facts.size == it->second.size);
            }
            if (e.sector < 0 || e.sector > UPGRADE_SECTOR_LIMIT_EXT) FUZZ_CHECK(blocking);
            FUZZ_CHECK(e.serialLow >= 0 && e.serialHigh >= 0);
        }
        // Entries past the count are untouched slots.
        for (int i = table.counts[s]; i < UPGRADE_MAX_ENTRIES; i++) FUZZ_CHECK(table.sets[s][i].path[0] == '\0');
    }
    FUZZ_CHECK(Terminated(plan.targetModel, sizeof plan.targetModel));

    // The proposal for the set that was being filled.
    int set = count == table.counts[1] && table.counts[1] > 0 ? 1 : 0;
    bool proposalBlocking = false;
    CheckRtfBalanced(ProposalRichText(BuildProposedOperation(table.sets[set], table.counts[set], idnText,
                                                             plan.targetModel, &proposalBlocking)));
    for (int i = 0; i < table.counts[set]; i++) {
        for (const char *p = table.sets[set][i].facts.name; *p; p++) FUZZ_CHECK(!(*p >= 'A' && *p <= 'Z'));
    }
    return 0;
}
