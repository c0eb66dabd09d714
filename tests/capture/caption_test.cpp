// The caption drawn once and applied to every frame, against the caption drawn with GDI into each.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "Caption.h"
#include "CaptionFont.h"
#include "FrameDc.h"
#include "TestFrames.h"

namespace {

const char kText[] = "ZELKOR";
const int kTextLength = 6;

// The clip maker's drawing, written out here as the reference: on the frame's own DC, the font
// selected, a transparent background, white text at the eight points around (10, 10) in this
// order, then red text at (10, 10).
void DrawWithGdi(CFrameImage& frame, const LOGFONTA& logFont) {
    HFONT font = CreateFontIndirectA(&logFont);
    ASSERT_NE(nullptr, font);
    {
        CFrameDc dc(frame);
        ASSERT_TRUE(dc);
        HGDIOBJ old = SelectObject(dc.get(), font);
        SetBkMode(dc.get(), TRANSPARENT);
        SetTextColor(dc.get(), 0xFFFFFF);
        const POINT outline[] = {{9, 9}, {10, 9}, {11, 9}, {9, 10}, {11, 10}, {9, 11}, {10, 11}, {11, 11}};
        for (const POINT& p : outline)
            TextOutA(dc.get(), p.x, p.y, kText, kTextLength);
        SelectObject(dc.get(), font);
        SetTextColor(dc.get(), 0x0000FF);
        TextOutA(dc.get(), 10, 10, kText, kTextLength);
        SelectObject(dc.get(), old);
    }
    DeleteObject(font);
}

struct Background {
    const char* name;
    std::function<BYTE(int x, int y, int channel)> byte;
};

void Paint(CFrameImage& frame, const Background& background) {
    const int stride = ((frame.GetWidth() * 24 + 31) / 32) * 4;
    for (int y = 0; y < frame.GetHeight(); ++y) {
        BYTE* row = frame.GetBits() + static_cast<size_t>(frame.GetHeight() - 1 - y) * stride;
        for (int x = 0; x < frame.GetWidth(); ++x)
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] = background.byte(x, y, c);
    }
}

std::vector<BYTE> BytesOf(const CFrameImage& image) {
    return std::vector<BYTE>(image.GetBits(), image.GetBits() + image.GetImageSize());
}

} // namespace

TEST(CaptionTest, DrawnOnceItMatchesGdiDrawingOnEveryBackground) {
    std::mt19937 rng(5);
    std::vector<BYTE> noise(512 * 384 * 3);
    for (BYTE& b : noise)
        b = static_cast<BYTE>(rng());
    const Background backgrounds[] = {
        {"black", [](int, int, int) -> BYTE { return 0; }},
        {"white", [](int, int, int) -> BYTE { return 255; }},
        {"mid grey", [](int, int, int) -> BYTE { return 0x80; }},
        {"red", [](int, int, int c) -> BYTE { return c == 2 ? 255 : 0; }},
        {"blue", [](int, int, int c) -> BYTE { return c == 0 ? 255 : 0; }},
        {"dark green", [](int, int, int c) -> BYTE { return c == 1 ? 0x40 : 0; }},
        {"horizontal ramp", [](int x, int, int c) -> BYTE { return static_cast<BYTE>(x * 2 + c * 40); }},
        {"vertical ramp", [](int, int y, int) -> BYTE { return static_cast<BYTE>(y * 6); }},
        {"checkerboard", [](int x, int y, int) -> BYTE { return ((x ^ y) & 1) ? 255 : 0; }},
        {"noise", [&](int x, int y, int c) { return noise[(static_cast<size_t>(y) * 512 + x) * 3 + c]; }},
    };
    const LOGFONTA font = CaptionFont();
    CCaption caption;
    ASSERT_TRUE(caption.Prepare(font, kText, kTextLength, 512, 384));
    ASSERT_TRUE(caption.IsPrepared());
    for (const Background& background : backgrounds) {
        SCOPED_TRACE(background.name);
        CFrameImage drawn(512, 384, 24), applied(512, 384, 24);
        Paint(drawn, background);
        Paint(applied, background);
        const std::vector<BYTE> before = BytesOf(applied);
        DrawWithGdi(drawn, font);
        ASSERT_TRUE(caption.ApplyTo(applied));
        const std::vector<BYTE> gdi = BytesOf(drawn), ours = BytesOf(applied);
        int changed = 0, differing = 0, worst = 0;
        RECT box = {512, 384, -1, -1};
        const int stride = 512 * 3;
        for (size_t i = 0; i < gdi.size(); ++i) {
            if (gdi[i] != before[i]) {
                ++changed;
                const int x = static_cast<int>(i % stride) / 3, y = 383 - static_cast<int>(i / stride);
                box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y), std::max<LONG>(box.right, x),
                       std::max<LONG>(box.bottom, y)};
            }
            const int d = std::abs(gdi[i] - ours[i]);
            if (d) {
                ++differing;
                worst = std::max(worst, d);
            }
        }
        std::printf("  %-16s caption bytes %5d in (%ld,%ld)-(%ld,%ld), differing from GDI %4d, largest "
                    "difference %d\n",
                    background.name, changed, box.left, box.top, box.right, box.bottom, differing, worst);
        EXPECT_LE(worst, 1) << differing << " bytes differ";
        // The text lies where it is drawn, its origin 10 pixels in (the italic overhang and the
        // outline reach a little further left and up).
        EXPECT_GT(changed, 1000) << "no caption drawn";
        EXPECT_GE(box.left, 5);
        EXPECT_LE(box.left, 12);
        EXPECT_GE(box.top, 5);
        EXPECT_LE(box.top, 16);
        EXPECT_LT(box.right, 200);
        EXPECT_LT(box.bottom, 80);
    }
}

TEST(CaptionTest, SmallFramesClipTheCaptionAsGdiDoes) {
    // Frames smaller than the caption: GDI clips the text at the frame's edges, and so does the
    // caption prepared for that size.
    const LOGFONTA font = CaptionFont();
    struct Size {
        int width, height;
    } const sizes[] = {{24, 20}, {97, 73}, {160, 120}, {640, 480}};
    for (const Size& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.width << " x " << s.height);
        CCaption caption;
        ASSERT_TRUE(caption.Prepare(font, kText, kTextLength, s.width, s.height));
        CFrameImage drawn(s.width, s.height, 24), applied(s.width, s.height, 24);
        drawn.Fill(0x30);
        applied.Fill(0x30);
        DrawWithGdi(drawn, font);
        ASSERT_TRUE(caption.ApplyTo(applied));
        const std::vector<BYTE> gdi = BytesOf(drawn), ours = BytesOf(applied);
        for (size_t i = 0; i < gdi.size(); ++i)
            ASSERT_LE(std::abs(gdi[i] - ours[i]), 1) << "byte " << i;
        EXPECT_NE(BytesOf(drawn), std::vector<BYTE>(gdi.size(), 0x30)) << "something of the caption shows";
    }
}

TEST(CaptionTest, OnlyFramesOfThePreparedSizeTakeIt) {
    const LOGFONTA font = CaptionFont();
    CCaption caption;
    CFrameImage frame(64, 48, 24);
    frame.Fill(0x44);
    EXPECT_FALSE(caption.IsPrepared());
    EXPECT_FALSE(caption.ApplyTo(frame)) << "nothing prepared";
    ASSERT_TRUE(caption.Prepare(font, kText, kTextLength, 64, 48));

    CFrameImage other(65, 48, 24), empty;
    other.Fill(0x44);
    EXPECT_FALSE(caption.ApplyTo(other));
    EXPECT_EQ(std::vector<BYTE>(other.GetImageSize(), 0x44), BytesOf(other)) << "another size is left alone";
    EXPECT_FALSE(caption.ApplyTo(empty));

    // A clip: every frame of the size takes it; a missing frame makes the answer FALSE.
    CFrameArray clip;
    for (int i = 0; i < 3; ++i) {
        clip.Add(new CFrameImage(64, 48, 24));
        clip.GetAt(i)->Fill(0x44);
    }
    ASSERT_TRUE(caption.ApplyTo(clip));
    ASSERT_TRUE(caption.ApplyTo(frame));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(BytesOf(frame), BytesOf(*clip.GetAt(i))) << "frame " << i;
    clip.Add(nullptr);
    EXPECT_FALSE(caption.ApplyTo(clip));

    // Bad arguments prepare nothing, and a failed Prepare forgets the previous caption.
    EXPECT_FALSE(caption.Prepare(font, nullptr, 6, 64, 48));
    EXPECT_FALSE(caption.IsPrepared());
    EXPECT_FALSE(caption.Prepare(font, kText, kTextLength, 0, 48));
    EXPECT_FALSE(caption.ApplyTo(frame));
}

TEST(CaptionTest, PreparingFailsCleanlyWithoutGdiObjectsAndApplyingNeedsNone) {
    const LOGFONTA font = CaptionFont();
    CCaption ready;
    ASSERT_TRUE(ready.Prepare(font, kText, kTextLength, 64, 48));
    const int freeSlots = FreeGdiObjectSlots();
    struct Case {
        const char* name;
        int spareObjects; // -1: the test cap on images' objects instead of a full table
    } const cases[] = {{"no room for the font", 0},
                       {"room for the font only", 1},
                       {"room for the font and a DC", 2},
                       {"images' objects capped", -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        {
            GdiShortage shortage(c.spareObjects);
            CCaption caption;
            EXPECT_FALSE(caption.Prepare(font, kText, kTextLength, 64, 48));
            EXPECT_FALSE(caption.IsPrepared());
            // What is prepared already applies without a single GDI object.
            CFrameImage frame(64, 48, 24), reference(64, 48, 24);
            EXPECT_TRUE(ready.ApplyTo(frame));
            shortage.End();
            DrawWithGdi(reference, font);
            EXPECT_EQ(BytesOf(reference), BytesOf(frame));
        }
        EXPECT_EQ(freeSlots, FreeGdiObjectSlots()) << "nothing was left behind";
        EXPECT_EQ(0, CFrameImage::GetGdiObjectCount());
    }
}
