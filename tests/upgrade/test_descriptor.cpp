// Upgrade descriptor reader: keywords, field rules, sector limits, serial ranges, the two
// target sets and the entry limit. Descriptors are written to a temporary file per case.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "fakeupgrade.h"
#include "upgrade/upgrade.h"

class Descriptor : public ::testing::Test {
protected:
    EntryTable table;
    UpgradePlan plan;
    bool blocking = false;
    std::string dir = testing::TempDir();
    std::string path = dir + "desc_" + std::to_string(getpid()) + ".upg";

    void SetUp() override { FakeUpgradeReset(); }
    void TearDown() override { remove(path.c_str()); }

    int Read(const std::string &text, int limit = UPGRADE_MAX_ENTRIES)
    {
        FILE *f = fopen(path.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
        memset(&plan, 0x5A, sizeof plan);  // the reader must set what it owns
        memset(plan.targetModel, 0, sizeof plan.targetModel);
        memset(plan.warningText, 0, sizeof plan.warningText);
        blocking = false;
        return ReadUpgradeDescriptor(path.c_str(), &table, limit, &plan, &blocking);
    }
    void Exists(const char *name, uint32_t size = 100) { FakeUpgradeAddFile(dir + name, size); }
};

TEST_F(Descriptor, TargetLines)
{
    static const struct { const char *text, *model; int32_t comparison, threshold; } cases[] = {
        {"TARGET,RZT6680\n", "RZT6680", COMPARE_NONE, 0},
        {"TARGET,RZT6680,1000,gteq\n", "RZT6680", COMPARE_GTEQ, 1000},
        {"TARGET, RZT 6680 ,\t1 000 ,GtEq ,more,fields\n", "RZT6680", COMPARE_GTEQ, 1000},
        {"TARGET,M,-5,gt\n", "M", COMPARE_GT, -5},
        {"TARGET,M,5,lt\r\n", "M", COMPARE_LT, 5},
        {"TARGET,M,5,lteq\n", "M", COMPARE_LTEQ, 5},
        {"TARGET,M,5,EQ\n", "M", COMPARE_EQ, 5},
        {"TARGET,M,5,ge\n", "M", COMPARE_UNRECOGNISED, 5},
        {"TARGET,M,x,gt\n", "M", COMPARE_GT, 0},
        {"TARGET,RZT6680,1000\n", "", COMPARE_UNRECOGNISED, 0},  // three fields
        {"TARGET\n", "", COMPARE_UNRECOGNISED, 0},
        {"TARGETS,RZT86xx\n", "RZT86xx", COMPARE_NONE, 0},       // no separator needed
        {"TARGET,RZT6680,\n", "RZT6680", COMPARE_NONE, 0},        // final comma adds no field
        {"target,RZT6680\n", "RZT6680", COMPARE_NONE, 0},
        {"Target,RZT6680\n", "", COMPARE_NONE, 0},                // mixed case: ignored
        {"target,RZT6680 TARGET\n", "", COMPARE_NONE, 0},         // upper case found elsewhere
        {" TARGET,RZT6680\n", "", COMPARE_NONE, 0},
        {"TARGET,ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\n", "ABCDEFGHIJKLMNOPQRST", COMPARE_NONE, 0},
        {"TARGET,A\nTARGET,B,1,gt\nTARGET,C\n", "C", COMPARE_GT, 1},  // the last model wins
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(0, Read(c.text));
        EXPECT_STREQ(c.model, plan.targetModel);
        EXPECT_EQ(c.comparison, plan.comparison[0]);
        EXPECT_EQ(c.threshold, plan.versionThreshold[0]);
        EXPECT_EQ(COMPARE_NONE, plan.comparison[1]);
        EXPECT_EQ(0, plan.versionThreshold[1]);
    }
}

TEST_F(Descriptor, LoadLines)
{
    static const struct { const char *text; int count; int32_t sector; const char *name; bool over, blocks; } cases[] = {
        {"LOAD, 3 ,\tcode.hex\n", 1, 3, "code.hex", false, false},
        {"LOAD,3\n", 0, 0, "", false, false},
        {"LOAD,3,\n", 0, 0, "", false, false},
        {"LOAD,3, \t\n", 0, 0, "", false, false},
        {"LOAD,\n", 0, 0, "", false, false},
        {"LOAD\n", 0, 0, "", false, false},
        {"load,2,a b.hex , x \n", 1, 2, "a b.hex , x ", false, false},  // the rest of the line
        {"LOAD,3,code.hex\r\n", 1, 3, "code.hex", false, false},
        {"LOAD,x,code.hex\n", 1, 0, "code.hex", false, false},
        {"LOAD,7,code.hex\n", 1, 7, "code.hex", false, false},
        {"LOAD,8,code.hex\n", 1, 8, "code.hex", false, true},   // stored all the same
        {"LOAD,-1,code.hex\n", 1, -1, "code.hex", false, true},
        {"LOAD,15,code.hex\n", 1, 15, "code.hex", false, true},
        {"OVER,4,o.hex\n", 1, 4, "o.hex", true, false},
        {"over,4,o.hex\n", 1, 4, "o.hex", true, false},
        {"Load,2,a.hex\n", 0, 0, "", false, false},
        {"Over,2,a.hex\n", 0, 0, "", false, false},
        {"; LOAD,2,a.hex\n", 0, 0, "", false, false},
        {"load,2,LOAD.hex\n", 0, 0, "", false, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.count, Read(c.text));
        EXPECT_EQ(c.blocks, blocking);
        if (c.count == 0) continue;
        const LoadEntry &e = table.sets[0][0];
        EXPECT_EQ(c.sector, e.sector);
        EXPECT_EQ(c.over, e.over != 0);
        EXPECT_FALSE(e.exists);
        EXPECT_STREQ(c.name, e.facts.name);  // missing file: the name as written
        EXPECT_EQ(dir + c.name, e.path);
    }
}

TEST_F(Descriptor, FoundFileTakesItsFacts)
{
    FakeUpgradeAddFile(dir + "main.hex", 1234, 1600000000, "MAIN.HEX");
    ASSERT_EQ(2, Read("LOAD,0,main.hex\nLOAD,1,gone.hex\n"));
    const LoadEntry &found = table.sets[0][0], &gone = table.sets[0][1];
    EXPECT_TRUE(found.exists);
    EXPECT_EQ(1234u, found.facts.size);
    EXPECT_EQ(1600000000, found.facts.writeTime);
    EXPECT_STREQ("MAIN.HEX", found.facts.name);
    EXPECT_FALSE(gone.exists);
    EXPECT_STREQ("gone.hex", gone.facts.name);
    EXPECT_FALSE(blocking);  // a missing file blocks later, when it is listed
}

TEST_F(Descriptor, SectorRangeFollowsTarget)
{
    static const struct { const char *text; bool blocks; } cases[] = {
        {"LOAD,7,a.hex\n", false},
        {"TARGET,RZT8610\nLOAD,15,a.hex\n", false},
        {"TARGET,RZT8610\nLOAD,16,a.hex\n", true},
        {"TARGET,rzt8610\nLOAD,15,a.hex\n", true},           // case matters
        {"TARGET,RZT86\nTARGET,RZT66\nLOAD,8,a.hex\n", true},  // off again
        {"TARGET,RZT8610\nTARGET,RZT66,1\nLOAD,15,a.hex\n", false},  // three fields keep the model
        {"LOAD,15,a.hex\nTARGET,RZT8610\n", true},           // judged when the line is read
        {"LOAD,99\n", true},                                 // judged before the line is dropped
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        Read(c.text);
        EXPECT_EQ(c.blocks, blocking);
    }
}

TEST_F(Descriptor, SerialRanges)
{
    static const struct { const char *serial; int32_t low1, high1, low2, high2; } cases[] = {
        {"SERIAL,1,100,200", 100, 200, 0, 0},
        {"SERIAL,2,100,0", 100, 0, 100, 0},
        {"SERIAL,9,5,6", 5, 6, 5, 6},
        {"SERIAL,0,100,200", 0, 0, 0, 0},
        {"SERIAL,10,100,200", 0, 0, 0, 0},
        {"SERIAL,1,-5,200", 0, 0, 0, 0},
        {"SERIAL,1,100,-1", 0, 0, 0, 0},
        {"SERIAL,1,100", 0, 0, 0, 0},
        {"SERIAL", 0, 0, 0, 0},
        {"serial,1,100,200", 0, 0, 0, 0},  // upper case only
        {"SERIAL,2,100,200\nSERIAL,1,x", 0, 0, 0, 0},  // a new SERIAL line clears the pending one
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.serial);
        ASSERT_EQ(2, Read(std::string(c.serial) + "\nLOAD,1,a.hex\nLOAD,2\nOVER,2,b.hex\n"));
        EXPECT_EQ(c.low1, table.sets[0][0].serialLow);
        EXPECT_EQ(c.high1, table.sets[0][0].serialHigh);
        EXPECT_EQ(c.low2, table.sets[0][1].serialLow);  // the ignored line took no share
        EXPECT_EQ(c.high2, table.sets[0][1].serialHigh);
    }
}

TEST_F(Descriptor, WarningGoesToCurrentSet)
{
    Exists("a.hex");
    ASSERT_EQ(1, Read("WARNING,Take care, really\nWARNING\nTARGET,M,1,gt\nLOAD,1,a.hex\n"
                      "TARGET,M,2,lt\nWARNING,Second\nLOAD,2,b.hex\n"));
    EXPECT_STREQ("Take care, really", plan.warningText[0]);
    EXPECT_STREQ("Second", plan.warningText[1]);
    std::string longWarning = "WARNING," + std::string(300, 'w') + "\n";
    Read(longWarning);
    EXPECT_EQ(251u, strlen(plan.warningText[0]));  // what the 259-byte chunk left of the line
}

TEST_F(Descriptor, TwoTargetSets)
{
    static const char text[] = "TARGET,M,100,gt\nLOAD,1,a.hex\nLOAD,3,c.hex\nTARGET,N,200,lt\nLOAD,2,b.hex\n";
    Exists("a.hex");
    EXPECT_EQ(1, Read(text));  // first file found: the second TARGET opens set 1
    EXPECT_EQ(2, table.counts[0]);
    EXPECT_EQ(1, table.counts[1]);
    EXPECT_EQ(2, table.sets[1][0].sector);
    EXPECT_EQ(COMPARE_GT, plan.comparison[0]);
    EXPECT_EQ(100, plan.versionThreshold[0]);
    EXPECT_EQ(COMPARE_LT, plan.comparison[1]);
    EXPECT_EQ(200, plan.versionThreshold[1]);
    EXPECT_STREQ("N", plan.targetModel);

    FakeUpgradeReset();
    EXPECT_EQ(3, Read(text));  // first file missing: set 0 is redefined and grows
    EXPECT_EQ(0, table.counts[1]);
    EXPECT_EQ(2, table.sets[0][2].sector);
    EXPECT_EQ(COMPARE_LT, plan.comparison[0]);
    EXPECT_EQ(200, plan.versionThreshold[0]);
    EXPECT_EQ(COMPARE_NONE, plan.comparison[1]);
}

TEST_F(Descriptor, ThirdTargetSetEndsReading)
{
    Exists("a.hex");
    Exists("b.hex");
    EXPECT_EQ(1, Read("TARGET,M,1,gt\nLOAD,1,a.hex\nTARGET,N,2,lt\nLOAD,2,b.hex\n"
                      "TARGET,P,3,eq\nLOAD,3,c.hex\n"));
    EXPECT_EQ(1, table.counts[0]);
    EXPECT_EQ(1, table.counts[1]);
    EXPECT_STREQ("N", plan.targetModel);
    EXPECT_EQ(COMPARE_LT, plan.comparison[1]);
    EXPECT_EQ(2, plan.versionThreshold[1]);
}

TEST_F(Descriptor, EntryLimit)
{
    std::string lines;
    for (int i = 0; i < 60; i++) lines += "LOAD,1,f" + std::to_string(i) + ".hex\n";
    auto firstLines = [&](int n) {
        size_t at = 0;
        for (int i = 0; i < n; i++) at = lines.find('\n', at) + 1;
        return lines.substr(0, at);
    };
    EXPECT_EQ(49, Read(firstLines(49)));
    EXPECT_EQ(50, Read(firstLines(50)));
    EXPECT_EQ(50, Read(lines));  // reading stops at the limit
    EXPECT_EQ(10, Read(lines, 10));
    EXPECT_EQ(50, Read(lines, 1000));  // never past the table
    Exists("a.hex");
    EXPECT_EQ(50, Read("TARGET,M,1,gt\nLOAD,1,a.hex\nTARGET,N,2,gt\n" + lines));  // limit per set
    EXPECT_EQ(1, table.counts[0]);
}

TEST_F(Descriptor, LongLineIsSeveralLines)
{
    std::string name(300, 'n');
    ASSERT_EQ(2, Read("LOAD,1," + name + "\nLOAD,2,b.hex\n"));
    EXPECT_EQ(252u, strlen(table.sets[0][0].facts.name));  // 259 bytes less "LOAD,1,"
    EXPECT_EQ(2, table.sets[0][1].sector);
}

TEST_F(Descriptor, UnreadableFile)
{
    UpgradePlan p;
    memset(&p, 0x5A, sizeof p);
    bool block = false;
    EXPECT_EQ(0, ReadUpgradeDescriptor((dir + "no_such_descriptor.upg").c_str(), &table, 50, &p, &block));
    EXPECT_EQ(COMPARE_NONE, p.comparison[0]);
    EXPECT_EQ(COMPARE_NONE, p.comparison[1]);
    EXPECT_EQ(0, p.versionThreshold[0]);
}
