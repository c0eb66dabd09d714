// What a received frame is, judged by its pixels alone: all black, a numbered test frame
// (frame_pattern.h), a Zarvex Test Camera frame with its sequence number (testcam_code.h), a test
// camera frame with a clip's caption burnt in (a replayed frame, whole or darkened by a fade), the
// virtual camera's placeholder ("Zarvex" in white on black), or something else. The device client
// reports every frame this way, and the in-process tests check frames with the same rules.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame_pattern.h"
#include "testcam_code.h"

enum class FrameKind { Black, Pattern, TestCam, Captioned, Placeholder, Other };

inline const char* FrameKindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Black:
        return "black";
    case FrameKind::Pattern:
        return "pattern";
    case FrameKind::TestCam:
        return "testcam";
    case FrameKind::Captioned:
        return "captioned";
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

// Where row y (display order, 0 = top) of a 24-bit picture starts, bottom-up when height > 0.
inline size_t DisplayRowOffset(int width, int height, int y) {
    const size_t stride = static_cast<size_t>(TestCamStride(width));
    const int h = height > 0 ? height : -height;
    return stride * static_cast<size_t>(height > 0 ? h - 1 - y : y);
}

// Whether the clip caption ("ZELKOR" in red, outlined in white, from 10 pixels in at the top left)
// is in a test camera picture: red pixels in the left half of its code band, where the camera
// paints only black and white. A fade darkens the red but keeps it red, so faded frames count too.
inline bool HasCaption(const BYTE* p, size_t size, int width, int height) {
    const int h = height > 0 ? height : -height;
    if (!p || width < 2 || h < TESTCAM_BAND_DIVISOR ||
        size < static_cast<size_t>(TestCamStride(width)) * static_cast<size_t>(h))
        return false;
    int red = 0;
    for (int y = 0; y < h / TESTCAM_BAND_DIVISOR; ++y) {
        const BYTE* row = p + DisplayRowOffset(width, height, y);
        for (int x = 0; x < width / 2; ++x) {
            const int b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
            if (r >= 24 && r >= 3 * g + 8 && r >= 3 * b + 8)
                ++red;
        }
    }
    return red >= 30;
}

// The test camera's number in a captioned picture at full brightness: the caption covers the top
// rows of the code band at its left, so the band's lowest clean row is copied over the rows above
// it and read as usual. False when the rows the caption reaches leave no clean row to read (small
// pictures) or the picture is darkened.
inline bool DecodeCaptionedSequence(const BYTE* p, size_t size, int width, int height,
                                    std::uint32_t* pNumber) {
    const int h = height > 0 ? height : -height;
    const size_t stride = static_cast<size_t>(TestCamStride(width));
    if (!p || width < TESTCAM_CELLS || h < TESTCAM_BAND_DIVISOR || size < stride * static_cast<size_t>(h))
        return false;
    const int clean = h / TESTCAM_BAND_DIVISOR - 3;
    if (clean < 0)
        return false;
    std::vector<BYTE> copy(p, p + stride * static_cast<size_t>(h));
    for (int y = 0; y < clean; ++y)
        std::memcpy(copy.data() + DisplayRowOffset(width, height, y),
                    copy.data() + DisplayRowOffset(width, height, clean), stride);
    return TestCamDecodeSequence(copy.data(), width, height, pNumber);
}

// How bright a test camera picture is: the mean byte of everything below its code band (0..255).
// The colour bars there fill every row alike whatever their scroll, so live frames all come out
// about the same, and a frame darkened by p percent comes out p percent lower.
inline int PictureLevel(const BYTE* p, size_t size, int width, int height) {
    const int h = height > 0 ? height : -height;
    const size_t stride = static_cast<size_t>(TestCamStride(width));
    if (!p || width <= 0 || h < TESTCAM_BAND_DIVISOR || size < stride * static_cast<size_t>(h))
        return 0;
    unsigned long long sum = 0, n = 0;
    for (int y = h / TESTCAM_BAND_DIVISOR; y < h; ++y) {
        const BYTE* row = p + DisplayRowOffset(width, height, y);
        for (size_t i = 0; i < static_cast<size_t>(width) * 3; ++i)
            sum += row[i];
        n += static_cast<unsigned long long>(width) * 3;
    }
    return n ? static_cast<int>(sum / n) : 0;
}

struct FrameIdentity {
    FrameKind kind = FrameKind::Other;
    // The pattern's number or the test camera's sequence number (a captioned frame's, when it
    // could be read: hasNumber).
    std::uint32_t number = 0;
    bool hasNumber = false;
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
        id.hasNumber = true;
    } else if (HasCaption(p, size, width, height)) {
        // Before the plain code: a caption may leave the code band readable here and there.
        id.kind = FrameKind::Captioned;
        id.hasNumber = DecodeCaptionedSequence(p, size, width, height, &id.number);
    } else if (width > 0 && height > 0 &&
               size >= static_cast<std::size_t>(TestCamStride(width)) * static_cast<std::size_t>(height) &&
               TestCamDecodeSequence(p, width, height, &id.number)) {
        id.kind = FrameKind::TestCam;
        id.hasNumber = true;
    } else if (LookAtPlaceholder(p, size, width, height).Ok()) {
        id.kind = FrameKind::Placeholder;
    }
    return id;
}
