// The numbered texts as their callers use them: no entry is null (callers pass entries
// straight to Win32), and a format takes no more than the one text its callers pass.
#include <gtest/gtest.h>

#include <cstring>

#include "common/texttab.h"

// The number of conversions in text, or -1 for one other than "%s" (a "%%" counts none).
static int StringConversions(const char *text)
{
    int n = 0;
    for (const char *p = strchr(text, '%'); p; p = strchr(p + 1, '%')) {
        if (p[1] == '%') { p++; continue; }
        if (p[1] != 's') return -1;
        n++;
    }
    return n;
}

TEST(TextTables, EveryEntryIsATextAndAtMostOneStringFormat)
{
    struct Table { const char *name; const char *const *texts; int count; };
    for (const Table &t : {Table{"LinkTextTable", LinkTextTable, LINK_TEXT_COUNT},
                           Table{"AppTextTable", AppTextTable, APP_TEXT_COUNT}}) {
        for (int i = 0; i < t.count; i++) {
            ASSERT_NE(nullptr, t.texts[i]) << t.name << "[" << i << "]";
            int n = StringConversions(t.texts[i]);
            EXPECT_TRUE(n == 0 || n == 1) << t.name << "[" << i << "]: " << t.texts[i];
        }
    }
    EXPECT_NE(nullptr, strstr(AppTextTable[10], "Vendrel"));  // the maker line of the About box
}
