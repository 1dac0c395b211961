#include "logging/event_log.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

// 2002-01-06 12:34:56 UTC; 21:34:56 in Japan.
constexpr std::uint32_t kSunday2002 = 1010320496u;

struct ConvertedReply {
    unsigned char bytes[kSntpPacketSize] = {};
    ConvertedReply() {
        WriteReplyTimeStamp(bytes + kReferenceOffset, {kSunday2002 - 60, 1});
        WriteReplyTimeStamp(bytes + kOriginateOffset, {kSunday2002, 22});
        WriteReplyTimeStamp(bytes + kReceiveOffset, {kSunday2002 + 1, 333});
        WriteReplyTimeStamp(bytes + kTransmitOffset, {kSunday2002 + 1, 999999});
    }
};

const char kRecord[] =
    "ntp.example.jp\r\n"
    "Sun Jan 06 2002 21:33:56.000001\r\n"
    "Sun Jan 06 2002 21:34:56.000022\r\n"
    "Sun Jan 06 2002 21:34:57.000333\r\n"
    "Sun Jan 06 2002 21:34:57.999999\r\n"
    "Sun Jan 06 2002 21:34:58.000500\r\n";

class EventLog : public testing::Test {
  protected:
    int Write(const std::string& profile = "Tavrino.INI") {
        return WriteSntpLog(EventLogPath(Wide(dir.File(profile))), "ntp.example.jp", reply.bytes,
                            TimeStamp{kSunday2002 + 2, 500});
    }

    TempDir dir;
    ConvertedReply reply;
};

}  // namespace

TEST(EventLogPath, NamedAfterTheProfileUpToItsLastDot) {
    EXPECT_EQ(EventLogPath(L"C:\\Tools\\Tavrino.INI"), L"C:\\Tools\\Tavrino.sntp.log");
    EXPECT_EQ(EventLogPath(L"C:\\My.Tools\\Tavrino.v2.INI"), L"C:\\My.Tools\\Tavrino.v2.sntp.log");
    EXPECT_EQ(EventLogPath(L"C:\\Tools\\Tavrino."), L"C:\\Tools\\Tavrino.sntp.log");
    EXPECT_EQ(EventLogPath(L"C:\\Tools\\Tavrino"), L"sntp.log");
    EXPECT_EQ(EventLogPath(L""), L"sntp.log");
}

TEST_F(EventLog, WritesSixLinesEndingInCrLf) {
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("Tavrino.sntp.log")), kRecord);
}

TEST_F(EventLog, AppendsAfterExistingContent) {
    WriteFileBytes(dir.File("Tavrino.sntp.log"), "earlier record\r\n");
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("Tavrino.sntp.log")),
              std::string("earlier record\r\n") + kRecord + kRecord);
}

TEST_F(EventLog, UnopenableFileSaysSoAndWritesNothing) {
    // The writer runs on the query's worker: it shows nothing, it reports.
    EXPECT_EQ(Write("missing-folder/Tavrino.INI"), -1);
    EXPECT_FALSE(FileExists(dir.File("missing-folder")));
}

TEST_F(EventLog, ProfileWithoutDotLogsToBareNameInWorkingDirectory) {
    {
        ScopedWorkingDirectory here(dir.Path());
        EXPECT_EQ(Write("TAVRINO_PROFILE"), 1);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("sntp.log")), kRecord);
}
