// CSoundPlayer against an in-memory DirectSound (FakeDirectSound.h): the exact calls it makes, and
// the failures Wine never produces, such as a lost buffer that is restored at the next failed lock.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "FakeDirectSound.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "SoundTestUtil.h"

namespace {

using soundtest::CFakeDirectSound;
using soundtest::CFakeSoundBuffer;

constexpr DWORD kBlock = kSoundBlockBytes;

class SoundPlayerFaultTest : public testing::Test {
protected:
    void TearDown() override {
        m_player.reset();
        if (m_device) {
            EXPECT_EQ(0u, m_device->ForgetLastBuffer()) << "the player kept a reference to its buffer";
            EXPECT_EQ(0u, m_device->Release()) << "the player kept a reference to the device";
        }
    }

    CFakeSoundBuffer* CreateDefault() {
        if (!m_player->Create(m_device, kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount,
                              kSoundBufferFlags))
            return nullptr;
        return m_device->m_pLastBuffer;
    }

    CFakeDirectSound* m_device = new CFakeDirectSound;
    std::unique_ptr<CSoundPlayer> m_player = std::make_unique<CSoundPlayer>();
};

TEST_F(SoundPlayerFaultTest, CreateAsksForTheBufferAndOneNotificationAtTheEndOfEachBlock) {
    CFakeSoundBuffer* buffer = CreateDefault();
    ASSERT_NE(nullptr, buffer);
    EXPECT_TRUE(m_player->HasNotifications());

    const DSBUFFERDESC& desc = buffer->m_desc;
    EXPECT_EQ(sizeof(DSBUFFERDESC1), desc.dwSize) << "the description without the 3D-algorithm identifier";
    EXPECT_EQ(0x81E2u, desc.dwFlags);
    EXPECT_EQ(23552u, desc.dwBufferBytes);
    EXPECT_EQ(0u, desc.dwReserved);
    const WAVEFORMATEX& format = buffer->m_format;
    soundtest::ExpectClipSoundFormat(format);

    const std::vector<DSBPOSITIONNOTIFY>& table = buffer->m_notifications;
    ASSERT_EQ(8u, table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(2944u * (i + 1) - 1, table[i].dwOffset); // 2943, 5887, ..., 23551
        EXPECT_NE(nullptr, table[i].hEventNotify);
        EXPECT_EQ(table[0].hEventNotify, table[i].hEventNotify) << "one event for all blocks";
    }

    // Auto-reset and initially unset: block ends that passed while nobody waited are one wake-up.
    EXPECT_FALSE(m_player->WaitBlock(0));
    ASSERT_TRUE(SetEvent(table[0].hEventNotify));
    ASSERT_TRUE(SetEvent(table[3].hEventNotify));
    EXPECT_TRUE(m_player->WaitBlock(0));
    EXPECT_FALSE(m_player->WaitBlock(0));
}

TEST_F(SoundPlayerFaultTest, PlayLoopsAndAFailedStartRestoresWithoutRetrying) {
    CFakeSoundBuffer* buffer = CreateDefault();
    ASSERT_NE(nullptr, buffer);
    ASSERT_TRUE(m_player->Play());
    EXPECT_TRUE(buffer->m_bPlaying);
    EXPECT_EQ(static_cast<DWORD>(DSBPLAY_LOOPING), buffer->m_dwPlayFlags);
    ASSERT_TRUE(m_player->Stop());

    buffer->m_hrPlay = DSERR_BUFFERLOST;
    EXPECT_FALSE(m_player->Play());
    EXPECT_EQ(1, buffer->m_nRestores);
    EXPECT_FALSE(buffer->m_bPlaying) << "the start was retried";
}

// A lost buffer: the failing lock or unlock restores it and drops the block (the offset stays);
// sound resumes with the next block.
TEST_F(SoundPlayerFaultTest, ALostBufferIsRestoredAndOnlyTheFailedBlockIsDropped) {
    struct Case {
        const char* name;
        HRESULT CFakeSoundBuffer::*failing;
    };
    const Case cases[] = {
        {"lock", &CFakeSoundBuffer::m_hrLock},
        {"unlock", &CFakeSoundBuffer::m_hrUnlock},
    };
    CFakeSoundBuffer* buffer = CreateDefault();
    ASSERT_NE(nullptr, buffer);
    buffer->m_dwPlayCursor = 11776;
    const std::vector<BYTE> lost(kBlock, 0x11);
    const std::vector<BYTE> next(kBlock, 0x22);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DWORD offset = m_player->GetWriteOffset();
        const int restores = buffer->m_nRestores;
        buffer->*c.failing = DSERR_BUFFERLOST;

        EXPECT_FALSE(m_player->WriteBlock(lost.data(), kBlock, kBlock, false));
        EXPECT_EQ(restores + 1, buffer->m_nRestores);
        EXPECT_EQ(offset, m_player->GetWriteOffset());

        EXPECT_TRUE(m_player->WriteBlock(next.data(), kBlock, kBlock, false));
        EXPECT_EQ(offset + kBlock, m_player->GetWriteOffset());
        EXPECT_EQ(0, std::memcmp(buffer->m_bytes.data() + offset, next.data(), kBlock));
    }
}

TEST_F(SoundPlayerFaultTest, AFailedCursorQueryDropsTheBlockWithoutTouchingTheBuffer) {
    CFakeSoundBuffer* buffer = CreateDefault();
    ASSERT_NE(nullptr, buffer);
    buffer->m_hrPosition = DSERR_GENERIC;
    const std::vector<BYTE> block(kBlock, 0x33);
    EXPECT_FALSE(m_player->WriteBlock(block.data(), kBlock, kBlock, false));
    EXPECT_EQ(0, buffer->m_nLocks);
    EXPECT_EQ(0u, m_player->GetWriteOffset());
}

TEST_F(SoundPlayerFaultTest, SilenceOfALostBufferRestoresIt) {
    CFakeSoundBuffer* buffer = CreateDefault();
    ASSERT_NE(nullptr, buffer);
    buffer->m_bytes.assign(buffer->m_bytes.size(), 0x44);
    buffer->m_hrLock = DSERR_BUFFERLOST;
    EXPECT_FALSE(m_player->Silence());
    EXPECT_EQ(1, buffer->m_nRestores);
    ASSERT_TRUE(m_player->Silence());
    EXPECT_EQ(std::vector<BYTE>(23552, 0), buffer->m_bytes);
}

// A buffer without notifications (no notify interface, or one that refuses the positions) has no
// event: it says so, so the player paces by its timer, and its writes go in without waiting rather
// than each waiting 500 ms for a block end that never comes and then being dropped.
TEST_F(SoundPlayerFaultTest, ABufferWithoutNotificationsWritesWithoutWaiting) {
    struct Case {
        const char* name;
        bool withNotify;
        HRESULT positions;
    };
    const Case cases[] = {
        {"no notify interface", false, DS_OK},
        {"positions refused", true, DSERR_INVALIDPARAM},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_device->m_bBuffersWithNotify = c.withNotify;
        m_device->m_hrBufferNotify = c.positions;
        CFakeSoundBuffer* buffer = CreateDefault();
        ASSERT_NE(nullptr, buffer);
        EXPECT_TRUE(m_player->HasBuffer());
        EXPECT_FALSE(m_player->HasNotifications());
        const double start = soundtest::NowMs();
        EXPECT_TRUE(m_player->WaitBlock(10000));
        buffer->m_dwPlayCursor = 11776;
        const DWORD offset = m_player->GetWriteOffset();
        const std::vector<BYTE> block(kBlock, 0x55);
        EXPECT_TRUE(m_player->WriteBlock(block.data(), kBlock, kBlock, true));
        EXPECT_LT(soundtest::NowMs() - start, 400.0) << "waited for a block end that cannot come";
        EXPECT_EQ(offset + kBlock, m_player->GetWriteOffset());
    }
}

TEST_F(SoundPlayerFaultTest, ARefusedBufferKeepsThePreviousOne) {
    CFakeSoundBuffer* first = CreateDefault();
    ASSERT_NE(nullptr, first);
    m_device->m_hrCreate = DSERR_OUTOFMEMORY;
    EXPECT_FALSE(
        m_player->Create(m_device, kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount, kSoundBufferFlags));
    EXPECT_EQ(2, m_device->m_nCreates);
    EXPECT_EQ(static_cast<IDirectSoundBuffer*>(first), m_player->GetBuffer());
    EXPECT_EQ(23552u, m_player->GetBufferSize());
    EXPECT_FALSE(m_player->WaitBlock(0)) << "the old notifications were dropped with the refused buffer";
    // The buffer's last references are checked in TearDown.
    m_player->Close();
    EXPECT_EQ(nullptr, m_player->GetBuffer());
}

} // namespace
