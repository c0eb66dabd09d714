// ZarvexDevice.ax as other programs use it: registered in the bench, found by name through the
// system device enumerator by device_client.exe in its own process, given a size with SetFormat,
// and streamed into that client's graph. The writer is nobody (the placeholder), channel_peer.exe
// publishing numbered frames, or, for comparison, the Zarvex Test Camera is the device itself.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComScope.h"
#include "TestCameraIds.h"
#include "device_client_process.h"
#include "device_test_util.h"
#include "module_library.h"
#include "peer_process.h"

using testing_support::ClientFrame;
using testing_support::DeviceClientProcess;
using testing_support::PeerProcess;

namespace {

// The seven sizes the device offers, in its order.
const SIZE kDeviceSizes[] = {{160, 120}, {320, 180}, {320, 240}, {512, 288},
                             {512, 384}, {640, 360}, {640, 480}};

long FrameBytes(SIZE size) {
    return ((size.cx * 24 + 31) / 32) * 4 * size.cy;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::string SizeText(SIZE size) {
    return std::to_string(size.cx) + "x" + std::to_string(size.cy);
}

// The device registered for the test (as regsvr32 would), and the prefix's registration of it put
// back afterwards; no frame channel before or after.
class DeviceClientTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        ASSERT_TRUE(m_module.Loaded()) << "ZarvexDevice.ax must sit beside the test";
        ASSERT_EQ(S_OK, m_module.RegisterServer());
        m_settings.Clear();
    }
    void TearDown() override { EXPECT_FALSE(ChannelExists()) << "every side closed the channel"; }

    win::ComScope m_com;
    CModuleLibrary m_module{L"ZarvexDevice.ax"};
    CRegistrationKeeper m_registration{m_module, L"ZarvexDevice"};
    CSavedFilterSettings m_settings;
};

} // namespace

TEST_F(DeviceClientTest, FindsTheCameraByNameAndListsItsSevenSizes) {
    DeviceClientProcess client(L"--list");
    ASSERT_TRUE(client.ReadToEnd());
    const std::vector<std::string>& lines = client.Lines();
    ASSERT_EQ(8u, lines.size()) << client.Transcript();
    EXPECT_EQ("device ZarvexDevice", lines[0]);
    for (size_t i = 0; i < std::size(kDeviceSizes); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ("caps " + std::to_string(i) + " " + std::to_string(kDeviceSizes[i].cx) + " " +
                      std::to_string(kDeviceSizes[i].cy) + " 333333 10000000",
                  lines[i + 1]);
    }
    EXPECT_TRUE(client.Process().WaitForExit(5000));
    EXPECT_EQ(0u, client.Process().ExitCode());
}

// Nobody writes: whichever size the client sets, through whichever graph path, every frame it gets
// is the placeholder at that size, and the channel's header carries the client's choice.
TEST_F(DeviceClientTest, WithoutAWriterEveryNegotiatedSizeShowsThePlaceholder) {
    const struct {
        SIZE size;
        const char* path;
        bool newFormat; // the device starts at 160 x 120: setting that again announces nothing
    } cases[] = {
        {{160, 120}, "direct", false},
        {{320, 240}, "capture", true},
        {{512, 288}, "direct", true},
        {{640, 480}, "preview", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(SizeText(c.size) + " " + c.path);
        {
            DeviceClientProcess client(L"--size " + Widen(SizeText(c.size)) + L" --path " + Widen(c.path));
            EXPECT_EQ("device ZarvexDevice", client.WaitForLine("device ")) << client.Transcript();
            EXPECT_EQ("format " + std::to_string(c.size.cx) + " " + std::to_string(c.size.cy) + " 24 333333",
                      client.WaitForLine("format "))
                << client.Transcript();
            ASSERT_NE("", client.WaitForLine("running")) << client.Transcript();

            // The filter in the client's process created the channel; look at it as Zarvex would.
            CChannelProbe probe;
            ASSERT_TRUE(probe.Open());
            std::unique_ptr<SharedFrameHeader> header = probe.Snapshot();
            ASSERT_TRUE(header);
            EXPECT_EQ(c.size.cx, header->bmiHeader.biWidth);
            EXPECT_EQ(c.size.cy, header->bmiHeader.biHeight);
            EXPECT_EQ(static_cast<DWORD>(FrameBytes(c.size)), header->bmiHeader.biSizeImage);
            EXPECT_EQ(333333u, header->dwFrameInterval);
            EXPECT_EQ(c.newFormat, (header->dwFlags & kFormatFromSetFormat) != 0);
            EXPECT_TRUE(header->dwFlags & kFormatFromConnection);

            EXPECT_TRUE(client.WaitForFrame([](const ClientFrame& f) { return f.index >= 4; }))
                << "frames flow" << client.Transcript();
            client.Stop();
            for (const ClientFrame& f : client.Frames()) {
                SCOPED_TRACE("frame " + std::to_string(f.index));
                EXPECT_EQ(FrameBytes(c.size), f.bytes);
                EXPECT_EQ("placeholder", f.kind);
            }
        }
        EXPECT_FALSE(ChannelExists()) << "the client's end closed the channel";
    }
}

// The writer (channel_peer.exe, standing in for Zarvex) starts first and registers its window. The
// client's size reaches it as a header and two messages; its numbered frames reach the client in
// order, each whole, and two frames published under one lock hold come through as the second.
TEST_F(DeviceClientTest, TheWritersFramesReachTheClientAtTheSizeItChose) {
    PeerProcess peer;
    ASSERT_EQ("ok", peer.Do("create"));
    ASSERT_GT(peer.Value("window"), 0);
    ASSERT_EQ("ok", peer.Do("register-window"));
    ASSERT_EQ("ok", peer.Do("raw-open"));

    DeviceClientProcess client(L"--size 320x240 --path preview");
    ASSERT_EQ("format 320 240 24 333333", client.WaitForLine("format ")) << client.Transcript();
    ASSERT_NE("", client.WaitForLine("running")) << client.Transcript();
    EXPECT_EQ("ok 1:0 2:0", peer.Do("messages")) << "SetFormat, then the connection";
    EXPECT_EQ(320, peer.Value("peek 40 4")) << "biWidth";
    EXPECT_EQ(240, peer.Value("peek 44 4")) << "biHeight";
    EXPECT_EQ(230400, peer.Value("peek 56 4")) << "biSizeImage";

    auto waitForNumber = [&](long long n) {
        return client.WaitForFrame(
            [n](const ClientFrame& f) { return f.kind == "pattern" && f.number == n; });
    };
    for (long long n = 1; n <= 3; ++n) {
        ASSERT_EQ("ok", peer.Do("publish " + std::to_string(n) + " 320 240"));
        EXPECT_TRUE(waitForNumber(n)) << "frame " << n << client.Transcript();
    }
    // Nothing new: the last frame repeats.
    const size_t repeatFrom = client.Frames().size();
    EXPECT_TRUE(client.WaitForFrame(
        [&](const ClientFrame& f) { return f.index >= static_cast<long>(repeatFrom) + 3; }));
    for (size_t i = repeatFrom; i < client.Frames().size(); ++i) {
        EXPECT_EQ("pattern", client.Frames()[i].kind);
        EXPECT_EQ(3, client.Frames()[i].number) << "the last frame again";
    }
    ASSERT_EQ("ok", peer.Do("publish-two 10 11 320 240"));
    EXPECT_TRUE(waitForNumber(11)) << client.Transcript();
    client.Stop();

    long long previous = 0;
    for (const ClientFrame& f : client.Frames()) {
        SCOPED_TRACE("frame " + std::to_string(f.index));
        EXPECT_EQ(230400, f.bytes);
        ASSERT_TRUE(f.kind == "black" || f.kind == "pattern")
            << f.kind << ": neither the blank channel nor exactly a published frame";
        if (f.kind == "black") {
            EXPECT_EQ(0, previous) << "black only before the first frame";
            continue;
        }
        EXPECT_NE(10, f.number) << "the frame overwritten under the same lock hold is never seen";
        EXPECT_GE(f.number, previous) << "frames never go backwards";
        previous = f.number;
    }
    EXPECT_EQ(11, previous);
}

// The client is no special friend of ZarvexDevice: given the test camera, it reports the camera's
// own frame numbers, each one after the other.
TEST_F(DeviceClientTest, TheClientReadsTheTestCamerasSequenceNumbers) {
    CModuleLibrary camera(L"ZarvexTestCamera.ax");
    ASSERT_TRUE(camera.Loaded());
    CRegistrationKeeper keeper(camera, TESTCAM_FRIENDLY_NAME);
    ASSERT_EQ(S_OK, camera.RegisterServer());

    DeviceClientProcess client(L"--device \"Zarvex Test Camera\" --size 160x120 --frames 20");
    ASSERT_TRUE(client.ReadToEnd(30000)) << client.Transcript();
    EXPECT_EQ("stopped 20", client.Lines().empty() ? "" : client.Lines().back()) << client.Transcript();
    EXPECT_TRUE(client.Process().WaitForExit(5000));
    EXPECT_EQ(0u, client.Process().ExitCode()) << client.Transcript();
    ASSERT_EQ(20u, client.Frames().size());
    for (size_t i = 0; i < client.Frames().size(); ++i) {
        const ClientFrame& f = client.Frames()[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(static_cast<long>(i), f.index);
        EXPECT_EQ(57600, f.bytes);
        ASSERT_EQ("testcam", f.kind);
        if (i > 0) {
            EXPECT_EQ(client.Frames()[i - 1].number + 1, f.number) << "no frame lost or repeated";
        }
    }
}

// What the client cannot do it says in one line and a failing exit code, and leaves.
TEST_F(DeviceClientTest, TheClientReportsWhatItCannotDo) {
    const struct {
        const wchar_t* args;
        const char* lastLine; // "" for none
        DWORD exitCode;
    } cases[] = {
        {L"--device \"No Such Camera\"", "error device-not-found 0x80070490", 1},
        {L"--size 400x300", "error set-format 0x80070057", 1},
        {L"--path sideways", "", 2},
        {L"--frames", "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.args, c.args + wcslen(c.args)));
        DeviceClientProcess client(c.args);
        ASSERT_TRUE(client.ReadToEnd());
        EXPECT_TRUE(client.Process().WaitForExit(5000));
        EXPECT_EQ(c.exitCode, client.Process().ExitCode());
        if (c.lastLine[0]) {
            ASSERT_FALSE(client.Lines().empty());
            EXPECT_EQ(c.lastLine, client.Lines().back());
        } else {
            // The usage goes to the client's error output, which shares the one pipe.
            ASSERT_FALSE(client.Lines().empty());
            EXPECT_EQ(0u, client.Lines().front().rfind("usage: device_client", 0));
        }
    }
}
