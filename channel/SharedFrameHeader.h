// The byte layout of the shared frame channel. Both the capture program and the virtual camera
// filter map the same section, possibly from programs of different bitness, so every field has a
// fixed width and offset; the asserts below keep it that way.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// Window message posted by the filter to the owner window when a client chose a format.
// wParam: kFormatAnnouncedBySetFormat or kFormatAnnouncedByConnection; lParam 0.
constexpr UINT WM_CAMERA_FORMAT = WM_USER + 0x100;
constexpr WPARAM kFormatAnnouncedBySetFormat = 1;
constexpr WPARAM kFormatAnnouncedByConnection = 2;

// The mutex name; the section is named by the same text without its leading underscore.
constexpr char kChannelName[] = "_KLO_SHM";
constexpr DWORD kChannelPayloadSize = 921672; // bytes after the size word
constexpr DWORD kChannelSectionSize = kChannelPayloadSize + 4;
constexpr DWORD kChannelPixelBytes = 921600; // 640 x 480 x 3, the largest frame offered

// Bits of SharedFrameHeader::dwFlags.
constexpr uint32_t kFrameReady = 0x01;
constexpr uint32_t kFormatFromConnection = 0x10;
constexpr uint32_t kFormatFromSetFormat = 0x20;

#pragma pack(push, 1)
// Everything after the section's size word. Guarded by the channel mutex.
struct SharedFrameHeader {
    uint32_t hwndOwner;       // capture program's dialog window, 32 bits on every platform
    uint32_t dwFlags;         // kFrameReady | kFormatFromConnection | kFormatFromSetFormat
    uint32_t dwFrameInterval; // low 32 bits of the wanted AvgTimePerFrame (100 ns units)
    uint8_t reserved[20];
    BITMAPINFOHEADER bmiHeader; // the format the filter wants
    uint8_t pixels[kChannelPixelBytes];
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40, "bitmap header must be 40 bytes");
static_assert(offsetof(SharedFrameHeader, hwndOwner) == 0, "owner window at section offset 4");
static_assert(offsetof(SharedFrameHeader, dwFlags) == 4, "flags at section offset 8");
static_assert(offsetof(SharedFrameHeader, dwFrameInterval) == 8, "interval at section offset 12");
static_assert(offsetof(SharedFrameHeader, reserved) == 12, "reserved at section offset 16");
static_assert(offsetof(SharedFrameHeader, bmiHeader) == 32, "bitmap header at section offset 36");
static_assert(offsetof(SharedFrameHeader, pixels) == 72, "pixel area at section offset 76");
static_assert(sizeof(SharedFrameHeader) == kChannelPayloadSize, "header fills the payload exactly");

// Bytes of one frame of this header in the pixel area: rows padded to 4 bytes, times the height
// whichever way the rows run. 0 when the header describes no frame (width not positive, height or
// bit count 0) or one that does not fit the pixel area: such a frame is never exchanged. Computed
// wide, so no header value can wrap it.
DWORD ChannelFrameBytes(const BITMAPINFOHEADER& bmi);

// The owner window is kept as 32 bits: only the low 32 bits of a window handle are significant, so
// a 32-bit filter and a 64-bit program share one channel. A 64-bit process sees its handles
// sign-extended (Wine hands out 0xFFFFFFFF8xxxxxxx once a handle slot has been reused 32767
// times), so the value is widened the same way: the handle read back is the very one stored.
inline HWND OwnerWindowOf(uint32_t hwndOwner) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<int32_t>(hwndOwner)));
}
inline HWND OwnerWindowOf(const SharedFrameHeader& header) {
    return OwnerWindowOf(header.hwndOwner);
}
inline void SetOwnerWindow(SharedFrameHeader& header, HWND hwnd) {
    header.hwndOwner = static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(hwnd));
}
