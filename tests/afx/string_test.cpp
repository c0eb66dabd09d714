#include <gtest/gtest.h>

#include "afx_string.h"

// The settings file parser walks text with Find and Mid; these are the boundaries it leans on.
TEST(CStringTest, FindAndMidStayInsideTheText) {
    const CString s("ab\r\nkey=1\r\n");
    struct Case {
        const char* sub;
        int start;
        int expected;
    } cases[] = {
        {"\n", 0, 3}, {"\n", 4, 10}, {"\n", 11, -1}, {"key", 0, 4},
        {"x", 0, -1}, {"a", 12, -1}, {"a", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sub << " from " << c.start);
        EXPECT_EQ(c.expected, s.Find(c.sub, c.start));
    }
    EXPECT_EQ(CString("key=1\r\n"), s.Mid(4));
    EXPECT_EQ(CString(""), s.Mid(40));
    EXPECT_EQ(CString("ab"), s.Left(2));
    EXPECT_EQ(CString(""), s.Left(-3));
    EXPECT_EQ(CString("1\r\n"), s.Right(3));
    EXPECT_EQ(CString(""), s.Mid(2, 0));
}

TEST(CStringTest, FormatHandlesLongOutput) {
    CString s;
    const std::string big(5000, 'x');
    s.Format("%s=%d", big.c_str(), -7);
    EXPECT_EQ(5003, s.GetLength());
    EXPECT_EQ(CString("=-7"), s.Right(3));
}
