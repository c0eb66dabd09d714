// The capture program's side of the real channel ("_KLO_SHM") against another process,
// channel_peer.exe: the frame publisher while the peer holds the mutex, dies holding it, reads or
// writes nonsense into the header, and a playback as a reader in that process sees it, frame by
// frame, with the reader's own clock.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ClipPlayer.h"
#include "ComScope.h"
#include "FrameImage.h"
#include "FramePublisher.h"
#include "FrameStore.h"
#include "SharedMem.h"
#include "SoundBlock.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "UniqueAny.h"
#include "clip_pattern.h"
#include "peer_process.h"

namespace {

using cliptest::CFadeDecoder;
using cliptest::kBlack;
using cliptest::Seen;
using testing_support::PeerProcess;

// Section offsets (the size word comes first).
constexpr DWORD kFlagsAt = 8;
constexpr DWORD kWidthAt = 40;
constexpr DWORD kHeightAt = 44;
constexpr DWORD kPixelsAt = 76;

double NowMs() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

std::unique_ptr<CFrameImage> PatternFrame(int width, int height, BYTE seed) {
    auto image = std::make_unique<CFrameImage>(width, height, 24);
    for (DWORD i = 0; image->HasPixels() && i < image->GetImageSize(); ++i)
        image->GetBits()[i] = static_cast<BYTE>(i * 11 + seed);
    return image;
}

// This process creates the channel, as the capture program does when it starts first; the test
// starts and ends without one, so nothing left over decides who creates.
class PublisherChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ExpectNoChannel();
        ASSERT_TRUE(m_channel.Create(kChannelName, kChannelPayloadSize));
        StartPeer();
    }
    void TearDown() override {
        m_peer->Exit();
        m_channel.Close();
        ExpectNoChannel();
    }
    static void ExpectNoChannel() {
        win::UniqueHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kChannelName + 1));
        EXPECT_FALSE(section) << "a \"KLO_SHM\" section is left over";
    }
    void StartPeer() {
        m_peer = std::make_unique<PeerProcess>();
        ASSERT_EQ("ok", m_peer->Do("open"));
        ASSERT_EQ("ok", m_peer->Do("raw-open"));
    }
    // A pixel byte as the peer reads it.
    long long PeerPixel(DWORD offset) {
        return m_peer->Value("peek " + std::to_string(kPixelsAt + offset) + " 1");
    }

    CSharedMem m_channel;
    CFramePublisher m_publisher{&m_channel};
    std::unique_ptr<PeerProcess> m_peer;
};

// The reader in the other process sees the frame and FrameReady; a frame smaller than the last one
// leaves the zeroes of the format read behind it.
TEST_F(PublisherChannelTest, TheOtherProcessReadsTheOwnerTheFormatAndTheFrames) {
    const HWND window = CreateWindowExA(0, "STATIC", "publisher", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(m_publisher.RegisterOwner(window));
    EXPECT_EQ(1, m_peer->Value("owner-alive"));

    const auto full = PatternFrame(640, 480, 3);
    ASSERT_TRUE(m_publisher.PublishFrame(*full));
    // A client asks for 320 x 240 through SetFormat.
    EXPECT_EQ("ok", m_peer->Do("poke " + std::to_string(kWidthAt) + " 4 320"));
    EXPECT_EQ("ok", m_peer->Do("poke " + std::to_string(kHeightAt) + " 4 240"));
    EXPECT_EQ("ok",
              m_peer->Do("poke " + std::to_string(kFlagsAt) + " 4 " + std::to_string(kFormatFromSetFormat)));
    int width = 512;
    int height = 384;
    ASSERT_TRUE(m_publisher.ReadFormat(width, height));
    EXPECT_EQ(320, width);
    EXPECT_EQ(240, height);
    EXPECT_EQ(0, m_peer->Value("peek " + std::to_string(kFlagsAt) + " 4")) << "the format bit stays set";
    EXPECT_EQ(0, PeerPixel(0));
    EXPECT_EQ(0, PeerPixel(kChannelPixelBytes - 1));

    const auto small = PatternFrame(width, height, 5);
    ASSERT_EQ(230400u, small->GetImageSize());
    ASSERT_TRUE(m_publisher.PublishFrame(*small));
    EXPECT_EQ(kFrameReady, static_cast<uint32_t>(m_peer->Value("peek " + std::to_string(kFlagsAt) + " 4")));
    for (DWORD offset : {DWORD{0}, DWORD{1}, DWORD{1000}, DWORD{230399}})
        EXPECT_EQ(small->GetBits()[offset], PeerPixel(offset)) << "pixel byte " << offset;
    for (DWORD offset : {DWORD{230400}, DWORD{500000}, kChannelPixelBytes - 1})
        EXPECT_EQ(0, PeerPixel(offset)) << "pixel byte " << offset << " past the frame";
    DestroyWindow(window);
}

// Every access gives up after the channel's 50 ms while the other process holds the mutex, and
// changes nothing; one that dies holding it leaves it abandoned, which the next access takes.
TEST_F(PublisherChannelTest, AccessesGiveUpWhileTheOtherProcessHoldsTheMutex) {
    const auto frame = PatternFrame(160, 120, 9);
    EXPECT_EQ("ok", m_peer->Do("poke " + std::to_string(kWidthAt) + " 4 320"));
    EXPECT_EQ("ok", m_peer->Do("poke " + std::to_string(kHeightAt) + " 4 240"));
    EXPECT_EQ("ok",
              m_peer->Do("poke " + std::to_string(kFlagsAt) + " 4 " + std::to_string(kFormatFromConnection)));
    EXPECT_EQ("ok", m_peer->Do("poke " + std::to_string(kPixelsAt) + " 1 77"));
    ASSERT_EQ("ok", m_peer->Do("lock"));

    double start = NowMs();
    EXPECT_FALSE(m_publisher.PublishFrame(*frame));
    double took = NowMs() - start;
    EXPECT_GE(took, 45.0) << "gave up before the channel's 50 ms";
    EXPECT_LT(took, 2000.0) << "waited without bound";
    int width = 512;
    int height = 384;
    start = NowMs();
    EXPECT_FALSE(m_publisher.ReadFormat(width, height));
    took = NowMs() - start;
    EXPECT_LT(took, 2000.0) << "waited without bound";
    EXPECT_EQ(512, width);
    EXPECT_EQ(384, height);
    EXPECT_FALSE(m_publisher.RegisterOwner(GetDesktopWindow()));
    EXPECT_EQ(kFormatFromConnection,
              static_cast<uint32_t>(m_peer->Value("peek " + std::to_string(kFlagsAt) + " 4")))
        << "the format bit of a skipped read stays";
    EXPECT_EQ(77, PeerPixel(0));
    EXPECT_EQ(0, m_peer->Value("peek 4 4")) << "no owner window written";

    // Killed while holding it.
    m_peer->Kill();
    StartPeer();
    EXPECT_TRUE(m_publisher.PublishFrame(*frame)) << "an abandoned mutex is taken";
    EXPECT_EQ(frame->GetBits()[0], PeerPixel(0));
    EXPECT_TRUE(m_publisher.ReadFormat(width, height));
    EXPECT_EQ(320, width);
    EXPECT_EQ(240, height);
}

// While the other process writes nonsense into every header field, the size word included, the
// format read only ever yields sizes whose frame fits the pixel area, and nothing faults.
TEST_F(PublisherChannelTest, AHostileHeaderWriterYieldsOnlySizesThatFit) {
    std::atomic<bool> done{false};
    std::mutex mutex;
    std::vector<std::pair<int, int>> sizes;
    int reads = 0;
    const auto frame = PatternFrame(640, 480, 1);
    std::thread reader([&] {
        int width = 512;
        int height = 384;
        while (!done) {
            if (m_publisher.ReadFormat(width, height)) {
                std::lock_guard<std::mutex> hold(mutex);
                sizes.emplace_back(width, height);
                ++reads;
            }
            (void)m_publisher.PublishFrame(*frame); // whatever the header says
        }
    });
    EXPECT_EQ("ok", m_peer->Do("hostile 3000 12345", 60000));
    done = true;
    reader.join();
    EXPECT_GT(reads, 0) << "no format read got the channel";
    for (const auto& size : sizes) {
        BITMAPINFOHEADER bmi = {};
        bmi.biWidth = size.first;
        bmi.biHeight = size.second;
        bmi.biBitCount = 24;
        ASSERT_NE(0u, ChannelFrameBytes(bmi)) << size.first << " x " << size.second << " was taken";
    }
    // The writer ends with a sane zero header: the size stays as it last was.
    int width = 320;
    int height = 240;
    EXPECT_TRUE(m_publisher.ReadFormat(width, height));
    EXPECT_EQ(320, width);
    EXPECT_EQ(240, height);
}

// A sighting of the reader: when (its own clock), and what.
struct Sighting {
    double ms;
    Seen seen;
};

std::vector<Sighting> ParseSightings(const std::string& answer, const CFadeDecoder& decoder) {
    std::vector<Sighting> sightings;
    for (const testing_support::WatchSighting& w : testing_support::ParseWatch(answer))
        sightings.push_back({w.ms, decoder.Decode(w.bytes)});
    return sightings;
}

// A playback seen from the other process: the reader gets the frames the player published, in
// their order (it may miss one now and then: it polls, as the filter does), 60 a second, each clip
// frame for two of them whatever rate the ring runs at now, and the fade-out 10 ms a step.
TEST_F(PublisherChannelTest, AReaderInAnotherProcessSeesThePlaybackTickByTick) {
    const int width = 160;
    const int height = 120;
    const CFadeDecoder decoder(width, height);
    ASSERT_TRUE(decoder.Ready());

    // A clip cut from a 30-fps ring; the ring is then rebuilt for a 15-fps format.
    const auto source = cliptest::MakeClip(60, width, height, 0);
    const BITMAPINFOHEADER header = source->GetAt(0)->GetHeader()->bmiHeader;
    const RECT whole = {0, 0, width, height};
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(width, height, 2, 0, 30));
    store.ArmStop();
    for (int k = 0; k < 60; ++k)
        store.StoreFrame(source->GetAt(k)->GetBits(), source->GetAt(k)->GetImageSize(), &header, whole,
                         whole);
    CFrameArray clip;
    ASSERT_TRUE(store.CutInto(&clip));
    ASSERT_EQ(60, clip.GetSize());
    ASSERT_TRUE(store.Allocate(width, height, 2, 0, 15));

    win::ComScope com;
    const HWND window = CreateWindowExA(0, "STATIC", "player", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                        GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    CDirectSoundDevice device;
    CSoundPlayer output;
    ASSERT_TRUE(CreateSoundOutput(window, 100, device, output))
        << "no sound output on the bench; its PulseAudio null sink should be the default device";
    SoundBlock sound;
    sound.SetSize(200 * static_cast<int>(kSoundBlockBytes)); // longer than the picture

    struct Case {
        const char* name;
        const SoundBlock* sound;
    } cases[] = {{"paced by the sound output", &sound}, {"without sound, paced by the timer", nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::mutex mutex;
        std::vector<Seen> published;
        CClipPlayer player(&output, [&](const CFrameImage& image) {
            {
                std::lock_guard<std::mutex> hold(mutex);
                published.push_back(decoder.Decode(image.GetBits()));
            }
            (void)m_publisher.PublishFrame(image);
        });
        ASSERT_EQ("ok", m_peer->Do("watch-start 16"));
        ASSERT_TRUE(player.Start(&clip, c.sound, 0));
        for (int i = 0; i < 3000 && player.IsPlaying(); ++i)
            Sleep(10);
        ASSERT_FALSE(player.IsPlaying());
        ASSERT_TRUE(player.WaitForEnd(5000));
        Sleep(50);
        const std::vector<Sighting> seen = ParseSightings(m_peer->Do("watch-stop"), decoder);

        // Published in this process: 119 ticks of play, each clip frame on two, then 100 fades.
        ASSERT_EQ(119u + 100u, published.size());
        // Each sighting is a publish, in order.
        std::vector<size_t> at; // the publish each sighting is
        size_t next = 0;
        for (const Sighting& s : seen) {
            while (next < published.size() && !(published[next] == s.seen))
                ++next;
            ASSERT_LT(next, published.size()) << "the reader saw " << s.seen.Text() << " out of order";
            at.push_back(next++);
        }
        EXPECT_GE(seen.size(), published.size() * 8 / 10) << "the reader missed too many frames";

        // The reader's clock: the play part at 60 publishes a second, each clip frame shown for
        // 1/30 s; the fade-out's 99 steps at least 10 ms apart.
        size_t firstPlay = SIZE_MAX, lastPlay = 0, firstFade = SIZE_MAX, lastFade = 0;
        for (size_t i = 0; i < at.size(); ++i) {
            if (at[i] < 119) {
                firstPlay = std::min(firstPlay, i);
                lastPlay = i;
            } else {
                firstFade = std::min(firstFade, i);
                lastFade = i;
            }
        }
        ASSERT_LT(firstPlay, lastPlay);
        ASSERT_LT(firstFade, lastFade);
        const double rate =
            (at[lastPlay] - at[firstPlay]) * 1000.0 / (seen[lastPlay].ms - seen[firstPlay].ms);
        EXPECT_GT(rate, 40.0) << "publishes a second";
        EXPECT_LT(rate, 80.0) << "publishes a second";
        const double framesPerSecond = rate / 2;
        EXPECT_GT(framesPerSecond, 20.0) << "a 30-fps clip is not played at 15 after the format changed";
        const double step = (seen[lastFade].ms - seen[firstFade].ms) / (at[lastFade] - at[firstFade]);
        EXPECT_GE(step, 9.5) << "ms a fade-out step";
        EXPECT_LT(step, 50.0) << "ms a fade-out step";
        // The fade-in, as the reader saw it.
        for (size_t i = 0; i < seen.size() && at[i] < 50; ++i)
            EXPECT_EQ(static_cast<int>(100 - 2 * at[i]), seen[i].seen.percent) << "sighting " << i;
    }
    DestroyWindow(window);
}

} // namespace
