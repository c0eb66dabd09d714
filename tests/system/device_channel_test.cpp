// ZarvexDevice and a writer in another process (channel_peer.exe standing in for the capture
// program): numbered frames crossing the channel into a client graph, format announcements reaching
// the writer's window, a writer that fills the header with nonsense while the client streams, and
// a writer that goes away mid-stream.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "device_test_util.h"
#include "fake_input_pin.h"
#include "frame_kind.h"
#include "peer_process.h"
#include "wait_until.h"

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
        return testing_support::WaitUntil(
            [&] {
                const auto got = frames.Frames();
                return !got.empty() && WhichFrame(got.back(), {n}) == n;
            },
            3000, 10);
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

// The writer holds the channel mutex for longer than the reader waits (50 ms): the sample still
// goes out, with the last frame again instead of a copy, and the frame that was waiting keeps its
// FrameReady for the next sample. Driven through FillBuffer itself, on samples of the pin's own
// allocator.
TEST_F(DeviceChannelTest, ASampleDuringALongHeldLockRepeatsTheLastFrameAndLeavesTheNewOneWaiting) {
    PeerProcess peer;
    StartWriter(peer, false); // no window: the pin paints its placeholder as the first frame
    ASSERT_FALSE(HasFatalFailure());
    CTesk_Stream* pStream = nullptr;
    ComPtr<IBaseFilter> device = CreateDevice(&pStream);
    ASSERT_TRUE(device && pStream);
    CFakeInputPin client;
    ASSERT_EQ(S_OK, pStream->Connect(&client, nullptr));
    IMemAllocator* pAllocator = pStream->Allocator();
    ASSERT_NE(nullptr, pAllocator);
    ASSERT_EQ(S_OK, pAllocator->Commit());
    ASSERT_EQ(S_OK, pStream->OnThreadCreate()); // what the worker does first
    CChannelProbe probe;
    ASSERT_TRUE(probe.Open());

    // Fills a sample whose buffer starts as junk and returns what it shows.
    auto fill = [&](HRESULT* phr) {
        ComPtr<IMediaSample> sample;
        std::vector<BYTE> bytes;
        if (FAILED(pAllocator->GetBuffer(&sample, nullptr, nullptr, 0)))
            return bytes;
        BYTE* p = nullptr;
        EXPECT_EQ(S_OK, sample->GetPointer(&p));
        std::memset(p, 0xCD, static_cast<size_t>(sample->GetSize()));
        *phr = pStream->FillBuffer(sample.Get());
        bytes.assign(p, p + sample->GetActualDataLength());
        return bytes;
    };

    HRESULT hr = E_FAIL;
    std::vector<BYTE> first = fill(&hr);
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(kFrame160, first.size());
    EXPECT_TRUE(LookAtPlaceholder(first.data(), first.size(), 160, 120).Ok());

    ASSERT_EQ("ok", peer.Do("publish 7 160 120"));
    ASSERT_EQ("ok", peer.Do("lock"));
    hr = E_FAIL;
    const std::vector<BYTE> during = fill(&hr);
    EXPECT_EQ(S_OK, hr) << "delivered all the same";
    EXPECT_TRUE(during == first) << "the last frame again: no copy without the lock";
    ASSERT_EQ("ok", peer.Do("unlock"));

    std::unique_ptr<SharedFrameHeader> header = probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_EQ(kFrameReady, header->dwFlags & kFrameReady) << "the new frame still waits";
    const FrameIdentity waiting = IdentifyFrame(header->pixels, kFrame160, 160, 120);
    EXPECT_EQ(FrameKind::Pattern, waiting.kind);
    EXPECT_EQ(7u, waiting.number);

    hr = E_FAIL;
    const std::vector<BYTE> after = fill(&hr);
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(kFrame160, after.size());
    const FrameIdentity taken = IdentifyFrame(after.data(), after.size(), 160, 120);
    EXPECT_EQ(FrameKind::Pattern, taken.kind) << "the next sample takes it";
    EXPECT_EQ(7u, taken.number);
    header = probe.Snapshot();
    ASSERT_TRUE(header);
    EXPECT_EQ(0u, header->dwFlags & kFrameReady);

    EXPECT_EQ(S_OK, pAllocator->Decommit());
    EXPECT_EQ(S_OK, pStream->Disconnect());
    EXPECT_EQ(0u, FinalRelease(device));
    EXPECT_EQ(1, client.refs.load());
}

// A sample is filled when it leaves, not when its wait begins: a frame published while the sample
// waits for its time (a whole second here) is the one it carries.
TEST_F(DeviceChannelTest, ASampleCarriesTheFramePublishedWhileItWaited) {
    PeerProcess peer;
    StartWriter(peer, true);
    ASSERT_FALSE(HasFatalFailure());
    CTesk_Stream* pStream = nullptr;
    ComPtr<IBaseFilter> device = CreateDevice(&pStream);
    ASSERT_TRUE(device && pStream);
    ComPtr<IZarvexSettings> settings;
    ASSERT_EQ(S_OK, device.As(&settings));
    ASSERT_EQ(S_OK, settings->SetFrameRate(1.0));
    settings.Reset();
    CFakeInputPin client;
    ASSERT_EQ(S_OK, pStream->Connect(&client, nullptr));
    IMemAllocator* pAllocator = pStream->Allocator();
    ASSERT_NE(nullptr, pAllocator);
    ASSERT_EQ(S_OK, pAllocator->Commit());
    ASSERT_EQ(S_OK, pStream->OnThreadCreate());

    auto fillNumber = [&]() -> long long {
        ComPtr<IMediaSample> sample;
        if (FAILED(pAllocator->GetBuffer(&sample, nullptr, nullptr, 0)))
            return -2;
        BYTE* p = nullptr;
        EXPECT_EQ(S_OK, sample->GetPointer(&p));
        EXPECT_EQ(S_OK, pStream->FillBuffer(sample.Get()));
        const FrameIdentity id =
            IdentifyFrame(p, static_cast<size_t>(sample->GetActualDataLength()), 160, 120);
        return id.kind == FrameKind::Pattern ? static_cast<long long>(id.number) : -1;
    };
    ASSERT_EQ("ok", peer.Do("publish 1 160 120"));
    EXPECT_EQ(1, fillNumber()) << "the first sample leaves at once";

    // The next one is due a second later; frame 2 comes while it waits.
    std::string published;
    std::thread writer([&] {
        Sleep(20); // well inside the second: a slow machine still publishes before the sample leaves
        published = peer.Do("publish 2 160 120");
    });
    const long long carried = fillNumber();
    writer.join();
    ASSERT_EQ("ok", published);
    EXPECT_EQ(2, carried);

    EXPECT_EQ(S_OK, pAllocator->Decommit());
    EXPECT_EQ(S_OK, pStream->Disconnect());
    EXPECT_EQ(0u, FinalRelease(device));
    EXPECT_EQ(1, client.refs.load());
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

// The capture program goes while a client streams: killed outright, or its window gone as at its
// exit. Its last frame goes on repeating for a moment, then the placeholder takes over, and frames
// keep coming at the pin's rate; a new writer's frames are shown again as soon as it publishes.
TEST_F(DeviceChannelTest, WhenTheWritersWindowGoesThePlaceholderFollowsItsLastFrame) {
    enum class Goes { Killed, WindowDestroyed };
    const struct {
        const char* name;
        Goes how;
    } cases[] = {{"writer killed", Goes::Killed}, {"window destroyed", Goes::WindowDestroyed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto peer = std::make_unique<PeerProcess>();
        StartWriter(*peer, true);
        ASSERT_FALSE(HasFatalFailure());
        CTesk_Stream* pStream = nullptr;
        ComPtr<IBaseFilter> device = CreateDevice(&pStream);
        ASSERT_TRUE(device);
        CFrameRecorder frames;
        CClientGraph client;
        client.Build(device.Get(), &frames);
        ASSERT_FALSE(HasFatalFailure());
        const HRESULT hrRun = client.Run();
        ASSERT_TRUE(hrRun == S_OK || hrRun == S_FALSE) << std::hex << hrRun;

        auto identify = [](const CFrameRecorder::Frame& f) {
            return IdentifyFrame(f.bytes.data(), f.bytes.size(), 160, 120);
        };
        // Waits until the newest frame received satisfies pred.
        auto waitUntil = [&](auto pred) {
            return testing_support::WaitUntil(
                [&] {
                    const auto got = frames.Frames();
                    return !got.empty() && pred(identify(got.back()));
                },
                5000, 10);
        };
        ASSERT_EQ("ok", peer->Do("publish 7 160 120"));
        ASSERT_TRUE(waitUntil([](const FrameIdentity& id) { return id.kind == FrameKind::Pattern; }));
        const size_t goneAt = frames.Count();
        if (c.how == Goes::Killed)
            peer->Kill();
        else
            ASSERT_EQ("ok", peer->Do("destroy-window"));
        EXPECT_TRUE(waitUntil([](const FrameIdentity& id) { return id.kind == FrameKind::Placeholder; }))
            << "the placeholder never came";
        const size_t placeholderAt = frames.Count();
        ASSERT_TRUE(frames.WaitFor(placeholderAt + 5, 5000)) << "frames stopped after the placeholder";
        const auto after = frames.FramesFrom(goneAt);
        bool placeholder = false;
        for (const auto& f : after) {
            const FrameIdentity id = identify(f);
            ASSERT_TRUE(id.kind == FrameKind::Pattern || id.kind == FrameKind::Placeholder)
                << FrameKindName(id.kind);
            if (id.kind == FrameKind::Placeholder)
                placeholder = true;
            else
                EXPECT_FALSE(placeholder) << "the last frame again after the placeholder";
        }

        // A new writer takes the channel over.
        peer = std::make_unique<PeerProcess>();
        ASSERT_EQ("ok", peer->Do("open"));
        ASSERT_GT(peer->Value("window"), 0);
        ASSERT_EQ("ok", peer->Do("register-window"));
        ASSERT_EQ("ok", peer->Do("publish 9 160 120"));
        EXPECT_TRUE(waitUntil(
            [](const FrameIdentity& id) { return id.kind == FrameKind::Pattern && id.number == 9; }));
        client.Stop();
        peer->Exit();
        client.Release();
        EXPECT_EQ(0u, FinalRelease(device));
    }
}
