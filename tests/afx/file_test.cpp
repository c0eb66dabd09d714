#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "afx_file.h"

namespace {

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

} // namespace

TEST(CFileTest, CreateTruncatesAndReadGivesTheBytesBack) {
    const std::string path = TempPath("zarvex_cfile_test.bin");
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        f.Write("0123456789", 10);
    }
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
        f.Write("ab", 2);
    }
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
    EXPECT_EQ(2u, f.GetLength());
    char buf[8] = {};
    EXPECT_EQ(2u, f.Read(buf, sizeof buf));
    EXPECT_EQ(std::string("ab"), std::string(buf, 2));
    f.Close();
    CFile::Remove(path.c_str());
}

TEST(CFileTest, FailuresAreReported) {
    const std::string path = TempPath("zarvex_cfile_missing.bin");
    DeleteFileA(path.c_str());
    CFile f;
    CFileException error;
    EXPECT_FALSE(f.Open(path.c_str(), CFile::modeRead, &error));
    EXPECT_EQ(CFileException::fileNotFound, error.m_cause);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, error.m_lOsError);
    try {
        CFile::Remove(path.c_str());
        FAIL() << "removing a missing file must throw";
    } catch (const CFileException& e) {
        EXPECT_EQ(CFileException::fileNotFound, e.m_cause);
    }
}
