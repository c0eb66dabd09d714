// Helpers shared by the capture tests: grabbed frames that carry their sequence number in their
// pixels, buffers that end at an inaccessible page, pixel reads from frame images, a message-box
// recorder and the application profile's processor switch.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FrameImage.h"
#include "GdiProbe.h"
#include "afx_app.h"

// A camera frame as the grabber hands it over: a bottom-up 24-bit header and its pixel bytes.
struct GrabbedFrame {
    BITMAPINFOHEADER header = {};
    std::vector<BYTE> bits;

    GrabbedFrame(int width, int height) : bits(static_cast<size_t>(Stride(width)) * height) {
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<DWORD>(bits.size());
    }
    static int Stride(int width) { return ((width * 24 + 31) / 32) * 4; }
    int Width() const { return header.biWidth; }
    int Height() const { return header.biHeight; }
    // Paints a rectangle given in picture coordinates (y = 0 is the top row) in one grey level.
    void FillRect(int x0, int y0, int x1, int y1, BYTE b, BYTE g, BYTE r) {
        for (int y = y0; y < y1; ++y) {
            BYTE* row = bits.data() + static_cast<size_t>(Height() - 1 - y) * Stride(Width());
            for (int x = x0; x < x1; ++x) {
                row[x * 3] = b;
                row[x * 3 + 1] = g;
                row[x * 3 + 2] = r;
            }
        }
    }
};

// Bytes that end exactly where an inaccessible page begins, so that reading one byte past them
// faults. Holds a copy of the data given.
class GuardedBytes {
public:
    explicit GuardedBytes(const BYTE* data, size_t size) : size_(size) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t committed = (size + page - 1) / page * page;
        base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, committed + page, MEM_RESERVE, PAGE_NOACCESS));
        if (base_ && (committed == 0 || VirtualAlloc(base_, committed, MEM_COMMIT, PAGE_READWRITE)))
            data_ = base_ + committed - size;
        if (data_ && size)
            std::memcpy(data_, data, size);
    }
    ~GuardedBytes() {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    BYTE* data() const { return data_; }
    size_t size() const { return size_; }

private:
    BYTE* base_ = nullptr;
    BYTE* data_ = nullptr;
    size_t size_;
};

// The sequence number sits in three large uniform blocks along the picture's upper half: its
// low byte, its high byte and a marker, on a grey background. Blocks of a sixth of the picture
// survive scaling, and a black frame (all bytes 0) reads as no number at all.
constexpr BYTE kSeqMarker = 0xA5;
constexpr BYTE kSeqBackground = 0x11;

inline void WriteSeq(GrabbedFrame& frame, int seq) {
    const int w = frame.Width(), h = frame.Height();
    frame.FillRect(0, 0, w, h, kSeqBackground, kSeqBackground, kSeqBackground);
    const BYTE values[3] = {static_cast<BYTE>(seq & 0xFF), static_cast<BYTE>((seq >> 8) & 0xFF), kSeqMarker};
    for (int k = 0; k < 3; ++k) {
        const int cx = w * (2 * k + 1) / 6, cy = h / 4;
        frame.FillRect(cx - w / 12, cy - h / 8, cx + w / 12, cy + h / 8, values[k], values[k], values[k]);
    }
}

inline GrabbedFrame SeqFrame(int width, int height, int seq) {
    GrabbedFrame frame(width, height);
    WriteSeq(frame, seq);
    return frame;
}

// Blue, green, red of the pixel at (x, y) in picture coordinates, read from the image's bytes.
inline COLORREF PixelOf(const CFrameImage& image, int x, int y) {
    const int stride = ((image.GetWidth() * 24 + 31) / 32) * 4;
    const BYTE* p = image.GetBits() + static_cast<size_t>(image.GetHeight() - 1 - y) * stride + x * 3;
    return RGB(p[2], p[1], p[0]);
}

// The number a frame image carries, -1 when it carries none (a black frame or garbage).
inline int ReadSeq(const CFrameImage& image) {
    if (!image.HasPixels())
        return -1;
    GdiFlush();
    const int w = image.GetWidth(), h = image.GetHeight();
    BYTE v[3];
    for (int k = 0; k < 3; ++k) {
        const COLORREF c = PixelOf(image, w * (2 * k + 1) / 6, h / 4);
        if (GetRValue(c) != GetGValue(c) || GetGValue(c) != GetBValue(c))
            return -1;
        v[k] = GetRValue(c);
    }
    if (v[2] != kSeqMarker)
        return -1;
    return v[0] | (v[1] << 8);
}

inline bool IsBlack(const CFrameImage& image) {
    if (!image.HasPixels())
        return false;
    const BYTE* p = image.GetBits();
    for (DWORD i = 0; i < image.GetImageSize(); ++i)
        if (p[i] != 0)
            return false;
    return true;
}

// Records every message box instead of showing it, answering OK.
class MessageBoxRecorder {
public:
    MessageBoxRecorder() {
        AfxSetMessageBoxSink([this](const std::wstring& text, UINT) {
            texts.push_back(text);
            return IDOK;
        });
    }
    ~MessageBoxRecorder() { AfxSetMessageBoxSink(nullptr); }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;
    std::vector<std::wstring> texts;
};

// GDI objects running short while it lives: the handle table filled for real with `spare` objects
// left free, or (spare < 0) the test cap standing in for the quota, at one object for images.
class GdiShortage {
public:
    explicit GdiShortage(int spare) {
        if (spare >= 0)
            full_ = std::make_unique<GdiExhaustion>(spare);
        else
            CFrameImage::SetGdiObjectLimitForTesting(1);
    }
    ~GdiShortage() { End(); }
    GdiShortage(const GdiShortage&) = delete;
    GdiShortage& operator=(const GdiShortage&) = delete;
    void End() {
        full_.reset();
        CFrameImage::SetGdiObjectLimitForTesting(0);
    }

private:
    std::unique_ptr<GdiExhaustion> full_;
};

// Sets the application profile's "MMX" for the images constructed while it lives, and removes
// the value again afterwards. The profile needs an application object, which this provides.
class ProfileMmx {
public:
    explicit ProfileMmx(int value) {
        app_.InitModuleNames(GetModuleHandleW(nullptr));
        EXPECT_TRUE(app_.WriteProfileInt("Technology", "MMX", value));
    }
    ~ProfileMmx() { WritePrivateProfileStringA("Technology", "MMX", nullptr, app_.m_strProfileName); }
    ProfileMmx(const ProfileMmx&) = delete;
    ProfileMmx& operator=(const ProfileMmx&) = delete;

private:
    CWinApp app_;
};
