// The trace of ignored failures: results pass through unchanged and the last error is kept.
#include <windows.h>

#include <gtest/gtest.h>

#include "Log.h"

TEST(LogTest, ResultsPassThroughAndTheLastErrorIsKept) {
    struct Case {
        const char* name;
        HRESULT hr;
    };
    const Case cases[] = {{"success", S_OK}, {"S_FALSE", S_FALSE}, {"failure", E_OUTOFMEMORY}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.hr, LOG_IF_FAILED(c.hr));
        EXPECT_EQ(0xdeadbeefu, GetLastError());
    }
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(FALSE, LOG_IF_WIN32_FALSE(FALSE));
    EXPECT_EQ(DWORD{ERROR_ACCESS_DENIED}, GetLastError());
    EXPECT_EQ(TRUE, LOG_IF_WIN32_FALSE(TRUE));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LONG{ERROR_FILE_NOT_FOUND}, LOG_IF_WIN32_ERROR(LONG{ERROR_FILE_NOT_FOUND}));
    EXPECT_EQ(LONG{ERROR_SUCCESS}, LOG_IF_WIN32_ERROR(LONG{ERROR_SUCCESS}));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
}

TEST(LogTest, EvaluatesItsExpressionOnce) {
    int calls = 0;
    auto fail = [&calls] {
        ++calls;
        return E_FAIL;
    };
    (void)LOG_IF_FAILED(fail());
    EXPECT_EQ(1, calls);
}
