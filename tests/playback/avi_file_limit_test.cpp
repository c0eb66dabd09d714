// The AVI export meeting a full disk for real. run_with_file_limit.sh starts this program with a
// cap on the size of every file it writes (ulimit -f), so a save of a clip larger than the cap
// has its writes refused by the system part way through, as on a full disk. AVIFile under Wine
// reports those writes as done; the export must still see the loss, report it, and leave no
// half-written file behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "avi_test_clip.h"
#include "AviWriter.h"
#include "ComScope.h"

namespace {

// The cap in KiB that the script set, or 0 when the program was started without it.
unsigned long FileLimitKb() {
    char text[32] = {};
    if (!GetEnvironmentVariableA("ZARVEX_FILE_LIMIT_KB", text, sizeof text))
        return 0;
    return std::strtoul(text, nullptr, 10);
}

} // namespace

TEST(AviFileLimitTest, SaveBeyondTheFreeSpaceIsReportedAndLeavesNothingBehind) {
    const unsigned long limitKb = FileLimitKb();
    ASSERT_GT(limitKb, 0u) << "run this program through tests/playback/run_with_file_limit.sh";
    win::ComScope com;
    ASSERT_TRUE(com.ok());
    avi_test::AviFolder folder;
    ASSERT_TRUE(folder.ok());

    // Twice the cap of frames at the program's size, and a small clip well inside it.
    const int bigFrames = static_cast<int>(2 * limitKb * 1024 / (512 * 384 * 3)) + 1;
    auto big = avi_test::MakeClip(bigFrames, 512, 384);
    auto small = avi_test::MakeClip(4, 64, 48);
    const std::vector<BYTE> sound = avi_test::MakeSound(176400);
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    const std::string old = "the user's old file";
    struct Case {
        const char* name;
        const CFrameArray* clip;
        bool existing;    // a file is at the path before the save
        DWORD compressor; // 0: uncompressed
        AviResult result;
    };
    const Case cases[] = {
        {"a clip that fits", small.get(), false, 0, AviResult::Written},
        {"a clip beyond the free space", big.get(), false, 0, AviResult::WriteFailed},
        {"the same over an existing file", big.get(), true, 0, AviResult::WriteFailed},
        {"the same through a compressor that cannot take it", big.get(), true, mmioFOURCC('c', 'v', 'i', 'd'),
         AviResult::WriteFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path("clip.avi");
        DeleteFileA(path.c_str());
        if (c.existing) {
            ASSERT_TRUE(avi_test::WriteBytes(path, old));
        }
        CCompressorChoice compressor;
        if (c.compressor)
            compressor.SetCompressor(c.compressor);
        EXPECT_EQ(c.result, WriteAvi(*c.clip, path.c_str(), 30, &pcm, sound.data(),
                                     static_cast<DWORD>(sound.size()), compressor));
        if (AviWritten(c.result)) {
            EXPECT_EQ(std::vector<std::string>{"clip.avi"}, folder.Listing());
            const avi_test::AviFile file = avi_test::ReadAvi(path);
            EXPECT_EQ(S_OK, file.hrOpen);
            EXPECT_EQ(2u, file.streamCount);
        } else if (c.existing) {
            EXPECT_EQ(std::vector<std::string>{"clip.avi"}, folder.Listing()) << "a failed save left a file";
            EXPECT_TRUE(old == avi_test::ReadBytes(path)) << "a failed save changed the existing file";
        } else {
            EXPECT_TRUE(folder.Listing().empty()) << "a failed save left a file";
        }
    }
}
