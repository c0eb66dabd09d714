#include "SharedFrameHeader.h"

DWORD ChannelFrameBytes(const BITMAPINFOHEADER& bmi) {
    if (bmi.biWidth <= 0 || bmi.biHeight == 0 || bmi.biBitCount == 0)
        return 0;
    // At most 65535 * 2^31 bits: no wrap in 64 bits. The height is compared before multiplying,
    // so the product never wraps either.
    const ULONGLONG stride =
        ((static_cast<ULONGLONG>(bmi.biBitCount) * static_cast<ULONGLONG>(bmi.biWidth) + 31) / 8) & ~3ULL;
    const ULONGLONG height =
        bmi.biHeight < 0 ? static_cast<ULONGLONG>(-static_cast<LONGLONG>(bmi.biHeight)) : bmi.biHeight;
    if (stride > kChannelPixelBytes || height > kChannelPixelBytes / stride)
        return 0;
    return static_cast<DWORD>(stride * height);
}
