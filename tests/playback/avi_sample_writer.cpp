// avi_sample_writer <folder>: saves sample clips with the AVI export for ffprobe_check.sh, which
// reads them back with FFmpeg on the Linux side. For each sample it writes <name>.avi, the frames
// it must decode to (<name>.bgr: top row first, as FFmpeg gives them), the sound (<name>.pcm, when
// the clip has sound) and one line of manifest.txt: name frames width height rate samples.
// Exit code 0 when every sample was saved.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avi_test_clip.h"
#include "AviWriter.h"
#include "ComScope.h"

namespace {

struct Sample {
    const char* name;
    int frames, width, height, rate;
    size_t soundBytes; // 0: no sound
};

bool WriteAll(const std::string& path, const std::vector<BYTE>& bytes) {
    return avi_test::WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

// The clip's frames top row first, rows without padding (every sample's row is a multiple of 4).
std::vector<BYTE> TopDown(const CFrameArray& clip) {
    std::vector<BYTE> out;
    for (int i = 0; i < clip.GetSize(); ++i) {
        const CFrameImage& frame = *clip.GetAt(i);
        const size_t row = static_cast<size_t>(frame.GetWidth()) * 3;
        for (int y = frame.GetHeight() - 1; y >= 0; --y)
            out.insert(out.end(), frame.GetBits() + row * y, frame.GetBits() + row * (y + 1));
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: avi_sample_writer <folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "\\";
    win::ComScope com;
    const Sample samples[] = {
        {"sound", 24, 160, 120, 12, 2 * 176400 + 3}, // a partial sample at the end is not saved
        {"silent", 10, 64, 48, 30, 0},
        {"default", 30, 512, 384, 30, 176400},
    };
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    FILE* manifest = std::fopen((folder + "manifest.txt").c_str(), "wb");
    if (!manifest) {
        std::fprintf(stderr, "cannot write %smanifest.txt\n", folder.c_str());
        return 1;
    }
    int failures = 0;
    for (const Sample& s : samples) {
        auto clip = avi_test::MakeClip(s.frames, s.width, s.height);
        std::vector<BYTE> sound = avi_test::MakeSound(s.soundBytes);
        CCompressorChoice uncompressed;
        const AviResult result =
            WriteAvi(*clip, (folder + s.name + ".avi").c_str(), s.rate, s.soundBytes ? &pcm : nullptr,
                     s.soundBytes ? sound.data() : nullptr, static_cast<DWORD>(sound.size()), uncompressed);
        if (result != AviResult::Written) {
            std::fprintf(stderr, "%s: not written (%d)\n", s.name, static_cast<int>(result));
            ++failures;
            continue;
        }
        sound.resize(sound.size() / 4 * 4);
        if (!WriteAll(folder + s.name + ".bgr", TopDown(*clip)) ||
            (s.soundBytes && !WriteAll(folder + s.name + ".pcm", sound))) {
            std::fprintf(stderr, "%s: cannot write what it must hold\n", s.name);
            ++failures;
            continue;
        }
        std::fprintf(manifest, "%s %d %d %d %d %d\n", s.name, s.frames, s.width, s.height, s.rate,
                     s.soundBytes ? static_cast<int>(sound.size() / 4) : -1);
    }
    std::fclose(manifest);
    return failures == 0 ? 0 : 1;
}
