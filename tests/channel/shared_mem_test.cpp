// CSharedMem and SharedFrameHeader within one process. These tests use channel names of their own,
// so they never meet the real channel that the cross-process tests and running programs use.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "SharedMem.h"
#include "UniqueAny.h"

namespace {

constexpr char kUnitName[] = "_ZX_UNIT_CHANNEL";

bool SectionExists(const char* sectionName) {
    return static_cast<bool>(win::UniqueHandle(OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName)));
}

} // namespace

TEST(CSharedMemTest, OperationsOnAChannelThatIsNotOpenFailWithInvalidHandle) {
    struct Case {
        const char* name;
        void (*prepare)(CSharedMem&);
        DWORD errorAfterPrepare; // what the preparation itself recorded
    };
    const Case cases[] = {
        {"never opened", [](CSharedMem&) {}, 0},
        {"Open found no channel", [](CSharedMem& c) { EXPECT_FALSE(c.Open(kUnitName)); },
         ERROR_FILE_NOT_FOUND},
        {"closed after Create",
         [](CSharedMem& c) {
             ASSERT_TRUE(c.Create(kUnitName, kChannelPayloadSize));
             c.Close();
         },
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CSharedMem channel;
        SetLastError(0xdeadbeef);
        c.prepare(channel);
        EXPECT_EQ(c.errorAfterPrepare, channel.GetLastError());
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_EQ(nullptr, channel.Header());
        EXPECT_STREQ("", channel.GetName());

        SetLastError(0xdeadbeef);
        EXPECT_FALSE(channel.Lock());
        EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, channel.GetLastError());
        channel.Close(); // closing again is harmless and keeps the error
        EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, channel.GetLastError());

        SetLastError(0xdeadbeef);
        EXPECT_FALSE(channel.Unlock());
        EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, channel.GetLastError());
    }
    EXPECT_FALSE(SectionExists(kUnitName + 1)) << "the section of a closed channel must be gone";
}

TEST(CSharedMemTest, BadNamesAndSizesAreRefused) {
    const std::string longest(63, 'N');        // the most that fits the 64-character name with its NUL
    const std::string tooLong = longest + "N"; // one more would not
    struct Case {
        const char* what;
        const char* name;
        DWORD payloadSize;
        bool tryOpen; // Open takes no size, so only the name cases apply to it
    };
    const Case cases[] = {
        {"null name", nullptr, kChannelPayloadSize, true},
        {"empty name", "", kChannelPayloadSize, true},
        {"64-character name", tooLong.c_str(), kChannelPayloadSize, true},
        {"payload smaller than the layout", kUnitName, kChannelPayloadSize - 1, false},
        {"section size would wrap around 32 bits", kUnitName, 0xFFFFFFFDu, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CSharedMem channel;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(channel.Create(c.name, c.payloadSize));
        EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, channel.GetLastError());
        EXPECT_FALSE(channel.IsOpen());
        EXPECT_STREQ("", channel.GetName());
        if (c.tryOpen) {
            SetLastError(0xdeadbeef);
            EXPECT_FALSE(channel.Open(c.name));
            EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, channel.GetLastError());
        }
    }
    EXPECT_FALSE(SectionExists(kUnitName + 1));

    // The longest name works, and its section is the name without the first character.
    CSharedMem creator, opener;
    ASSERT_TRUE(creator.Create(longest.c_str(), kChannelPayloadSize));
    EXPECT_STREQ(longest.c_str(), creator.GetName());
    EXPECT_TRUE(SectionExists(longest.c_str() + 1));
    ASSERT_TRUE(opener.Open(longest.c_str()));
    EXPECT_STREQ(longest.c_str(), opener.GetName());
}

TEST(CSharedMemTest, UnlockWithoutTheLockFailsWithNotOwner) {
    CSharedMem channel;
    ASSERT_TRUE(channel.Create(kUnitName, kChannelPayloadSize));
    ASSERT_TRUE(channel.Lock());
    EXPECT_TRUE(channel.Unlock());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(channel.Unlock());
    EXPECT_EQ(DWORD{ERROR_NOT_OWNER}, channel.GetLastError());
    EXPECT_TRUE(channel.IsOpen()) << "a failed release only records the error";
}

// A lock with a shorter wait only looks when given 0: held by another thread, it fails at once with
// WAIT_TIMEOUT and leaves the holder's lock alone; free again, it takes it.
TEST(CSharedMemTest, ALockWithoutWaitFailsWhileAnotherHoldsIt) {
    CSharedMem channel;
    ASSERT_TRUE(channel.Create(kUnitName, kChannelPayloadSize));
    const win::UniqueHandle held(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const win::UniqueHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(held && release);
    std::thread holder([&] {
        CSharedMem other;
        if (other.Open(kUnitName) && other.Lock()) {
            SetEvent(held.get());
            WaitForSingleObject(release.get(), 10000);
            (void)other.Unlock(); // its own lock: a failure would show in the test's next Lock
        }
    });
    const DWORD waited = WaitForSingleObject(held.get(), 10000);
    BOOL lockedWhileHeld = TRUE;
    DWORD error = 0;
    if (waited == WAIT_OBJECT_0) {
        SetLastError(0xdeadbeef);
        lockedWhileHeld = channel.Lock(0);
        error = channel.GetLastError();
    }
    SetEvent(release.get());
    holder.join();
    ASSERT_EQ(WAIT_OBJECT_0, waited) << "the other thread took the lock";
    EXPECT_FALSE(lockedWhileHeld);
    EXPECT_EQ(DWORD{WAIT_TIMEOUT}, error);
    EXPECT_TRUE(channel.Lock(0));
    EXPECT_TRUE(channel.Unlock());
}

// The field is 32 bits; a 64-bit process sees window handles sign-extended (under Wine that
// happens to every handle whose slot has been reused 32767 times), so the value read back must be
// the very handle stored, not merely one that IsWindow happens to accept.
TEST(SharedFrameHeaderTest, OwnerWindowRoundTripsThroughItsThirtyTwoBits) {
    const uint32_t lows[] = {0u, 0x00020044u, 0x7FFF0044u, 0x80000044u, 0xFFFE0044u};
    for (uint32_t low : lows) {
        SCOPED_TRACE(testing::Message() << std::hex << low);
        const HWND hwnd = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<int32_t>(low)));
        auto header = std::make_unique<SharedFrameHeader>();
        std::memset(header.get(), 0xCC, 12);
        SetOwnerWindow(*header, hwnd);
        uint32_t stored;
        std::memcpy(&stored, header.get(), 4);
        EXPECT_EQ(low, stored);
        EXPECT_EQ(0xCCCCCCCCu, header->dwFlags) << "the owner window must not spill into the flags";
        EXPECT_EQ(hwnd, OwnerWindowOf(*header));
    }
}
