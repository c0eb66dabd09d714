// The checks of a saved AVI file that the export's tests share: a video stream of a clip's frames
// as uncompressed key frames at a rate, and a sound stream of the program's sound format.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "avi_test_clip.h"

namespace avi_test {

constexpr DWORD kDibHandler = mmioFOURCC('D', 'I', 'B', ' ');

inline const StreamHeader* FindHeader(const AviFile& file, DWORD fccType) {
    for (const StreamHeader& header : file.headers)
        if (header.fccType == fccType)
            return &header;
    return nullptr;
}

// Every check of a video stream that holds clip as uncompressed key frames at rate: the header
// as the file holds it, the reader's view of it, the format and every frame.
inline void ExpectVideo(const AviFile& file, const CFrameArray& clip, int rate) {
    const StreamHeader* header = FindHeader(file, streamtypeVIDEO);
    const AviStream* video = file.Find(streamtypeVIDEO);
    ASSERT_NE(nullptr, header) << "no 'vids' stream header";
    ASSERT_NE(nullptr, video) << "no 'vids' stream";
    const CFrameImage& first = *clip.GetAt(0);
    EXPECT_EQ(kDibHandler, header->fccHandler);
    EXPECT_EQ(1u, header->dwScale);
    EXPECT_EQ(static_cast<DWORD>(rate), header->dwRate);
    EXPECT_EQ(static_cast<DWORD>(clip.GetSize()), header->dwLength);
    EXPECT_EQ(static_cast<DWORD>(-1), header->dwQuality);
    EXPECT_EQ(0, header->rcFrame.left);
    EXPECT_EQ(0, header->rcFrame.top);
    EXPECT_EQ(first.GetWidth(), header->rcFrame.right);
    EXPECT_EQ(first.GetHeight(), header->rcFrame.bottom);
    EXPECT_EQ(kDibHandler, video->info.fccHandler);
    EXPECT_EQ(static_cast<DWORD>(rate), video->info.dwRate / video->info.dwScale);
    EXPECT_EQ(static_cast<DWORD>(clip.GetSize()), video->info.dwLength);
    // The format is the first frame's header and its first palette entry.
    ASSERT_EQ(sizeof(BITMAPINFO), video->format.size());
    EXPECT_EQ(0, std::memcmp(first.GetHeader(), video->format.data(), sizeof(BITMAPINFO)));
    ASSERT_EQ(static_cast<size_t>(clip.GetSize()), video->samples.size());
    for (int i = 0; i < clip.GetSize(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_TRUE(video->keyFrames[static_cast<size_t>(i)]);
        EXPECT_TRUE(video->samples[static_cast<size_t>(i)] == FrameBytes(*clip.GetAt(i)));
    }
}

// A sound stream of the program's format holding exactly the whole samples of sound.
inline void ExpectSound(const AviFile& file, const std::vector<BYTE>& sound) {
    const StreamHeader* header = FindHeader(file, streamtypeAUDIO);
    const AviStream* audio = file.Find(streamtypeAUDIO);
    ASSERT_NE(nullptr, header) << "no 'auds' stream header";
    ASSERT_NE(nullptr, audio) << "no 'auds' stream";
    const WAVEFORMATEX pcm = PcmFormat();
    EXPECT_EQ(0u, header->fccHandler);
    EXPECT_EQ(4u, header->dwScale);
    EXPECT_EQ(176400u, header->dwRate);
    EXPECT_EQ(4u, header->dwSampleSize);
    EXPECT_EQ(static_cast<DWORD>(-1), header->dwQuality);
    EXPECT_EQ(sound.size() / 4, header->dwLength);
    EXPECT_EQ(44100u, audio->info.dwRate / audio->info.dwScale);
    EXPECT_EQ(sound.size() / 4, audio->info.dwLength);
    ASSERT_EQ(sizeof(WAVEFORMATEX), audio->format.size());
    EXPECT_EQ(0, std::memcmp(&pcm, audio->format.data(), sizeof(WAVEFORMATEX)));
    const std::vector<BYTE> whole(sound.begin(),
                                  sound.begin() + static_cast<std::ptrdiff_t>(sound.size() / 4 * 4));
    ASSERT_EQ(1u, audio->samples.size());
    EXPECT_EQ(whole.size(), audio->samples[0].size());
    EXPECT_TRUE(audio->samples[0] == whole);
}

} // namespace avi_test
