// StoreFrame's side of a grabbed frame: what it accepts from the capture graph, and how the live
// picture is scaled into the ring slot.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "FrameDc.h"
#include "FrameStore.h"
#include "TestFrames.h"

namespace {

// A grabbed frame handed over as the capture graph hands it: a header, and a buffer of `delivered`
// bytes that ends where an inaccessible page begins.
struct DeliveredCase {
    const char* name;
    int width, height; // height < 0: a top-down frame
    WORD bitCount;
    DWORD compression;
    long long delivered; // -1: exactly what the padded rows need
    bool stored;
};

} // namespace

TEST(StoreFrameTest, AFrameIsNeverReadPastTheBytesDelivered) {
    const DeliveredCase cases[] = {
        {"640 x 480, whole", 640, 480, 24, BI_RGB, -1, true},
        {"640 x 480, one byte short", 640, 480, 24, BI_RGB, 921599, false},
        {"640 x 480, one row short", 640, 480, 24, BI_RGB, 921600 - 1920, false},
        {"nothing delivered", 640, 480, 24, BI_RGB, 0, false},
        {"top-down, whole", 640, -480, 24, BI_RGB, -1, true},
        {"top-down, one byte short", 640, -480, 24, BI_RGB, 921599, false},
        // 97 x 3 = 291 bytes a row, padded to 292: the grabber's biSizeImage (width x 3 x height)
        // is ten bytes short of what the rows need.
        {"odd width, padded rows", 97, 10, 24, BI_RGB, 2920, true},
        {"odd width, biSizeImage only", 97, 10, 24, BI_RGB, 2910, false},
        {"more than needed", 320, 240, 24, BI_RGB, 230400 + 4096, true},
        {"32 bits a pixel", 640, 480, 32, BI_RGB, 1228800, false},
        {"bit fields", 640, 480, 24, BI_BITFIELDS, 921600, false},
        {"no width", 0, 480, 24, BI_RGB, 921600, false},
        {"no height", 640, 0, 24, BI_RGB, 921600, false},
        {"width beyond any buffer", 0x7FFFFFFF, 2, 24, BI_RGB, 921600, false},
    };
    for (const DeliveredCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int rows = c.height < 0 ? -c.height : c.height;
        const int shownWidth = c.width > 0 && c.width <= 640 ? c.width : 640;
        const int shownRows = rows > 0 && rows <= 480 ? rows : 480;
        GrabbedFrame picture(shownWidth, shownRows);
        picture.FillRect(0, 0, shownWidth, shownRows, 0x20, 0x40, 0x60);
        BITMAPINFOHEADER header = picture.header;
        header.biWidth = c.width;
        header.biHeight = c.height;
        header.biBitCount = c.bitCount;
        header.biCompression = c.compression;
        header.biSizeImage = static_cast<DWORD>(static_cast<long long>(c.width) * 3 * rows);
        const size_t delivered = c.delivered < 0 ? picture.bits.size() : static_cast<size_t>(c.delivered);
        std::vector<BYTE> bytes(delivered, 0x55);
        std::copy(picture.bits.begin(), picture.bits.begin() + std::min(delivered, picture.bits.size()),
                  bytes.begin());
        GuardedBytes buffer(bytes.data(), bytes.size());
        ASSERT_NE(nullptr, buffer.data());

        CFrameStore store;
        ASSERT_TRUE(store.Allocate(64, 48, 1, 0, 4));
        store.GetSlot(0)->Fill(0x99);
        bool published = false;
        const RECT src = {0, 0, c.width, rows}, dst = {0, 0, 64, 48};
        EXPECT_FALSE(store.StoreFrame(buffer.data(), buffer.size(), &header, src, dst,
                                      [&](CFrameImage&) { published = true; }));
        EXPECT_EQ(c.stored, published);
        EXPECT_EQ(c.stored ? 1 : 0, store.GetWriteIndex()) << "a refused frame does not move the ring";
        const COLORREF shown = PixelOf(*store.GetSlot(0), 32, 24);
        EXPECT_EQ(c.stored ? RGB(0x60, 0x40, 0x20) : RGB(0x99, 0x99, 0x99), shown);
    }
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(64, 48, 1, 0, 4));
    GrabbedFrame frame(64, 48);
    const RECT rect = {0, 0, 64, 48};
    EXPECT_FALSE(store.StoreFrame(frame.bits.data(), frame.bits.size(), nullptr, rect, rect));
    EXPECT_FALSE(store.StoreFrame(nullptr, frame.bits.size(), &frame.header, rect, rect));
    EXPECT_EQ(0, store.GetWriteIndex());
}

namespace {

// The scale the store promises, written out plainly: destination pixel (x, y) of the rectangle
// (dx, dy, dw, dh) shows the source pixel of the rectangle (sx, sy, sw, sh) whose span holds the
// destination pixel's centre, (x - dx + 1/2) x sw / dw. Pixels outside the rectangle are left.
void ReferenceScale(const GrabbedFrame& src, const RECT& s, CFrameImage& dst, const RECT& d,
                    std::vector<BYTE>& out) {
    const int dstStride = ((dst.GetWidth() * 24 + 31) / 32) * 4;
    const int srcStride = GrabbedFrame::Stride(src.Width());
    const int srcRows = src.Height() < 0 ? -src.Height() : src.Height();
    out.assign(dst.GetBits(), dst.GetBits() + dst.GetImageSize());
    for (int y = 0; y < dst.GetHeight(); ++y) {
        if (y < d.top || y >= d.top + d.bottom)
            continue;
        const int ys = s.top + static_cast<int>((y - d.top + 0.5) * s.bottom / d.bottom);
        const int memoryRow = src.Height() < 0 ? ys : srcRows - 1 - ys;
        for (int x = 0; x < dst.GetWidth(); ++x) {
            if (x < d.left || x >= d.left + d.right)
                continue;
            const int xs = s.left + static_cast<int>((x - d.left + 0.5) * s.right / d.right);
            const BYTE* p = src.bits.data() + static_cast<size_t>(memoryRow) * srcStride + xs * 3;
            BYTE* q = out.data() + static_cast<size_t>(dst.GetHeight() - 1 - y) * dstStride + x * 3;
            q[0] = p[0];
            q[1] = p[1];
            q[2] = p[2];
        }
    }
}

std::vector<BYTE> BytesOf(const CFrameImage& image) {
    return std::vector<BYTE>(image.GetBits(), image.GetBits() + image.GetImageSize());
}

struct ScaleCase {
    int srcWidth, srcHeight, dstWidth, dstHeight;
};

// The sizes a camera delivers and the sizes the ring is kept at, odd widths among them.
const ScaleCase kSizes[] = {
    {640, 480, 512, 384}, {320, 240, 512, 384}, {160, 120, 512, 384}, {512, 384, 512, 384},
    {176, 144, 512, 384}, {321, 241, 512, 384}, {97, 10, 512, 384},   {641, 479, 512, 384},
    {640, 480, 320, 240}, {640, 480, 160, 120}, {640, 480, 97, 73},   {33, 7, 97, 73},
    {1, 1, 512, 384},     {640, 480, 1, 1},
};

} // namespace

TEST(StoreFrameTest, AlternatingColumnsKeepTheirColoursAt640To512) {
    // Red and green columns in turn. With the memory DC's default stretch mode, shrinking ANDed
    // every dropped column into a kept one and a quarter of the columns came out black.
    GrabbedFrame stripes(640, 480);
    for (int x = 0; x < 640; ++x)
        stripes.FillRect(x, 0, x + 1, 480, 0, x % 2 ? 0xFF : 0, x % 2 ? 0 : 0xFF);
    CFrameStore store;
    ASSERT_TRUE(store.Allocate(512, 384, 1, 0, 1));
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};
    ASSERT_FALSE(store.StoreFrame(stripes.bits.data(), stripes.bits.size(), &stripes.header, src, dst));
    const CFrameImage& slot = *store.GetSlot(0);
    int red = 0, green = 0;
    for (int x = 0; x < 512; ++x) {
        const COLORREF top = PixelOf(slot, x, 0);
        ASSERT_TRUE(top == RGB(255, 0, 0) || top == RGB(0, 255, 0))
            << "column " << x << " is " << std::hex << top;
        (top == RGB(255, 0, 0) ? red : green)++;
        for (int y = 1; y < 384; ++y)
            ASSERT_EQ(top, PixelOf(slot, x, y)) << x << "," << y;
    }
    EXPECT_EQ(256, red);
    EXPECT_EQ(256, green);
    std::vector<BYTE> expected;
    CFrameImage blank(512, 384, 24);
    ReferenceScale(stripes, src, blank, dst, expected);
    EXPECT_EQ(expected, BytesOf(slot));
}

TEST(StoreFrameTest, EverySizeScalesAsTheReferenceDoesAndAFlatColourStaysExact) {
    std::mt19937 rng(21);
    for (const ScaleCase& c : kSizes) {
        for (bool topDown : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.srcWidth << " x " << c.srcHeight << " -> " << c.dstWidth
                                            << " x " << c.dstHeight << (topDown ? ", top-down" : ""));
            CFrameStore store;
            ASSERT_TRUE(store.Allocate(c.dstWidth, c.dstHeight, 1, 0, 2));
            GrabbedFrame frame(c.srcWidth, c.srcHeight);
            for (BYTE& b : frame.bits)
                b = static_cast<BYTE>(rng());
            if (topDown)
                frame.header.biHeight = -c.srcHeight;
            const RECT src = {0, 0, c.srcWidth, c.srcHeight}, dst = {0, 0, c.dstWidth, c.dstHeight};
            ASSERT_FALSE(store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, src, dst));
            std::vector<BYTE> expected;
            CFrameImage blank(c.dstWidth, c.dstHeight, 24);
            ReferenceScale(frame, src, blank, dst, expected);
            ASSERT_EQ(expected, BytesOf(*store.GetSlot(0)));

            const BYTE flats[][3] = {{0x12, 0x34, 0x56}, {0xFF, 0xFF, 0xFF}, {1, 0, 0xFE}};
            for (const auto& colour : flats) {
                const int into = store.GetWriteIndex();
                store.GetSlot(into)->Fill(0);
                const int srcStride = GrabbedFrame::Stride(c.srcWidth);
                for (int row = 0; row < c.srcHeight; ++row)
                    for (int x = 0; x < c.srcWidth; ++x)
                        std::copy(colour, colour + 3,
                                  frame.bits.data() + static_cast<size_t>(row) * srcStride + x * 3);
                ASSERT_FALSE(store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, src, dst));
                const CFrameImage& slot = *store.GetSlot(into);
                const int stride = ((c.dstWidth * 24 + 31) / 32) * 4;
                for (int y = 0; y < c.dstHeight; ++y) {
                    const BYTE* row = slot.GetBits() + static_cast<size_t>(y) * stride;
                    for (int x = 0; x < c.dstWidth; ++x)
                        ASSERT_TRUE(row[x * 3] == colour[0] && row[x * 3 + 1] == colour[1] &&
                                    row[x * 3 + 2] == colour[2])
                            << x << "," << y;
                    for (int pad = c.dstWidth * 3; pad < stride; ++pad)
                        ASSERT_EQ(0, row[pad]) << "row padding written at " << y;
                }
            }
        }
    }
}

TEST(StoreFrameTest, EachPixelComesFromUnderItAsWithGdiColourOnColourStretching) {
    // Every source column (and, in a second frame, every source row) has a colour of its own, so
    // each destination pixel tells which source pixel it came from: always one that lies under the
    // destination pixel (the one nearest its centre). GDI's COLORONCOLOR stretching of the same
    // frame picks one under it too, not always the same one (it does not aim at the centre); the
    // test prints how often they differ.
    struct Case {
        int sw, sh, dw, dh;
    } const cases[] = {
        {640, 480, 512, 384}, {320, 240, 512, 384}, {176, 144, 512, 384}, {640, 480, 160, 120}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sw << " x " << c.sh << " -> " << c.dw << " x " << c.dh);
        for (bool columns : {true, false}) {
            GrabbedFrame frame(c.sw, c.sh);
            for (int i = 0; i < (columns ? c.sw : c.sh); ++i) {
                const BYTE lo = static_cast<BYTE>(i & 0xFF), hi = static_cast<BYTE>(i >> 8);
                if (columns)
                    frame.FillRect(i, 0, i + 1, c.sh, lo, hi, 0x77);
                else
                    frame.FillRect(0, i, c.sw, i + 1, lo, hi, 0x77);
            }
            CFrameStore store;
            ASSERT_TRUE(store.Allocate(c.dw, c.dh, 1, 0, 1));
            const RECT src = {0, 0, c.sw, c.sh}, dst = {0, 0, c.dw, c.dh};
            ASSERT_FALSE(store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, src, dst));
            CFrameImage gdi(c.dw, c.dh, 24);
            {
                CFrameDc dc(gdi);
                ASSERT_TRUE(dc);
                SetStretchBltMode(dc.get(), COLORONCOLOR);
                ASSERT_EQ(c.sh, StretchDIBits(dc.get(), 0, 0, c.dw, c.dh, 0, 0, c.sw, c.sh, frame.bits.data(),
                                              reinterpret_cast<const BITMAPINFO*>(&frame.header),
                                              DIB_RGB_COLORS, SRCCOPY));
            }
            const auto source = [](COLORREF colour) { return GetBValue(colour) | (GetGValue(colour) << 8); };
            const int m = columns ? c.dw : c.dh;
            int differing = 0;
            for (int i = 0; i < m; ++i) {
                const int x = columns ? i : c.dw / 2, y = columns ? c.dh / 2 : i;
                const int ours = source(PixelOf(*store.GetSlot(0), x, y));
                const int theirs = source(PixelOf(gdi, x, y));
                const int n = columns ? c.sw : c.sh;
                const int first = i * n / m, last = ((i + 1) * n - 1) / m; // the source under pixel i
                ASSERT_GE(ours, first) << (columns ? "column " : "row ") << i;
                ASSERT_LE(ours, last) << (columns ? "column " : "row ") << i;
                ASSERT_LE(std::abs(ours - theirs), (n + m - 1) / m)
                    << "GDI's pick, " << (columns ? "column " : "row ") << i;
                differing += ours != theirs;
            }
            std::printf("  %dx%d -> %dx%d: %d of %d %s come from another source pixel than GDI picks\n", c.sw,
                        c.sh, c.dw, c.dh, differing, m, columns ? "columns" : "rows");
        }
    }
}

TEST(StoreFrameTest, RectanglesPickThePartDrawnAndWhereAndAreClippedToTheSlot) {
    std::mt19937 rng(8);
    GrabbedFrame frame(200, 150);
    for (BYTE& b : frame.bits)
        b = static_cast<BYTE>(rng());
    struct Case {
        const char* name;
        RECT src, dst; // x, y, width, height
        bool stored;
    } const cases[] = {
        {"part of the frame", {50, 30, 100, 60}, {0, 0, 160, 120}, true},
        {"into part of the slot", {0, 0, 200, 150}, {20, 10, 100, 75}, true},
        {"hanging over every edge", {0, 0, 200, 150}, {-30, -20, 220, 170}, true},
        {"wholly beside the slot", {0, 0, 200, 150}, {160, 0, 50, 50}, true},
        {"source past the right edge", {150, 0, 51, 150}, {0, 0, 160, 120}, false},
        {"source past the bottom", {0, 100, 200, 51}, {0, 0, 160, 120}, false},
        {"source left of the frame", {-1, 0, 100, 100}, {0, 0, 160, 120}, false},
        {"empty source", {0, 0, 0, 150}, {0, 0, 160, 120}, false},
        {"empty destination", {0, 0, 200, 150}, {0, 0, 160, 0}, false},
        {"mirrored", {0, 0, 200, 150}, {0, 0, -160, 120}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFrameStore store;
        ASSERT_TRUE(store.Allocate(160, 120, 1, 0, 1));
        store.GetSlot(0)->Fill(0x5A);
        std::vector<BYTE> expected;
        if (c.stored)
            ReferenceScale(frame, c.src, *store.GetSlot(0), c.dst, expected);
        else
            expected = BytesOf(*store.GetSlot(0));
        bool published = false;
        store.StoreFrame(frame.bits.data(), frame.bits.size(), &frame.header, c.src, c.dst,
                         [&](CFrameImage&) { published = true; });
        EXPECT_EQ(c.stored, published);
        EXPECT_EQ(expected, BytesOf(*store.GetSlot(0)));
    }
}
