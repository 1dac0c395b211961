// Times from the C runtime with 64 bits on every platform.
#include "framework/crt_time.h"

#include <gtest/gtest.h>

TEST(CTime, FormatsLocalTimeBeyond2038) {
    // The tests fix the C runtime's zone at UTC+9, as the program does.
    EXPECT_EQ(CTime(0).Format("%a %b %d %H:%M:%S %Y"), "Thu Jan 01 09:00:00 1970");
    EXPECT_EQ(CTime(4102444800LL).Format("%Y-%m-%d %H:%M:%S"), "2100-01-01 09:00:00");
    EXPECT_EQ(CTime(2147483648LL).Format("%Y-%m-%d %H:%M:%S"), "2038-01-19 12:14:08");
}

TEST(CTime, TimeTheRuntimeCannotConvertFormatsAsEmpty) {
    EXPECT_EQ(CTime(-4611686018427387904LL).Format("%Y"), "");
}
