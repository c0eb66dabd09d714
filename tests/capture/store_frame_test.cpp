// StoreFrame's side of a grabbed frame: what it accepts from the capture graph, and how the live
// picture is scaled into the ring slot.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

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
