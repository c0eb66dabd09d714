#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "afx_file.h"

namespace {

std::string TempPath(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

// Creates (or truncates) the file through CFile and writes text into it.
void CreateWithText(const std::string& path, const char* text) {
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
    f.Write(text, static_cast<UINT>(std::strlen(text)));
}

} // namespace

TEST(CFileTest, CreateTruncatesAndReadGivesTheBytesBack) {
    const std::string path = TempPath("zarvex_cfile_test.bin");
    CreateWithText(path, "0123456789");
    CreateWithText(path, "ab");
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

TEST(CFileTest, ReadWriteOpenKeepsTheBytesUntilWriteAndSetLengthChangeThem) {
    const std::string path = TempPath("zarvex_cfile_inplace.bin");
    CreateWithText(path, "0123456789");
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite));
    EXPECT_EQ(10u, f.GetLength()) << "opening an existing file for reading and writing keeps it whole";
    EXPECT_EQ(4u, f.Seek(4, CFile::begin));
    f.Write("ab", 2);
    EXPECT_EQ(8u, f.Seek(2, CFile::current));
    EXPECT_EQ(9u, f.Seek(-1, CFile::end));
    char buf[16] = {};
    EXPECT_EQ(0u, f.Seek(0, CFile::begin));
    EXPECT_EQ(10u, f.Read(buf, sizeof buf));
    EXPECT_EQ(std::string("0123ab6789"), std::string(buf, 10));

    f.SetLength(3);
    EXPECT_EQ(3u, f.GetLength());
    f.SetLength(6); // extending fills with zeros
    EXPECT_EQ(0u, f.Seek(0, CFile::begin));
    EXPECT_EQ(6u, f.Read(buf, sizeof buf));
    EXPECT_EQ(std::string("012\0\0\0", 6), std::string(buf, 6));
    f.Close();
    CFile::Remove(path.c_str());
}

TEST(CFileTest, SetLengthBelowAnotherHandlesMappedViewThrows) {
    // The platform refuses to cut a file under a mapped view; the caller must learn of it.
    const std::string path = TempPath("zarvex_cfile_mapped.bin");
    CreateWithText(path, "0123456789");
    {
        const win::UniqueFile reader(CreateFileA(path.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 0, nullptr));
        ASSERT_TRUE(reader);
        const win::UniqueHandle mapping(
            CreateFileMappingA(reader.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        ASSERT_TRUE(mapping);
        const win::UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
        ASSERT_TRUE(view);

        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite | CFile::shareDenyNone));
        try {
            f.SetLength(4);
            FAIL() << "cutting a mapped file must throw";
        } catch (const CFileException& e) {
            EXPECT_EQ(static_cast<long>(ERROR_USER_MAPPED_FILE), e.m_lOsError);
        }
        EXPECT_EQ(10u, f.GetLength());
    }
    CFile::Remove(path.c_str());
}
