// avi_bench: export throughput of an uncompressed clip at the program's defaults (300 frames of
// 512 x 384, 10 s of sound), set against a plain file write of the same bytes (one write per
// frame, one for the sound). The export's figure includes everything a save does: the AVI file,
// reading its end back, and moving it over the chosen name. A save through a compressor that cannot
// take the frames (it falls back to uncompressed) is timed too. Prints medians of repeated runs; the
// figures move with the machine's disk and file cache, so compare them within one run.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "avi_test_clip.h"
#include "AviWriter.h"
#include "ComScope.h"
#include "UniqueAny.h"

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// Milliseconds op took, or -1 when it failed.
double TimeMs(const std::function<bool()>& op) {
    const double start = NowMs();
    return op() ? NowMs() - start : -1;
}

bool PlainWrite(const std::string& path, const CFrameArray& clip, const std::vector<BYTE>& sound) {
    win::UniqueFile file(
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    bool ok = true;
    DWORD put = 0;
    for (int i = 0; ok && i < clip.GetSize(); ++i)
        ok = WriteFile(file.get(), clip.GetAt(i)->GetBits(), clip.GetAt(i)->GetImageSize(), &put, nullptr) !=
             FALSE;
    ok = ok && WriteFile(file.get(), sound.data(), static_cast<DWORD>(sound.size()), &put, nullptr);
    return file.close() && ok; // a write the disk refused may only show at the close
}

} // namespace

int main() {
    win::ComScope com;
    avi_test::AviFolder folder;
    if (!folder.ok()) {
        std::printf("no temporary folder\n");
        return 1;
    }
    auto clip = avi_test::MakeClip(300, 512, 384);
    const std::vector<BYTE> sound = avi_test::MakeSound(10 * 176400);
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    const double bytes = 300.0 * clip->GetAt(0)->GetImageSize() + static_cast<double>(sound.size());
    const int runs = 5;

    const std::string avi = folder.Path("clip.avi");
    const std::string raw = folder.Path("clip.raw");
    CCompressorChoice uncompressed;
    // Under Wine no compressor takes 24-bit frames: a save through one builds the file twice.
    CCompressorChoice refusing;
    refusing.SetCompressor(mmioFOURCC('c', 'v', 'i', 'd'));
    // The three alternate, so that all meet the same state of the system's file cache.
    std::vector<double> exportRuns, plainRuns, fallbackRuns;
    for (int r = 0; r < runs; ++r) {
        exportRuns.push_back(TimeMs([&] {
            return WriteAvi(*clip, avi.c_str(), 30, &pcm, sound.data(), static_cast<DWORD>(sound.size()),
                            uncompressed) == AviResult::Written;
        }));
        plainRuns.push_back(TimeMs([&] { return PlainWrite(raw, *clip, sound); }));
        fallbackRuns.push_back(TimeMs([&] {
            return WriteAvi(*clip, avi.c_str(), 30, &pcm, sound.data(), static_cast<DWORD>(sound.size()),
                            refusing) == AviResult::WrittenUncompressed;
        }));
        if (exportRuns.back() < 0 || plainRuns.back() < 0 || fallbackRuns.back() < 0) {
            std::printf("a save failed\n");
            return 1;
        }
    }
    const double exportMs = Median(exportRuns);
    const double plainMs = Median(plainRuns);
    std::printf("clip: 300 frames of 512 x 384 and 10 s of sound, %.1f MB; medians of %d runs\n", bytes / 1e6,
                runs);
    std::printf("%-28s %9.1f ms %8.1f MB/s\n", "AVI export (uncompressed)", exportMs, bytes / exportMs / 1e3);
    std::printf("%-28s %9.1f ms %8.1f MB/s\n", "plain file write", plainMs, bytes / plainMs / 1e3);
    std::printf("export throughput / plain write throughput: %.2f\n", plainMs / exportMs);
    const double fallbackMs = Median(fallbackRuns);
    std::printf("%-28s %9.1f ms %8.1f MB/s\n", "refused compressor, fallback", fallbackMs,
                bytes / fallbackMs / 1e3);
    return 0;
}
