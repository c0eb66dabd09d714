// CCaption: the text the clip maker burns into every frame of a clip ("ZELKOR" in red, outlined one
// pixel in white, its text origin 10 pixels from the frame's left and top edges), drawn once and
// applied to each frame.
//
// Drawing the text with GDI into each of a clip's 300 frames costs a DC lent to every frame
// (CFrameDc: two copies of the frame) and nine text outputs each. Instead, Prepare draws the
// caption once, exactly as the clip maker would draw it into a frame, into a black and into a white
// frame-sized picture. For each byte of the picture, GDI's text output turns a background value b
// into b x k + m for a coverage k (1 where no text falls, 0 where text covers it fully, in between
// at smoothed edges) and a colour m: the black picture gives m, the white one 255 x k + m. ApplyTo
// then computes b x k + m for the bytes the caption touches, in plain memory, without GDI. Where
// the text is fully opaque or absent the result is exactly GDI's; where smoothed edges of the nine
// outputs overlap, GDI rounds after every output and this once, so a byte may differ by a step.
//
// Threading: none of its own; the clip maker prepares it and applies it on its own thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "FrameArray.h"
#include "FrameImage.h"

class CCaption {
public:
    // Draws the caption for frames of width x height x 24: TRUE when it is ready to apply. FALSE
    // (nothing prepared) when the font, a DC or the scratch pictures cannot be had.
    BOOL Prepare(const LOGFONTA& font, const char* text, int length, int width, int height);
    bool IsPrepared() const { return m_width > 0; }

    // Burns the caption into one frame of the prepared size: TRUE done, FALSE (frame untouched)
    // when the caption is not prepared or the frame has no pixels or another shape.
    BOOL ApplyTo(CFrameImage& frame) const;
    // Burns it into every frame of a clip, oldest first: TRUE when every frame took it.
    BOOL ApplyTo(const CFrameArray& clip) const;

    // The drawing the caption stands for, on any DC: select the font, transparent background, the
    // text in white at the eight points around (10, 10), then in red at (10, 10); the DC's font
    // is put back afterwards.
    static void Draw(HDC dc, HFONT font, const char* text, int length);

private:
    // One picture byte the caption changes: b becomes m + b x k / 255 (rounded).
    struct Byte {
        uint32_t offset;
        uint8_t m;
        uint8_t k;
    };
    std::vector<Byte> m_bytes;
    int m_width = 0;
    int m_height = 0;
};
