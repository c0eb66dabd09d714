// The save button of the real Zarvex.exe, driven from outside as a user would: a clip made by a
// press on a spare test camera at 30 frames a second, the capture format then switched to 15, and
// the clip saved through the file dialog and the compressor chooser, answered by zxprobe's
// save-as and confirm. The file is read back through the platform's AVIFile here; run by
// tests/playback/ffprobe_check.sh, the test also leaves what AVIFile read in the folder it is given
// (its last argument), for FFmpeg to read the same file on the Linux side and agree byte for byte.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ComScope.h"
#include "CommandLine.h"
#include "avi_test_clip.h"
#include "listed_video_devices.h"
#include "probe_process.h"
#include "resource.h"
#include "test_paths.h"
#include "testcam_code.h"
#include "wait_until.h"
#include "zarvex_process.h"

using testing_support::CListedTestCamera;
using testing_support::ProbeRun;
using testing_support::RunProbe;
using testing_support::WaitUntil;
using testing_support::ZarvexProcess;

namespace {

constexpr int kSeconds = 2; // PreTime 1 and EndTime 1
constexpr int kFrames = 30 * kSeconds;

::testing::AssertionResult Probe(const std::wstring& args, DWORD timeoutMs = 60000) {
    const ProbeRun run = RunProbe(args, timeoutMs);
    if (run.exitCode == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "zxprobe " << std::string(args.begin(), args.end()) << ": " << run.Transcript();
}

// The folder ffprobe_check.sh gives as the last argument, or "" when run on its own.
std::wstring SampleFolder() {
    const win::CommandLineArgs argv;
    const int argc = argv.Count();
    std::wstring folder;
    if (argc > 1 && argv[argc - 1][0] != L'-')
        folder = argv[argc - 1];
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder;
}

// A top-level dialog of the process with this title, or null.
HWND FindDialog(DWORD pid, const char* title) {
    HWND found = nullptr;
    while ((found = FindWindowExA(nullptr, found, "#32770", title)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(found, &owner);
        if (owner == pid && IsWindowVisible(found))
            return found;
    }
    return nullptr;
}

// Cancels the dialog with this title once it is open, as its Cancel button does.
::testing::AssertionResult CancelDialog(DWORD pid, const char* title) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = FindDialog(pid, title)) != nullptr; }, 10000))
        return ::testing::AssertionFailure() << "no \"" << title << "\" opened";
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (!WaitUntil([&] { return !IsWindow(dialog); }, 10000))
        return ::testing::AssertionFailure() << "\"" << title << "\" stayed open after Cancel";
    return ::testing::AssertionSuccess();
}

// The test camera's number in a saved frame (bottom-up 24-bit rows). The caption covers the upper
// rows of the code band at its left; the band's lower rows carry the same code, so they are copied
// over the rows above before it is read.
int FrameSequence(const std::vector<BYTE>& bits, int width, int height) {
    const size_t stride = static_cast<size_t>((width * 24 + 31) / 32 * 4);
    std::vector<BYTE> copy = bits;
    const int clear = height / TESTCAM_BAND_DIVISOR - 3;
    const auto row = [&](int y) { return copy.data() + static_cast<size_t>(height - 1 - y) * stride; };
    for (int y = 0; y < clear; ++y)
        std::memcpy(row(y), row(clear), stride);
    std::uint32_t sequence = 0;
    return TestCamDecodeSequence(copy.data(), width, height, &sequence) ? static_cast<int>(sequence) : -1;
}

bool WriteAll(const std::wstring& path, const std::vector<BYTE>& bytes) {
    return testing_support::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end()); // the paths are ASCII
}

TEST(AppSaveTest, AClipSavedThroughTheRealProgramKeepsItsRateAndReadsBack) {
    win::ComScope com;
    ASSERT_TRUE(com.ok());
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result()) << "the test camera is not registered in the bench: "
                                       "tools/testcam/register-testcam.sh build";
    const std::wstring given = SampleFolder();
    const std::wstring folder = given.empty() ? testing_support::MakeTempFolder(L"save") : given;
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"real.avi";

    ZarvexProcess zarvex;
    // 640x480 at 30 frames a second; one second kept before the press and one after.
    ASSERT_TRUE(testing_support::WriteFileBytes(
        zarvex.IniPath(), "[Settings]\r\nPreTime=1\r\nEndTime=1\r\nVideoDevice=Zarvex Mixed Camera\r\n"
                          "VideoFormat=0\r\n"));
    ASSERT_TRUE(zarvex.Start()) << zarvex.Failure();
    const DWORD pid = zarvex.ProcessId();
    Sleep(2000); // the ring fills
    PostMessageW(zarvex.Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(zarvex.Item(IDOK)));
    ASSERT_TRUE(Probe(L"wait-count Zarvex 1000 1 30000")) << "the press made no clip";
    ASSERT_TRUE(Probe(L"wait-enabled Zarvex 2 1 10000"));
    // The capture format changes to "320x240x24 15f RGB ".
    ASSERT_TRUE(Probe(L"select Zarvex 1011 1"));
    ASSERT_TRUE(Probe(L"wait-text Zarvex 1019 \"16 MB\"")) << "the ring was not rebuilt for 15 fps";

    // Cancelled in the file dialog, then in the chooser: nothing on the disk.
    ASSERT_TRUE(Probe(L"click Zarvex 4"));
    EXPECT_TRUE(CancelDialog(pid, "Save As"));
    ASSERT_TRUE(Probe(L"click Zarvex 4"));
    ASSERT_TRUE(Probe(L"save-as Zarvex \"" + path + L"\""));
    EXPECT_TRUE(CancelDialog(pid, "Video Compression"));
    Sleep(500);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "a cancelled save wrote a file";

    // Saved, the chooser's uncompressed preselection confirmed.
    ASSERT_TRUE(Probe(L"click Zarvex 4"));
    ASSERT_TRUE(Probe(L"save-as Zarvex \"" + path + L"\""));
    ASSERT_TRUE(Probe(L"confirm Zarvex"));
    ASSERT_TRUE(WaitUntil([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000))
        << "no file";
    DWORD_PTR answer = 0;
    ASSERT_TRUE(SendMessageTimeoutW(zarvex.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 20000, &answer))
        << "the program did not come back from the save";

    const avi_test::AviFile file = avi_test::ReadAvi(Narrow(path));
    ASSERT_EQ(S_OK, file.hrOpen);
    EXPECT_EQ(2u, file.streamCount);
    const avi_test::AviStream* video = file.Find(streamtypeVIDEO);
    const avi_test::AviStream* sound = file.Find(streamtypeAUDIO);
    ASSERT_NE(nullptr, video);
    ASSERT_NE(nullptr, sound);
    EXPECT_EQ(mmioFOURCC('D', 'I', 'B', ' '), video->info.fccHandler);
    EXPECT_EQ(30u, video->info.dwRate / video->info.dwScale) << "the clip lost the rate it was recorded at";
    ASSERT_EQ(static_cast<size_t>(kFrames), video->samples.size());
    ASSERT_EQ(sizeof(BITMAPINFO), video->format.size());
    BITMAPINFOHEADER header = {};
    std::memcpy(&header, video->format.data(), sizeof header);
    EXPECT_EQ(512, header.biWidth);
    EXPECT_EQ(384, header.biHeight);
    EXPECT_EQ(24, header.biBitCount);
    // The camera's frames in the order it sent them, every one a key frame, the last one black.
    int previous = -1;
    for (int i = 0; i + 1 < kFrames; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_TRUE(video->keyFrames[static_cast<size_t>(i)]);
        ASSERT_EQ(static_cast<size_t>(512 * 3 * 384), video->samples[static_cast<size_t>(i)].size());
        const int sequence = FrameSequence(video->samples[static_cast<size_t>(i)], 512, 384);
        EXPECT_GT(sequence, previous);
        previous = sequence;
    }
    // Rows 60 and below (the first 324 rows of the bottom-up frame) lie below the caption.
    const std::vector<BYTE>& last = video->samples.back();
    const auto belowCaption = last.begin() + 324 * 512 * 3;
    EXPECT_EQ(belowCaption - last.begin(), std::count(last.begin(), belowCaption, 0))
        << "the last frame is not black below the caption";
    // The whole sound block: the sound ring of two seconds, in whole capture blocks of 22048 bytes.
    const size_t soundBytes = kSeconds * 176400u / 22048u * 22048u;
    ASSERT_EQ(1u, sound->samples.size());
    EXPECT_EQ(soundBytes, sound->samples[0].size());
    EXPECT_EQ(soundBytes / 4, sound->info.dwLength);
    ASSERT_EQ(sizeof(WAVEFORMATEX), sound->format.size());
    WAVEFORMATEX pcm = {};
    std::memcpy(&pcm, sound->format.data(), sizeof pcm);
    EXPECT_EQ(WAVE_FORMAT_PCM, pcm.wFormatTag);
    EXPECT_EQ(2, pcm.nChannels);
    EXPECT_EQ(44100u, pcm.nSamplesPerSec);
    EXPECT_EQ(16, pcm.wBitsPerSample);

    PostMessageW(zarvex.Window(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(zarvex.WaitForExit(20000));
    EXPECT_EQ(0u, zarvex.ExitCode());

    if (given.empty()) {
        testing_support::RemoveFolder(folder);
        return;
    }
    // What AVIFile read, for FFmpeg to agree with: the frames top row first, the sound as it is.
    std::vector<BYTE> topDown;
    for (const std::vector<BYTE>& frame : video->samples)
        for (int y = 383; y >= 0; --y)
            topDown.insert(topDown.end(), frame.begin() + y * 512 * 3, frame.begin() + (y + 1) * 512 * 3);
    ASSERT_TRUE(WriteAll(folder + L"real.bgr", topDown));
    ASSERT_TRUE(WriteAll(folder + L"real.pcm", sound->samples[0]));
    const std::string manifest = "real " + std::to_string(kFrames) + " 512 384 30 " +
                                 std::to_string(sound->samples[0].size() / 4) + "\n";
    ASSERT_TRUE(testing_support::WriteFileBytes(folder + L"manifest.txt", manifest));
}

} // namespace
