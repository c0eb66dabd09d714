// Test clips for the player: every frame says which frame it is and how far it was darkened, even
// after the fade has taken it down to 2 % of its brightness, so a test (or a reader in another
// process, from the first 16 bytes of the channel's pixel area) can follow a playback frame by
// frame.
//
// Frame k of a clip of N: byte 0 is 255, the brightness reference the darkening is read from;
// byte 1 is 255 for the clip marked "other", else 0; bytes 2..13 hold k, one bit a byte (255 for
// a one, 0 for a zero), which stay apart at any darkening but the full 100 %. The rest is a pattern.
// The last frame is black, as in every clip the program makes. Header-only; its users link capture.
#pragma once

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "FrameArray.h"

namespace cliptest {

constexpr int kIndexBits = 12;
constexpr size_t kCodeBytes = 2 + kIndexBits; // what a decoder reads
constexpr int kBlack = -1;                    // the frame of a picture that is all black

inline std::unique_ptr<CFrameArray> MakeClip(int frames, int width, int height, int fps, bool other = false) {
    auto clip = std::make_unique<CFrameArray>();
    for (int k = 0; k < frames; ++k) {
        auto image = std::make_unique<CFrameImage>(width, height, 24);
        if (!image->HasPixels())
            return nullptr;
        if (k + 1 < frames) {
            BYTE* p = image->GetBits();
            const DWORD size = image->GetImageSize();
            for (DWORD i = kCodeBytes; i < size; ++i)
                p[i] = static_cast<BYTE>((i * 13 + static_cast<DWORD>(k) * 29) & 0xFF);
            p[0] = 255;
            p[1] = other ? 255 : 0;
            for (int bit = 0; bit < kIndexBits; ++bit)
                p[2 + bit] = (k >> bit) & 1 ? 255 : 0;
        }
        clip->Add(image.release());
    }
    clip->SetFrameRate(fps);
    return clip;
}

// What a shown picture was: the clip frame (kBlack for an all-black picture: the clip's last
// frame, or any frame darkened by 100 %), the percentage it was darkened by (100 for black), and
// whether it came from the clip marked "other". percent is -1 for a picture no darkening of a
// clip frame gives.
struct Seen {
    int frame = kBlack;
    int percent = 100;
    bool other = false;

    bool operator==(const Seen& o) const {
        return frame == o.frame && percent == o.percent && other == o.other;
    }
    std::string Text() const {
        if (frame == kBlack)
            return "black";
        return "frame " + std::to_string(frame) + " at " + std::to_string(percent) + " %" +
               (other ? " (other)" : "");
    }
};

// Reads pictures back. The darkening of byte 0 is taken from the program's own blend at the
// clip's shape, so the decoder agrees with whichever blend path this processor uses.
class CFadeDecoder {
public:
    CFadeDecoder(int width, int height) {
        for (int& p : m_percentOf)
            p = -1;
        CFrameImage white(width, height, 24);
        CFrameImage dark(width, height, 24);
        if (!white.HasPixels() || !dark.HasPixels())
            return;
        white.Fill(255);
        for (int percent = 0; percent < 100; ++percent) {
            dark.Fill(0);
            white.BlendInto(&dark, percent);
            const BYTE level = dark.GetBits()[0];
            // Two darkenings that give the same level could not be told apart.
            m_percentOf[level] = m_percentOf[level] == -1 ? percent : -2;
        }
        m_bReady = m_percentOf[0] == -1;
    }

    // False when the darkenings cannot all be told apart at this shape (the test fails with it).
    bool Ready() const { return m_bReady; }

    Seen Decode(const BYTE* code) const {
        Seen seen;
        if (code[0] == 0) {
            for (size_t i = 1; i < kCodeBytes; ++i)
                if (code[i] != 0)
                    seen.percent = -1; // dark reference, bright bits: no frame of ours
            return seen;
        }
        seen.percent = m_percentOf[code[0]] >= 0 ? m_percentOf[code[0]] : -1;
        seen.other = code[1] != 0;
        seen.frame = 0;
        for (int bit = 0; bit < kIndexBits; ++bit)
            if (code[2 + bit] != 0)
                seen.frame |= 1 << bit;
        return seen;
    }

private:
    int m_percentOf[256];
    bool m_bReady = false;
};

} // namespace cliptest
