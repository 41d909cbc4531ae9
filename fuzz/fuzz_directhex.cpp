// The direct HEX file naming rules: any chosen path. A name that is not a main HEX file is
// refused with one message; any other gives its companions in a fixed order, each path whole
// or the entry missing, and blocking exactly when one of them is missing.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "fakeui.h"
#include "fakeupgrade.h"
#include "fuzz_common.h"
#include "upgrade/upgrade.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    uint8_t found = in.ConsumeIntegral<uint8_t>();
    std::string path = in.ConsumeRemainingBytesAsString();
    path = path.substr(0, strlen(path.c_str()));  // a path is a C string
    if (path.size() > 1 && (found & 0x80)) path = std::string(240, 'f') + "\\" + path;  // long folders

    static EntryTable table;
    FakeUiReset();
    FakeUpgradeReset();
    bool blocking = false;
    int first = ReadDirectHexFile(path.c_str(), &table, &blocking);
    std::vector<std::string> lookups = g_fakeUpgrade.lookups;
    FakeUpgradeReset();
    for (size_t i = 0; i < lookups.size(); i++) {
        if (found >> i & 1) FakeUpgradeAddFile(lookups[i], 1000);
    }
    FakeUiReset();
    blocking = false;
    int result = ReadDirectHexFile(path.c_str(), &table, &blocking);
    FUZZ_CHECK(result == first);

    size_t sep = path.find_last_of("\\/");
    std::string name = sep == std::string::npos ? path : path.substr(sep + 1);
    bool isMain = name.size() >= 3 && isalpha((unsigned char)name[0]) && isalnum((unsigned char)name[1]) &&
                  name[2] == '_';
    // The reader shows nothing itself: the upgrade command tells the user why it stopped.
    FUZZ_CHECK(g_ui.messages.empty());
    if (!isMain) {
        FUZZ_CHECK(result == -1 && table.counts[0] == 0);
        return 0;
    }
    bool noFpga = (toupper((unsigned char)name[0]) == 'S' && toupper((unsigned char)name[1]) == 'Q') ||
                  (toupper((unsigned char)name[0]) == 'P' && toupper((unsigned char)name[1]) == 'C');
    FUZZ_CHECK(result == (noFpga ? 2 : 3) && table.counts[0] == result);
    // An empty folder (no separator, or only a leading one) puts the companions beside the file.
    std::string folder = sep == std::string::npos || sep == 0 ? "" : path.substr(0, sep) + "\\";
    std::vector<std::string> want = {folder + "DSP" + name.substr(2)};
    if (!noFpga) want.push_back(folder + "FPG" + name.substr(2));
    want.push_back(path);
    static const int32_t sectors[3] = {2, 1, 0};
    bool anyMissing = false;
    for (int i = 0; i < result; i++) {
        const LoadEntry &e = table.sets[0][i];
        FUZZ_CHECK(strnlen(e.path, sizeof e.path) < sizeof e.path);
        FUZZ_CHECK(e.sector == (i + 1 == result ? 0 : sectors[i]));
        // A path that does not fit is never looked up in a cut form: the entry is missing.
        if (want[i].size() >= UPGRADE_PATH_SIZE) FUZZ_CHECK(!e.exists);
        else FUZZ_CHECK(e.path == want[i] && e.exists == g_fakeUpgrade.files.count(want[i]));
        anyMissing |= !e.exists;
    }
    FUZZ_CHECK(blocking == anyMissing);
    for (const std::string &p : g_fakeUpgrade.lookups) FUZZ_CHECK(p.size() < UPGRADE_PATH_SIZE);
    return 0;
}
