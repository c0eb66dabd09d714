// Numbered test frames: a byte pattern that differs for every frame number at every byte, so a
// reader can tell exactly which frame it got and that it got it whole. The channel peer paints
// them; the tests check them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

inline BYTE FramePatternByte(std::uint32_t number, std::size_t i) {
    return static_cast<BYTE>((i * 131u + number * 71u + (i >> 9) * 17u) & 0xFFu);
}

inline void PaintFramePattern(BYTE* p, std::size_t size, std::uint32_t number) {
    for (std::size_t i = 0; i < size; ++i)
        p[i] = FramePatternByte(number, i);
}

inline bool IsFramePattern(const BYTE* p, std::size_t size, std::uint32_t number) {
    for (std::size_t i = 0; i < size; ++i)
        if (p[i] != FramePatternByte(number, i))
            return false;
    return true;
}
