// The numbered texts: every entry the program quotes by number, checked byte for byte, and
// the rule that the tables hold no null entries (callers pass entries straight to Win32).
#include <gtest/gtest.h>

#include <cstring>

#include "common/texttab.h"

TEST(TextTables, QuotedEntriesAreExact)
{
    enum { LINK, APP };
    static const struct { int table, index; const char *text; } cases[] = {
        {LINK, 2, "USB"}, {LINK, 3, "LAN"}, {LINK, 4, "Serial"},
        {LINK, 7, "1200"}, {LINK, 8, "2400"}, {LINK, 9, "4800"},
        {LINK, 10, "9600"}, {LINK, 11, "19200"}, {LINK, 12, "38400"},
        {LINK, 17, "COM Port:"}, {LINK, 18, "IP Address:"},
        {LINK, 21, "Please enter an IP address"}, {LINK, 22, "Test Connection"},
        {LINK, 23, "Please select a COM Port"}, {LINK, 24, "Please choose a baudrate"},
        {LINK, 25, "The connection was successful\n"}, {LINK, 26, "The connection failed"},
        {LINK, 27, "Failed to connect to IP address %s"}, {LINK, 28, "Unable to open port %s"},
        {LINK, 29, "Incompatable instrument"},
        {LINK, 30, "No Instruments found on this subnet"}, {LINK, 31, "LAN Find Instrument"},
        {LINK, 32, "IP Address"}, {LINK, 33, "Instrument"},
        {APP, 0, "Quillon2"}, {APP, 1, "v1_3 (build 12) Feb  2 2021"}, {APP, 4, "Send"},
        {APP, 49, "Comms Failed - the connection will be closed"},
        {APP, 54, "Run"}, {APP, 55, "Step"}, {APP, 56, "Close"},
        {APP, 58, "Unable to read file %s"}, {APP, 59, "%s does not appear to be a script file"},
        {APP, 60, "Stop"}, {APP, 61, "ERROR SENDING THIS COMMAND\r\n"}, {APP, 62, "TIMEOUT\r\n"},
        {APP, 63, "! Press Close to abort script or Press Run to continue"},
        {APP, 65, "A problem has occurred trying to read data from the instrument. Would you like to "
                  "attempt to re-establish communications?"},
        {APP, 66, "Select Script File"},
    };
    for (const auto &c : cases) {
        const char *got = c.table == LINK ? LinkTextTable[c.index] : AppTextTable[c.index];
        EXPECT_STREQ(c.text, got) << (c.table == LINK ? "LinkTextTable[" : "AppTextTable[") << c.index << "]";
    }
}

TEST(TextTables, MakerLineNamesTheMakerAndUnusedEntriesAreEmpty)
{
    EXPECT_NE(nullptr, strstr(AppTextTable[10], "Vendrel"));
    for (int i = 0; i < LINK_TEXT_COUNT; i++) ASSERT_NE(nullptr, LinkTextTable[i]) << i;
    for (int i = 0; i < APP_TEXT_COUNT; i++) ASSERT_NE(nullptr, AppTextTable[i]) << i;
    // Spot checks of numbers nobody quotes: a shifted table would fill them.
    for (int i : {0, 1, 5, 6, 13, 19, 20, 34, 110}) EXPECT_STREQ("", LinkTextTable[i]) << i;
    for (int i : {2, 3, 5, 9, 11, 48, 50, 57, 64, 67, 120}) EXPECT_STREQ("", AppTextTable[i]) << i;
}
