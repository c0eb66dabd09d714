// IZarvexSettings and the per-user registry values behind it: the frame rate and its clamps, the
// stored values read at construction (including unusable ones), the size and the table index.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "device_test_util.h"

namespace {

class DeviceSettingsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        m_settings.Clear();
    }
    // A filter made with the registry as it is now; its settings interface.
    ComPtr<IZarvexSettings> MakeDevice() {
        m_device = CreateDevice(&m_pStream);
        EXPECT_TRUE(m_device && m_pStream);
        ComPtr<IZarvexSettings> settings;
        if (m_device) {
            EXPECT_EQ(S_OK, m_device.As(&settings));
        }
        return settings;
    }
    void ReleaseDevice() {
        if (m_device) {
            EXPECT_EQ(0u, FinalRelease(m_device));
        }
        m_pStream = nullptr;
    }
    void TearDown() override { ReleaseDevice(); }

    double Rate(IZarvexSettings* settings) {
        double fps = -1;
        EXPECT_EQ(S_OK, settings->GetFrameRate(&fps));
        return fps;
    }

    win::ComScope m_com;
    CSavedFilterSettings m_settings;
    ComPtr<IBaseFilter> m_device;
    CTesk_Stream* m_pStream = nullptr;
};

} // namespace

TEST_F(DeviceSettingsTest, SetFrameRateStoresTheClampedFrameTime) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* name;
        double fps;
        const char* stored;       // "FrameTime" afterwards ("<absent>": not written)
        REFERENCE_TIME frameTime; // the pin's afterwards
        double rate;              // GetFrameRate afterwards
    } cases[] = {
        {"12", 12.0, "833333", 833333, 12},
        {"25", 25.0, "400000", 400000, 25},
        {"0.5, below 1", 0.5, "10000000", 10000000, 1},
        {"60, above 30", 60.0, "333333", 333333, 30},
        {"a rate too small for a 64-bit quotient", 1e-300, "10000000", 10000000, 1},
        {"infinity", inf, "333333", 333333, 30},
        {"0: nothing changes", 0.0, "<absent>", 333333, 30},
        {"negative: nothing changes", -5.0, "<absent>", 333333, 30},
        {"not a number: nothing changes", nan, "<absent>", 333333, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_settings.Clear();
        ComPtr<IZarvexSettings> settings = MakeDevice();
        ASSERT_TRUE(settings);
        EXPECT_EQ(S_OK, settings->SetFrameRate(c.fps));
        EXPECT_EQ(c.stored, CSavedFilterSettings::Read(CFilterSettings::kFrameTimeValue));
        EXPECT_EQ(c.frameTime, m_pStream->FrameTime());
        EXPECT_EQ(c.rate, Rate(settings.Get()));
        settings.Reset();
        ReleaseDevice();
    }
    ComPtr<IZarvexSettings> settings = MakeDevice();
    ASSERT_TRUE(settings);
    EXPECT_EQ(E_POINTER, settings->GetFrameRate(nullptr));
}

TEST_F(DeviceSettingsTest, StoredValuesAreReadAtConstructionAndUnusableOnesGiveTheDefaults) {
    const struct {
        const char* name;
        const char* frameTime; // null: REG_DWORD 500000; "": absent
        const char* selectPixel;
        bool selectPixelAsDword;
        REFERENCE_TIME expectFrameTime;
        SIZE expectSize;
    } cases[] = {
        {"absent", "", "", false, 333333, {160, 120}},
        {"valid", "666666", "5", false, 666666, {640, 360}},
        {"text with trailing junk, as atoi reads it", "400000x", "2 ", false, 400000, {320, 240}},
        {"SelectPixel as REG_DWORD", "", nullptr, true, 333333, {160, 120}},
        {"FrameTime as REG_DWORD", nullptr, "1", false, 333333, {320, 180}},
        {"SelectPixel 7, past the table", "", "7", false, 333333, {160, 120}},
        {"SelectPixel -1", "", "-1", false, 333333, {160, 120}},
        {"SelectPixel far outside int", "", "99999999999", false, 333333, {160, 120}},
        {"FrameTime 0", "0", "", false, 333333, {160, 120}},
        {"FrameTime negative", "-333333", "", false, 333333, {160, 120}},
        {"FrameTime not a number", "fast", "", false, 333333, {160, 120}},
        {"FrameTime above a second", "99999999", "", false, 10000000, {160, 120}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_settings.Clear();
        if (!c.frameTime)
            m_settings.SetDword(CFilterSettings::kFrameTimeValue, 500000);
        else if (*c.frameTime)
            m_settings.SetString(CFilterSettings::kFrameTimeValue, c.frameTime);
        if (c.selectPixelAsDword)
            m_settings.SetDword(CFilterSettings::kSelectPixelValue, 6);
        else if (c.selectPixel && *c.selectPixel)
            m_settings.SetString(CFilterSettings::kSelectPixelValue, c.selectPixel);

        ComPtr<IZarvexSettings> settings = MakeDevice();
        ASSERT_TRUE(settings);
        EXPECT_EQ(c.expectFrameTime, m_pStream->FrameTime());
        int size[2] = {-7, -7};
        EXPECT_EQ(S_OK, settings->GetSize(size));
        EXPECT_EQ(c.expectSize.cx, size[0]);
        EXPECT_EQ(c.expectSize.cy, size[1]);
        EXPECT_GT(Rate(settings.Get()), 0.0) << "a rate, never a division by zero";
        MediaTypeHolder format;
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(S_OK, m_device.As(&config));
        ASSERT_EQ(S_OK, config->GetFormat(&format.p));
        EXPECT_EQ(c.expectFrameTime, format.Vih()->AvgTimePerFrame);
        settings.Reset();
        config.Reset();
        ReleaseDevice();
    }
}

TEST_F(DeviceSettingsTest, SetSelectPixelTakesOnlyTableIndexes) {
    ComPtr<IZarvexSettings> settings = MakeDevice();
    ASSERT_TRUE(settings);
    ASSERT_EQ(S_OK, settings->SetFrameRate(15.0));
    EXPECT_EQ(S_OK, settings->SetSelectPixel(4));
    EXPECT_EQ("4", CSavedFilterSettings::Read(CFilterSettings::kSelectPixelValue));
    int size[2] = {};
    EXPECT_EQ(S_OK, settings->GetSize(size));
    EXPECT_EQ(512, size[0]);
    EXPECT_EQ(384, size[1]);
    CMediaType current;
    ASSERT_EQ(S_OK, m_pStream->GetMediaType(&current));
    EXPECT_EQ(666666, reinterpret_cast<VIDEOINFOHEADER*>(current.pbFormat)->AvgTimePerFrame)
        << "rebuilt at the pin's frame time";

    for (int index : {7, -1, 1000000}) {
        SCOPED_TRACE("index " + std::to_string(index));
        EXPECT_EQ(E_INVALIDARG, settings->SetSelectPixel(index));
        EXPECT_EQ("4", CSavedFilterSettings::Read(CFilterSettings::kSelectPixelValue)) << "nothing stored";
        EXPECT_EQ(S_OK, settings->GetSize(size));
        EXPECT_EQ(512, size[0]) << "the format stays";
    }
}

// A size taken is announced and, with no capture program, painted as the placeholder at that very
// size: the header and the pixels always agree.
TEST_F(DeviceSettingsTest, SetSizeTakesAnySizeTheChannelCanCarry) {
    ComPtr<IZarvexSettings> settings = MakeDevice();
    ASSERT_TRUE(settings);
    CChannelProbe probe;
    ASSERT_TRUE(probe.Open());
    EXPECT_EQ(E_POINTER, settings->GetSize(nullptr));
    EXPECT_EQ(E_POINTER, settings->SetSize(nullptr));
    const struct {
        int width, height;
        HRESULT hr;
    } cases[] = {
        {400, 300, S_OK},
        {640, 480, S_OK},
        {0, 120, E_INVALIDARG},
        {160, -120, E_INVALIDARG},
        {641, 480, E_INVALIDARG},
        {100000, 100000, E_INVALIDARG},
        {0x7FFFFFFF, 1, E_INVALIDARG},
    };
    int expect[2] = {160, 120};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        int wanted[2] = {c.width, c.height};
        EXPECT_EQ(c.hr, settings->SetSize(wanted));
        if (c.hr == S_OK) {
            expect[0] = c.width;
            expect[1] = c.height;
        }
        int size[2] = {-7, -7};
        EXPECT_EQ(S_OK, settings->GetSize(size));
        EXPECT_EQ(expect[0], size[0]);
        EXPECT_EQ(expect[1], size[1]);
        if (c.hr != S_OK)
            continue;
        std::unique_ptr<SharedFrameHeader> header = probe.Snapshot();
        ASSERT_TRUE(header);
        EXPECT_EQ(c.width, header->bmiHeader.biWidth);
        EXPECT_EQ(c.height, header->bmiHeader.biHeight);
        EXPECT_TRUE(header->dwFlags & kFrameReady);
        EXPECT_TRUE(LookAtPlaceholder(header->pixels, kChannelPixelBytes, c.width, c.height).Ok())
            << "the placeholder painted at the size just set";
    }
}

// A client's format with no frame time leaves the pin unpaced; its rate is then reported as 0.
TEST_F(DeviceSettingsTest, FrameTimeZeroFromAClientGivesRateZero) {
    ComPtr<IZarvexSettings> settings = MakeDevice();
    ASSERT_TRUE(settings);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_device.As(&config));
    MediaTypeHolder format(NewRgb24Type(320, 240, 0));
    ASSERT_EQ(S_OK, config->SetFormat(format.p));
    EXPECT_EQ(0, m_pStream->FrameTime());
    EXPECT_EQ(0.0, Rate(settings.Get()));
}
