// Direct main HEX file: which names are accepted, and the companion files and sectors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakeui.h"
#include "fakeupgrade.h"
#include "upgrade/upgrade.h"

TEST(DirectHex, Names)
{
    static const struct {
        const char *path;
        int count;
        std::vector<std::string> paths;  // entries of set 0, sectors 2, (1,) 0
    } cases[] = {
        {"C:\\fw\\x_1.hex", -1, {}},
        {"C:\\fw\\1B_1.hex", -1, {}},
        {"C:\\fw\\AB12.hex", -1, {}},
        {"C:\\fw\\A-_1.hex", -1, {}},
        {"C:\\fw\\AB_12.hex", 3, {"C:\\fw\\DSP_12.hex", "C:\\fw\\FPG_12.hex", "C:\\fw\\AB_12.hex"}},
        {"C:\\fw\\a1_.hex", 3, {"C:\\fw\\DSP_.hex", "C:\\fw\\FPG_.hex", "C:\\fw\\a1_.hex"}},
        {"C:\\fw\\SQ_12.hex", 2, {"C:\\fw\\DSP_12.hex", "C:\\fw\\SQ_12.hex"}},
        {"C:\\fw\\sq_12.hex", 2, {"C:\\fw\\DSP_12.hex", "C:\\fw\\sq_12.hex"}},
        {"C:\\fw\\Pc_7.hex", 2, {"C:\\fw\\DSP_7.hex", "C:\\fw\\Pc_7.hex"}},
        {"C:\\fw_x\\PQ_7.hex", 3, {"C:\\fw_x\\DSP_7.hex", "C:\\fw_x\\FPG_7.hex", "C:\\fw_x\\PQ_7.hex"}},
        {"C:\\a_b", -1, {}},  // "_" in second place
        {"AB_12.hex", 3, {"DSP_12.hex", "FPG_12.hex", "AB_12.hex"}},  // no folder: beside the file
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        FakeUpgradeReset();
        FakeUiReset();
        EntryTable table;
        memset(&table, 0x5A, sizeof table);
        bool blocking = false;
        EXPECT_EQ(c.count, ReadDirectHexFile(c.path, &table, &blocking));
        if (c.count < 0) {
            EXPECT_TRUE(g_fakeUpgrade.lookups.empty());
            continue;
        }
        EXPECT_TRUE(blocking);  // none of them exists
        ASSERT_EQ(c.count, table.counts[0]);
        EXPECT_EQ(0, table.counts[1]);
        for (int i = 0; i < c.count; i++) {
            const LoadEntry &e = table.sets[0][i];
            EXPECT_EQ(c.paths[i], e.path) << i;
            EXPECT_EQ(i == c.count - 1 ? 0 : 2 - i, e.sector) << i;
            EXPECT_FALSE(e.exists) << i;
            EXPECT_STREQ("", e.facts.name) << i;  // stays empty for a missing direct file
            EXPECT_FALSE(e.over) << i;
            EXPECT_EQ(0, e.serialLow + e.serialHigh) << i;
        }
    }
}

TEST(DirectHex, FactsAndBlocking)
{
    FakeUpgradeReset();
    FakeUpgradeAddFile("C:\\fw\\AB_12.hex", 500, 1600000000, "AB_12.HEX");
    FakeUpgradeAddFile("C:\\fw\\DSP_12.hex", 300);
    EntryTable table;
    bool blocking = false;
    ASSERT_EQ(3, ReadDirectHexFile("C:\\fw\\AB_12.hex", &table, &blocking));
    EXPECT_TRUE(blocking);  // FPG_12.hex is missing
    EXPECT_TRUE(table.sets[0][0].exists);
    EXPECT_EQ(300u, table.sets[0][0].facts.size);
    EXPECT_FALSE(table.sets[0][1].exists);
    EXPECT_TRUE(table.sets[0][2].exists);
    EXPECT_STREQ("AB_12.HEX", table.sets[0][2].facts.name);
    EXPECT_EQ(1600000000, table.sets[0][2].facts.writeTime);

    FakeUpgradeAddFile("C:\\fw\\FPG_12.hex", 200);
    blocking = false;
    ASSERT_EQ(3, ReadDirectHexFile("C:\\fw\\AB_12.hex", &table, &blocking));
    EXPECT_FALSE(blocking);
}

// A path that does not fit an entry must not be looked up cut short: the cut text could name
// some other file, which would then be programmed.
TEST(DirectHex, PathTooLongCountsAsMissing)
{
    FakeUpgradeReset();
    std::string folder = "C:\\" + std::string(245, 'f');
    std::string path = folder + "\\SQ_1234567.hex";  // 263 characters
    FakeUpgradeAddFile(path.substr(0, 259));
    FakeUpgradeAddFile(folder + "\\DSP_1234567.hex");
    EntryTable table;
    bool blocking = false;
    ASSERT_EQ(2, ReadDirectHexFile(path.c_str(), &table, &blocking));
    EXPECT_TRUE(blocking);
    EXPECT_FALSE(table.sets[0][0].exists);
    EXPECT_FALSE(table.sets[0][1].exists);
    EXPECT_TRUE(g_fakeUpgrade.lookups.empty());
    EXPECT_EQ(259u, strlen(table.sets[0][1].path));
}
