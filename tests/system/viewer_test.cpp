// ZarvexViewer.exe (tools/viewer) as a person or a script uses it: started against ZarvexDevice,
// registered in the bench, it shows (and saves as snapshots) exactly what the device delivers: the
// numbered frames channel_peer.exe publishes, or the placeholder when nobody writes, at the size it
// asked for. What it cannot do it says at once, with an exit code of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ComScope.h"
#include "Utf8.h"
#include "ViewerProtocol.h"
#include "child_process.h"
#include "device_test_util.h"
#include "frame_kind.h"
#include "module_library.h"
#include "peer_process.h"
#include "probe_process.h"
#include "test_paths.h"

using testing_support::ChildProcess;
using testing_support::PeerProcess;
using testing_support::ProbeRun;
using testing_support::RunProbe;

namespace {

// Generous: a Wine process start alone may take seconds on a busy machine.
constexpr DWORD kTimeoutMs = 30000;

// A 24-bit BMP file as a reader that never saw the viewer's code would take it: the headers must
// agree with each other and with the file's length.
struct Bmp {
    bool ok = false;
    int width = 0, height = 0;
    std::string pixels; // bottom-up rows

    FrameIdentity Identify() const {
        return IdentifyFrame(reinterpret_cast<const BYTE*>(pixels.data()), pixels.size(), width, height);
    }
};

Bmp ReadBmp(const std::wstring& path) {
    Bmp bmp;
    const std::string bytes = testing_support::ReadFileBytes(path);
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    if (bytes.size() < sizeof file + sizeof info)
        return bmp;
    std::memcpy(&file, bytes.data(), sizeof file);
    std::memcpy(&info, bytes.data() + sizeof file, sizeof info);
    const size_t stride = ((static_cast<size_t>(info.biWidth) * 24 + 31) / 32) * 4;
    if (file.bfType != 0x4D42 || file.bfSize != bytes.size() || info.biSize != sizeof info ||
        info.biPlanes != 1 || info.biBitCount != 24 || info.biCompression != BI_RGB || info.biWidth <= 0 ||
        info.biHeight <= 0 || file.bfOffBits < sizeof file + sizeof info ||
        bytes.size() != file.bfOffBits + stride * static_cast<size_t>(info.biHeight))
        return bmp;
    bmp.ok = true;
    bmp.width = info.biWidth;
    bmp.height = info.biHeight;
    bmp.pixels = bytes.substr(file.bfOffBits);
    return bmp;
}

// The periodic snapshots in a folder, oldest first (their names count up).
std::vector<std::wstring> Snapshots(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const win::UniqueFindHandle search(FindFirstFileW((folder + L"snapshot-*.bmp").c_str(), &found));
    if (search) {
        do
            names.push_back(folder + found.cFileName);
        while (FindNextFileW(search.get(), &found));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// One viewer process with its output read line by line.
class CViewerProcess {
public:
    explicit CViewerProcess(const std::wstring& args) {
        ChildProcess::Options options;
        options.args = args;
        options.pipes = true;
        if (!m_process.Start(testing_support::BinDir() + L"ZarvexViewer.exe", options))
            ADD_FAILURE() << m_process.Error();
        m_process.CloseInput();
    }

    // The first line (from now on) that begins with prefix, or "" on time-out or end of output.
    std::string WaitForLine(const std::string& prefix, DWORD timeoutMs = kTimeoutMs) {
        const ULONGLONG start = GetTickCount64();
        std::string line;
        while (GetTickCount64() - start < timeoutMs &&
               m_process.ReadLine(&line, static_cast<DWORD>(timeoutMs - (GetTickCount64() - start)))) {
            m_lines.push_back(line);
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        return std::string();
    }
    // Waits for the viewer to leave and reads the rest of its output; its exit code, or
    // STILL_ACTIVE when it did not leave in time.
    DWORD Finish(DWORD timeoutMs = kTimeoutMs) {
        if (!m_process.WaitForExit(timeoutMs))
            return STILL_ACTIVE;
        WaitForLine("\x01", 5000); // everything left
        return m_process.ExitCode();
    }
    std::string Transcript() const {
        std::string text;
        for (const std::string& line : m_lines)
            text += "  | " + line + "\n";
        return text;
    }
    // The number in the "frames <n>" line, or -1.
    long long Frames() const {
        for (const std::string& line : m_lines)
            if (line.rfind("frames ", 0) == 0)
                return std::stoll(line.substr(7));
        return -1;
    }
    const std::vector<std::string>& Lines() const { return m_lines; }

private:
    ChildProcess m_process;
    std::vector<std::string> m_lines;
};

// As device_client_test: the device registered for the test and the prefix's registration put
// back afterwards, its settings saved, no frame channel before or after; a folder for snapshots.
class ViewerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_FALSE(ChannelExists()) << "a frame channel is left over from another program";
        ASSERT_TRUE(m_module.Loaded()) << "ZarvexDevice.ax must sit beside the test";
        ASSERT_EQ(S_OK, m_module.RegisterServer());
        m_settings.Clear();
        m_folder = testing_support::MakeTempFolder(L"viewer");
        ASSERT_FALSE(m_folder.empty());
    }
    void TearDown() override {
        EXPECT_FALSE(ChannelExists()) << "every side closed the channel";
        testing_support::RemoveFolder(m_folder);
    }

    std::wstring SnapshotArgs(int everyMs) const {
        return L"--snapshot-dir \"" + m_folder.substr(0, m_folder.size() - 1) + L"\" --snapshot-every " +
               std::to_wstring(everyMs);
    }

    win::ComScope m_com;
    CModuleLibrary m_module{L"ZarvexDevice.ax"};
    CRegistrationKeeper m_registration{m_module, L"ZarvexDevice"};
    CSavedFilterSettings m_settings;
    std::wstring m_folder;
};

} // namespace

// channel_peer.exe stands in for Zarvex. Each frame it publishes turns up in the viewer's
// snapshots whole, in order; a snapshot asked for through zxprobe holds the last one; closing the
// window ends the viewer, which says that frames arrived.
TEST_F(ViewerTest, TheSnapshotsHoldTheFramesTheWriterPublished) {
    PeerProcess peer;
    ASSERT_EQ("ok", peer.Do("create"));
    ASSERT_GT(peer.Value("window"), 0);
    ASSERT_EQ("ok", peer.Do("register-window"));

    CViewerProcess process(L"--size 320x240 " + SnapshotArgs(100));
    ASSERT_EQ("running 320x240 333333", process.WaitForLine("running ")) << process.Transcript();
    for (std::uint32_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE("frame " + std::to_string(n));
        ASSERT_EQ("ok", peer.Do("publish " + std::to_string(n) + " 320 240"));
        const ULONGLONG start = GetTickCount64();
        bool seen = false;
        while (!seen && GetTickCount64() - start < kTimeoutMs) {
            const std::vector<std::wstring> names = Snapshots(m_folder);
            if (!names.empty()) {
                const FrameIdentity id = ReadBmp(names.back()).Identify();
                seen = id.kind == FrameKind::Pattern && id.number == n;
            }
            Sleep(50);
        }
        EXPECT_TRUE(seen) << "the newest snapshot shows the newest frame";
    }

    const std::wstring asked = m_folder + L"asked.bmp";
    ProbeRun run = RunProbe(L"snapshot \"ZarvexViewer*\" \"" + asked + L"\"");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    const Bmp bmp = ReadBmp(asked);
    ASSERT_TRUE(bmp.ok);
    EXPECT_EQ(320, bmp.width);
    EXPECT_EQ(240, bmp.height);
    EXPECT_EQ(FrameKind::Pattern, bmp.Identify().kind);
    EXPECT_EQ(3u, bmp.Identify().number);

    run = RunProbe(L"close \"ZarvexViewer*\"");
    EXPECT_EQ(0u, run.exitCode) << run.Transcript();
    EXPECT_EQ(DWORD{viewer::kExitFrames}, process.Finish()) << process.Transcript();
    EXPECT_GT(process.Frames(), 0) << process.Transcript();

    // Every snapshot: a whole picture of the size asked for, the blank channel before the first
    // frame or exactly a published frame, never going backwards.
    const std::vector<std::wstring> names = Snapshots(m_folder);
    ASSERT_GE(names.size(), 3u);
    std::uint32_t previous = 0;
    for (const std::wstring& name : names) {
        SCOPED_TRACE(win::Utf8(name));
        const Bmp snapshot = ReadBmp(name);
        ASSERT_TRUE(snapshot.ok);
        EXPECT_EQ(320, snapshot.width);
        EXPECT_EQ(240, snapshot.height);
        const FrameIdentity id = snapshot.Identify();
        ASSERT_TRUE(id.kind == FrameKind::Black || id.kind == FrameKind::Pattern) << FrameKindName(id.kind);
        if (id.kind == FrameKind::Black) {
            EXPECT_EQ(0u, previous) << "black only before the first frame";
            continue;
        }
        EXPECT_GE(id.number, previous);
        previous = id.number;
    }
    EXPECT_EQ(3u, previous);
}

// Nobody writes: at the device's own size and at the one asked for, every snapshot is the
// placeholder, and the viewer leaves by itself when its time is up, saying frames arrived.
TEST_F(ViewerTest, WithoutAWriterItShowsThePlaceholderAtTheSizeAskedFor) {
    const struct {
        const wchar_t* args;
        int width, height;
        POINT at; // where the window's top left must be; {-1, -1}: anywhere
    } cases[] = {
        {L"", 160, 120, {-1, -1}},
        {L"--size 320x240 --at 300,200 ", 320, 240, {300, 200}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        testing_support::RemoveFolder(m_folder);
        ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
        CViewerProcess process(std::wstring(c.args) + SnapshotArgs(200) + L" --seconds 3");
        const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        EXPECT_EQ("running " + size + " 333333", process.WaitForLine("running ")) << process.Transcript();
        if (c.at.x >= 0) {
            const HWND window = FindWindowW(viewer::kWindowClass, nullptr);
            RECT rc = {};
            EXPECT_TRUE(window && GetWindowRect(window, &rc));
            EXPECT_EQ(c.at.x, rc.left);
            EXPECT_EQ(c.at.y, rc.top);
        }
        EXPECT_EQ(DWORD{viewer::kExitFrames}, process.Finish()) << process.Transcript();
        EXPECT_GT(process.Frames(), 0) << process.Transcript();

        const std::vector<std::wstring> names = Snapshots(m_folder);
        EXPECT_GE(names.size(), 3u);
        for (const std::wstring& name : names) {
            SCOPED_TRACE(win::Utf8(name));
            const Bmp snapshot = ReadBmp(name);
            ASSERT_TRUE(snapshot.ok);
            EXPECT_EQ(c.width, snapshot.width);
            EXPECT_EQ(c.height, snapshot.height);
            EXPECT_EQ(FrameKind::Placeholder, snapshot.Identify().kind)
                << FrameKindName(snapshot.Identify().kind);
        }
    }
}

// A device that is not there, a size it does not offer, a command line it does not understand:
// one line that says what is wrong, an exit code of its own, and no waiting.
TEST_F(ViewerTest, WhatItCannotDoItSaysAtOnceWithItsOwnExitCode) {
    const struct {
        const wchar_t* args;
        DWORD exitCode;
        std::vector<std::string> saying;
    } cases[] = {
        {L"--device \"No Such Camera\"",
         viewer::kExitNoDevice,
         {"no video input device is named \"No Such Camera\"", "\"ZarvexDevice\""}},
        {L"--size 400x300", viewer::kExitDeviceFailed, {"offers no 400x300", "320x240"}},
        {L"--size", viewer::kExitUsage, {"--size needs a value"}},
        {L"--snapshot-every 100", viewer::kExitUsage, {"--snapshot-every needs --snapshot-dir"}},
        {L"--at 300", viewer::kExitUsage, {"bad value for --at: 300"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(win::Utf8(c.args));
        const ULONGLONG start = GetTickCount64();
        CViewerProcess process(c.args);
        EXPECT_EQ(c.exitCode, process.Finish()) << process.Transcript();
        EXPECT_LT(GetTickCount64() - start, 20000u) << "it does not linger";
        ASSERT_FALSE(process.Lines().empty());
        const std::string& said = process.Lines().front();
        EXPECT_EQ(0u, said.rfind("ZarvexViewer: ", 0)) << said;
        for (const std::string& part : c.saying)
            EXPECT_NE(std::string::npos, said.find(part)) << said;
        EXPECT_EQ(-1, process.Frames()) << "it never ran" << process.Transcript();
    }
}

// The question a soak run asks a viewer that runs for hours: how many frames arrived and for how
// long the graph has run. The two answers agree with the device's 30 frames a second and with the
// "frames" line the viewer writes at its end; a question it does not know is answered 0.
TEST_F(ViewerTest, ItAnswersHowManyFramesArrivedInHowLong) {
    CViewerProcess process(L"--size 320x240 --seconds 6");
    ASSERT_EQ("running 320x240 333333", process.WaitForLine("running ")) << process.Transcript();
    const HWND window = FindWindowW(viewer::kWindowClass, nullptr);
    ASSERT_TRUE(window);
    const auto ask = [window](WPARAM what) {
        DWORD_PTR answer = 0xDEADBEEF;
        EXPECT_TRUE(
            SendMessageTimeoutW(window, viewer::kQueryMessage, what, 0, SMTO_ABORTIFHUNG, 5000, &answer));
        return static_cast<unsigned long long>(answer);
    };
    Sleep(2000);
    const unsigned long long frames = ask(viewer::kAskDelivered);
    const unsigned long long ms = ask(viewer::kAskRunningMs);
    std::printf("[ figures  ] %llu frames in %llu ms\n", frames, ms);
    EXPECT_GE(ms, 1900u);
    EXPECT_LT(ms, 6000u);
    // Generous: this checks which figure is which, not how busy the machine is.
    EXPECT_GT(frames, ms * 30 / 1000 / 3);
    EXPECT_LT(frames, ms * 30 / 1000 * 2 + 5);
    EXPECT_EQ(0u, ask(7));
    Sleep(500);
    EXPECT_GT(ask(viewer::kAskDelivered), frames);

    EXPECT_EQ(DWORD{viewer::kExitFrames}, process.Finish()) << process.Transcript();
    EXPECT_GE(process.Frames(), static_cast<long long>(frames)) << process.Transcript();
}
