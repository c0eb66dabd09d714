// ZarvexDevice and a writer in another process (channel_peer.exe standing in for the capture
// program): numbered frames crossing the channel into a client graph, format announcements reaching
// the writer's window, and a writer that fills the header with nonsense while the client streams.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "device_test_util.h"
#include "frame_kind.h"
#include "peer_process.h"

using testing_support::PeerProcess;

namespace {

constexpr size_t kFrame160 = 160 * 120 * 3;

class DeviceChannelTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        m_settings.Clear();
    }
    void TearDown() override { EXPECT_FALSE(ChannelExists()) << "every side closed the channel"; }

    // The writer starts first, creates the channel and registers its window, as Zarvex does.
    void StartWriter(PeerProcess& peer, bool registerWindow) {
        ASSERT_EQ("ok", peer.Do("create"));
        if (registerWindow) {
            ASSERT_GT(peer.Value("window"), 0);
            ASSERT_EQ("ok", peer.Do("register-window"));
        }
    }

    win::ComScope m_com;
    CSavedFilterSettings m_settings;
};

// Which published frame a received one is: its number, 0 for an all-black frame, -1 for anything else.
long long WhichFrame(const CFrameRecorder::Frame& f, const std::vector<std::uint32_t>& published) {
    if (f.bytes.size() != kFrame160)
        return -1;
    const FrameIdentity id = IdentifyFrame(f.bytes.data(), f.bytes.size(), 160, 120);
    if (id.kind == FrameKind::Black)
        return 0;
    if (id.kind == FrameKind::Pattern &&
        std::find(published.begin(), published.end(), id.number) != published.end())
        return id.number;
    return -1;
}

} // namespace

TEST_F(DeviceChannelTest, TheClientReceivesExactlyThePublishedFramesAndRepeatsTheLast) {
    PeerProcess peer;
    StartWriter(peer, true);
    ASSERT_FALSE(HasFatalFailure());
    CTesk_Stream* pStream = nullptr;
    ComPtr<IBaseFilter> device = CreateDevice(&pStream);
    ASSERT_TRUE(device);
    ComPtr<IZarvexSettings> settings;
    ASSERT_EQ(S_OK, device.As(&settings));
    ASSERT_EQ(S_OK, settings->SetFrameRate(5.0)); // slow: each frame is sampled alone, then repeated
    settings.Reset();

    CFrameRecorder frames;
    CClientGraph client;
    client.Build(device.Get(), &frames);
    ASSERT_FALSE(HasFatalFailure());
    const HRESULT hrRun = client.Run();
    ASSERT_TRUE(hrRun == S_OK || hrRun == S_FALSE) << std::hex << hrRun;
    ASSERT_TRUE(frames.WaitFor(2, 5000)) << "frames flow";

    // A frame is published whole under the channel lock and copied whole under it, so whenever it
    // lands between samples, the next sample holds all of it.
    auto waitForFrame = [&](std::uint32_t n) {
        const DWORD start = GetTickCount();
        for (;;) {
            const auto got = frames.Frames();
            if (!got.empty() && WhichFrame(got.back(), {n}) == n)
                return true;
            if (GetTickCount() - start > 3000)
                return false;
            Sleep(10);
        }
    };
    for (std::uint32_t n = 1; n <= 3; ++n) {
        ASSERT_EQ("ok", peer.Do("publish " + std::to_string(n) + " 160 120"));
        EXPECT_TRUE(waitForFrame(n)) << "frame " << n << " arrives";
    }
    // Nothing new: the last frame repeats, whatever buffer the allocator hands out.
    const size_t repeatFrom = frames.Count();
    ASSERT_TRUE(frames.WaitFor(repeatFrom + 4, 5000));
    for (const auto& f : frames.FramesFrom(repeatFrom))
        EXPECT_EQ(3, WhichFrame(f, {3})) << "the last frame again";

    // Two frames under one lock hold: no sample can come between them, so only the second arrives.
    ASSERT_EQ("ok", peer.Do("publish-two 10 11 160 120"));
    EXPECT_TRUE(waitForFrame(11));
    client.Stop();

    const std::vector<std::uint32_t> published = {1, 2, 3, 10, 11};
    long long previous = 0;
    for (const auto& f : frames.Frames()) {
        const long long which = WhichFrame(f, published);
        ASSERT_EQ(static_cast<long>(kFrame160), f.length);
        ASSERT_NE(-1, which) << "a frame that is neither black nor exactly a published one";
        EXPECT_NE(10, which) << "the frame overwritten before the copy is never seen";
        EXPECT_GE(which, previous) << "frames never go backwards";
        previous = which;
    }
    client.Release();
    EXPECT_EQ(0u, FinalRelease(device));
}

TEST_F(DeviceChannelTest, FormatAnnouncementsReachTheWritersLiveWindowOnly) {
    PeerProcess peer;
    StartWriter(peer, true);
    ASSERT_FALSE(HasFatalFailure());
    CTesk_Stream* pStream = nullptr;
    ComPtr<IBaseFilter> device = CreateDevice(&pStream);
    ASSERT_TRUE(device);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, device.As(&config));
    CChannelProbe probe;
    ASSERT_TRUE(probe.Open());
    EXPECT_EQ("ok", peer.Do("messages")) << "nothing yet";

    MediaTypeHolder vga(NewRgb24Type(640, 480, 666666));
    ASSERT_EQ(S_OK, config->SetFormat(vga.p));
    EXPECT_EQ(666666, pStream->FrameTime());
    std::unique_ptr<SharedFrameHeader> header = probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_EQ(666666u, header->dwFrameInterval);
    EXPECT_EQ(640, header->bmiHeader.biWidth);
    EXPECT_EQ(480, header->bmiHeader.biHeight);
    EXPECT_EQ(kFormatFromSetFormat, header->dwFlags) << "no placeholder while the writer lives";
    EXPECT_EQ("ok 1:0", peer.Do("messages"));

    // Refused formats announce nothing.
    for (int bits : {32, 24}) {
        MediaTypeHolder bad(NewRgb24Type(bits == 24 ? 400 : 640, bits == 24 ? 300 : 480, 333333));
        reinterpret_cast<VIDEOINFOHEADER*>(bad.p->pbFormat)->bmiHeader.biBitCount = static_cast<WORD>(bits);
        EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(bad.p));
    }
    EXPECT_EQ("ok", peer.Do("messages"));
    EXPECT_EQ(666666, pStream->FrameTime());

    // A connection announces its format with wParam 2.
    ASSERT_TRUE(probe.Modify([](SharedFrameHeader& h) { h.dwFlags = 0; }));
    CFrameRecorder frames;
    {
        CClientGraph client;
        client.Build(device.Get(), &frames);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ("ok 2:0", peer.Do("messages"));
        header = probe.Snapshot();
        ASSERT_TRUE(header);
        EXPECT_EQ(kFormatFromConnection, header->dwFlags);

        // The writer's window dies (its process lives on): the next format gets no message and the
        // placeholder is painted at the new size instead.
        ASSERT_EQ("ok", peer.Do("destroy-window"));
        ASSERT_TRUE(probe.Modify([](SharedFrameHeader& h) { h.dwFlags = 0; }));
        MediaTypeHolder qvga(NewRgb24Type(320, 240, 333333));
        ASSERT_EQ(S_OK, config->SetFormat(qvga.p));
        EXPECT_EQ("ok", peer.Do("messages"));
        header = probe.Snapshot();
        ASSERT_TRUE(header);
        EXPECT_TRUE(header->dwFlags & kFormatFromSetFormat);
        EXPECT_TRUE(header->dwFlags & kFrameReady);
        EXPECT_EQ(320, header->bmiHeader.biWidth);
        EXPECT_TRUE(LookAtPlaceholder(header->pixels, kChannelPixelBytes, 320, 240).Ok());
    }
    config.Reset();
    EXPECT_EQ(0u, FinalRelease(device));
}

// A writer puts random and extreme values into every header field (sizes far beyond the pixel area,
// flags, owners that are no windows) a few thousand times while a client streams and the
// application keeps changing formats. The client's process must neither crash, overrun nor hang,
// and frames must keep flowing at the connection's size.
TEST_F(DeviceChannelTest, AHostileHeaderNeitherCrashesNorStallsTheClient) {
    PeerProcess peer;
    StartWriter(peer, false);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_GT(peer.Value("window"), 0); // an owner the nonsense sometimes points at
    CTesk_Stream* pStream = nullptr;
    ComPtr<IBaseFilter> device = CreateDevice(&pStream);
    ASSERT_TRUE(device);
    CFrameRecorder frames(16);
    CClientGraph client;
    client.Build(device.Get(), &frames);
    ASSERT_FALSE(HasFatalFailure());
    const HRESULT hrRun = client.Run();
    ASSERT_TRUE(hrRun == S_OK || hrRun == S_FALSE) << std::hex << hrRun;
    ASSERT_TRUE(frames.WaitFor(3, 5000));

    std::atomic<bool> stop{false};
    std::atomic<long> changes{0};
    ComPtr<IAMStreamConfig> config;
    ComPtr<IZarvexSettings> settings;
    ASSERT_EQ(S_OK, device.As(&config));
    ASSERT_EQ(S_OK, device.As(&settings));
    std::thread app([&] {
        win::ComScope com;
        for (int i = 0; !stop; ++i) {
            MediaTypeHolder format(NewRgb24Type(i % 2 ? 640 : 320, i % 2 ? 480 : 240, 333333 * (1 + i % 3)));
            (void)config->SetFormat(format.p); // while running the graph keeps its connection
            int size[2] = {160 + 4 * (i % 50), 120 + 2 * (i % 50)};
            (void)settings->SetSize(size);
            (void)settings->SetSelectPixel(i % 7);
            ++changes;
            Sleep(3);
        }
    });
    EXPECT_EQ("ok", peer.Do("hostile 3000 20240611", 120000));
    stop = true;
    app.join();
    const size_t after = frames.Count();
    EXPECT_TRUE(frames.WaitFor(after + 3, 5000)) << "frames still flow";
    client.Stop();
    std::printf("[ figures  ] %zu frames during %ld format changes and 3000 hostile rounds\n", frames.Count(),
                changes.load());
    for (const auto& f : frames.Frames())
        ASSERT_EQ(static_cast<long>(kFrame160), f.length) << "always the connection's frame size";
    config.Reset();
    settings.Reset();
    client.Release();
    EXPECT_EQ(0u, FinalRelease(device));
}
