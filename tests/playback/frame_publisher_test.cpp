// CFramePublisher on a real channel of its own name, in this process: what a publish writes and
// what it must never write, and what the format read takes from a header anyone may have written.
// The same against another process (a reader, a holder of the mutex) is in tests/system.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "FrameImage.h"
#include "FramePublisher.h"
#include "SharedMem.h"

namespace {

// A name of this test's own: the tests of tests/system use the real "_KLO_SHM" at the same time.
constexpr char kUnitChannel[] = "_ZarvexPublisherUnit";
constexpr BYTE kSentinel = 0xAB;

// A 24-bit frame whose every byte differs from its neighbours and from the sentinel's pattern.
std::unique_ptr<CFrameImage> PatternFrame(int width, int height) {
    auto image = std::make_unique<CFrameImage>(width, height, 24);
    if (image->HasPixels())
        for (DWORD i = 0; i < image->GetImageSize(); ++i)
            image->GetBits()[i] = static_cast<BYTE>(i * 7 + 1);
    return image;
}

class FramePublisherTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_channel.Create(kUnitChannel, kChannelPayloadSize));
        m_header = m_channel.Header();
        ASSERT_NE(nullptr, m_header);
        std::memset(m_header->pixels, kSentinel, sizeof m_header->pixels);
    }

    // Bytes of the pixel area from `from` on that still hold the sentinel.
    bool SentinelFrom(DWORD from) const {
        for (DWORD i = from; i < kChannelPixelBytes; ++i)
            if (m_header->pixels[i] != kSentinel)
                return false;
        return true;
    }

    CSharedMem m_channel;
    SharedFrameHeader* m_header = nullptr;
    CFramePublisher m_publisher{&m_channel};
};

TEST_F(FramePublisherTest, RegistersTheOwnerWindow) {
    const HWND hwnd = CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, hwnd);
    m_header->dwFlags = kFormatFromSetFormat;
    EXPECT_TRUE(m_publisher.RegisterOwner(hwnd));
    EXPECT_EQ(hwnd, OwnerWindowOf(*m_header));
    EXPECT_EQ(kFormatFromSetFormat, m_header->dwFlags) << "only the owner window is written";
    DestroyWindow(hwnd);
}

TEST_F(FramePublisherTest, CopiesTheFrameToTheStartOfThePixelAreaAndKeepsTheOtherFlags) {
    struct Case {
        int width, height;
        DWORD bytes;
    } cases[] = {{512, 384, 589824}, {320, 240, 230400}, {401, 300, 1204 * 300}, {640, 480, 921600}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        std::memset(m_header->pixels, kSentinel, sizeof m_header->pixels);
        m_header->dwFlags = kFormatFromConnection | 0x100;
        const auto frame = PatternFrame(c.width, c.height);
        ASSERT_TRUE(frame->HasPixels());
        ASSERT_EQ(c.bytes, frame->GetImageSize());

        EXPECT_TRUE(m_publisher.PublishFrame(*frame));
        EXPECT_EQ(0, std::memcmp(m_header->pixels, frame->GetBits(), c.bytes));
        EXPECT_TRUE(SentinelFrom(c.bytes)) << "written past the frame";
        EXPECT_EQ(kFrameReady | kFormatFromConnection | 0x100u, m_header->dwFlags);
    }
    // A second frame before anyone read the first: the flag is simply set again.
    const auto second = PatternFrame(160, 120);
    EXPECT_TRUE(m_publisher.PublishFrame(*second));
    EXPECT_EQ(0, std::memcmp(m_header->pixels, second->GetBits(), second->GetImageSize()));
    EXPECT_EQ(kFrameReady | kFormatFromConnection | 0x100u, m_header->dwFlags);
}

TEST_F(FramePublisherTest, RefusesAFrameWithoutPixelsOrLargerThanThePixelArea) {
    CFrameImage empty;
    const auto wider = PatternFrame(641, 480);
    const auto taller = PatternFrame(640, 481);
    const auto deeper = std::make_unique<CFrameImage>(640, 480, 32);
    CFrameImage::SetImageLimitForTesting(CFrameImage::GetLiveImageCount());
    CFrameImage unmade(320, 240, 24); // its memory "ran out": a header without pixels
    CFrameImage::SetImageLimitForTesting(0);
    ASSERT_FALSE(unmade.HasPixels());
    ASSERT_NE(0u, unmade.GetImageSize());
    struct Case {
        const char* name;
        const CFrameImage* image;
    } cases[] = {{"an empty image", &empty},
                 {"an image whose memory ran out", &unmade},
                 {"one pixel wider than the area", wider.get()},
                 {"one row taller than the area", taller.get()},
                 {"32 bits at 640 x 480", deeper.get()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_header->dwFlags = 0;
        EXPECT_FALSE(m_publisher.PublishFrame(*c.image));
        EXPECT_TRUE(SentinelFrom(0)) << "a refused frame wrote into the pixel area";
        EXPECT_TRUE(m_header->pixels[kChannelPixelBytes - 1] == kSentinel);
        EXPECT_EQ(0u, m_header->dwFlags) << "FrameReady without a frame";
    }
}

// The header's size comes from whichever process wrote it last. Only a size whose 24-bit frame
// fits the pixel area is taken; anything else keeps the size as it was, whole.
TEST_F(FramePublisherTest, FormatReadTakesOnlySizesWhoseFrameFitsThePixelArea) {
    struct Case {
        const char* name;
        LONG biWidth, biHeight;
        WORD biBitCount;
        int width, height; // expected, from 512 x 384
    } cases[] = {
        {"a size the filter offers", 320, 240, 24, 320, 240},
        {"the largest frame", 640, 480, 24, 640, 480},
        {"an odd width, rows padded", 401, 300, 24, 401, 300},
        {"one pixel", 1, 1, 24, 1, 1},
        {"the header's depth plays no part", 640, 480, 32, 640, 480},
        {"no width: the height alone", 0, 240, 24, 512, 240},
        {"a negative width: the height alone", -640, 240, 24, 512, 240},
        {"a top-down height: the width alone", 320, -240, 24, 320, 384},
        {"nothing positive", 0, INT_MIN, 24, 512, 384},
        {"one pixel wider than fits", 641, 480, 24, 512, 384},
        {"one row more than fits", 640, 481, 24, 512, 384},
        {"the width of the whole area at the kept height", 800, 0, 24, 800, 384},
        {"a width that fits only a lower height", 801, 0, 24, 512, 384},
        {"the largest values", LONG_MAX, LONG_MAX, 24, 512, 384},
        {"a row wider than the area", 0x7FFFFFFF, 1, 24, 512, 384},
        {"a height beyond the area", 1, 0x40000000, 24, 512, 384},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(m_header->pixels, kSentinel, sizeof m_header->pixels);
        m_header->dwFlags = kFrameReady | kFormatFromConnection | kFormatFromSetFormat | 0x100;
        m_header->bmiHeader.biWidth = c.biWidth;
        m_header->bmiHeader.biHeight = c.biHeight;
        m_header->bmiHeader.biBitCount = c.biBitCount;
        int width = 512;
        int height = 384;
        EXPECT_TRUE(m_publisher.ReadFormat(width, height));
        EXPECT_EQ(c.width, width);
        EXPECT_EQ(c.height, height);
        EXPECT_EQ(kFrameReady | 0x100u, m_header->dwFlags) << "only the two format bits are cleared";
        for (DWORD i = 0; i < kChannelPixelBytes; ++i)
            ASSERT_EQ(0, m_header->pixels[i]) << "pixel byte " << i << " not zeroed";
        EXPECT_EQ(c.biWidth, m_header->bmiHeader.biWidth) << "the bitmap header is never written";
    }
}

// A size word of 0 is a section whose creator has not initialised it yet: no access touches it.
TEST_F(FramePublisherTest, ASectionWithoutItsSizeWordIsLeftAlone) {
    BYTE* sizeWord = reinterpret_cast<BYTE*>(m_header) - 4;
    std::memset(sizeWord, 0, 4);
    m_header->dwFlags = kFormatFromSetFormat;
    m_header->bmiHeader.biWidth = 320;
    m_header->bmiHeader.biHeight = 240;
    const auto frame = PatternFrame(160, 120);
    EXPECT_FALSE(m_publisher.PublishFrame(*frame));
    int width = 512;
    int height = 384;
    EXPECT_FALSE(m_publisher.ReadFormat(width, height));
    EXPECT_EQ(512, width);
    EXPECT_EQ(384, height);
    EXPECT_FALSE(m_publisher.RegisterOwner(GetDesktopWindow()));
    EXPECT_EQ(kFormatFromSetFormat, m_header->dwFlags);
    EXPECT_EQ(0u, m_header->hwndOwner);
    EXPECT_TRUE(SentinelFrom(0));
}

TEST(FramePublisherWithoutChannel, DoesNothingAndSaysSo) {
    const auto frame = PatternFrame(160, 120);
    CSharedMem closed; // never opened
    CSharedMem failed;
    ASSERT_FALSE(failed.Open("_ZarvexPublisherNoSuchChannel"));
    struct Case {
        const char* name;
        CSharedMem* channel;
    } cases[] = {
        {"no channel object", nullptr}, {"a channel never opened", &closed}, {"a failed open", &failed}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CFramePublisher publisher(c.channel);
        EXPECT_FALSE(publisher.RegisterOwner(GetDesktopWindow()));
        EXPECT_FALSE(publisher.PublishFrame(*frame));
        int width = -7;
        int height = 12345; // junk: left exactly as it was
        EXPECT_FALSE(publisher.ReadFormat(width, height));
        EXPECT_EQ(-7, width);
        EXPECT_EQ(12345, height);
    }
}

} // namespace
