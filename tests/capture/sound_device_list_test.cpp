// The sound device list: how texts are cut to their 128-byte fields, what the enumeration callback
// keeps, and the bench's real capture devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "SoundDeviceList.h"

namespace {

constexpr size_t kField = 128;
constexpr char kGuard = '\xCD';

std::string Repeat(char c, size_t n) {
    return std::string(n, c);
}

bool IsZeroGuid(const GUID& guid) {
    static const GUID zero = {};
    return std::memcmp(&guid, &zero, sizeof guid) == 0;
}

} // namespace

TEST(SoundDeviceListTest, TextIsCutToItsFieldAtAWholeCharacter) {
    // Japanese in code page 932 (あ is 82 A0) and in UTF-8 (あ is E3 81 82): a cut inside a
    // character would leave a lead byte that swallows the terminator when the text is shown.
    const std::string a932 = "\x82\xA0";
    const std::string aUtf8 = "\xE3\x81\x82";
    struct Case {
        const char* name;
        std::string text;
        UINT codePage;
        std::string expected;
    };
    const Case cases[] = {
        {"short text", "Monitor of Null Output", 1252, "Monitor of Null Output"},
        {"127 bytes fit whole", Repeat('a', 127), 1252, Repeat('a', 127)},
        {"128 bytes lose the last", Repeat('a', 128), 1252, Repeat('a', 127)},
        {"300 bytes", Repeat('b', 300), 1252, Repeat('b', 127)},
        {"single-byte high characters", Repeat('\xE9', 200), 1252, Repeat('\xE9', 127)},
        {"double-byte character across the limit", Repeat('a', 126) + a932 + "z", 932, Repeat('a', 126)},
        {"double-byte character ending at the limit", Repeat('a', 125) + a932 + "zz", 932,
         Repeat('a', 125) + a932},
        {"double-byte text throughout",
         [&] {
             std::string s;
             for (int i = 0; i < 100; ++i)
                 s += a932;
             return s;
         }(),
         932,
         [&] {
             std::string s;
             for (int i = 0; i < 63; ++i)
                 s += a932;
             return s;
         }()},
        {"UTF-8 character across the limit", Repeat('a', 126) + aUtf8, CP_UTF8, Repeat('a', 126)},
        {"UTF-8 character one byte in", Repeat('a', 125) + aUtf8, CP_UTF8, Repeat('a', 125)},
        {"UTF-8 character ending at the limit", Repeat('a', 124) + aUtf8 + "z", CP_UTF8,
         Repeat('a', 124) + aUtf8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The field sits between guard bytes, and starts out as junk.
        char buffer[kField + 2];
        std::memset(buffer, kGuard, sizeof buffer);
        char* field = buffer + 1;
        CopyTextField(field, kField, c.text.c_str(), c.codePage);
        EXPECT_EQ(c.expected, std::string(field));
        EXPECT_EQ(kGuard, buffer[0]);
        EXPECT_EQ(kGuard, buffer[kField + 1]) << "written past the field";
    }

    char field[kField];
    std::memset(field, kGuard, sizeof field);
    CopyTextField(field, sizeof field, nullptr);
    EXPECT_EQ('\0', field[0]) << "no text gives an empty field";
}

TEST(SoundDeviceListTest, CallbackKeepsOnlyDevicesWithTheirOwnGuidInOrder) {
    GUID first = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
    GUID second = {0x99999999, 0x8888, 0x7777, {8, 7, 6, 5, 4, 3, 2, 1}};
    const std::string longDescription = Repeat('d', 300);
    const std::string longModule = Repeat('m', 200);
    struct Device {
        LPGUID guid;
        const char* description;
        const char* module;
    };
    const Device devices[] = {
        {nullptr, "Primary Sound Driver", ""},
        {&first, "PulseAudio", "winepulse.drv"},
        {&second, longDescription.c_str(), longModule.c_str()},
    };

    CSoundDeviceArray list;
    for (const Device& d : devices) {
        SCOPED_TRACE(d.description);
        EXPECT_TRUE(SoundDeviceEnumCallback(d.guid, d.description, d.module, &list))
            << "the enumeration goes on";
        if (!d.guid) {
            EXPECT_EQ(0, list.GetSize()) << "the primary driver alone gives an empty list";
        }
    }

    ASSERT_EQ(2, list.GetSize());
    EXPECT_EQ(1, list[0].bHasGuid);
    EXPECT_TRUE(IsEqualGUID(first, list[0].guid));
    EXPECT_STREQ("PulseAudio", list[0].szDescription);
    EXPECT_STREQ("winepulse.drv", list[0].szModule);
    EXPECT_EQ(1, list[1].bHasGuid);
    EXPECT_TRUE(IsEqualGUID(second, list[1].guid));
    EXPECT_EQ(Repeat('d', 127), std::string(list[1].szDescription));
    EXPECT_EQ(Repeat('m', 127), std::string(list[1].szModule)) << "the description ran into the module";
}

TEST(SoundDeviceListTest, TheBenchListsItsCaptureDevicesWithoutThePrimaryDriver) {
    CSoundDeviceArray list;
    const HRESULT hr = EnumSoundCaptureDevices(list);
    ASSERT_EQ(S_OK, hr) << "the bench's PulseAudio should be running";
    ASSERT_GT(list.GetSize(), 0) << "no sound capture device on the bench";
    bool monitor = false;
    for (int i = 0; i < list.GetSize(); ++i) {
        const SoundDeviceEntry& entry = list[i];
        SCOPED_TRACE(entry.szDescription);
        EXPECT_EQ(1, entry.bHasGuid);
        EXPECT_FALSE(IsZeroGuid(entry.guid));
        EXPECT_STRNE("Primary Sound Driver", entry.szDescription);
        monitor = monitor || std::strcmp(entry.szDescription, "Monitor of Null Output") == 0;
    }
    EXPECT_TRUE(monitor) << "the null sink's monitor, where the bench's sound can be recorded, is missing";
}
