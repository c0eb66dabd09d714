// CSoundPlayer on the bench's real DirectSound (Wine, PulseAudio null sink): the buffer it makes,
// its notifications, where WriteBlock writes and when it refuses to, its waits, and how it lets a
// waiting playback thread go before it releases anything.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "ComScope.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "SoundTestUtil.h"

namespace {

constexpr DWORD kBlock = kSoundBlockBytes;
constexpr DWORD kBufferBytes = kSoundBlockBytes * kSoundBlockCount; // 23552

using soundtest::NowMs;

// Distinct bytes, so a block written to the wrong place or cut wrongly cannot pass for another.
std::vector<BYTE> Pattern(size_t n, BYTE seed) {
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<BYTE>(seed + i * 7 + i / 251);
    return v;
}

std::vector<BYTE> ReadBuffer(IDirectSoundBuffer* buffer) {
    std::vector<BYTE> bytes;
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    if (FAILED(buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER)))
        return bytes;
    bytes.assign(static_cast<BYTE*>(p1), static_cast<BYTE*>(p1) + n1);
    buffer->Unlock(p1, n1, p2, n2);
    return bytes;
}

bool AllZero(const std::vector<BYTE>& v, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
        if (v[i] != 0)
            return false;
    return true;
}

class SoundPlayerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_window.get()) << "no window for the cooperative level; the bench has a display";
        const HRESULT hr = m_device.Open(m_window.get());
        ASSERT_EQ(DS_OK, hr) << "no sound output: DirectSoundCreate or SetCooperativeLevel gave " << std::hex
                             << hr << "; the bench's PulseAudio null sink should be the default device";
    }

    bool CreateDefault(CSoundPlayer& player) {
        return player.Create(m_device.Get(), kSoundSampleRate, kSoundBlockBytes, kSoundBlockCount,
                             kSoundBufferFlags);
    }

    // Writes filler blocks with the play cursor parked half a buffer away until the write offset is
    // at `offset` (a multiple of the block size), then silences the buffer.
    static void MoveWriteOffsetTo(CSoundPlayer& player, DWORD offset) {
        const std::vector<BYTE> filler(kBlock, 0x55);
        for (int i = 0; i < 16 && player.GetWriteOffset() != offset; ++i) {
            ASSERT_EQ(DS_OK, player.GetBuffer()->SetCurrentPosition(
                                 (player.GetWriteOffset() + kBufferBytes / 2) % kBufferBytes));
            ASSERT_TRUE(player.WriteBlock(filler.data(), kBlock, kBlock, false));
        }
        ASSERT_EQ(offset, player.GetWriteOffset());
        ASSERT_TRUE(player.Silence());
    }

    win::ComScope m_com;
    soundtest::CTestWindow m_window;
    CDirectSoundDevice m_device;
};

TEST_F(SoundPlayerTest, MakesAStoppedBufferOfEightBlocksInTheClipSoundFormat) {
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    IDirectSoundBuffer* buffer = player.GetBuffer();
    ASSERT_NE(nullptr, buffer);

    WAVEFORMATEX format;
    std::memset(&format, 0xCD, sizeof format);
    DWORD written = 0;
    ASSERT_EQ(DS_OK, buffer->GetFormat(&format, sizeof format, &written));
    soundtest::ExpectClipSoundFormat(format);

    DSBCAPS caps = {};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(DS_OK, buffer->GetCaps(&caps));
    EXPECT_EQ(23552u, caps.dwBufferBytes);
    // The dialog's flags plus position notification; the platform may add where it mixes the buffer.
    EXPECT_EQ(0x81E2u, caps.dwFlags & ~static_cast<DWORD>(DSBCAPS_LOCSOFTWARE | DSBCAPS_LOCHARDWARE))
        << std::hex << caps.dwFlags;

    DWORD status = 0xDEADBEEF;
    ASSERT_EQ(DS_OK, buffer->GetStatus(&status));
    EXPECT_EQ(0u, status & DSBSTATUS_PLAYING);
    EXPECT_EQ(23552u, player.GetBufferSize());
    EXPECT_EQ(0u, player.GetWriteOffset());
}

// The notifications are the playback's clock: about one wake-up per block played (never fewer than
// half, which a single notification per round of the buffer would give), and none while stopped.
TEST_F(SoundPlayerTest, WakesAtTheBlockEndsWhilePlayingAndNotWhenStopped) {
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    IDirectSoundBuffer* buffer = player.GetBuffer();
    EXPECT_FALSE(player.WaitBlock(100)) << "a stopped buffer signalled a block end";

    ASSERT_TRUE(player.Play());
    DWORD status = 0;
    ASSERT_EQ(DS_OK, buffer->GetStatus(&status));
    EXPECT_EQ(static_cast<DWORD>(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING),
              status & (DSBSTATUS_PLAYING | DSBSTATUS_LOOPING));

    DWORD last = 0;
    ASSERT_EQ(DS_OK, buffer->GetCurrentPosition(&last, nullptr));
    DWORD played = 0;
    int wakes = 0;
    for (; wakes < 60; ++wakes) {
        ASSERT_TRUE(player.WaitBlock(CSoundPlayer::kBlockWaitMs))
            << "no block end within 500 ms, wake " << wakes;
        DWORD cursor = 0;
        ASSERT_EQ(DS_OK, buffer->GetCurrentPosition(&cursor, nullptr));
        played += (cursor + kBufferBytes - last) % kBufferBytes;
        last = cursor;
    }
    const DWORD blocks = played / kBlock;
    EXPECT_GE(static_cast<DWORD>(wakes), blocks / 2) << played << " bytes played";
    EXPECT_LE(static_cast<DWORD>(wakes), blocks + 4) << played << " bytes played";

    ASSERT_TRUE(player.Stop());
    (void)player.WaitBlock(50); // a block end that passed just before the stop
    EXPECT_FALSE(player.WaitBlock(100)) << "a stopped buffer went on signalling";
}

// Writes go behind the play cursor; a block whose place lies less than its length from the cursor
// (the plain difference of the two offsets, not taken round the end of the buffer) is not written
// and the write offset stays, so the next tick tries the same place with the next block.
TEST_F(SoundPlayerTest, WriteBlockSkipsAPlaceWithinOneBlockOfThePlayCursor) {
    struct Case {
        const char* name;
        DWORD writeOffset;
        DWORD playCursor;
        bool written;
    };
    const Case cases[] = {
        {"cursor on the place", 0, 0, false},
        {"cursor inside the block to be written", 0, 2940, false},
        {"cursor exactly one block ahead", 0, 2944, true},
        {"cursor just behind the place", 2944, 4, false},
        {"cursor exactly one block behind", 2944, 0, true},
        {"cursor inside the next block", 2944, 5884, false},
        {"cursor far ahead", 2944, 14720, true},
        {"cursor at the end, place at the start: plain difference", 0, 23548, true},
        {"place in the last block, cursor at the start", 20608, 0, true},
        {"place in the last block, cursor inside it", 20608, 20612, false},
    };
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    const std::vector<BYTE> block = Pattern(kBlock, 0x31);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MoveWriteOffsetTo(player, c.writeOffset);
        ASSERT_EQ(DS_OK, player.GetBuffer()->SetCurrentPosition(c.playCursor));
        DWORD cursor = 0;
        ASSERT_EQ(DS_OK, player.GetBuffer()->GetCurrentPosition(&cursor, nullptr));
        ASSERT_EQ(c.playCursor, cursor) << "the platform moved the cursor elsewhere";

        EXPECT_TRUE(player.WriteBlock(block.data(), kBlock, kBlock, false)) << "a skip is not a failure";

        const std::vector<BYTE> bytes = ReadBuffer(player.GetBuffer());
        ASSERT_EQ(kBufferBytes, bytes.size());
        if (c.written) {
            EXPECT_EQ((c.writeOffset + kBlock) % kBufferBytes, player.GetWriteOffset());
            EXPECT_EQ(0, std::memcmp(bytes.data() + c.writeOffset, block.data(), kBlock));
            EXPECT_TRUE(AllZero(bytes, 0, c.writeOffset));
            EXPECT_TRUE(AllZero(bytes, c.writeOffset + kBlock, kBufferBytes));
        } else {
            EXPECT_EQ(c.writeOffset, player.GetWriteOffset());
            EXPECT_TRUE(AllZero(bytes, 0, kBufferBytes)) << "a skipped block was written";
        }
    }
}

// A write that runs past the end of the buffer continues at its start; the write offset does not
// go round with it but starts again at 0 once it reaches or passes the end.
TEST_F(SoundPlayerTest, WriteBlockWrapsAcrossTheBufferEnd) {
    struct Case {
        const char* name;
        DWORD length;
        DWORD advance;
        DWORD offsetAfter;
    };
    const Case cases[] = {
        {"a whole block into the last place", 2944, 2944, 0},
        {"a long write, advanced by its length", 4000, 4000, 0},
        {"a long write, advanced less than the rest of the buffer", 4000, 2000, 22608},
    };
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MoveWriteOffsetTo(player, 20608);
        ASSERT_EQ(DS_OK, player.GetBuffer()->SetCurrentPosition(8832));
        const std::vector<BYTE> data = Pattern(c.length, 0x47);

        ASSERT_TRUE(player.WriteBlock(data.data(), c.length, c.advance, false));

        EXPECT_EQ(c.offsetAfter, player.GetWriteOffset());
        const std::vector<BYTE> bytes = ReadBuffer(player.GetBuffer());
        ASSERT_EQ(kBufferBytes, bytes.size());
        const DWORD tail = kBufferBytes - 20608;
        const DWORD head = c.length - tail;
        EXPECT_EQ(0, std::memcmp(bytes.data() + 20608, data.data(), tail));
        EXPECT_EQ(0, std::memcmp(bytes.data(), data.data() + tail, head));
        EXPECT_TRUE(AllZero(bytes, head, 20608));
    }
}

TEST_F(SoundPlayerTest, WaitsTimeOutOnAStoppedBuffer) {
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    ASSERT_TRUE(player.Silence());
    ASSERT_EQ(DS_OK, player.GetBuffer()->SetCurrentPosition(11776));

    double start = NowMs();
    EXPECT_FALSE(player.WaitBlock(100));
    EXPECT_GE(NowMs() - start, 90.0) << "WaitBlock returned before its time-out";

    // The player's tick: without a block end within 500 ms nothing is written and it fails.
    const std::vector<BYTE> block = Pattern(kBlock, 0x13);
    start = NowMs();
    EXPECT_FALSE(player.WriteBlock(block.data(), kBlock, kBlock, true));
    EXPECT_GE(NowMs() - start, 450.0) << "WriteBlock did not wait for a block end";
    EXPECT_EQ(0u, player.GetWriteOffset());
    const std::vector<BYTE> bytes = ReadBuffer(player.GetBuffer());
    EXPECT_TRUE(AllZero(bytes, 0, bytes.size()));
}

// A playback thread waiting for a block end when the buffer goes (the dialog closing, or the sound
// output made again) is woken, and has left WaitBlock, before anything it waits on is released.
TEST_F(SoundPlayerTest, ClosingWakesAWaiterBeforeReleasing) {
    enum class How { Destroy, Recreate, Close };
    struct Case {
        const char* name;
        How how;
    };
    const Case cases[] = {
        {"destruction", How::Destroy},
        {"a new Create", How::Recreate},
        {"Close", How::Close},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto player = std::make_unique<CSoundPlayer>();
        ASSERT_TRUE(CreateDefault(*player));
        std::atomic<bool> waiting{false};
        std::atomic<bool> woke{false};
        std::atomic<bool> bufferAtWake{false};
        double wokeAt = 0;
        CSoundPlayer* const shared = player.get(); // as the playback thread holds the dialog's player
        std::thread waiter([&, shared] {
            waiting = true;
            woke = shared->WaitBlock(10000);
            // What a playback thread does next is touch the buffer again: it must still be there.
            bufferAtWake = shared->HasBuffer();
            wokeAt = NowMs();
        });
        while (!waiting)
            Sleep(1);
        Sleep(100); // well inside WaitForSingleObject by now

        const double start = NowMs();
        switch (c.how) {
        case How::Destroy:
            player.reset();
            break;
        case How::Recreate:
            EXPECT_TRUE(CreateDefault(*player));
            break;
        case How::Close:
            player->Close();
            break;
        }
        const double done = NowMs();
        waiter.join();

        EXPECT_TRUE(woke) << "the waiter was not woken by the event";
        EXPECT_TRUE(bufferAtWake) << "the buffer was released before the waiter had woken";
        EXPECT_LT(wokeAt, done) << "the waiter was still waiting when the release ended";
        EXPECT_LT(wokeAt - start, 1000.0) << "the waiter ran into its own time-out";
        // However late the waiter's thread is scheduled, it has 500 ms before anything goes.
        EXPECT_GE(done - start, 450.0) << "the release did not give the waiter time to leave";
        if (player && c.how == How::Close) {
            EXPECT_FALSE(player->HasBuffer());
            EXPECT_TRUE(player->WaitBlock(10000)) << "without an event there is nothing to wait for";
        }
        if (player && c.how == How::Recreate) {
            EXPECT_TRUE(player->HasBuffer());
        }
    }
}

// A Create that fails leaves the player as it was: the same buffer, write offset and notifications.
TEST_F(SoundPlayerTest, FailedCreateKeepsWhatWasHeld) {
    struct Case {
        const char* name;
        bool withDevice;
        DWORD blockSize;
        DWORD blockCount;
    };
    const Case cases[] = {
        {"no device", false, kBlock, 8},
        {"no blocks", true, kBlock, 0},
        {"empty blocks", true, 0, 8},
        {"more bytes than a buffer can count", true, 0x10000, 0x10001},
    };
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    IDirectSoundBuffer* const before = player.GetBuffer();
    const std::vector<BYTE> block = Pattern(kBlock, 0x61);
    ASSERT_EQ(DS_OK, before->SetCurrentPosition(11776));
    ASSERT_TRUE(player.WriteBlock(block.data(), kBlock, kBlock, false));
    ASSERT_EQ(2944u, player.GetWriteOffset());

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(player.Create(c.withDevice ? m_device.Get() : nullptr, kSoundSampleRate, c.blockSize,
                                   c.blockCount, kSoundBufferFlags));
        EXPECT_EQ(before, player.GetBuffer());
        EXPECT_EQ(23552u, player.GetBufferSize());
        EXPECT_EQ(2944u, player.GetWriteOffset());
    }
    // Still the working buffer with its notifications.
    ASSERT_TRUE(player.WriteBlock(block.data(), kBlock, kBlock, false));
    EXPECT_EQ(5888u, player.GetWriteOffset());
    ASSERT_TRUE(player.Play());
    EXPECT_TRUE(player.WaitBlock(CSoundPlayer::kBlockWaitMs));
    player.Stop();
}

// What the previous playback left in the buffer is gone after Silence; cursor and offset stay.
TEST_F(SoundPlayerTest, SilenceClearsTheWholeBuffer) {
    CSoundPlayer player;
    ASSERT_TRUE(CreateDefault(player));
    const std::vector<BYTE> block = Pattern(kBlock, 0x7F);
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(DS_OK,
                  player.GetBuffer()->SetCurrentPosition((player.GetWriteOffset() + 11776) % kBufferBytes));
        ASSERT_TRUE(player.WriteBlock(block.data(), kBlock, kBlock, false));
    }
    std::vector<BYTE> bytes = ReadBuffer(player.GetBuffer());
    ASSERT_FALSE(AllZero(bytes, 0, bytes.size()));
    ASSERT_EQ(DS_OK, player.GetBuffer()->SetCurrentPosition(5888));

    ASSERT_TRUE(player.Silence());

    bytes = ReadBuffer(player.GetBuffer());
    ASSERT_EQ(kBufferBytes, bytes.size());
    EXPECT_TRUE(AllZero(bytes, 0, bytes.size()));
    DWORD cursor = 0;
    ASSERT_EQ(DS_OK, player.GetBuffer()->GetCurrentPosition(&cursor, nullptr));
    EXPECT_EQ(5888u, cursor);
    EXPECT_EQ(0u, player.GetWriteOffset());
}

} // namespace
