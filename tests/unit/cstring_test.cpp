#include "framework/cstring.h"

#include <gtest/gtest.h>

#include <string>

TEST(CStringFormat, ArgumentsOfAnyLengthAndContentAreCopiedAsText) {
    std::string longText(5000, 'x');
    longText += "%s%n%d";  // directives inside an argument are never interpreted
    CString text;
    text.Format("[%s]%i", longText.c_str(), -7);
    EXPECT_EQ(std::string(text.GetString()), "[" + longText + "]-7");
    EXPECT_EQ(text.GetLength(), static_cast<int>(longText.size()) + 4);
}

TEST(CStringFormat, ReplacesThePreviousContent) {
    CString text("previous content that is longer");
    text.Format("%s.%06u", "a", 123u);
    EXPECT_EQ(text, "a.000123");
}

TEST(CStringBasics, LeftAndReverseFindAtTheEdges) {
    CString path("C:\\a.b\\c.INI");
    EXPECT_EQ(path.ReverseFind('.'), 8);
    EXPECT_EQ(path.ReverseFind('?'), -1);
    EXPECT_EQ(path.Left(0), "");
    EXPECT_EQ(path.Left(-3), "");
    EXPECT_EQ(path.Left(100), path);
    EXPECT_EQ(path.Left(4), "C:\\a");
}

TEST(CStringBasics, CountedBytesMayHoldNul) {
    const char bytes[] = {'a', '\0', 'b'};
    CString text(bytes, 3);
    EXPECT_EQ(text.GetLength(), 3);
    EXPECT_EQ(text.GetAt(2), 'b');
    EXPECT_TRUE(CString(nullptr).IsEmpty());
}
