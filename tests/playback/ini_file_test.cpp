// CIniFile against real files in a folder of its own per test: what reaches the disk, byte for
// byte, after the object is destroyed.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "IniFile.h"
#include "UniqueAny.h"

namespace {

using namespace std::string_literals;

const char kSettings[] = "Settings";

// The program's settings saved with their defaults and a device named Camera into an empty file:
// each new key goes first in its section, so the keys stand in the reverse of the save order.
const std::string kTenLines = "[Settings]\r\n"
                              "VideoFormat=0\r\n"
                              "VideoDevice=Camera\r\n"
                              "SoundDelay=500\r\n"
                              "Volume=100\r\n"
                              "EndTime=5\r\n"
                              "PreTime=5\r\n"
                              "PY=100\r\n"
                              "PX=100\r\n"
                              "Topmost=0\r\n";

// The program's save order.
void SaveProgramSettings(IIniFile& ini) {
    ini.SetInt(kSettings, "Topmost", 0);
    ini.SetInt(kSettings, "PX", 100);
    ini.SetInt(kSettings, "PY", 100);
    ini.SetInt(kSettings, "PreTime", 5);
    ini.SetInt(kSettings, "EndTime", 5);
    ini.SetInt(kSettings, "Volume", 100);
    ini.SetInt(kSettings, "SoundDelay", 500);
    ini.SetString(kSettings, "VideoDevice", "Camera");
    ini.SetInt(kSettings, "VideoFormat", 0);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    const win::UniqueFile h(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(h) << path << " error " << GetLastError();
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
    ASSERT_EQ(bytes.size(), put);
}

// The file's bytes, or nothing when it does not exist.
std::optional<std::string> ReadBytes(const std::string& path) {
    const win::UniqueFile h(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h)
        return std::nullopt;
    std::string bytes(GetFileSize(h.get(), nullptr), '\0');
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(h.get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

std::vector<std::string> ListFolder(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    const win::UniqueFindHandle h(FindFirstFileA((dir + "\\*").c_str(), &fd));
    if (!h)
        return names;
    do {
        if (std::strcmp(fd.cFileName, ".") != 0 && std::strcmp(fd.cFileName, "..") != 0)
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h.get(), &fd));
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& dir) {
    for (const std::string& name : ListFolder(dir)) {
        const std::string path = dir + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str()))
            RemoveTree(path);
    }
    RemoveDirectoryA(dir.c_str());
}

std::vector<std::string> Names(const CStringArray& a) {
    std::vector<std::string> v;
    for (int i = 0; i < a.GetSize(); ++i)
        v.push_back(a[i].str());
    return v;
}

// text with the first occurrence of `from` replaced by `to`.
std::string With(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Deterministic bytes in 1..255 (no NUL).
std::string NoiseBytes(size_t n) {
    std::string s(n, '\0');
    unsigned x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(1 + (x >> 16) % 255);
    }
    return s;
}

class IniFileTest : public testing::Test {
protected:
    void SetUp() override {
        char tmp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, tmp));
        m_dir = std::string(tmp) + "zarvex_ini_" + std::to_string(GetCurrentProcessId()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name();
        RemoveTree(m_dir);
        ASSERT_TRUE(CreateDirectoryA(m_dir.c_str(), nullptr)) << m_dir;
        m_path = m_dir + "\\Zarvex.ini";
    }
    void TearDown() override { RemoveTree(m_dir); }

    // Loads `content` from disk, runs `edit`, destroys the object and returns what is on disk.
    std::optional<std::string> EditFile(const std::string& content,
                                        const std::function<void(CIniFile&)>& edit) {
        WriteBytes(m_path, content);
        {
            CIniFile ini(m_path.c_str());
            edit(ini);
        }
        return ReadBytes(m_path);
    }

    std::string m_dir;
    std::string m_path;
};

TEST_F(IniFileTest, ProgramSettingsSaveAsTheTenLineFile) {
    {
        // Owned and destroyed through the interface, as the settings exchange does.
        std::unique_ptr<IIniFile> ini(new CIniFile(m_path.c_str()));
        SaveProgramSettings(*ini);
    }
    EXPECT_EQ(kTenLines, ReadBytes(m_path));
    EXPECT_EQ(std::vector<std::string>{"Zarvex.ini"}, ListFolder(m_dir))
        << "no temporary file may stay behind";

    // The next exit saves the same nine values over the existing file: every set edits its line in
    // place, so nothing moves.
    {
        CIniFile ini(m_path.c_str());
        SaveProgramSettings(ini);
        EXPECT_TRUE(ini.IsChanged());
    }
    EXPECT_EQ(kTenLines, ReadBytes(m_path));

    CIniFile ini(m_path.c_str());
    CStringArray sections, keys;
    EXPECT_TRUE(ini.GetSectionNames(sections));
    EXPECT_EQ(std::vector<std::string>{"Settings"}, Names(sections));
    EXPECT_TRUE(ini.GetKeyNames(kSettings, keys));
    EXPECT_EQ((std::vector<std::string>{"VideoFormat", "VideoDevice", "SoundDelay", "Volume", "EndTime",
                                        "PreTime", "PY", "PX", "Topmost"}),
              Names(keys));
    EXPECT_EQ(500, ini.GetInt(kSettings, "SoundDelay", -1));
    EXPECT_EQ("Camera", ini.GetString(kSettings, "VideoDevice", "none").str());
}

TEST_F(IniFileTest, MissingFileReadsAsEmptyAndIsNotCreatedByReading) {
    {
        CIniFile ini(m_path.c_str());
        EXPECT_TRUE(ini.GetText().IsEmpty());
        EXPECT_EQ(100, ini.GetInt(kSettings, "PX", 100));
        EXPECT_EQ(2.5f, ini.GetFloat(kSettings, "Gain", 2.5f));
        EXPECT_EQ("dflt", ini.GetString(kSettings, "VideoDevice", "dflt").str());
        char buffer[8];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(4, ini.GetStringBuffer(kSettings, "VideoDevice", "dflt", buffer, sizeof buffer));
        EXPECT_STREQ("dflt", buffer);
        const BYTE dflt[2] = {1, 2};
        BYTE bytes[2] = {0xCC, 0xCC};
        EXPECT_FALSE(ini.GetBinary(kSettings, "Blob", bytes, dflt, 2));
        EXPECT_EQ(0, std::memcmp(dflt, bytes, 2));
        CStringArray names;
        names.Add("old");
        EXPECT_FALSE(ini.GetKeyNames(kSettings, names));
        EXPECT_TRUE(ini.GetSectionNames(names));
        EXPECT_EQ(std::vector<std::string>{"old"}, Names(names));
        EXPECT_FALSE(ini.DeleteKey(kSettings, "PX"));
        EXPECT_TRUE(ini.DeleteSection(kSettings)); // nothing to delete is no failure
        EXPECT_FALSE(ini.IsChanged());
    }
    EXPECT_TRUE(ListFolder(m_dir).empty());
}

TEST_F(IniFileTest, GetBinaryAllocOnMissingKeyDeliversTheDefaultOrNothing) {
    CIniFile ini(m_path.c_str());
    const BYTE dflt[3] = {7, 8, 9};
    BYTE* junk = reinterpret_cast<BYTE*>(0x5a5a);
    BYTE* out = junk;
    EXPECT_EQ(0, ini.GetBinaryAlloc(kSettings, "Blob", &out, dflt, 0));
    EXPECT_EQ(junk, out) << "nothing delivered leaves the out-pointer alone";
    ASSERT_EQ(3, ini.GetBinaryAlloc(kSettings, "Blob", &out, dflt, 3));
    ASSERT_NE(junk, out);
    EXPECT_EQ(0, std::memcmp(dflt, out, 3));
    delete[] out;
}

TEST_F(IniFileTest, SingleKeyEditChangesExactlyOneLine) {
    EXPECT_EQ(With(kTenLines, "Volume=100\r\n", "Volume=75\r\n"),
              EditFile(kTenLines, [](CIniFile& ini) { EXPECT_TRUE(ini.SetInt(kSettings, "Volume", 75)); }));
}

TEST_F(IniFileTest, NothingIsWrittenWhenNothingChanged) {
    WriteBytes(m_path, kTenLines + "[Other]\r\nLast=no line end");
    {
        CIniFile ini(m_path.c_str());
        EXPECT_EQ(100, ini.GetInt(kSettings, "Volume", 0));
        EXPECT_FALSE(ini.DeleteKey(kSettings, "Missing"));
        EXPECT_FALSE(ini.DeleteKey(kSettings, "Last")) << "a key of the next section is not this section's";
        EXPECT_FALSE(ini.DeleteKey("Other", "Last")) << "a last line without a line end is left alone";
        EXPECT_TRUE(ini.DeleteSection("Missing"));
        EXPECT_FALSE(ini.IsChanged());
        ASSERT_TRUE(DeleteFileA(m_path.c_str()));
    }
    EXPECT_FALSE(ReadBytes(m_path)) << "a session without changes must not write";
}

TEST_F(IniFileTest, DeletingTheOnlySectionDeletesTheFile) {
    WriteBytes(m_path, kTenLines);
    {
        CIniFile ini(m_path.c_str());
        EXPECT_TRUE(ini.DeleteSection(kSettings));
        EXPECT_TRUE(ini.GetText().IsEmpty());
    }
    EXPECT_TRUE(ListFolder(m_dir).empty());
}

// Hand-edited content of every shape the program never writes. Each edit must change exactly its
// own span and leave every other byte where it was.
TEST_F(IniFileTest, EditsTouchOnlyTheirSpan) {
    const std::string foreign = "; written by hand\r\n"
                                "[Settings]\r\n"
                                "Volume=100\r\n"
                                "  spaced = kept \r\n"
                                "no equals sign here\r\n"
                                "Name=\x82\xA0\xFF\tquoted \"x\" 100%\r\n"
                                "\r\n"
                                "[Other]\r\n"
                                "Volume=7\r\n"
                                "last=line without end";
    struct Case {
        const char* name;
        std::function<bool(CIniFile&)> edit;
        std::string expected;
    };
    const Case cases[] = {
        {"set a present key", [](CIniFile& i) { return i.SetInt(kSettings, "Volume", 75); },
         With(foreign, "Volume=100", "Volume=75")},
        {"set a new key: first line of its section",
         [](CIniFile& i) { return i.SetInt(kSettings, "PX", -3); },
         With(foreign, "[Settings]\r\n", "[Settings]\r\nPX=-3\r\n")},
        {"set the same key in the second section",
         [](CIniFile& i) { return i.SetString("Other", "Volume", ""); },
         With(foreign, "[Other]\r\nVolume=7", "[Other]\r\nVolume=")},
        {"set a value on the last line without a line end",
         [](CIniFile& i) { return i.SetString("Other", "last", "x"); },
         With(foreign, "last=line without end", "last=x\r\n")},
        {"set in a new section: appended after a line break",
         [](CIniFile& i) { return i.SetString("New", "k", "v w"); }, foreign + "\r\n[New]\r\nk=v w\r\n"},
        {"delete a key", [](CIniFile& i) { return i.DeleteKey(kSettings, "Volume"); },
         With(foreign, "Volume=100\r\n", "")},
        {"delete the first section: the next one follows at once",
         [](CIniFile& i) { return i.DeleteSection(kSettings); },
         "; written by hand\r\n" + foreign.substr(foreign.find("[Other]"))},
        {"delete the last section: the empty line before it stays",
         [](CIniFile& i) { return i.DeleteSection("Other"); }, foreign.substr(0, foreign.find("[Other]"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, EditFile(foreign, [&](CIniFile& ini) { EXPECT_TRUE(c.edit(ini)); }));
    }
}

// A deleted key takes its own line with it and nothing more, whatever ends that line.
TEST_F(IniFileTest, DeleteKeyRemovesOnlyItsOwnLine) {
    struct Case {
        const char* name;
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"CR LF", "[A]\r\nk=v\r\nx=1\r\n", "[A]\r\nx=1\r\n"},
        {"lone LF before the next header", "[A]\r\nk=v\n[B]\r\nx=1\r\n", "[A]\r\n[B]\r\nx=1\r\n"},
        {"lone CR before the next header", "[A]\r\nk=v\r[B]\r\nx=1\r\n", "[A]\r\n[B]\r\nx=1\r\n"},
        {"empty value", "[A]\r\nk=\r\nx=1\r\n", "[A]\r\nx=1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected,
                  EditFile(c.content, [](CIniFile& ini) { EXPECT_TRUE(ini.DeleteKey("A", "k")); }));
    }
}

TEST_F(IniFileTest, KeysAreMatchedWholeInTheirOwnSection) {
    const std::string text = "[Settings]\r\n"
                             "PreTime=7\r\n"
                             "volume=1\r\n"
                             "Empty=\r\n"
                             "Spaced= a = b \r\n"
                             "\r\n"
                             "[Settings2]\r\n"
                             "Time=9\r\n"
                             "\r\n"
                             "[Next]\r\n"
                             "Only=3\r\n"
                             "Tail=abc";
    WriteBytes(m_path, text);
    CIniFile ini(m_path.c_str());
    struct Case {
        const char* section;
        const char* key;
        const char* expected; // nullptr: missing, the default comes back
        int expectedInt;
    };
    const Case cases[] = {
        {kSettings, "Time", nullptr, -1}, // the end of PreTime, and a key of Settings2
        {kSettings, "PreTime", "7", 7},
        {kSettings, "Volume", nullptr, -1}, // names are case-sensitive
        {kSettings, "Empty", "", 0},
        {kSettings, "Spaced", " a = b ", 0},
        {kSettings, "Only", nullptr, -1}, // stands only after the next section's header
        {"Setting", "PreTime", nullptr, -1},
        {"Settings2", "Time", "9", 9},
        {"Next", "Only", "3", 3},
        {"Next", "Tail", nullptr,
         0}, // a string on a last line without a line end is missing; a number parses
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(c.expected ? c.expected : "<default>", ini.GetString(c.section, c.key, "<default>").str());
        EXPECT_EQ(c.expectedInt, ini.GetInt(c.section, c.key, -1));
    }

    // Setting the look-alikes adds new first lines to Settings and touches neither PreTime nor the
    // other sections.
    EXPECT_TRUE(ini.SetInt(kSettings, "Time", 1));
    EXPECT_TRUE(ini.SetInt(kSettings, "Only", 2));
    EXPECT_EQ(With(text, "[Settings]\r\n", "[Settings]\r\nOnly=2\r\nTime=1\r\n"), ini.GetText().str());
}

TEST_F(IniFileTest, GetIntAndGetFloatParseTheValueLikeAtoiAndAtof) {
    struct Case {
        const char* text;
        int expectedInt;
        float expectedFloat;
    };
    const float inf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {"[S]\r\nk=abc\r\n", 0, 0.0f},
        {"[S]\r\nk=12abc\r\n", 12, 12.0f},
        {"[S]\r\nk=-7\r\n", -7, -7.0f},
        {"[S]\r\nk= +5\r\n", 5, 5.0f},
        {"[S]\r\nk=2.5e1x\r\n", 2, 25.0f},
        {"[S]\r\nk=99999999999\r\n", INT_MAX, 99999999999.0f},
        {"[S]\r\nk=-99999999999\r\n", INT_MIN, -99999999999.0f},
        {"[S]\r\nk=1e39\r\n", 1, inf},
        {"[S]\r\nk=\r\n", 0, 0.0f},
        // An empty value never takes its number from the next line.
        {"[S]\r\nk=\r\n75\r\n", 0, 0.0f},
        {"[S]\r\nk=\r\n 75=x\r\n", 0, 0.0f},
        // A number on a last line without a line end still reads.
        {"[S]\r\nk=42", 42, 42.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        WriteBytes(m_path, c.text);
        CIniFile ini(m_path.c_str());
        EXPECT_EQ(c.expectedInt, ini.GetInt("S", "k", -1));
        EXPECT_EQ(c.expectedFloat, ini.GetFloat("S", "k", -1.0f));
    }
}

TEST_F(IniFileTest, SetFloatWritesSixDecimals) {
    struct Case {
        float value;
        const char* text;
        float readBack;
    };
    const Case cases[] = {
        {1.5f, "1.500000", 1.5f},       {-0.25f, "-0.250000", -0.25f},    {0.0f, "0.000000", 0.0f},
        {100.0f, "100.000000", 100.0f}, {3.14159f, "3.141590", 3.14159f}, {1e-7f, "0.000000", 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto file = EditFile("", [&](CIniFile& ini) { EXPECT_TRUE(ini.SetFloat("S", "f", c.value)); });
        EXPECT_EQ("[S]\r\nf="s + c.text + "\r\n", file);
        CIniFile ini(m_path.c_str());
        EXPECT_FLOAT_EQ(c.readBack, ini.GetFloat("S", "f", -1.0f));
    }
}

TEST_F(IniFileTest, BinaryRoundTripsAsUpperCaseHex) {
    const BYTE bytes[6] = {0x00, 0x0A, 0x7F, 0x80, 0xAB, 0xFF};
    EXPECT_EQ("[S]\r\nBlob=000A7F80ABFF\r\n",
              EditFile("", [&](CIniFile& ini) { EXPECT_TRUE(ini.SetBinary("S", "Blob", bytes, 6)); }));

    CIniFile ini(m_path.c_str());
    BYTE got[8];
    std::memset(got, 0xCC, sizeof got);
    EXPECT_TRUE(ini.GetBinary("S", "Blob", got, nullptr, 6));
    EXPECT_EQ(0, std::memcmp(bytes, got, 6));
    EXPECT_EQ(0xCC, got[6]) << "written past the length";

    BYTE* out = nullptr;
    ASSERT_EQ(6, ini.GetBinaryAlloc("S", "Blob", &out, nullptr, 0));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(0, std::memcmp(bytes, out, 6));
    delete[] out;
}

TEST_F(IniFileTest, GetBinaryTakesOnlyAValueOfExactlyTwiceTheLength) {
    WriteBytes(m_path, "[S]\r\nHex=0a0B0c\r\nOdd=ABC\r\nBad=G11Gzz\r\nEmpty=\r\n");
    CIniFile ini(m_path.c_str());
    const BYTE dflt[4] = {0xD1, 0xD2, 0xD3, 0xD4};
    struct Case {
        const char* key;
        int length;
        bool fromFile;
        std::vector<BYTE> expected;
    };
    const Case cases[] = {
        {"Hex", 3, true, {0x0A, 0x0B, 0x0C}},
        {"Hex", 2, false, {0xD1, 0xD2}},
        {"Hex", 4, false, {0xD1, 0xD2, 0xD3, 0xD4}},
        {"Odd", 2, false, {0xD1, 0xD2}},
        {"Empty", 1, false, {0xD1}},
        {"Missing", 3, false, {0xD1, 0xD2, 0xD3}},
        {"Bad", 3, true, {0x00, 0x01, 0x00}}, // invalid digits end the number
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " length " + std::to_string(c.length));
        BYTE got[8];
        std::memset(got, 0xCC, sizeof got);
        EXPECT_EQ(c.fromFile, ini.GetBinary("S", c.key, got, dflt, c.length));
        EXPECT_EQ(c.expected, std::vector<BYTE>(got, got + c.length));
        EXPECT_EQ(0xCC, got[c.length]) << "written past the length";
    }

    // The allocating form takes any even length from the file and falls back to the default.
    struct AllocCase {
        const char* key;
        std::vector<BYTE> expected;
    };
    const AllocCase allocCases[] = {
        {"Hex", {0x0A, 0x0B, 0x0C}},
        {"Bad", {0x00, 0x01, 0x00}},
        {"Odd", {0xD1, 0xD2}},
        {"Empty", {0xD1, 0xD2}},
    };
    for (const AllocCase& c : allocCases) {
        SCOPED_TRACE(c.key);
        BYTE* out = nullptr;
        const int n = ini.GetBinaryAlloc("S", c.key, &out, dflt, 2);
        ASSERT_EQ(static_cast<int>(c.expected.size()), n);
        ASSERT_NE(nullptr, out);
        EXPECT_EQ(c.expected, std::vector<BYTE>(out, out + n));
        delete[] out;
    }
}

TEST_F(IniFileTest, GetStringBufferNeverWritesPastTheBuffer) {
    WriteBytes(m_path, "[S]\r\nDevice=Camera\r\n");
    CIniFile ini(m_path.c_str());
    struct Case {
        const char* key;
        const char* dflt;
        int size;
        int result;
        const char* text; // nullptr: nothing written
    };
    const Case cases[] = {
        {"Device", "x", 16, 6, "Camera"},    {"Device", "x", 7, 6, "Camera"},
        {"Device", "x", 6, 5, "Camer"},      {"Device", "x", 1, 0, ""},
        {"Device", "x", 0, 0, nullptr},      {"Missing", "dflt", 16, 4, "dflt"},
        {"Missing", "default", 4, 3, "def"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " size " + std::to_string(c.size));
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, ini.GetStringBuffer("S", c.key, c.dflt, buffer, c.size));
        const int written = c.text ? static_cast<int>(std::strlen(c.text)) + 1 : 0;
        if (c.text) {
            EXPECT_STREQ(c.text, buffer);
        }
        EXPECT_EQ(std::string(sizeof buffer - written, '#'),
                  std::string(buffer + written, sizeof buffer - written));
    }
    EXPECT_EQ(0, ini.GetStringBuffer("S", "Device", "x", nullptr, 16));
}

// Names up to the limits work; longer ones, and names or values with a line break, are refused
// without touching anything, even where the file holds exactly such a name.
TEST_F(IniFileTest, NamesBeyondTheLimitsAreRefused) {
    const std::string sec28(28, 'S'), sec29(29, 'S'), key29(29, 'K'), key30(30, 'K');
    const std::string huge(4096, 'H');
    const std::string text = "[" + sec28 + "]\r\n" + key29 + "=1\r\n" + key30 + "=2\r\n\r\n[" + sec29 +
                             "]\r\n" + key29 + "=3\r\n\r\n[Line\r\nBreak]\r\nk=4\r\n";
    WriteBytes(m_path, text);
    CIniFile ini(m_path.c_str());
    struct Case {
        std::string section;
        std::string key;
        bool sectionOk;
        bool keyOk;
    };
    const Case cases[] = {
        {sec28, key29, true, true},     {sec28, key30, true, false},  {sec29, key29, false, true},
        {huge, key29, false, true},     {sec28, huge, true, false},   {"Line\r\nBreak", "k", false, true},
        {sec28, "K\r\nK", true, false}, {sec28, "K\nX", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section.substr(0, 40) + "/" + c.key.substr(0, 40));
        const char* s = c.section.c_str();
        const char* k = c.key.c_str();
        CStringArray names;
        EXPECT_EQ(c.sectionOk, ini.GetKeyNames(s, names));
        if (c.sectionOk && c.keyOk) {
            EXPECT_EQ(1, ini.GetInt(s, k, -5));
            continue;
        }
        EXPECT_EQ(-5, ini.GetInt(s, k, -5));
        EXPECT_EQ("dflt", ini.GetString(s, k, "dflt").str());
        EXPECT_FALSE(ini.SetInt(s, k, 9));
        EXPECT_FALSE(ini.SetString(s, k, "v"));
        EXPECT_FALSE(ini.DeleteKey(s, k));
        if (!c.sectionOk) {
            EXPECT_FALSE(ini.DeleteSection(s));
        }
        EXPECT_EQ(text, ini.GetText().str());
        EXPECT_FALSE(ini.IsChanged());
    }
    EXPECT_FALSE(ini.SetString(sec28.c_str(), key29.c_str(), "two\r\n[lines]"));
    EXPECT_FALSE(ini.SetString(sec28.c_str(), key29.c_str(), "cr\ronly"));
    EXPECT_EQ(text, ini.GetText().str());
    EXPECT_FALSE(ini.IsChanged());

    EXPECT_TRUE(ini.SetInt(sec28.c_str(), key29.c_str(), 5));
    EXPECT_EQ(5, ini.GetInt(sec28.c_str(), key29.c_str(), -5));
}

TEST_F(IniFileTest, SectionAndKeyNamesComeFromTheirOwnLines) {
    WriteBytes(m_path, "[A]\r\n"
                       "x=1\r\n"
                       "junk line\r\n"
                       "y=\r\n"
                       "\r\n"
                       "[Empty]\r\n"
                       "\r\n"
                       "[B]\r\n"
                       "z=3\r\n"
                       "[Tight]\r\n"
                       "[C]\r\n"
                       "w=4");
    CIniFile ini(m_path.c_str());
    CStringArray sections;
    sections.Add("old");
    EXPECT_TRUE(ini.GetSectionNames(sections));
    EXPECT_EQ((std::vector<std::string>{"old", "A", "Empty", "B", "Tight", "C"}), Names(sections));

    struct Case {
        const char* section;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"A", {"x", "y"}}, {"Empty", {}}, {"B", {"z"}}, {"Tight", {}}, {"C", {"w"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        CStringArray keys;
        EXPECT_TRUE(ini.GetKeyNames(c.section, keys));
        EXPECT_EQ(c.keys, Names(keys));
    }
}

// Files the program never writes: each loads, answers every call, takes a set that reads back,
// and keeps every byte before the first NUL.
TEST_F(IniFileTest, CorruptFilesLoadAndStayEditable) {
    const std::string appended = "\r\n[Settings]\r\nVolume=75\r\n";
    const std::string noise = NoiseBytes(1 << 20);
    const std::string bigValue(1 << 20, 'x');
    std::string bracketSoup;
    while (bracketSoup.size() < (1u << 20))
        bracketSoup += "[\r\n]\r\n\n[=\r]=[\r\n";
    struct Case {
        const char* name;
        std::string content;
        std::string expected;
    };
    const Case cases[] = {
        {"empty file", "", "[Settings]\r\nVolume=75\r\n"},
        {"no CR at all: no header is found", "[Settings]\nVolume=5\nPX=1\n",
         "[Settings]\nVolume=5\nPX=1\n" + appended},
        {"lone LF ends the value", "[Settings]\r\nVolume=5\nPX=1\n\r\n[Other]\nk=v\n",
         "[Settings]\r\nVolume=75\nPX=1\n\r\n[Other]\nk=v\n"},
        {"lone CR ends the value, the header after it stays", "[Settings]\r\nVolume=5\r[Other]\r\nk=v\r\n",
         "[Settings]\r\nVolume=75\r[Other]\r\nk=v\r\n"},
        {"no LF at all: the header gets its LF", "[Settings]\rVolume=5\rPX=1\r",
         "[Settings]\r\nVolume=75\r\nVolume=5\rPX=1\r"},
        {"header on the last line without its LF", "[Settings]\r", "[Settings]\r\nVolume=75\r\n"},
        {"value on the last line without a line end", "[Settings]\r\nVolume=5",
         "[Settings]\r\nVolume=75\r\n"},
        {"NUL bytes: reading stops at the first", "[Settings]\r\nVolume=5\r\nPX=1\0\r\nPY=2\r\n\0x"s,
         "[Settings]\r\nVolume=75\r\nPX=1"},
        {"NUL first", "\0[Settings]\r\nVolume=5\r\n"s, "[Settings]\r\nVolume=75\r\n"},
        {"brackets and equals signs", "[[[]]]\r\n=\r\n[\r\n]\r\n==\r\n[Settings\r\n",
         "[[[]]]\r\n=\r\n[\r\n]\r\n==\r\n[Settings\r\n" + appended},
        {"1 MB of noise", noise, noise + appended},
        {"1 MB of brackets and line breaks", bracketSoup, bracketSoup + appended},
        {"1 MB value", "[Settings]\r\nVideoDevice=" + bigValue + "\r\nVolume=5\r\n",
         "[Settings]\r\nVideoDevice=" + bigValue + "\r\nVolume=75\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto file = EditFile(c.content, [](CIniFile& ini) {
            CStringArray names;
            ini.GetSectionNames(names);
            ini.GetKeyNames(kSettings, names);
            (void)ini.GetString(kSettings, "VideoDevice", "");
            (void)ini.GetFloat(kSettings, "PX", 0.0f);
            BYTE b[4];
            (void)ini.GetBinary(kSettings, "PX", b, b, sizeof b);
            EXPECT_TRUE(ini.SetInt(kSettings, "Volume", 75));
            EXPECT_EQ(75, ini.GetInt(kSettings, "Volume", -1));
        });
        if (c.expected.size() < 1000)
            EXPECT_EQ(c.expected, file);
        else // no megabyte-long failure messages
            EXPECT_TRUE(file == c.expected) << "the file differs from the expected " << c.expected.size()
                                            << " bytes (" << (file ? file->size() : 0) << " on disk)";
        CIniFile ini(m_path.c_str());
        EXPECT_EQ(75, ini.GetInt(kSettings, "Volume", -1));
    }
    // The last case's file: its megabyte value reads back whole.
    CIniFile ini(m_path.c_str());
    EXPECT_TRUE(bigValue == ini.GetString(kSettings, "VideoDevice", "").str());
}

// What stands in a save's way, made real on the platform.
enum class Obstacle {
    heldWithoutSharing, // another program holds the file open and shares nothing
    heldSharing,        // ... shares reading and writing, but not deleting (the rename needs that)
    readOnly,           // the file is read-only
    mapped,             // another program maps the file, so it cannot be cut shorter
};

// Puts the obstacle in place for the lifetime of the object.
class SaveObstacle {
public:
    SaveObstacle(Obstacle obstacle, const std::string& path) : m_path(path), m_obstacle(obstacle) {
        switch (obstacle) {
        case Obstacle::heldWithoutSharing:
        case Obstacle::heldSharing:
        case Obstacle::mapped: {
            const DWORD sharing =
                obstacle == Obstacle::heldWithoutSharing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
            m_holder.reset(
                CreateFileA(path.c_str(), GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr));
            EXPECT_TRUE(m_holder) << "error " << GetLastError();
            if (obstacle == Obstacle::mapped) {
                m_mapping.reset(CreateFileMappingA(m_holder.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
                m_view.reset(MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0));
                EXPECT_TRUE(m_view) << "error " << GetLastError();
            }
            break;
        }
        case Obstacle::readOnly:
            EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
            break;
        }
    }
    ~SaveObstacle() {
        if (m_obstacle == Obstacle::readOnly)
            SetFileAttributesA(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    }

private:
    std::string m_path;
    Obstacle m_obstacle;
    win::UniqueFile m_holder;
    win::UniqueHandle m_mapping;
    win::UniqueMappedView m_view;
};

// The platform refuses the save for real; the old file must stay whole and nothing may be left
// beside it. With the name beside it taken (so the save has to rewrite the file in place), the
// same holds, and a rewrite the platform stops half-way puts the old bytes back.
TEST_F(IniFileTest, FailedSaveKeepsTheOldFile) {
    const auto edit = [](CIniFile& i) { i.SetInt(kSettings, "Volume", 75); };
    const auto erase = [](CIniFile& i) { i.DeleteSection(kSettings); };
    const auto shrink = [](CIniFile& i) { i.DeleteKey(kSettings, "VideoDevice"); };
    struct Case {
        const char* name;
        std::function<void(CIniFile&)> change;
        Obstacle obstacle;
        bool nameBesideTaken; // "<ini>.new" is a folder: no new file can be made beside the file
    };
    const Case cases[] = {
        {"edit while the file is held open without sharing", edit, Obstacle::heldWithoutSharing, false},
        {"edit while the file is held open for others to read and write", edit, Obstacle::heldSharing, false},
        {"delete while the file is held open without sharing", erase, Obstacle::heldWithoutSharing, false},
        {"edit a read-only file", edit, Obstacle::readOnly, false},
        {"delete a read-only file", erase, Obstacle::readOnly, false},
        {"in place: edit while the file is held open without sharing", edit, Obstacle::heldWithoutSharing,
         true},
        {"in place: edit a read-only file", edit, Obstacle::readOnly, true},
        {"in place: shorten a file another program maps", shrink, Obstacle::mapped, true},
    };
    const std::string besideName = m_path + ".new";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(m_path, kTenLines);
        if (c.nameBesideTaken) {
            ASSERT_TRUE(CreateDirectoryA(besideName.c_str(), nullptr));
        }
        std::optional<SaveObstacle> obstacle;
        {
            CIniFile ini(m_path.c_str());
            c.change(ini);
            ASSERT_TRUE(ini.IsChanged());
            obstacle.emplace(c.obstacle, m_path);
            EXPECT_FALSE(ini.Save());
        } // the destructor's save fails the same way, silently
        obstacle.reset();
        EXPECT_EQ(kTenLines, ReadBytes(m_path));
        const std::vector<std::string> expected =
            c.nameBesideTaken ? std::vector<std::string>{"Zarvex.ini", "Zarvex.ini.new"}
                              : std::vector<std::string>{"Zarvex.ini"};
        EXPECT_EQ(expected, ListFolder(m_dir));
        RemoveDirectoryA(besideName.c_str());
    }
}

// A folder where no new file can be made (here: the name the save writes beside the file is taken
// by a folder): a writable file is rewritten where it stands, whether the text grows or shrinks.
TEST_F(IniFileTest, WhereNoNewFileCanBeMadeBesideItTheFileIsRewrittenInPlace) {
    const std::string longName(200, 'C');
    struct Case {
        const char* name;
        std::function<void(CIniFile&)> change;
    };
    const Case cases[] = {
        {"same length", [](CIniFile& i) { i.SetInt(kSettings, "Volume", 101); }},
        {"longer", [&](CIniFile& i) { i.SetString(kSettings, "VideoDevice", longName.c_str()); }},
        {"shorter", [](CIniFile& i) { i.DeleteKey(kSettings, "VideoDevice"); }},
        {"new section", [](CIniFile& i) { i.SetInt("Other", "Key", 1); }},
    };
    const std::string besideName = m_path + ".new";
    ASSERT_TRUE(CreateDirectoryA(besideName.c_str(), nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(m_path, kTenLines);
        std::string expected;
        {
            CIniFile ini(m_path.c_str());
            c.change(ini);
            expected = ini.GetText().str();
            EXPECT_TRUE(ini.Save());
        }
        EXPECT_EQ(expected, ReadBytes(m_path));
        EXPECT_EQ((std::vector<std::string>{"Zarvex.ini", "Zarvex.ini.new"}), ListFolder(m_dir));
    }
}

TEST_F(IniFileTest, SavingKeepsTheFilesAttributes) {
    struct Case {
        const char* name;
        DWORD attributes;
        bool nameBesideTaken;
    };
    const Case cases[] = {
        {"hidden, through a new file beside it", FILE_ATTRIBUTE_HIDDEN, false},
        {"hidden system file, through a new file beside it", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
         false},
        {"plain file, through a new file beside it", FILE_ATTRIBUTE_NORMAL, false},
        {"hidden, rewritten in place", FILE_ATTRIBUTE_HIDDEN, true},
    };
    const std::string besideName = m_path + ".new";
    const DWORD visible = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(m_path, kTenLines);
        ASSERT_TRUE(SetFileAttributesA(m_path.c_str(), c.attributes));
        const DWORD before = GetFileAttributesA(m_path.c_str());
        ASSERT_EQ(c.attributes & visible, before & visible) << "the platform keeps these attributes";
        if (c.nameBesideTaken) {
            ASSERT_TRUE(CreateDirectoryA(besideName.c_str(), nullptr));
        }
        {
            CIniFile ini(m_path.c_str());
            ini.SetInt(kSettings, "Volume", 75);
            EXPECT_TRUE(ini.Save());
        }
        EXPECT_EQ(before & visible, GetFileAttributesA(m_path.c_str()) & visible);
        EXPECT_EQ(With(kTenLines, "Volume=100", "Volume=75"), ReadBytes(m_path));
        SetFileAttributesA(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryA(besideName.c_str());
    }
}

TEST_F(IniFileTest, SaveIntoAMissingFolderFailsAndCreatesNothing) {
    const std::string path = m_dir + "\\missing\\Zarvex.ini";
    {
        CIniFile ini(path.c_str());
        SaveProgramSettings(ini);
        EXPECT_FALSE(ini.Save());
    }
    EXPECT_TRUE(ListFolder(m_dir).empty());
}

} // namespace
