#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "FrameDc.h"
#include "FrameImage.h"
#include "ProcessorSwitch.h"
#include "TestFrames.h"

namespace {

// An image made while the profile selects the packed (MMX = 1) or the plain (MMX = 0) path.
std::unique_ptr<CFrameImage> MakeImage(bool packed, int width, int height) {
    ProfileMmx profile(packed ? 1 : 0);
    auto image = std::make_unique<CFrameImage>(width, height, 24);
    EXPECT_TRUE(image->HasPixels());
    EXPECT_EQ(packed ? TRUE : FALSE, image->IsPackedBlend());
    return image;
}

// The packed blend as its four-byte groups define it: per row of width x 3 bytes (rows laid end
// to end), whole groups of four, at least one; each byte (S x (128 - w) + D x w) >> 7 in a 16-bit
// lane, saturated; the bytes after the last group keep the destination.
void ReferencePacked(const BYTE* src, BYTE* dst, int width, int height, int percent) {
    const int w = percent * 128 / 100;
    const size_t rowLength = static_cast<size_t>(width) * 3;
    size_t groups = rowLength / 4;
    if (groups == 0)
        groups = 1;
    for (int r = 0; r < height; ++r) {
        const BYTE* s = src + r * rowLength;
        BYTE* d = dst + r * rowLength;
        for (size_t g = 0; g < groups; ++g) {
            for (int b = 0; b < 4; ++b) {
                const uint16_t lane = static_cast<uint16_t>(s[g * 4 + b] * (128 - w) + d[g * 4 + b] * w) >> 7;
                d[g * 4 + b] = static_cast<BYTE>(lane > 255 ? 255 : lane);
            }
        }
    }
}

void ReferencePlain(const BYTE* src, BYTE* dst, size_t bytes, int percent) {
    for (size_t i = 0; i < bytes; ++i) {
        const int v = (src[i] * (100 - percent) + dst[i] * percent) / 100;
        dst[i] = static_cast<BYTE>(v > 255 ? 255 : v);
    }
}

void FillRandom(CFrameImage& image, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (DWORD i = 0; i < image.GetImageSize(); ++i)
        image.GetBits()[i] = static_cast<BYTE>(byte(rng));
}

std::vector<BYTE> BytesOf(const CFrameImage& image) {
    return std::vector<BYTE>(image.GetBits(), image.GetBits() + image.GetImageSize());
}

// Bounding box of the pixels of target's DC that differ from the background colour.
RECT PaintedBox(HDC dc, int width, int height, COLORREF background) {
    RECT box = {width, height, -1, -1};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (GetPixel(dc, x, y) != background) {
                box.left = x < box.left ? x : box.left;
                box.top = y < box.top ? y : box.top;
                box.right = x + 1 > box.right ? x + 1 : box.right;
                box.bottom = y + 1 > box.bottom ? y + 1 : box.bottom;
            }
    return box;
}

} // namespace

TEST(FrameImageTest, CreateFillsTheHeaderAndMakesABlackPicture) {
    struct Case {
        int width, height;
        DWORD sizeImage;
        int stride;
    } cases[] = {
        {640, 480, 921600, 1920}, {96, 72, 20736, 288}, {97, 10, 2920, 292}, {512, 384, 589824, 1536}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        CFrameImage image;
        ASSERT_TRUE(image.Create(c.width, c.height, 24));
        const BITMAPINFO* info = image.GetHeader();
        ASSERT_NE(nullptr, info);
        EXPECT_EQ(CFrameImage::kHeaderBlockSize, 1064u);
        EXPECT_GE(GlobalSize(const_cast<BITMAPINFO*>(info)), 1064u);
        EXPECT_EQ(static_cast<HGLOBAL>(const_cast<BITMAPINFO*>(info)), GlobalHandle(info)) << "fixed memory";
        const BITMAPINFOHEADER& h = info->bmiHeader;
        EXPECT_EQ(40u, h.biSize);
        EXPECT_EQ(c.width, h.biWidth);
        EXPECT_EQ(c.height, h.biHeight) << "positive: bottom-up rows";
        EXPECT_EQ(1, h.biPlanes);
        EXPECT_EQ(24, h.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), h.biCompression);
        EXPECT_EQ(c.sizeImage, h.biSizeImage);
        EXPECT_EQ(static_cast<DWORD>(c.stride * c.height), h.biSizeImage);
        EXPECT_EQ(0, h.biXPelsPerMeter);
        EXPECT_EQ(0, h.biYPelsPerMeter);
        EXPECT_EQ(0u, h.biClrUsed);
        EXPECT_EQ(0u, h.biClrImportant);
        EXPECT_EQ(c.sizeImage, image.GetImageSize());
        const RGBQUAD* palette = reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(info) + 40);
        for (int i = 0; i < 256; ++i) {
            ASSERT_EQ(i, palette[i].rgbBlue) << i;
            ASSERT_EQ(i, palette[i].rgbGreen) << i;
            ASSERT_EQ(i, palette[i].rgbRed) << i;
            ASSERT_EQ(0, palette[i].rgbReserved) << i;
        }
        EXPECT_TRUE(IsBlack(image));
        // No GDI object at rest. A DC lent for drawing holds a section of the image's stride, and
        // while it is open the image's pixels are the section's.
        EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
        {
            CFrameDc dc(image);
            ASSERT_TRUE(dc);
            EXPECT_EQ(2, CFrameImage::GetGdiObjectCount());
            EXPECT_EQ(static_cast<HGDIOBJ>(dc.GetBitmap()), GetCurrentObject(dc.get(), OBJ_BITMAP));
            DIBSECTION section = {};
            ASSERT_EQ(static_cast<int>(sizeof section), GetObjectW(dc.GetBitmap(), sizeof section, &section));
            EXPECT_EQ(image.GetBits(), section.dsBm.bmBits);
            EXPECT_EQ(c.stride, section.dsBm.bmWidthBytes);
            EXPECT_TRUE(IsBlack(image));
        }
        EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    }
}

TEST(FrameImageTest, CreateAgainRemakesAtTheNewSizeAndReleaseEmpties) {
    const int before = CFrameImage::GetLiveImageCount();
    CFrameImage image(640, 480, 24);
    image.Fill(0x7F);
    EXPECT_EQ(before + 1, CFrameImage::GetLiveImageCount());
    ASSERT_TRUE(image.Create(96, 72, 24));
    EXPECT_EQ(20736u, image.GetImageSize());
    EXPECT_TRUE(IsBlack(image)) << "a remade image is new, and so black";
    EXPECT_EQ(before + 1, CFrameImage::GetLiveImageCount());
    image.Release();
    EXPECT_EQ(nullptr, image.GetHeader());
    EXPECT_EQ(nullptr, image.GetBits());
    EXPECT_EQ(0u, image.GetImageSize());
    EXPECT_EQ(before, CFrameImage::GetLiveImageCount());
}

TEST(FrameImageTest, CopyToAndFillMoveEveryByte) {
    std::mt19937 rng(7);
    CFrameImage src(512, 384, 24), dst(512, 384, 24);
    FillRandom(src, rng);
    dst.Fill(0x1234); // only the low 8 bits count
    for (BYTE b : BytesOf(dst))
        ASSERT_EQ(0x34, b);
    EXPECT_TRUE(src.CopyTo(&dst));
    EXPECT_EQ(BytesOf(src), BytesOf(dst));

    // A destination of another shape is refused and left alone.
    CFrameImage other(640, 480, 24);
    other.Fill(9);
    EXPECT_FALSE(src.CopyTo(&other));
    for (BYTE b : BytesOf(other))
        ASSERT_EQ(9, b);
    EXPECT_FALSE(src.CopyTo(nullptr));
}

TEST(FrameImageTest, BlendGivesTheExactValuesOnBothPaths) {
    struct Case {
        BYTE src, dst;
        int percent;
        BYTE plain, packed;
    } cases[] = {
        {200, 0, 30, 140, 140},   // packed: w = 38, (200 x 90) >> 7 = 140
        {200, 0, -5, 200, 200},   // clamped to 0: a copy of the source
        {200, 10, 0, 200, 200},   //
        {200, 10, 150, 10, 10},   // clamped to 100: the destination unchanged
        {200, 10, 100, 10, 10},   //
        {255, 255, 37, 255, 255}, // no wrap at the top
        {255, 0, 3, 247, 249},    // w = 3 is 2.3 % rather than 3 %: the paths differ by 2 here
        {100, 200, 50, 150, 150}, //
    };
    for (bool packed : {false, true}) {
        auto src = MakeImage(packed, 16, 4);
        auto dst = MakeImage(packed, 16, 4);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << (packed ? "packed " : "plain ") << int(c.src) << " over "
                                            << int(c.dst) << " at " << c.percent << " %");
            src->Fill(c.src);
            dst->Fill(c.dst);
            ASSERT_TRUE(src->BlendInto(dst.get(), c.percent));
            for (BYTE b : BytesOf(*dst))
                ASSERT_EQ(packed ? c.packed : c.plain, b);
            for (BYTE b : BytesOf(*src))
                ASSERT_EQ(c.src, b) << "the source is only read";
        }
    }
}

TEST(FrameImageTest, PackedPathMatchesItsFourByteGroupsIncludingRowEnds) {
    // Widths whose rows are whole groups, and widths that leave 1 to 3 bytes at each row's end
    // (97 x 3 = 291, 2 x 3 = 6) or are shorter than one group (1 x 3 = 3).
    std::mt19937 rng(11);
    for (int width : {1, 2, 4, 5, 16, 97, 100, 333, 512, 640}) {
        for (int percent : {0, 1, 3, 30, 50, 77, 99, 100}) {
            SCOPED_TRACE(testing::Message() << "width " << width << ", " << percent << " %");
            auto src = MakeImage(true, width, 7);
            auto dst = MakeImage(true, width, 7);
            FillRandom(*src, rng);
            FillRandom(*dst, rng);
            std::vector<BYTE> expected = BytesOf(*dst);
            ReferencePacked(src->GetBits(), expected.data(), width, 7, percent);
            ASSERT_TRUE(src->BlendInto(dst.get(), percent));
            ASSERT_EQ(expected, BytesOf(*dst));

            auto plainSrc = MakeImage(false, width, 7);
            auto plainDst = MakeImage(false, width, 7);
            ASSERT_TRUE(src->CopyTo(plainSrc.get()));
            FillRandom(*plainDst, rng);
            std::vector<BYTE> plainExpected = BytesOf(*plainDst);
            ReferencePlain(plainSrc->GetBits(), plainExpected.data(), static_cast<size_t>(width) * 3 * 7,
                           percent);
            ASSERT_TRUE(plainSrc->BlendInto(plainDst.get(), percent));
            ASSERT_EQ(plainExpected, BytesOf(*plainDst));
        }
    }
}

TEST(FrameImageTest, PlainAndPackedPathsDifferByAtMostTwo) {
    // Every source and destination byte pair at every percentage. The packed weight is truncated
    // to 7 bits, which costs up to one more step than the plain division: 2, not 1, is the bound.
    const int width = 1024, height = 64; // 196608 bytes: each of the 65536 pairs at least once
    auto plainSrc = MakeImage(false, width, height);
    auto packedSrc = MakeImage(true, width, height);
    auto plainDst = MakeImage(false, width, height);
    auto packedDst = MakeImage(true, width, height);
    std::vector<BYTE> dstBytes(plainDst->GetImageSize());
    for (size_t i = 0; i < dstBytes.size(); ++i) {
        plainSrc->GetBits()[i] = static_cast<BYTE>(i & 0xFF);
        dstBytes[i] = static_cast<BYTE>((i >> 8) & 0xFF);
    }
    ASSERT_TRUE(plainSrc->CopyTo(packedSrc.get()));
    int worst = 0;
    for (int percent = 0; percent <= 100; ++percent) {
        std::copy(dstBytes.begin(), dstBytes.end(), plainDst->GetBits());
        std::copy(dstBytes.begin(), dstBytes.end(), packedDst->GetBits());
        ASSERT_TRUE(plainSrc->BlendInto(plainDst.get(), percent));
        ASSERT_TRUE(packedSrc->BlendInto(packedDst.get(), percent));
        for (size_t i = 0; i < dstBytes.size(); ++i) {
            const int d = std::abs(plainDst->GetBits()[i] - packedDst->GetBits()[i]);
            ASSERT_LE(d, 2) << "byte " << i << " at " << percent << " %";
            worst = d > worst ? d : worst;
        }
    }
    EXPECT_EQ(2, worst);
}

TEST(FrameImageTest, ProfileValueSelectsThePath) {
    ASSERT_TRUE(ProcessorHasMmx()) << "every x86-64 processor reports MMX";
    struct Case {
        int value;
        BOOL packed;
    } cases[] = {{1, TRUE}, {0, FALSE}, {2, FALSE}, {-1, FALSE}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "MMX = " << c.value);
        ProfileMmx profile(c.value);
        EXPECT_EQ(c.packed, IsPackedBlendSelected());
        CFrameImage src(4, 4, 24), dst(4, 4, 24);
        EXPECT_EQ(c.packed, src.IsPackedBlend());
        // 255 over 0 at 3 % tells the paths apart: 247 plain, 249 packed.
        src.Fill(255);
        dst.Fill(0);
        ASSERT_TRUE(src.BlendInto(&dst, 3));
        EXPECT_EQ(c.packed ? 249 : 247, dst.GetBits()[0]);
    }
    // With the value missing the default 1 applies, and so it does with no application object.
    {
        ProfileMmx profile(0);
        WritePrivateProfileStringA("Technology", "MMX", nullptr, AfxGetApp()->m_strProfileName);
        EXPECT_TRUE(CFrameImage().IsPackedBlend());
    }
    ASSERT_EQ(nullptr, AfxGetApp());
    EXPECT_TRUE(CFrameImage().IsPackedBlend());
}

TEST(FrameImageTest, StretchDrawLandsWhereTheTargetShowsIt) {
    // A 640 x 480 picture, red above and green below, drawn into a 200 x 100 grey target; the
    // painted area is found by reading the target's pixels back.
    GrabbedFrame picture(640, 480);
    picture.FillRect(0, 0, 640, 240, 0, 0, 255);
    picture.FillRect(0, 240, 640, 480, 0, 255, 0);
    CFrameImage image(640, 480, 24);
    ASSERT_TRUE(image.HasPixels());
    std::copy(picture.bits.begin(), picture.bits.end(), image.GetBits());

    struct Case {
        const char* name;
        RECT box;
        BOOL keepAspect, centre;
        RECT painted; // left, top, right (exclusive), bottom (exclusive)
    } cases[] = {
        {"aspect kept, centred", {0, 0, 200, 100}, TRUE, TRUE, {33, 0, 166, 100}},
        {"aspect kept, at the corner", {0, 0, 200, 100}, TRUE, FALSE, {0, 0, 133, 100}},
        {"stretched over the box", {10, 20, 190, 80}, FALSE, FALSE, {10, 20, 190, 80}},
        {"tall box: fits the width", {20, 0, 120, 100}, TRUE, TRUE, {20, 12, 120, 87}},
    };
    const COLORREF grey = RGB(0x40, 0x40, 0x40);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFrameImage target(200, 100, 24);
        target.Fill(0x40);
        CFrameDc targetDc(target);
        ASSERT_TRUE(targetDc);
        EXPECT_NE(0, image.StretchDraw(targetDc.get(), c.box.left, c.box.top, c.box.right, c.box.bottom,
                                       c.keepAspect, c.centre));
        GdiFlush();
        const RECT box = PaintedBox(targetDc.get(), 200, 100, grey);
        EXPECT_EQ(c.painted.left, box.left);
        EXPECT_EQ(c.painted.top, box.top);
        EXPECT_EQ(c.painted.right, box.right);
        EXPECT_EQ(c.painted.bottom, box.bottom);
        // Upright: the picture's top (red) is at the painted area's top.
        const int midX = (box.left + box.right) / 2;
        EXPECT_EQ(RGB(255, 0, 0), GetPixel(targetDc.get(), midX, box.top + 2));
        EXPECT_EQ(RGB(0, 255, 0), GetPixel(targetDc.get(), midX, box.bottom - 3));
        EXPECT_EQ(COLORONCOLOR, GetStretchBltMode(targetDc.get()));
    }
}

TEST(FrameImageTest, DrawCopiesUnscaledAndAddToImageListKeepsTheImageDrawable) {
    GrabbedFrame picture(16, 8);
    picture.FillRect(0, 0, 16, 8, 10, 20, 30);
    picture.FillRect(0, 0, 1, 1, 0, 0, 255); // top-left pixel red
    CFrameImage image(16, 8, 24);
    std::copy(picture.bits.begin(), picture.bits.end(), image.GetBits());

    CFrameImage target(40, 30, 24);
    {
        CFrameDc targetDc(target);
        ASSERT_TRUE(targetDc);
        EXPECT_TRUE(image.Draw(targetDc.get(), 5, 7));
        GdiFlush();
        EXPECT_EQ(RGB(255, 0, 0), GetPixel(targetDc.get(), 5, 7));
        EXPECT_EQ(RGB(30, 20, 10), GetPixel(targetDc.get(), 20, 14));
        EXPECT_EQ(RGB(0, 0, 0), GetPixel(targetDc.get(), 21, 14)) << "unscaled: 16 wide from x = 5";
        EXPECT_EQ(RGB(0, 0, 0), GetPixel(targetDc.get(), 5, 15));
    }
    EXPECT_EQ(RGB(30, 20, 10), PixelOf(target, 20, 14)) << "the drawing stays in the image";

    CImageList list;
    ASSERT_TRUE(list.Create(16, 8, ILC_COLOR24, 0, 2));
    EXPECT_EQ(0, image.AddToImageList(&list));
    EXPECT_EQ(1, image.AddToImageList(&list));
    EXPECT_EQ(2, list.GetImageCount());
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount()) << "the bitmap the list copied is gone";
    CFrameImage fromList(16, 8, 24);
    {
        CFrameDc dc(fromList);
        ASSERT_TRUE(ImageList_Draw(list.m_hImageList, 1, dc.get(), 0, 0, ILD_NORMAL));
    }
    EXPECT_EQ(BytesOf(image), BytesOf(fromList));
    EXPECT_TRUE(list.DeleteImageList());
    EXPECT_FALSE(list.DeleteImageList());
    EXPECT_EQ(-1, image.AddToImageList(&list)) << "no list to add to";
}

TEST(FrameImageTest, AnImageWithoutPixelsIsNeverReadOrWritten) {
    // Three ways to lack pixels: never made, refused sizes, and a section the platform would not
    // make (the image cap stands in for the GDI quota).
    CFrameImage good(64, 48, 24), target(64, 48, 24);
    CFrameImage never;
    CFrameImage zero(0, 0, 24);
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount());
    CFrameImage refused(64, 48, 24);
    CFrameImage::SetImageLimitForTesting(0);
    ASSERT_NE(nullptr, refused.GetHeader()) << "the header stays when the pixel memory is refused";
    EXPECT_EQ(9216u, refused.GetImageSize());

    CImageList list;
    ASSERT_TRUE(list.Create(64, 48, ILC_COLOR24, 0, 1));
    CFrameDc targetDc(target);
    ASSERT_TRUE(targetDc);
    for (CFrameImage* bad : {&never, &zero, &refused}) {
        SCOPED_TRACE(bad == &never ? "never made" : bad == &zero ? "0 x 0" : "refused");
        EXPECT_FALSE(bad->HasPixels());
        EXPECT_EQ(nullptr, bad->GetBits());
        good.Fill(0x55);
        target.Fill(0x66);
        bad->Fill(0x77);
        EXPECT_FALSE(bad->CopyTo(&good));
        EXPECT_FALSE(good.CopyTo(bad));
        EXPECT_FALSE(bad->BlendInto(&good, 50));
        EXPECT_FALSE(good.BlendInto(bad, 50));
        EXPECT_FALSE(bad->Draw(targetDc.get(), 0, 0));
        EXPECT_EQ(0, bad->StretchDraw(targetDc.get(), 0, 0, 64, 48, TRUE, TRUE));
        EXPECT_FALSE(CFrameDc(*bad)) << "no DC lent to an image without pixels";
        EXPECT_EQ(-1, bad->AddToImageList(&list));
        GdiFlush();
        for (BYTE b : BytesOf(good))
            ASSERT_EQ(0x55, b);
        for (BYTE b : BytesOf(target))
            ASSERT_EQ(0x66, b);
        EXPECT_EQ(0, list.GetImageCount());
    }
}

TEST(FrameImageTest, ImagesHoldNoGdiObjectsAndDrawFromMemoryAsFromADc) {
    // Many images, and not one GDI object more: counted by the project's own counter, by probing
    // the handle table (Wine) and by GetGuiResources where the platform reports it (Windows).
    const int freeBefore = FreeGdiObjectSlots();
    const DWORD guiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    {
        std::vector<std::unique_ptr<CFrameImage>> many;
        for (int i = 0; i < 500; ++i)
            many.push_back(std::make_unique<CFrameImage>(512, 384, 24));
        EXPECT_TRUE(many.back()->HasPixels());
        EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
        EXPECT_EQ(freeBefore, FreeGdiObjectSlots());
        if (guiBefore != 0) { // Windows; Wine answers 0
            EXPECT_EQ(guiBefore, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
        }
    }

    // Drawing from an image gives what GDI gives drawing from a DC that holds the same picture.
    std::mt19937 rng(3);
    CFrameImage image(64, 48, 24);
    FillRandom(image, rng);
    CFrameImage drawnFromDc(100, 80, 24), stretchedFromDc(50, 40, 24);
    {
        CFrameImage copy(64, 48, 24);
        ASSERT_TRUE(image.CopyTo(&copy));
        CFrameDc source(copy), drawn(drawnFromDc), stretched(stretchedFromDc);
        ASSERT_TRUE(source && drawn && stretched);
        ASSERT_TRUE(BitBlt(drawn.get(), 5, 7, 64, 48, source.get(), 0, 0, SRCCOPY));
        SetStretchBltMode(stretched.get(), COLORONCOLOR);
        ASSERT_TRUE(StretchBlt(stretched.get(), 0, 1, 50, 37, source.get(), 0, 0, 64, 48, SRCCOPY));
    }
    const std::vector<BYTE> bytes = BytesOf(image);
    CImageList list;
    ASSERT_TRUE(list.Create(64, 48, ILC_COLOR24, 0, 2));
    const int freeSlots = FreeGdiObjectSlots();
    CFrameImage drawn(100, 80, 24), stretched(50, 40, 24);
    {
        CFrameDc drawnDc(drawn), stretchedDc(stretched);
        ASSERT_TRUE(image.Draw(drawnDc.get(), 5, 7));
        ASSERT_NE(0, image.StretchDraw(stretchedDc.get(), 0, 0, 50, 40, TRUE, TRUE));
    }
    EXPECT_EQ(BytesOf(drawnFromDc), BytesOf(drawn));
    EXPECT_EQ(BytesOf(stretchedFromDc), BytesOf(stretched));
    ASSERT_EQ(0, image.AddToImageList(&list));
    EXPECT_EQ(bytes, BytesOf(image)) << "drawing from an image leaves it alone";
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    EXPECT_EQ(freeSlots, FreeGdiObjectSlots()) << "no GDI object is left behind by drawing";
    EXPECT_TRUE(image.KeepPixelsOnly()) << "kept for the clip maker; nothing to give up";
    EXPECT_EQ(bytes, BytesOf(image));

    // Copy, fill and blend work on the pixels as before.
    CFrameImage other(64, 48, 24);
    ASSERT_TRUE(image.CopyTo(&other));
    EXPECT_EQ(bytes, BytesOf(other));
    other.Fill(200);
    image.Fill(0);
    ASSERT_TRUE(other.BlendInto(&image, 30));
    for (BYTE b : BytesOf(image))
        ASSERT_EQ(140, b);

    image.Release();
    EXPECT_FALSE(image.HasPixels());
    EXPECT_FALSE(image.KeepPixelsOnly());
}

TEST(FrameDcTest, DrawingThroughTheDcLandsInTheImageAndTheImageStaysCoherent) {
    CFrameImage image(32, 16, 24);
    image.Fill(0x10);
    const int freeSlots = FreeGdiObjectSlots();
    {
        CFrameDc dc(image);
        ASSERT_TRUE(dc);
        EXPECT_EQ(RGB(0x10, 0x10, 0x10), GetPixel(dc.get(), 3, 3)) << "the DC starts from the image";
        // What the image's own operations write, GDI reads, and the other way round.
        image.Fill(0x20);
        EXPECT_EQ(RGB(0x20, 0x20, 0x20), GetPixel(dc.get(), 3, 3));
        ASSERT_TRUE(SetPixelV(dc.get(), 1, 2, RGB(0xAA, 0xBB, 0xCC)));
        GdiFlush();
        EXPECT_EQ(RGB(0xAA, 0xBB, 0xCC), PixelOf(image, 1, 2));
        {
            CFrameDc inner(image); // a second DC on the same image, closed first
            ASSERT_TRUE(inner);
            EXPECT_EQ(RGB(0xAA, 0xBB, 0xCC), GetPixel(inner.get(), 1, 2));
            ASSERT_TRUE(SetPixelV(inner.get(), 5, 6, RGB(1, 2, 3)));
            EXPECT_EQ(4, CFrameImage::GetGdiObjectCount());
        }
        EXPECT_EQ(RGB(1, 2, 3), PixelOf(image, 5, 6));
        EXPECT_EQ(RGB(1, 2, 3), GetPixel(dc.get(), 5, 6)) << "the outer DC sees what the inner one drew";
        ASSERT_TRUE(SetPixelV(dc.get(), 31, 15, RGB(9, 8, 7)));
    }
    EXPECT_EQ(RGB(0xAA, 0xBB, 0xCC), PixelOf(image, 1, 2));
    EXPECT_EQ(RGB(1, 2, 3), PixelOf(image, 5, 6));
    EXPECT_EQ(RGB(9, 8, 7), PixelOf(image, 31, 15)) << "drawn just before the DC closed";
    EXPECT_EQ(RGB(0x20, 0x20, 0x20), PixelOf(image, 0, 0));
    EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    EXPECT_EQ(freeSlots, FreeGdiObjectSlots()) << "the DC and the section are gone";
}

TEST(FrameDcTest, ARefusedDcLeavesTheImageAsItWas) {
    CFrameImage image(32, 16, 24);
    image.Fill(0x33);
    const std::vector<BYTE> bytes = BytesOf(image);
    const BYTE* bits = image.GetBits();
    const int freeSlots = FreeGdiObjectSlots();
    struct Case {
        const char* name;
        int spareObjects; // -1: the test cap instead of a full table
    } cases[] = {{"handle table full", 0}, {"room for the DC only", 1}, {"test cap reached", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            GdiShortage shortage(c.spareObjects);
            CFrameDc dc(image);
            shortage.End();
            EXPECT_FALSE(dc);
            EXPECT_EQ(nullptr, dc.get());
            EXPECT_EQ(bits, image.GetBits());
            EXPECT_EQ(bytes, BytesOf(image));
        }
        EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
        EXPECT_EQ(freeSlots, FreeGdiObjectSlots());
    }
}
