#include "logging/history_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/recording_sink.h"
#include "tests/support/temp_dir.h"

namespace {

// The tests fix the C runtime's zone at UTC+9, so these are Japan's local times.
const char kPcTime[] = "Sun Jan 06 12:34:56 2002";
constexpr long long kPcSeconds = 1010288096LL;  // 2002-01-06 03:34:56 UTC
const char kServerTime[] = "Sun Jan 06 12:34:50 2002";

class HistoryLog : public testing::Test {
  protected:
    // The record goes where the program puts it: beside the profile. The protocol
    // is a number here, so that a value outside the three can be written too.
    int Write(const char* pc, const char* server, int protocol, int mode, const char* detail,
              const char* serverTime, const int* pcZone = nullptr, bool authenticated = false) {
        return WriteHistoryRecord(HistoryLogPath(Wide(dir.File(m_profile))), pc, server,
                                  static_cast<Protocol>(protocol), mode, detail, serverTime,
                                  pcZone, authenticated);
    }
    void UseProfile(const char* name) { m_profile = name; }
    std::string Log() const { return ReadFileBytes(dir.File("Tavrino.log")); }

    TempDir dir;
    RecordingSink sink;

  private:
    const char* m_profile = "Tavrino.INI";
};

}  // namespace

TEST(HistoryLogPath, ProfilePathCutAfterItsLastDot) {
    EXPECT_EQ(HistoryLogPath(L"C:\\Tools\\Tavrino.INI"), L"C:\\Tools\\Tavrino.log");
    EXPECT_EQ(HistoryLogPath(L"C:\\My.Tools\\Tavrino.v2.INI"), L"C:\\My.Tools\\Tavrino.v2.log");
    // Only the whole path's last dot counts, even when it is in a folder name.
    EXPECT_EQ(HistoryLogPath(L"C:\\My.Tools\\Tavrino"), L"C:\\My.log");
    EXPECT_EQ(HistoryLogPath(L"C:\\Tools\\Tavrino"), L"log");
    EXPECT_EQ(HistoryLogPath(L""), L"log");
    // Characters that no code page holds stay as they are.
    EXPECT_EQ(HistoryLogPath(L"C:\\J\u00FCrgen\\\u30C4\u30FC\u30EB\\Tavrino.INI"),
              L"C:\\J\u00FCrgen\\\u30C4\u30FC\u30EB\\Tavrino.log");
}

TEST_F(HistoryLog, EachProtocolAndModeHasItsPaddedName) {
    EXPECT_EQ(Write(kPcTime, "192.0.2.1", 0, 0, "OK", kServerTime), 1);
    EXPECT_EQ(Write(kPcTime, "192.0.2.1", 1, 0, "OK", kServerTime), 1);
    EXPECT_EQ(Write(kPcTime, "time.example.jp", 2, 1, "OK", kServerTime), 1);
    // Any mode other than 0 is an adjustment; an unknown protocol has a blank name.
    EXPECT_EQ(Write(kPcTime, "192.0.2.1", 7, 5, "OK", kServerTime), 1);
    EXPECT_EQ(Write(kPcTime, "192.0.2.1", -1, 1, "OK", kServerTime), 1);
    // A query that NTS authenticated names it in the protocol's place, in the same width.
    EXPECT_EQ(Write(kPcTime, "192.0.2.1", 0, 1, "OK", kServerTime, nullptr, true), 1);
    EXPECT_EQ(Log(),
              "Sun Jan 06 12:34:56 2002, 192.0.2.1,    SNTP,  check, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, 192.0.2.1,    time,  check, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, time.example.jp, daytime, adjust, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, 192.0.2.1,        , adjust, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, 192.0.2.1,        , adjust, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, 192.0.2.1,     NTS, adjust, OK, "
              "Sun Jan 06 12:34:50 2002, +6\r\n");
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(HistoryLog, DifferenceIsSignedSecondsOrXWhenATimeIsMissing) {
    Write(kPcTime, "s", 0, 0, "OK", kPcTime);
    Write("Sun Jan 06 12:34:38 2002", "s", 0, 0, "OK", kServerTime);
    // Across a day and a month boundary: the texts are compared as times, not as digits.
    Write("Tue Jan 01 00:00:05 2002", "s", 0, 1, "OK", "Mon Dec 31 23:59:55 2001");
    Write(kPcTime, "s", 0, 0, "ERROR (recv)", "");
    Write("", "s", 0, 0, "OK", kServerTime);
    Write("", "s", 0, 0, "OK", "");
    EXPECT_EQ(Log(),
              "Sun Jan 06 12:34:56 2002, s,    SNTP,  check, OK, Sun Jan 06 12:34:56 2002, +0\r\n"
              "Sun Jan 06 12:34:38 2002, s,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, -12\r\n"
              "Tue Jan 01 00:00:05 2002, s,    SNTP, adjust, OK, Mon Dec 31 23:59:55 2001, +10\r\n"
              "Sun Jan 06 12:34:56 2002, s,    SNTP,  check, ERROR (recv), , x\r\n"
              ", s,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, x\r\n"
              ", s,    SNTP,  check, OK, , x\r\n");
}

TEST_F(HistoryLog, ThePcsTextIsReadInThePcsOwnZone) {
    // The server's text shows an instant in the runtime's zone (Japan's): 03:34:50 UTC.
    // The same PC instant, 03:34:56 UTC, as a PC in UTC, Japan and New York writes it.
    const int utc = 0, japan = 32400, newYork = -18000;
    Write("Sun Jan 06 03:34:56 2002", "s", 0, 0, "OK", kServerTime, &utc);
    Write(kPcTime, "s", 1, 0, "OK", kServerTime, &japan);
    Write("Sat Jan 05 22:34:56 2002", "s", 1, 1, "OK", kServerTime, &newYork);
    Write("Thu Jan 01 08:59:59 1970", "s", 0, 0, "OK", kServerTime, &japan);  // before 1970
    EXPECT_EQ(Log(),
              "Sun Jan 06 03:34:56 2002, s,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, s,    time,  check, OK, Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sat Jan 05 22:34:56 2002, s,    time, adjust, OK, Sun Jan 06 12:34:50 2002, +6\r\n"
              "Thu Jan 01 08:59:59 1970, s,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, x\r\n");
}

TEST_F(HistoryLog, TimeThatCannotBeConvertedGivesXNotAMadeUpDifference) {
    // The year is read from the last four characters: "002\r" is the year 2, and a time
    // before 1970 cannot be converted; neither can a year beyond the runtime's range.
    // The carriage return is written as a blank: a record is one line.
    Write(kPcTime, "d", 2, 0, "OK", "Sun Jan 06 12:34:50 2002\r");
    Write("Sun Jan 06 12:34:56 1969", "d", 0, 0, "OK", kServerTime);
    Write(kPcTime, "d", 0, 0, "OK", "Sun Jan 06 12:34:50 9999");
    EXPECT_EQ(Log(),
              "Sun Jan 06 12:34:56 2002, d, daytime,  check, OK, "
              "Sun Jan 06 12:34:50 2002 , x\r\n"
              "Sun Jan 06 12:34:56 1969, d,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, x\r\n"
              "Sun Jan 06 12:34:56 2002, d,    SNTP,  check, OK, Sun Jan 06 12:34:50 9999, x\r\n");
}

TEST_F(HistoryLog, TextsAreWrittenAsGivenNeverAsFormats) {
    // Commas stay, and printf directives in a text are not expanded.
    EXPECT_EQ(
        Write(kPcTime, "%s%n%d", 0, 1, "ERROR (localtime-set):5, 6, 7", kServerTime),
        1);
    EXPECT_EQ(Log(),
              "Sun Jan 06 12:34:56 2002, %s%n%d,    SNTP, adjust, "
              "ERROR (localtime-set):5, 6, 7, Sun Jan 06 12:34:50 2002, +6\r\n");
}

TEST_F(HistoryLog, AppendsAfterExistingContent) {
    WriteFileBytes(dir.File("Tavrino.log"), "earlier line\r\n");
    EXPECT_EQ(Write(kPcTime, "a", 0, 0, "OK", kServerTime), 1);
    EXPECT_EQ(Write(kPcTime, "b", 1, 1, "OK", kServerTime), 1);
    EXPECT_EQ(Log(),
              "earlier line\r\n"
              "Sun Jan 06 12:34:56 2002, a,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, +6\r\n"
              "Sun Jan 06 12:34:56 2002, b,    time, adjust, OK, Sun Jan 06 12:34:50 2002, +6\r\n");
}

TEST_F(HistoryLog, UnopenableFileShowsTheMessageAndReturnsZero) {
    std::filesystem::create_directory(dir.File("Tavrino.log"));
    EXPECT_EQ(Write(kPcTime, "a", 0, 0, "OK", kServerTime), 0);
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0], "Can not open the logfile");
    // No memory of the failure: the next record tries again and says so again.
    EXPECT_EQ(Write(kPcTime, "a", 0, 0, "OK", kServerTime), 0);
    EXPECT_EQ(sink.Messages().size(), 2u);
}

TEST_F(HistoryLog, ProfileWithoutDotWritesBareLogInWorkingDirectory) {
    UseProfile("TAVRINO_PROFILE");
    {
        ScopedWorkingDirectory here(dir.Path());
        EXPECT_EQ(Write(kPcTime, "a", 0, 0, "OK", kServerTime), 1);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("log")),
              "Sun Jan 06 12:34:56 2002, a,    SNTP,  check, OK, Sun Jan 06 12:34:50 2002, +6\r\n");
}

TEST(HistoryTimeText, ReadsTheLayoutAsLocalTime) {
    EXPECT_EQ(TimeTextToSeconds(kPcTime), kPcSeconds);
    // The weekday is not read, and a space-padded day is read like a zero-padded one.
    EXPECT_EQ(TimeTextToSeconds("Xyz Jan  6 12:34:56 2002"), kPcSeconds);
    EXPECT_EQ(TimeTextToSeconds("Sun Dec 01 00:00:00 2002"), 1038668400LL);
    EXPECT_EQ(TimeTextToSeconds("Thu Jan 01 09:00:00 1970"), 0);
}

TEST(HistoryTimeText, EveryMonthNameGivesItsMonth) {
    const char* const names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // The 28th exists in every month, so each next month is 28 to 31 days later.
    const long long january = TimeTextToSeconds("Xxx Jan 28 00:00:00 2003");
    long long previous = january;
    for (int month = 1; month < 12; ++month) {
        std::string text = std::string("Xxx ") + names[month] + " 28 00:00:00 2003";
        long long seconds = TimeTextToSeconds(text.c_str());
        EXPECT_GE(seconds - previous, 28 * 86400LL) << names[month];
        EXPECT_LE(seconds - previous, 31 * 86400LL) << names[month];
        previous = seconds;
    }
    // 2003 is no leap year: January 28 to December 28 is 334 days.
    EXPECT_EQ(previous - january, 334 * 86400LL);
}

TEST(HistoryTimeText, UnknownMonthNameCountsAsJanuary) {
    EXPECT_EQ(TimeTextToSeconds("Sun jan 06 12:34:56 2002"), kPcSeconds);
    EXPECT_EQ(TimeTextToSeconds("Sun JAN 06 12:34:56 2002"), kPcSeconds);
    EXPECT_EQ(TimeTextToSeconds("Sun Xyz 06 12:34:56 2002"), kPcSeconds);
}

TEST(HistoryTimeText, OutOfRangeFieldsAreNormalised) {
    // Day 0 is the last day of the month before; minute 75 is a quarter past the next hour.
    EXPECT_EQ(TimeTextToSeconds("Sun Jan 00 12:34:56 2002"), 1009769696LL);
    EXPECT_EQ(TimeTextToSeconds("Sun Jan 06 12:75:56 2002"), 1010290556LL);
    // A piece is read as atoi reads it: a sign counts, characters after the digits do not.
    EXPECT_EQ(TimeTextToSeconds("Sun Jan -1 12:34:56 2002"), 1009769696LL - 86400);
    EXPECT_EQ(TimeTextToSeconds("Sun Jan 6x 12:34:56 2002"), kPcSeconds);
    EXPECT_EQ(TimeTextToSeconds("Sun Jan 06 12:34:+9 2002"), kPcSeconds - 56 + 9);
}

TEST(HistoryTimeText, ShortAndMalformedTextsAreReadPositionByPosition) {
    EXPECT_EQ(TimeTextToSeconds(""), -1);
    // Only a year: every other piece lies beyond the end and counts 0, so day 0 of
    // January is 2001-12-31.
    EXPECT_EQ(TimeTextToSeconds("2002"), 1009724400LL);
    // Shorter than four characters: the whole text is the year.
    EXPECT_EQ(TimeTextToSeconds("02"), -1);
    // A DAYTIME line with characters after the year takes them for the year.
    EXPECT_EQ(TimeTextToSeconds("Sun Jan 06 12:34:56 2002 JST"), -1);
    // Cut anywhere, the text yields no year of 1970 or later from its own digits.
    const std::string full = kPcTime;
    for (std::size_t length = 0; length < full.size(); ++length) {
        EXPECT_EQ(TimeTextToSeconds(full.substr(0, length).c_str()), -1) << length;
    }
}

TEST(HistoryTimeText, RangeIsFrom1970ThroughTheYear3000) {
    EXPECT_EQ(TimeTextToSeconds("Mon Jan 02 00:00:00 2040"), 2209042800LL);
    EXPECT_EQ(TimeTextToSeconds("Sun Dec 31 23:59:59 3000"), 32535183599LL);
    EXPECT_EQ(TimeTextToSeconds("Mon Jan 01 00:00:00 3001"), -1);
    EXPECT_EQ(TimeTextToSeconds("Wed Dec 31 23:59:59 1969"), -1);
    // 1970 at UTC+9 begins before the epoch.
    EXPECT_EQ(TimeTextToSeconds("Thu Jan 01 08:59:59 1970"), -1);
}
