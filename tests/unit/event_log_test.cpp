#include "logging/event_log.h"

#include <gtest/gtest.h>

#include <string>

#include "app/app_state.h"
#include "tests/support/recording_sink.h"
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
    EventLog() : m_previousProfile(AppProfilePath()) {
        SetAppProfilePath(dir.File("Tavrino.INI").c_str());
    }
    ~EventLog() override { SetAppProfilePath(m_previousProfile); }

    int Write() {
        TimeStamp arrival{kSunday2002 + 2, 500};
        return WriteSntpLog("ntp.example.jp", reply.bytes, &arrival);
    }

    TempDir dir;
    ConvertedReply reply;
    RecordingSink sink;

  private:
    CString m_previousProfile;
};

}  // namespace

TEST(EventLogPath, NamedAfterTheProfileUpToItsLastDot) {
    EXPECT_EQ(EventLogPath("C:\\Tools\\Tavrino.INI"), "C:\\Tools\\Tavrino.sntp.log");
    EXPECT_EQ(EventLogPath("C:\\My.Tools\\Tavrino.v2.INI"), "C:\\My.Tools\\Tavrino.v2.sntp.log");
    EXPECT_EQ(EventLogPath("C:\\Tools\\Tavrino."), "C:\\Tools\\Tavrino.sntp.log");
    EXPECT_EQ(EventLogPath("C:\\Tools\\Tavrino"), "sntp.log");
    EXPECT_EQ(EventLogPath(""), "sntp.log");
}

TEST_F(EventLog, WritesSixLinesEndingInCrLf) {
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("Tavrino.sntp.log")), kRecord);
    EXPECT_TRUE(sink.Messages().empty());
}

TEST_F(EventLog, AppendsAfterExistingContent) {
    WriteFileBytes(dir.File("Tavrino.sntp.log"), "earlier record\r\n");
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(Write(), 1);
    EXPECT_EQ(ReadFileBytes(dir.File("Tavrino.sntp.log")),
              std::string("earlier record\r\n") + kRecord + kRecord);
}

TEST_F(EventLog, UnopenableFileShowsTheMessageAndWritesNothing) {
    SetAppProfilePath(dir.File("missing-folder/Tavrino.INI").c_str());
    EXPECT_EQ(Write(), 0);
    ASSERT_EQ(sink.Messages().size(), 1u);
    EXPECT_EQ(sink.Messages()[0], "Can not open the logfile");
    EXPECT_FALSE(FileExists(dir.File("missing-folder")));
    // There is no memory of the failure: the next record tries again and says so again.
    EXPECT_EQ(Write(), 0);
    EXPECT_EQ(sink.Messages().size(), 2u);
}

TEST_F(EventLog, ProfileWithoutDotLogsToBareNameInWorkingDirectory) {
    SetAppProfilePath(dir.File("TAVRINO_PROFILE").c_str());
    {
        ScopedWorkingDirectory here(dir.Path());
        EXPECT_EQ(Write(), 1);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("sntp.log")), kRecord);
}
