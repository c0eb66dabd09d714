// What a received frame is, judged by its pixels alone: all black, a numbered test frame
// (frame_pattern.h), a Zarvex Test Camera frame with its sequence number (testcam_code.h), the
// virtual camera's placeholder ("Zarvex" in white on black), or something else. The device client
// reports every frame this way, and the in-process tests check frames with the same rules.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "frame_pattern.h"
#include "testcam_code.h"

enum class FrameKind { Black, Pattern, TestCam, Placeholder, Other };

inline const char* FrameKindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Black:
        return "black";
    case FrameKind::Pattern:
        return "pattern";
    case FrameKind::TestCam:
        return "testcam";
    case FrameKind::Placeholder:
        return "placeholder";
    case FrameKind::Other:
        return "other";
    }
    return "?";
}

// The number of a whole numbered test frame. The pattern repeats every 256 numbers, so only
// 0..255 are told apart; byte 0 is (number * 71) mod 256, and 119 is 71's inverse modulo 256.
inline bool DecodeFramePattern(const BYTE* p, std::size_t size, std::uint32_t* pNumber) {
    if (!p || size == 0)
        return false;
    const std::uint32_t number = (p[0] * 119u) & 0xFFu;
    if (!IsFramePattern(p, size, number))
        return false;
    *pNumber = number;
    return true;
}

// What the placeholder picture looks like by its pixels: how many white pixels lie in the middle
// third of the frame, and whether the four corners are black.
struct PlaceholderLook {
    int whiteNearCentre = 0;
    bool cornersBlack = false;
    bool Ok() const { return whiteNearCentre >= 20 && cornersBlack; }
};

inline PlaceholderLook LookAtPlaceholder(const BYTE* p, size_t cb, int width, int height) {
    PlaceholderLook look;
    const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    if (!p || width < 3 || height < 3 || cb < stride * static_cast<size_t>(height))
        return look;
    auto pixel = [&](int x, int y) {
        return p + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
    };
    for (int y = height / 3; y < 2 * height / 3; ++y)
        for (int x = width / 3; x < 2 * width / 3; ++x) {
            const BYTE* px = pixel(x, y);
            if (px[0] >= 250 && px[1] >= 250 && px[2] >= 250)
                ++look.whiteNearCentre;
        }
    look.cornersBlack = true;
    const int xs[2] = {0, width - 3};
    const int ys[2] = {0, height - 3};
    for (int cx : xs)
        for (int cy : ys)
            for (int y = cy; y < cy + 3; ++y)
                for (int x = cx; x < cx + 3; ++x) {
                    const BYTE* px = pixel(x, y);
                    if (px[0] != 0 || px[1] != 0 || px[2] != 0)
                        look.cornersBlack = false;
                }
    return look;
}

struct FrameIdentity {
    FrameKind kind = FrameKind::Other;
    std::uint32_t number = 0; // the pattern's number or the test camera's sequence number
};

// A 24-bit bottom-up frame of width x height in size bytes.
inline FrameIdentity IdentifyFrame(const BYTE* p, std::size_t size, int width, int height) {
    FrameIdentity id;
    if (!p || size == 0)
        return id;
    bool black = true;
    for (std::size_t i = 0; i < size && black; ++i)
        black = p[i] == 0;
    if (black) {
        id.kind = FrameKind::Black;
    } else if (DecodeFramePattern(p, size, &id.number)) {
        id.kind = FrameKind::Pattern;
    } else if (width > 0 && height > 0 &&
               size >= static_cast<std::size_t>(TestCamStride(width)) * static_cast<std::size_t>(height) &&
               TestCamDecodeSequence(p, width, height, &id.number)) {
        id.kind = FrameKind::TestCam;
    } else if (LookAtPlaceholder(p, size, width, height).Ok()) {
        id.kind = FrameKind::Placeholder;
    }
    return id;
}
