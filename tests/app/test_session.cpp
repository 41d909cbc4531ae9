// The reconnect wait's schedule, the gap lines, and the stamped lines of the session log.
#include <gtest/gtest.h>

#include "app/reconnect.h"
#include "app/session_log.h"
#include "link/ident.h"

// Every 250 ms from the loss, none after 10 s; the count of seconds rounds up; all of it the
// same across the wrap of the tick count.
TEST(Reconnect, TriesEveryPeriodUntilTheLimitAcrossTheWrap)
{
    for (uint32_t start : {1000u, 0xFFFFFF00u}) {
        SCOPED_TRACE(start);
        ReconnectWait w;
        ReconnectBegin(&w, start);
        EXPECT_EQ(10, ReconnectSecondsLeft(&w, start));
        EXPECT_TRUE(ReconnectTryDue(&w, start));
        ReconnectTrying(&w, start);
        EXPECT_FALSE(ReconnectTryDue(&w, start + 249));
        EXPECT_TRUE(ReconnectTryDue(&w, start + 250));
        ReconnectTrying(&w, start + 2600);  // a try that took long: the next follows a period after it began
        EXPECT_FALSE(ReconnectTryDue(&w, start + 2849));
        EXPECT_TRUE(ReconnectTryDue(&w, start + 2850));
        EXPECT_EQ(8, ReconnectSecondsLeft(&w, start + 2001));
        EXPECT_EQ(1, ReconnectSecondsLeft(&w, start + 9999));
        EXPECT_FALSE(ReconnectExpired(&w, start + 9999));
        EXPECT_TRUE(ReconnectExpired(&w, start + 10000));
        EXPECT_FALSE(ReconnectTryDue(&w, start + 10000));
        EXPECT_EQ(0, ReconnectSecondsLeft(&w, start + 10000));
        w.active = false;
        EXPECT_FALSE(ReconnectTryDue(&w, start + 3000));
    }
}

TEST(Reconnect, GapLinesAndWhoAnswered)
{
    ClockStamp t = {2026, 12, 9, 9, 5, 7, 42};
    EXPECT_EQ("--- link lost 09:05:07.042 ---\r\n", GapLostLine(t));
    EXPECT_EQ("--- link restored 09:05:07.042 ---\r\n", GapRestoredLine(t));
    EXPECT_EQ("2026-12-09 09:05:07.042", DateClockText(t));
    InstrumentIdentity lost = ReadInstrumentIdentity("Vendrel,RZT7680,12345,1.23");
    EXPECT_EQ("RZT7680", lost.model);
    EXPECT_EQ("12345", lost.serialNumber);
    EXPECT_TRUE(SameInstrument(lost, ReadInstrumentIdentity("Vendrel, RZT7680 ,12345,1.24")));  // upgraded
    EXPECT_FALSE(SameInstrument(lost, ReadInstrumentIdentity("Vendrel,RZT7680,99999,1.23")));
    EXPECT_FALSE(SameInstrument(lost, ReadInstrumentIdentity("Vendrel,RZT4610,12345,1.23")));
    EXPECT_FALSE(SameInstrument(ReadInstrumentIdentity("PCAN-RS232"), ReadInstrumentIdentity("PCAN-RS232")));
}

// Lines are stamped when their first character comes, whatever pieces the text comes in; the
// log's lines lose their CRs and end in CR LF, and a line left open is ended when the log stops.
TEST(SessionLog, StampsEachLineAtItsStart)
{
    LineStamper shown;
    EXPECT_EQ("10:00:00.001 > *IDN?\r\n", shown.Stamp("> *IDN?\r\n", "10:00:00.001"));
    EXPECT_EQ("10:00:00.200 Vendrel,RZ", shown.Stamp("Vendrel,RZ", "10:00:00.200"));
    EXPECT_EQ("T7680\r\n10:00:00.300 a\r\n", shown.Stamp("T7680\r\na\r\n", "10:00:00.300"));
    EXPECT_TRUE(shown.atLineStart);

    SessionLogLines log;
    std::vector<std::string> done;
    log.Feed("> meas:volt?\r\n1.2", "2026-12-09 10:00:00.001", &done);
    log.Feed("5\r\n--- link lost 10:00:01.000 ---\r\nTIME", "2026-12-09 10:00:01.000", &done);
    EXPECT_EQ((std::vector<std::string>{"2026-12-09 10:00:00.001 > meas:volt?\r\n", "2026-12-09 10:00:00.001 1.25\r\n",
                                        "2026-12-09 10:00:01.000 --- link lost 10:00:01.000 ---\r\n"}),
              done);
    std::string partial;
    ASSERT_TRUE(log.TakePartial(&partial));
    EXPECT_EQ("2026-12-09 10:00:01.000 TIME\r\n", partial);
    EXPECT_FALSE(log.TakePartial(&partial));
}
