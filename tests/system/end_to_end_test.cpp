// Zarvex end to end, as a user and another video application meet it: the Zarvex Test Camera in
// the real Zarvex.exe, driven through its window's controls by zxprobe, and device_client.exe
// streaming ZarvexDevice in a third process; then what happens when one of them goes wrong.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ComScope.h"
#include "TestCamStall.h"
#include "TestCameraIds.h"
#include "avi_test_clip.h"
#include "device_client_process.h"
#include "probe_process.h"
#include "registered_filters.h"
#include "resource.h"
#include "test_paths.h"
#include "zarvex_process.h"

using testing_support::ClientFrame;
using testing_support::DeviceClientProcess;
using testing_support::Probe;
using testing_support::ZarvexProcess;

namespace {

// One second kept before a press and one after, so that each clip takes moments to make and play.
constexpr char kShortClips[] = "[Settings]\r\nPreTime=1\r\nEndTime=1\r\nVideoDevice=Zarvex Test Camera\r\n";
// The ring's size in 1019 at 30 frames a second for those two seconds.
constexpr wchar_t kRing512[] = L"\"33 MB\""; // 60 frames of 512 x 384
constexpr wchar_t kRing320[] = L"\"13 MB\""; // 60 frames of 320 x 240

// Two seconds kept before a press and one after: the replay's fade-in (under a second) and fade-out
// (one second) leave a second of whole frames between them.
constexpr char kReplayClips[] = "[Settings]\r\nPreTime=2\r\nEndTime=1\r\nVideoDevice=Zarvex Test Camera\r\n";
constexpr int kPreSeconds = 2, kEndSeconds = 1, kFps = 30;
constexpr wchar_t kReplayRing512[] = L"\"50 MB\""; // 90 frames of 512 x 384
constexpr wchar_t kReplayRing320[] = L"\"19 MB\""; // 90 frames of 320 x 240

// Whether the program's dialog thread answers within the time.
bool Answers(const ZarvexProcess& zarvex, DWORD timeoutMs = 5000) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(zarvex.Window(), WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result) != 0;
}

// The newest sequence number among the test camera frames a client received, or -1.
long long LastLiveNumber(const DeviceClientProcess& client) {
    for (auto it = client.Frames().rbegin(); it != client.Frames().rend(); ++it)
        if (it->kind == "testcam")
            return it->number;
    return -1;
}

// Reads the client's lines until n more test camera frames than now have come.
bool WaitForLiveFrames(DeviceClientProcess& client, int n) {
    int seen = 0;
    return client.WaitForFrame([&](const ClientFrame& f) { return f.kind == "testcam" && ++seen >= n; });
}

// Reads the client's lines until a replay has come and gone: frames other than live ones, then
// n live frames again.
bool WaitForReplayAndLiveAgain(DeviceClientProcess& client, int n) {
    if (!client.WaitForFrame([](const ClientFrame& f) { return f.kind != "testcam"; }))
        return false;
    if (!client.WaitForFrame([](const ClientFrame& f) { return f.kind == "testcam"; }))
        return false;
    return WaitForLiveFrames(client, n - 1);
}

// What a client received from frame index from on, where a clip was double-clicked while live
// frames came, the press having been made at live number pressedAt: live frames, then the clip
// fading in from black, its frames whole and in order with the caption, the clip fading out to
// black, and live frames again, later than any of the clip's. Levels are judged against the live
// frames' own.
void ExpectReplayBetweenLiveFrames(const std::vector<ClientFrame>& frames, size_t from, long bytes,
                                   long long pressedAt) {
    std::vector<int> liveLevels;
    for (size_t i = 0; i < from; ++i)
        if (frames[i].kind == "testcam")
            liveLevels.push_back(frames[i].level);
    ASSERT_GE(liveLevels.size(), 5u);
    std::sort(liveLevels.begin(), liveLevels.end());
    const int live = liveLevels[liveLevels.size() / 2];
    ASSERT_GT(live, 50) << "the test camera's picture is bright";
    const auto share = [live](const ClientFrame& f) { return 100 * f.level / live; }; // percent

    size_t start = from;
    while (start < frames.size() && frames[start].kind == "testcam")
        ++start;
    size_t end = start;
    while (end < frames.size() && frames[end].kind != "testcam")
        ++end;
    ASSERT_LT(end, frames.size()) << "no live frames after the replay";
    size_t firstWhole = end, lastWhole = start;
    for (size_t i = start; i < end; ++i) {
        if (share(frames[i]) >= 95) {
            firstWhole = std::min(firstWhole, i);
            lastWhole = i;
        }
    }
    ASSERT_LT(firstWhole, end) << "no frame of the clip was shown whole";

    int fadingIn = 0, fadingOut = 0, black = 0;
    long long firstNumber = -1, lastNumber = -1, numbers = 0;
    for (size_t i = start; i < end; ++i) {
        const ClientFrame& f = frames[i];
        SCOPED_TRACE("frame " + std::to_string(f.index));
        EXPECT_EQ(bytes, f.bytes);
        // Frames too dark for the red to show are near black; every other one carries the caption.
        if (share(f) >= 15) {
            EXPECT_EQ("captioned", f.kind);
        }
        if (i < firstWhole) {
            EXPECT_TRUE(i == start || f.level >= frames[i - 1].level) << "the fade-in only brightens";
            fadingIn += share(f) >= 20 && share(f) <= 80;
        } else if (i <= lastWhole) {
            // A clip's last frame is black; a playback whose picture runs out before its sound (or
            // that has no sound) shows it just before the fade-out, which starts from the frame
            // before it.
            if (share(f) < 10) {
                ++black;
                continue;
            }
            EXPECT_GE(share(f), 90) << "whole frames between the fades";
            if (f.number >= 0) {
                EXPECT_GE(f.number, lastNumber) << "the clip's frames in order";
                if (firstNumber < 0)
                    firstNumber = f.number;
                numbers += f.number != lastNumber;
                lastNumber = f.number;
            }
        } else {
            EXPECT_LE(f.level, frames[i - 1].level) << "the fade-out only darkens";
            fadingOut += share(f) >= 20 && share(f) <= 80;
        }
    }
    EXPECT_LT(share(frames[start]), 10) << "the fade-in starts from black";
    EXPECT_GE(fadingIn, 5) << "a fade-in over several frames";
    EXPECT_GE(fadingOut, 5) << "a fade-out over several frames";
    EXPECT_LT(share(frames[end - 1]), 10) << "the fade-out ends in black";
    EXPECT_GE(numbers, kFps / 2) << "half a second of the clip's frames, each shown";
    EXPECT_LE(black, 3) << "no black frame between the fades but the clip's last";
    // The clip holds the seconds around the press; the live frames seen lag the camera a little.
    EXPECT_GE(firstNumber, pressedAt - kPreSeconds * kFps - 10);
    EXPECT_LE(lastNumber, pressedAt + kEndSeconds * kFps + 10);
    EXPECT_GT(frames[end].number, lastNumber) << "live again, later than the clip";
}

// The bench's per-program DLL overrides (HKCU\Software\Wine\AppDefaults\<program>\DllOverrides)
// with every sound driver turned off: a program of that file name finds no sound device at all,
// neither to capture from nor to play to, while everything else in the bench keeps its sound. The
// key goes with the object; a test that dies first leaves it behind for that one name only.
class CNoSoundFor {
public:
    explicit CNoSoundFor(const std::wstring& program) : m_key(L"Software\\Wine\\AppDefaults\\" + program) {
        win::UniqueRegKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (m_key + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return;
        m_ok = true;
        for (const wchar_t* driver : {L"winepulse.drv", L"winealsa.drv", L"wineoss.drv"}) // "": disabled
            m_ok = m_ok && RegSetValueExW(key.get(), driver, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""),
                                          sizeof(wchar_t)) == ERROR_SUCCESS;
    }
    ~CNoSoundFor() { (void)RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); } // nothing to do if absent
    CNoSoundFor(const CNoSoundFor&) = delete;
    CNoSoundFor& operator=(const CNoSoundFor&) = delete;

    bool ok() const { return m_ok; }

private:
    const std::wstring m_key;
    bool m_ok = false;
};

// The test camera and ZarvexDevice registered for the test, each registration put back as the
// bench had it afterwards; the device's own settings at their defaults.
class EndToEndTest : public testing::Test {
protected:
    void SetUp() override {
        // S_FALSE when an earlier test left COM on this thread: Wine's AVIFileExit does not undo
        // the OLE initialisation of AVIFileInit (ReadAvi). The apartment is the same either way.
        ASSERT_TRUE(SUCCEEDED(m_com.hr())) << std::hex << m_com.hr();
        ASSERT_TRUE(m_filters.Register());
    }

    // Zarvex.exe with these settings, capturing from the test camera once its ring is built.
    static void StartZarvex(ZarvexProcess& zarvex, const char* settings, const wchar_t* ring) {
        ASSERT_TRUE(testing_support::WriteFileBytes(zarvex.IniPath(), settings));
        ASSERT_TRUE(zarvex.Start()) << zarvex.Failure();
        ASSERT_TRUE(Probe(std::wstring(L"wait-text Zarvex 1019 ") + ring));
    }

    // The capture button, and the clip it makes appearing as list item count.
    static void PressForClip(int count) {
        ASSERT_TRUE(Probe(L"click Zarvex 1"));
        ASSERT_TRUE(Probe(L"wait-count Zarvex 1000 " + std::to_wstring(count) + L" 30000"))
            << "the press made no clip";
        ASSERT_TRUE(Probe(L"wait-enabled Zarvex 2 1"));
    }

    static void CloseAndExpectExit(ZarvexProcess& zarvex) {
        ASSERT_TRUE(Probe(L"close Zarvex"));
        ASSERT_TRUE(zarvex.WaitForExit(15000)) << "the program did not end";
        EXPECT_EQ(0u, zarvex.ExitCode());
    }

    win::ComScope m_com;
    CRegisteredFilters m_filters;
};

// The whole way through, as a user and a video application see it: the client gets live frames,
// a press makes a clip, and the clip played back reaches the client with its caption between a
// fade-in and a fade-out, live frames following. A client that switches to 320 x 240 makes Zarvex
// rebuild its ring at that size, and the next clip plays at it.
TEST_F(EndToEndTest, LiveFramesThenAClipReplayedWithItsCaptionAndFadesAtEitherSize) {
    ZarvexProcess zarvex;
    StartZarvex(zarvex, kReplayClips, kReplayRing512);
    ASSERT_FALSE(HasFatalFailure());
    const struct {
        const wchar_t* args;
        long bytes;
        const wchar_t* ring;
    } clients[] = {{L"--size 512x384", 589824, kReplayRing512}, {L"--size 320x240", 230400, kReplayRing320}};
    for (int clip = 0; clip < 2; ++clip) {
        SCOPED_TRACE("clip " + std::to_string(clip + 1));
        DeviceClientProcess client(clients[clip].args);
        ASSERT_TRUE(Probe(std::wstring(L"wait-text Zarvex 1019 ") + clients[clip].ring))
            << "the ring is at the client's size";
        // Live: the camera's numbers, going up. Long enough for the ring to fill before the press.
        ASSERT_TRUE(WaitForLiveFrames(client, (kPreSeconds + kEndSeconds) * kFps)) << client.Transcript();
        long long first = -1, previous = -1;
        for (const ClientFrame& f : client.Frames()) {
            if (f.kind != "testcam")
                continue; // the blank frame of a rebuilt ring, before the first live one
            EXPECT_EQ(clients[clip].bytes, f.bytes);
            EXPECT_GE(f.number, previous);
            previous = f.number;
            if (first < 0)
                first = f.number;
        }
        EXPECT_GT(previous, first + kFps) << client.Transcript();

        const long long pressedAt = LastLiveNumber(client);
        PressForClip(clip + 1);
        ASSERT_FALSE(HasFatalFailure());
        const size_t playedFrom = client.Frames().size();
        ASSERT_TRUE(Probe(L"dblclick Zarvex 1000 " + std::to_wstring(clip)));
        ASSERT_TRUE(WaitForReplayAndLiveAgain(client, 5)) << client.Transcript();
        client.Stop();
        ExpectReplayBetweenLiveFrames(client.Frames(), playedFrom, clients[clip].bytes, pressedAt);
        if (HasFailure())
            std::printf("what the client received:\n%s", client.Transcript().c_str());
    }
    CloseAndExpectExit(zarvex);
}

// A client killed mid-stream takes nothing of Zarvex with it: the program answers, its press makes
// a clip, and the next client gets the camera's frames where the first left off.
TEST_F(EndToEndTest, AClientKilledMidStreamLeavesZarvexRunningForTheNext) {
    ZarvexProcess zarvex;
    StartZarvex(zarvex, kShortClips, kRing512);
    ASSERT_FALSE(HasFatalFailure());
    long long killedAt = -1;
    {
        DeviceClientProcess client(L"--size 512x384");
        ASSERT_TRUE(WaitForLiveFrames(client, 10)) << client.Transcript();
        killedAt = LastLiveNumber(client);
        client.Process().Kill();
    }
    ASSERT_TRUE(Answers(zarvex)) << "Zarvex stopped answering";
    PressForClip(1);
    ASSERT_FALSE(HasFatalFailure());

    DeviceClientProcess next(L"--size 512x384");
    ASSERT_TRUE(WaitForLiveFrames(next, 10)) << next.Transcript();
    next.Stop();
    EXPECT_GT(LastLiveNumber(next), killedAt + 30) << "the camera ran on in Zarvex meanwhile";
    CloseAndExpectExit(zarvex);
}

// Zarvex killed while a client streams: the client is not held up. Its frames keep coming, the
// last live one, then the placeholder; a new Zarvex takes the channel over at the client's size,
// and the client shows live frames again without reconnecting.
TEST_F(EndToEndTest, ZarvexKilledWhileAClientStreamsLeavesThePlaceholderUntilTheNextTakesOver) {
    ZarvexProcess first;
    StartZarvex(first, kShortClips, kRing512);
    ASSERT_FALSE(HasFatalFailure());
    DeviceClientProcess client(L"--size 320x240");
    ASSERT_TRUE(WaitForLiveFrames(client, 10)) << client.Transcript();
    ASSERT_TRUE(Probe(std::wstring(L"wait-text Zarvex 1019 ") + kRing320)) << "the ring follows the client";
    first.Kill();

    // Lines read from here on may still be from before the kill; the order is what tells.
    const size_t readAt = client.Frames().size();
    ASSERT_TRUE(client.WaitForFrame([](const ClientFrame& f) { return f.kind == "placeholder"; }))
        << client.Transcript();
    const size_t placeholderAt = client.Frames().size();
    ASSERT_TRUE(client.WaitForFrame(
        [&](const ClientFrame& f) { return f.index >= static_cast<long>(placeholderAt) + 15; }, 5000))
        << "frames stopped coming" << client.Transcript();
    long long previous = -1;
    for (size_t i = readAt; i < client.Frames().size(); ++i) {
        const ClientFrame& f = client.Frames()[i];
        SCOPED_TRACE("frame " + std::to_string(f.index));
        EXPECT_EQ(230400, f.bytes);
        if (i + 1 < placeholderAt) {
            ASSERT_EQ("testcam", f.kind) << "live frames, the last of them repeating, until the placeholder";
            EXPECT_GE(f.number, previous);
            previous = f.number;
        } else {
            EXPECT_EQ("placeholder", f.kind) << "the placeholder stays";
        }
    }

    ZarvexProcess second;
    StartZarvex(second, kShortClips, kRing320);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(WaitForLiveFrames(client, 10)) << client.Transcript();
    client.Stop();
    CloseAndExpectExit(second);
}

// No sound device at all, neither to capture from nor to play to: the press still makes a clip,
// the clip plays at its own pace (the player's timer stands in for the sound output) with its
// caption and fades, and it is saved as video alone.
TEST_F(EndToEndTest, WithoutAnySoundDeviceClipsAreMadePlayedAndSavedWithoutSound) {
    const CNoSoundFor mute(L"ZarvexMute.exe");
    ASSERT_TRUE(mute.ok()) << "the per-program overrides cannot be written";
    ZarvexProcess zarvex(L"ZarvexMute");
    StartZarvex(zarvex, kReplayClips, kReplayRing512);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(0, SendMessageW(zarvex.Item(IDC_SOUND_DEVICE), CB_GETCOUNT, 0, 0))
        << "a sound device is listed";
    EXPECT_FALSE(IsWindowEnabled(zarvex.Item(IDC_SOUND_DEVICE)));

    DeviceClientProcess client(L"--size 512x384");
    ASSERT_TRUE(WaitForLiveFrames(client, (kPreSeconds + kEndSeconds) * kFps)) << client.Transcript();
    const long long pressedAt = LastLiveNumber(client);
    PressForClip(1);
    ASSERT_FALSE(HasFatalFailure());
    const size_t playedFrom = client.Frames().size();
    ASSERT_TRUE(Probe(L"dblclick Zarvex 1000 0"));
    ASSERT_TRUE(WaitForReplayAndLiveAgain(client, 5)) << client.Transcript();
    client.Stop();
    ExpectReplayBetweenLiveFrames(client.Frames(), playedFrom, 589824, pressedAt);
    if (HasFailure())
        std::printf("what the client received:\n%s", client.Transcript().c_str());

    const std::wstring folder = testing_support::MakeTempFolder(L"mute");
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"mute.avi";
    ASSERT_TRUE(Probe(L"click Zarvex 4"));
    ASSERT_TRUE(Probe(L"save-as Zarvex \"" + path + L"\""));
    ASSERT_TRUE(Probe(L"confirm Zarvex"));
    // The file is written on the dialog's thread: once the dialog answers, it is whole.
    ASSERT_TRUE(Answers(zarvex, 30000)) << "Zarvex did not come back from the save";
    const avi_test::AviFile file = avi_test::ReadAvi(std::string(path.begin(), path.end()));
    ASSERT_EQ(S_OK, file.hrOpen);
    EXPECT_EQ(1u, file.streamCount) << "video alone";
    const avi_test::AviStream* video = file.Find(streamtypeVIDEO);
    ASSERT_NE(nullptr, video);
    EXPECT_EQ(static_cast<size_t>((kPreSeconds + kEndSeconds) * kFps), video->samples.size());
    EXPECT_EQ(nullptr, file.Find(streamtypeAUDIO));
    CloseAndExpectExit(zarvex);
    testing_support::RemoveFolder(folder);
}

// The camera stops delivering, as one does whose cable works loose or whose driver hangs: Zarvex
// keeps answering, the client keeps getting the last picture, and a press that no frame follows
// is given up after a few seconds instead of holding the controls for ever. Once the camera goes
// on, the next press makes its clip; and Zarvex closes normally in the middle of a stall.
TEST_F(EndToEndTest, ACameraThatStopsDeliveringLeavesZarvexUsableAndClosable) {
    ZarvexProcess zarvex;
    StartZarvex(zarvex, kShortClips, kRing512);
    ASSERT_FALSE(HasFatalFailure());
    DeviceClientProcess client(L"--size 512x384");
    ASSERT_TRUE(WaitForLiveFrames(client, 10)) << client.Transcript();

    CTestCamStall stall(CLSID_ZarvexTestCamera);
    ASSERT_TRUE(stall.Begin()) << "error " << GetLastError();
    ASSERT_TRUE(Probe(L"click Zarvex 1"));
    ASSERT_TRUE(Probe(L"wait-enabled Zarvex 2 0 5000")) << "the press did nothing";
    ASSERT_TRUE(Probe(L"wait-enabled Zarvex 2 1 15000")) << "the press held the controls";
    EXPECT_TRUE(Probe(L"wait-count Zarvex 1000 0 1000")) << "a clip without frames";
    ASSERT_TRUE(Answers(zarvex));
    // Frames still come; past the few in flight when the stall began, all the same last picture.
    const size_t stalledAt = client.Frames().size();
    ASSERT_TRUE(client.WaitForFrame(
        [&](const ClientFrame& f) { return f.index >= static_cast<long>(stalledAt) + 20; }, 5000))
        << "frames stopped coming" << client.Transcript();
    const long long held = client.Frames().back().number;
    for (size_t i = stalledAt; i < client.Frames().size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(client.Frames()[i].index));
        EXPECT_EQ("testcam", client.Frames()[i].kind);
        EXPECT_EQ(held, client.Frames()[i].number);
    }

    stall.End();
    ASSERT_TRUE(client.WaitForFrame([&](const ClientFrame& f) {
        return f.kind == "testcam" && f.number > held;
    })) << "the camera did not go on"
        << client.Transcript();
    PressForClip(1);
    ASSERT_FALSE(HasFatalFailure());

    ASSERT_TRUE(stall.Begin());
    Sleep(10 * kTestCamStallPollMs); // the camera sees the stall at its next frame
    CloseAndExpectExit(zarvex);
    client.Stop();
}

} // namespace
