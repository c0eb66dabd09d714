// The capture press and the frame publisher across processes: the real Zarvex.exe capturing from
// the Zarvex Test Camera, ZarvexDevice.ax streaming what it publishes to device_client.exe, and a
// press that cannot complete.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ComScope.h"
#include "SharedMem.h"
#include "TestCameraIds.h"
#include "device_client_process.h"
#include "peer_process.h"
#include "registered_filters.h"
#include "resource.h"
#include "wait_until.h"
#include "zarvex_process.h"

using testing_support::ClientFrame;
using testing_support::DeviceClientProcess;
using testing_support::PeerProcess;
using testing_support::WaitUntil;
using testing_support::ZarvexProcess;

namespace {

void Press(const ZarvexProcess& zarvex) {
    PostMessageW(zarvex.Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(zarvex.Item(IDOK)));
}

// Closes the program as the close box does and waits for a clean end.
void CloseAndExpectExit(ZarvexProcess& zarvex, DWORD timeoutMs) {
    PostMessageW(zarvex.Window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(zarvex.WaitForExit(timeoutMs)) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(0u, zarvex.ExitCode());
}

// The test camera and ZarvexDevice registered for the test, each registration put back as the
// bench had it afterwards.
class PressSystemTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_TRUE(m_filters.Register());
    }

    // Zarvex.exe capturing from the test camera.
    void StartZarvex() {
        ASSERT_TRUE(m_zarvex.Start()) << m_zarvex.Failure();
        ASSERT_TRUE(WaitUntil([&] { return m_zarvex.ItemText(IDC_USED_MEMORY) == L"168 MB"; }, 10000))
            << "1019 shows " << testing::PrintToString(m_zarvex.ItemText(IDC_USED_MEMORY));
    }

    // A format announcement as the virtual camera sends it, with this size in the header.
    void Announce(WPARAM wParam, LONG width, LONG height) {
        CSharedMem channel;
        ASSERT_TRUE(channel.Open(kChannelName));
        ASSERT_TRUE(channel.Lock());
        SharedFrameHeader* header = channel.Header();
        ASSERT_TRUE(header);
        header->bmiHeader.biWidth = width;
        header->bmiHeader.biHeight = height;
        header->dwFlags |= kFormatFromSetFormat;
        ASSERT_TRUE(channel.Unlock());
        PostMessageW(m_zarvex.Window(), WM_CAMERA_FORMAT, wParam, 0);
    }

    // Waits until Zarvex has handled every message posted to it before this call.
    bool Settle() {
        DWORD_PTR result = 0;
        return PostMessageW(m_zarvex.Window(), WM_NULL, 0, 0) &&
               SendMessageTimeoutW(m_zarvex.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result) != 0 &&
               (Sleep(300), true); // a posted message is handled after a sent one: give it its turn
    }

    win::ComScope m_com;
    CRegisteredFilters m_filters;
    ZarvexProcess m_zarvex;
};

// The frames a client received are the test camera's, later ones with higher numbers, at size.
void ExpectLiveFrames(const DeviceClientProcess& client, long bytes) {
    long long first = -1, last = -1;
    int testcam = 0;
    for (const ClientFrame& f : client.Frames()) {
        SCOPED_TRACE("frame " + std::to_string(f.index));
        EXPECT_EQ(bytes, f.bytes);
        if (f.kind != "testcam")
            continue; // the placeholder or the blank frame before the first live one
        ++testcam;
        EXPECT_GE(f.number, last) << "numbers never go back";
        last = f.number;
        if (first < 0)
            first = f.number;
    }
    EXPECT_GE(testcam, 20) << client.Transcript();
    EXPECT_GT(last, first + 10) << "the numbers increase";
}

// With no camera at all nothing follows a press. The press is given up after three seconds
// without a frame: the exit button comes back, and the program closes.
TEST_F(PressSystemTest, APressWithNoCameraLeavesTheProgramClosable) {
    ASSERT_EQ(S_OK, m_filters.UnregisterCamera());
    ZarvexProcess& zarvex = m_zarvex;
    ASSERT_TRUE(zarvex.Start()) << zarvex.Failure();
    Press(zarvex);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(zarvex.Item(IDCANCEL)); }, 5000))
        << "the press did nothing";
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(zarvex.Item(IDCANCEL)) != FALSE; }, 15000))
        << "the exit button stayed disabled";
    EXPECT_TRUE(IsWindowEnabled(zarvex.Item(IDOK)));
    CloseAndExpectExit(zarvex, 15000);
}

// A format announcement while a press waits for its post seconds rebuilds the ring, so the press
// cannot complete: it is given up at once, and the program closes.
TEST_F(PressSystemTest, AFormatAnnouncementWhileArmedLeavesTheProgramClosable) {
    StartZarvex();
    Press(m_zarvex);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(m_zarvex.Item(IDCANCEL)); }, 5000))
        << "the press did nothing";
    Announce(kFormatAnnouncedBySetFormat, 320, 240);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(m_zarvex.Item(IDCANCEL)) != FALSE; }, 5000))
        << "the exit button stayed disabled";
    EXPECT_EQ(L"65 MB", m_zarvex.ItemText(IDC_USED_MEMORY));
    CloseAndExpectExit(m_zarvex, 15000);
}

// ZarvexDevice streaming to a client in another process: the client gets the live frames Zarvex
// stores, at the size its connection announced.
TEST_F(PressSystemTest, TheClientReceivesTheLiveFramesTheRingStores) {
    StartZarvex();
    DeviceClientProcess client(L"--size 512x384 --frames 60");
    ASSERT_EQ("format 512 384 24 333333", client.WaitForLine("format ")) << client.Transcript();
    ASSERT_TRUE(client.ReadToEnd(60000)) << client.Transcript();
    EXPECT_EQ("stopped 60", client.Lines().empty() ? "" : client.Lines().back()) << client.Transcript();
    ExpectLiveFrames(client, 589824);
    EXPECT_EQ(L"168 MB", m_zarvex.ItemText(IDC_USED_MEMORY));
    CloseAndExpectExit(m_zarvex, 15000);
}

// A client that chooses 320 x 240 with SetFormat: Zarvex rebuilds its ring at that size (1019
// follows) and the client gets live frames of 230400 bytes.
TEST_F(PressSystemTest, AClientChoosing320By240GetsLiveFramesOfThatSize) {
    StartZarvex();
    DeviceClientProcess client(L"--size 320x240 --frames 60");
    ASSERT_EQ("format 320 240 24 333333", client.WaitForLine("format ")) << client.Transcript();
    EXPECT_TRUE(WaitUntil([&] { return m_zarvex.ItemText(IDC_USED_MEMORY) == L"65 MB"; }, 10000))
        << "1019 shows " << testing::PrintToString(m_zarvex.ItemText(IDC_USED_MEMORY));
    ASSERT_TRUE(client.ReadToEnd(60000)) << client.Transcript();
    ExpectLiveFrames(client, 230400);
    CloseAndExpectExit(m_zarvex, 15000);
}

// What the header says reaches Zarvex only with wParam 1 or 2, and only as a size whose frame fits
// the pixel area; a hostile writer scribbling over the whole header meanwhile crashes nothing.
TEST_F(PressSystemTest, OnlyAnnouncedSizesThatFitAreTakenAndAHostileWriterCrashesNothing) {
    StartZarvex();
    struct Case {
        const char* name;
        WPARAM wParam;
        LONG width, height;
        const wchar_t* used;
    };
    const Case cases[] = {
        {"wParam 3", 3, 320, 240, L"168 MB"},
        {"SetFormat 320 x 240", kFormatAnnouncedBySetFormat, 320, 240, L"65 MB"},
        {"too wide", kFormatAnnouncedBySetFormat, 100000, 240, L"65 MB"},
        {"too tall", kFormatAnnouncedByConnection, 320, 100000, L"65 MB"},
        {"both at their largest", kFormatAnnouncedBySetFormat, 0x7FFFFFFF, 0x7FFFFFFF, L"65 MB"},
        {"one pixel over", kFormatAnnouncedBySetFormat, 640, 481, L"65 MB"},
        {"negative", kFormatAnnouncedBySetFormat, -640, -480, L"65 MB"},
        {"connection 640 x 480", kFormatAnnouncedByConnection, 640, 480, L"263 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Announce(c.wParam, c.width, c.height);
        ASSERT_TRUE(Settle());
        EXPECT_EQ(c.used, m_zarvex.ItemText(IDC_USED_MEMORY));
    }

    PeerProcess peer;
    ASSERT_EQ("ok", peer.Do("open"));
    // Announcements keep coming while the header is scribbled over.
    std::atomic<bool> done{false};
    std::thread announcer([&] {
        for (WPARAM w = 1; !done; w = 3 - w) {
            PostMessageW(m_zarvex.Window(), WM_CAMERA_FORMAT, w, 0);
            Sleep(20);
        }
    });
    EXPECT_EQ("ok", peer.Do("hostile 2000 20261210", 120000));
    done = true;
    announcer.join();
    peer.Exit();
    ASSERT_TRUE(Settle()) << "Zarvex no longer answers";
    EXPECT_TRUE(m_zarvex.IsRunning());
    Announce(kFormatAnnouncedBySetFormat, 512, 384);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(L"168 MB", m_zarvex.ItemText(IDC_USED_MEMORY)) << "Zarvex still takes sizes that fit";
    CloseAndExpectExit(m_zarvex, 15000);
}

} // namespace
