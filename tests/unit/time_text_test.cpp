// The time texts: the server's time in C runtime local time (UTC+9 in the tests as
// in the program), the PC's time from the clock seam, and reading a text back.
#include "engine/time_text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/fake_clock.h"
#include "tests/support/system_time.h"

namespace {

struct Fields {
    int year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

bool operator==(const Fields& a, const Fields& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::ostream& operator<<(std::ostream& out, const Fields& f) {
    return out << '{' << f.year << ',' << f.month << ',' << f.dayOfWeek << ',' << f.day << ','
               << f.hour << ',' << f.minute << ',' << f.second << ',' << f.milliseconds << '}';
}

// Parses into a SYSTEMTIME full of garbage, so that a field the parser forgets shows.
Fields Parse(const char* text) {
    SYSTEMTIME out;
    std::memset(&out, 0xAB, sizeof out);
    EXPECT_EQ(ParseTimeText(CString(text), &out), 1) << text;
    return Fields{out.wYear, out.wMonth,  out.wDayOfWeek, out.wDay,
                  out.wHour, out.wMinute, out.wSecond,    out.wMilliseconds};
}

SYSTEMTIME Local(int year, int month, int dayOfWeek, int day, int hour, int minute, int second) {
    return MakeSystemTime(year, month, dayOfWeek, day, hour, minute, second,
                          999);  // ms never shown
}

CString PcTextAt(const SYSTEMTIME& local) {
    FakeClock clock;
    clock.SetLocal(local);
    return FormatPcLocalTime();
}

}  // namespace

TEST(ParseTimeText, ReadsTheSharedLayout) {
    EXPECT_EQ(Parse("Sun Jan 06 12:34:56 2002"), (Fields{2002, 1, 0, 6, 12, 34, 56, 0}));
    // A DAYTIME line: two blanks before a one-digit day, the carriage return kept in
    // the year field, where it stops the digits.
    EXPECT_EQ(Parse("Sun Jan  6 12:34:56 2002\r"), (Fields{2002, 1, 0, 6, 12, 34, 56, 0}));
    // Leading and repeated delimiters count as one; a colon is as good as a blank.
    EXPECT_EQ(Parse(" :: Mon Dec 31:23 : 59::59   9999 "),
              (Fields{9999, 12, 0, 31, 23, 59, 59, 0}));
    // Fields after the year are not read.
    EXPECT_EQ(Parse("Sun Jan 06 12:34:56 2002 JST"), (Fields{2002, 1, 0, 6, 12, 34, 56, 0}));
}

TEST(ParseTimeText, DatesAreNotRangeTested) {
    EXPECT_EQ(Parse("Tue Feb 30 10:00:00 2002"), (Fields{2002, 2, 0, 30, 10, 0, 0, 0}));
    EXPECT_EQ(Parse("Xyz Jan 99 77:88:99 1"), (Fields{1, 1, 0, 99, 77, 88, 99, 0}));
}

TEST(ParseTimeText, OtherLayoutsGiveMonthZero) {
    EXPECT_EQ(Parse("Sunday January 6 12:34:56 2002"), (Fields{2002, 0, 0, 6, 12, 34, 56, 0}));
    EXPECT_EQ(Parse("Sun jan 06 12:34:56 2002"), (Fields{2002, 0, 0, 6, 12, 34, 56, 0}));
    // A tab is not a delimiter: the day and month names make one field, and every
    // later field moves up by one.
    EXPECT_EQ(Parse("Sun\tJan 06 12:34:56 2002"), (Fields{0, 0, 0, 12, 34, 56, 2002, 0}));
    // RFC 867 leaves the layout free; a common one yields month 0 and a garbled rest.
    EXPECT_EQ(Parse("Sunday, January 6, 2002 12:34:56-JST"),
              (Fields{56, 0, 0, 6, 2002, 12, 34, 0}));
}

TEST(ParseTimeText, MissingFieldsGiveZero) {
    EXPECT_EQ(Parse(""), (Fields{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Parse(" : \t"), (Fields{0, 0, 0, 0, 0, 0, 0, 0}));  // the tab is a field
    EXPECT_EQ(Parse("   ::  "), (Fields{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Parse("Sun"), (Fields{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Parse("Sun Jan 06"), (Fields{0, 1, 0, 6, 0, 0, 0, 0}));
    EXPECT_EQ(Parse("Sun Jan 06 12:34:56"), (Fields{0, 1, 0, 6, 12, 34, 56, 0}));
}

TEST(ParseTimeText, NumbersFollowAtoi) {
    // Leading white space other than the blank, a sign, and trailing junk.
    EXPECT_EQ(Parse("Sun Jan \t7 \r8:+9:10x 2002\r\n"), (Fields{2002, 1, 0, 7, 8, 9, 10, 0}));
    // No leading digits: 0.
    EXPECT_EQ(Parse("Sun Jan x6 +-1:-:. \x01"), (Fields{0, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Parse("Sun Jan 0000000000000000000000006 0:0:0 65535"),
              (Fields{65535, 1, 0, 6, 0, 0, 0, 0}));
}

TEST(ParseTimeText, NumbersAWordCannotHoldBecomeAnImpossibleValue) {
    // 65535 is out of range for every SYSTEMTIME field, so SetLocalTime refuses the
    // text rather than taking a wrapped or zeroed number as a real hour or year.
    EXPECT_EQ(Parse("Sun Jan -1 -0:65536:99999999999999999999999 -99999999999999999999"),
              (Fields{65535, 1, 0, 65535, 0, 65535, 65535, 0}));
    // Wrapped into a WORD this would be the plausible year 2002.
    EXPECT_EQ(Parse("Sun Jan 6 12:34:56 67538"), (Fields{65535, 1, 0, 6, 12, 34, 56, 0}));
}

TEST(MonthFromName, OnlyTheExactThreeLetterNames) {
    const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(MonthFromName(names[i]), i + 1) << names[i];

    for (const char* other : {"jan", "JAN", "January", "Ja", "", "Jan ", " Jan", "Jan\r", "Sun"}) {
        EXPECT_EQ(MonthFromName(other), 0) << '"' << other << '"';
    }
    EXPECT_EQ(MonthFromName(nullptr), 0);
}

TEST(FormatPcLocalTime, PadsLikeTheServerText) {
    EXPECT_EQ(PcTextAt(Local(987, 1, 0, 6, 1, 2, 3)), "Sun Jan 06 01:02:03  987");
    EXPECT_EQ(PcTextAt(Local(2002, 12, 6, 31, 23, 59, 59)), "Sat Dec 31 23:59:59 2002");
    EXPECT_EQ(PcTextAt(Local(30827, 7, 3, 15, 0, 0, 0)), "Wed Jul 15 00:00:00 30827");
    // Every name of both tables lands in its place.
    const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int day = 0; day < 7; ++day) {
        EXPECT_EQ(PcTextAt(Local(2002, 1, day, 6, 12, 0, 0)),
                  CString(days[day]) + " Jan 06 12:00:00 2002");
    }
    const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month) {
        EXPECT_EQ(PcTextAt(Local(2002, month, 0, 6, 12, 0, 0)),
                  CString("Sun ") + months[month - 1] + " 06 12:00:00 2002");
    }
}

TEST(FormatPcLocalTime, NamesOutsideTheTablesAreNotLookedUp) {
    EXPECT_EQ(PcTextAt(Local(2002, 0, 0, 6, 12, 0, 0)), "Sun  06 12:00:00 2002");
    EXPECT_EQ(PcTextAt(Local(2002, 13, 7, 6, 12, 0, 0)), "??? ??? 06 12:00:00 2002");
    EXPECT_EQ(PcTextAt(Local(2002, 65535, 65535, 6, 12, 0, 0)), "??? ??? 06 12:00:00 2002");
}

TEST(FormatServerTime, LocalTimeAtUtcPlusNine) {
    EXPECT_EQ(FormatServerTime(0), "Thu Jan 01 09:00:00 1970");
    EXPECT_EQ(FormatServerTime(1010320496), "Sun Jan 06 21:34:56 2002");
    // Across the 32-bit signed boundary of 2038 and on to the end of unsigned TimeStamps.
    EXPECT_EQ(FormatServerTime(2147483647LL), "Tue Jan 19 12:14:07 2038");
    EXPECT_EQ(FormatServerTime(2147483648LL), "Tue Jan 19 12:14:08 2038");
    EXPECT_EQ(FormatServerTime(2208988800LL), "Sun Jan 01 09:00:00 2040");
    EXPECT_EQ(FormatServerTime(4294967295LL), "Sun Feb 07 15:28:15 2106");
}
