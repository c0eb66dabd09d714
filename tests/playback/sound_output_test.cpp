// The dialog's sound output set-up on the bench's real DirectSound, and a player without any.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "ComScope.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "SoundTestUtil.h"

namespace {

// The volume the buffer itself reports, in hundredths of a decibel (12345 when it cannot say).
LONG BufferVolume(const CSoundPlayer& player) {
    LONG volume = 12345;
    EXPECT_EQ(DS_OK, player.GetBuffer()->GetVolume(&volume));
    return volume;
}

class SoundOutputTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_window.get()) << "no window; the bench has a display"; }

    win::ComScope m_com;
    soundtest::CTestWindow m_window;
};

// The volume loaded from the settings is the buffer's volume from the start, not only after the
// slider has moved; read back from the buffer itself.
TEST_F(SoundOutputTest, AppliesTheLoadedVolumeToTheNewBuffer) {
    struct Case {
        int percent;
        LONG volume;
    };
    const Case cases[] = {{0, -10000}, {25, -1505}, {50, -752}, {75, -312}, {100, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        CDirectSoundDevice device;
        CSoundPlayer player;
        ASSERT_TRUE(CreateSoundOutput(m_window.get(), c.percent, device, player))
            << "no sound output on the bench; its PulseAudio null sink should be the default device";
        ASSERT_TRUE(device);
        ASSERT_TRUE(player.HasBuffer());
        EXPECT_EQ(c.volume, BufferVolume(player));
    }
}

TEST_F(SoundOutputTest, SetVolumeFollowsTheVolumeRule) {
    CDirectSoundDevice device;
    CSoundPlayer player;
    ASSERT_TRUE(CreateSoundOutput(m_window.get(), 100, device, player));
    struct Case {
        int percent;
        LONG volume;
    };
    const Case cases[] = {{50, -752}, {0, -10000}, {-20, -10000}, {100, 0}, {250, 0}, {25, -1505}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        ASSERT_TRUE(player.SetVolume(c.percent));
        EXPECT_EQ(c.volume, BufferVolume(player));
    }
}

// Set up a second time (a device object that takes its buffers with it when released): the old
// buffer is given up before the old device, and the new one works.
TEST_F(SoundOutputTest, SettingUpAgainReplacesDeviceAndBuffer) {
    CDirectSoundDevice device;
    CSoundPlayer player;
    ASSERT_TRUE(CreateSoundOutput(m_window.get(), 100, device, player));
    ASSERT_TRUE(CreateSoundOutput(m_window.get(), 50, device, player));
    ASSERT_TRUE(player.HasBuffer());
    EXPECT_EQ(-752, BufferVolume(player));
    ASSERT_TRUE(player.Play());
    EXPECT_TRUE(player.WaitBlock(CSoundPlayer::kBlockWaitMs)) << "the new buffer does not run";
    EXPECT_TRUE(player.Stop());
}

// Without a sound output (no device, or a failed set-up) the player has no buffer: every write
// fails at once, and WaitBlock has nothing to wait for, which is why a playback then needs the
// tick timer to keep its pace.
TEST(SoundPlayerWithoutOutput, FailsAtOnceAndDoesNotPace) {
    CSoundPlayer player;
    EXPECT_FALSE(player.HasBuffer());
    EXPECT_EQ(nullptr, player.GetBuffer());
    const std::vector<BYTE> block(kSoundBlockBytes, 1);

    const double start = soundtest::NowMs();
    EXPECT_FALSE(player.WriteBlock(block.data(), kSoundBlockBytes, kSoundBlockBytes, true));
    EXPECT_TRUE(player.WaitBlock(10000));
    EXPECT_LT(soundtest::NowMs() - start, 5000.0) << "a player without a buffer waited";

    EXPECT_FALSE(player.Play());
    EXPECT_FALSE(player.Stop());
    EXPECT_FALSE(player.Restore());
    EXPECT_FALSE(player.SetVolume(50));
    EXPECT_FALSE(player.Silence());
    EXPECT_EQ(0u, player.GetWriteOffset());
    EXPECT_FALSE(
        player.Create(nullptr, kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount, kSoundBufferFlags));
}

} // namespace
