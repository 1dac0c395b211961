// The dial-up check's judgement: how the automatic-dialling values are read and
// classified, and when a query may go out.
#include "logging/dialup.h"

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <string>

namespace {

AutodialValue Absent() { return AutodialValue::Absent(); }
AutodialValue Value(DWORD number) { return AutodialValue::Present(number); }
AutodialValue Unreadable() { return AutodialValue::Unreadable(); }

std::string Describe(AutodialValue value) {
    switch (value.state) {
        case AutodialValue::kAbsent: return "absent";
        case AutodialValue::kUnreadable: return "unreadable";
        case AutodialValue::kPresent: return std::to_string(value.number);
    }
    return "?";
}

struct Case {
    AutodialValue enable;
    AutodialValue noNet;
    int classification;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << "EnableAutodial=" << Describe(c.enable) << " NoNetAutodial=" << Describe(c.noNet);
}

void ExpectClassified(const Case* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(ClassifyAutodial(cases[i].enable, cases[i].noNet), cases[i].classification)
            << cases[i];
    }
}

}  // namespace

TEST(DialupClassification, ValuesZeroAndOne) {
    const Case cases[] = {
        {Value(0), Value(0), kAutodialNever},
        {Value(1), Value(1), kAutodialNever},  // dials only when there is no network
        {Value(1), Value(0), kAutodialAlways},
        {Value(0), Value(1), kAutodialNotTrusted},
    };
    ExpectClassified(cases, std::size(cases));
}

TEST(DialupClassification, ValuesOtherThanZeroAndOneAreNotTrusted) {
    const Case cases[] = {
        {Value(0), Value(2), kAutodialNotTrusted},
        {Value(0), Value(0xFFFFFFFF), kAutodialNotTrusted},
        {Value(2), Value(0), kAutodialNotTrusted},
        {Value(2), Value(1), kAutodialNotTrusted},
        {Value(0xFFFFFFFF), Value(1), kAutodialNotTrusted},
        {Value(1), Value(2), kAutodialNotTrusted},
        {Value(1), Value(0xFFFFFFFF), kAutodialNotTrusted},
        // The whole 32-bit number counts, not its low byte.
        {Value(0x100), Value(0), kAutodialNotTrusted},
        {Value(0x101), Value(0), kAutodialNotTrusted},
        {Value(1), Value(0x101), kAutodialNotTrusted},
        {Value(1), Value(0x100), kAutodialNotTrusted},
        {Value(0), Value(0x10000), kAutodialNotTrusted},
        {Value(0x01000001), Value(1), kAutodialNotTrusted},
    };
    ExpectClassified(cases, std::size(cases));
}

TEST(DialupClassification, AbsentKeyOrValueCountsAsNoAutomaticDialling) {
    const Case cases[] = {
        {Absent(), Absent(), kAutodialNever},  // no key, or a key without either value
        {Absent(), Value(0), kAutodialNever},      {Value(0), Absent(), kAutodialNever},
        {Value(1), Absent(), kAutodialAlways},  // 1 with 0: dials whenever it may
        {Absent(), Value(1), kAutodialNotTrusted}, {Absent(), Value(2), kAutodialNotTrusted},
        {Value(2), Absent(), kAutodialNotTrusted},
    };
    ExpectClassified(cases, std::size(cases));
}

TEST(DialupClassification, UnreadableValueIsNotTrustedWhateverTheOther) {
    const Case cases[] = {
        {Unreadable(), Value(0), kAutodialNotTrusted},
        {Unreadable(), Value(1), kAutodialNotTrusted},
        {Unreadable(), Absent(), kAutodialNotTrusted},
        {Value(0), Unreadable(), kAutodialNotTrusted},
        {Value(1), Unreadable(), kAutodialNotTrusted},
        {Absent(), Unreadable(), kAutodialNotTrusted},
        {Unreadable(), Unreadable(), kAutodialNotTrusted},
    };
    ExpectClassified(cases, std::size(cases));
}

TEST(DialupValueData, UpToFourBytesReadAsALittleEndianNumber) {
    const unsigned char one[] = {0x01, 0x00, 0x00, 0x00};
    const unsigned char high[] = {0x00, 0x00, 0x00, 0x01};
    const unsigned char mixed[] = {0x78, 0x56, 0x34, 0x12};
    const unsigned char shortOne[] = {0x01, 0x00};
    const unsigned char shortHigh[] = {0x00, 0x01};
    const unsigned char single[] = {0x01};
    struct {
        const unsigned char* data;
        DWORD length;
        DWORD number;
    } const cases[] = {
        {one, 4, 1},
        {high, 4, 0x01000000},
        {mixed, 4, 0x12345678},
        {shortOne, 2, 1},
        {shortHigh, 2, 0x100},
        {single, 1, 1},
        // Bytes past the data's length are not read.
        {mixed, 3, 0x345678},
        // An empty value reads as the zeroed buffer.
        {one, 0, 0},
    };
    for (const auto& c : cases) {
        AutodialValue value = AutodialValueFromData(c.data, c.length);
        EXPECT_EQ(value.state, AutodialValue::kPresent) << "length " << c.length;
        EXPECT_EQ(value.number, c.number) << "length " << c.length;
    }
}

TEST(DialupValueData, LongerThanFourBytesIsUnreadable) {
    const unsigned char eight[] = {0x01, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(AutodialValueFromData(eight, 5).state, AutodialValue::kUnreadable);
    EXPECT_EQ(AutodialValueFromData(eight, 8).state, AutodialValue::kUnreadable);
    EXPECT_EQ(ClassifyAutodial(AutodialValueFromData(eight, 8), Value(1)), kAutodialNotTrusted);
}

TEST(DialupDecision, NoAutomaticDiallingLetsTheQueryGoWithOrWithoutAConnection) {
    EXPECT_TRUE(DialupAllowsQuery(kAutodialNever, false));
    EXPECT_TRUE(DialupAllowsQuery(kAutodialNever, true));
}

TEST(DialupDecision, AlwaysDiallingNeedsAnActiveConnection) {
    EXPECT_TRUE(DialupAllowsQuery(kAutodialAlways, true));
    EXPECT_FALSE(DialupAllowsQuery(kAutodialAlways, false));
}

TEST(DialupDecision, UntrustedSettingsRefuseEvenWithAConnection) {
    EXPECT_FALSE(DialupAllowsQuery(kAutodialNotTrusted, false));
    EXPECT_FALSE(DialupAllowsQuery(kAutodialNotTrusted, true));
}
