// The real Zarvex.exe with the Zarvex Test Camera registered in the bench: it lists the camera,
// chooses its first format and builds its frame ring at that format's rate.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComScope.h"
#include "resource.h"
#include "test_paths.h"
#include "video_devices.h"
#include "zarvex_process.h"

using testing_support::ZarvexProcess;

namespace {

// The entries of another process's combo box (CB_GETLBTEXT crosses processes).
std::vector<std::wstring> ComboItems(HWND combo) {
    std::vector<std::wstring> items;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) < 256)
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        items.push_back(text);
    }
    return items;
}

} // namespace

TEST(AppCaptureTest, ListsTheTestCameraAndCapturesItsFirstFormat) {
    {
        const win::ComScope com;
        ASSERT_TRUE(FindVideoDevice(L"Zarvex Test Camera"))
            << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh "
               "build";
    }
    ZarvexProcess app;
    ASSERT_TRUE(
        testing_support::WriteFileBytes(app.IniPath(), "[Settings]\r\nVideoDevice=Zarvex Test Camera\r\n"));
    ASSERT_TRUE(app.Start()) << app.Failure();

    const std::vector<std::wstring> devices = ComboItems(app.Item(IDC_VIDEO_DEVICE));
    EXPECT_NE(devices.end(), std::find(devices.begin(), devices.end(), L"Zarvex Test Camera"));
    EXPECT_EQ(devices.end(), std::find(devices.begin(), devices.end(), L"ZarvexDevice"));
    // A dropped-down list's text is its selected entry.
    EXPECT_EQ(L"Zarvex Test Camera", app.ItemText(IDC_VIDEO_DEVICE));
    EXPECT_EQ(
        (std::vector<std::wstring>{L"640x480x24 30f RGB ", L"320x240x24 30f RGB ", L"160x120x24 30f RGB "}),
        ComboItems(app.Item(IDC_VIDEO_FORMAT)));
    EXPECT_EQ(L"640x480x24 30f RGB ", app.ItemText(IDC_VIDEO_FORMAT));
    // 30 frames a second for 5 + 5 seconds at 512 x 384.
    EXPECT_EQ(L"168 MB", app.ItemText(IDC_USED_MEMORY));

    // The stored frames reach the frame channel once the frame publisher joins: from then on the
    // channel's pixel area shows the test camera's frames at 512 x 384, and this is the place to
    // check that the program captures (under CSharedMem::Lock, TestCamDecodeSequence on
    // Header()->pixels twice a second apart, the second number larger).

    PostMessageW(app.Window(), WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(app.WaitForExit(10000));
    const std::string ini = testing_support::ReadFileBytes(app.IniPath());
    EXPECT_NE(std::string::npos, ini.find("\r\nVideoDevice=Zarvex Test Camera\r\n")) << ini;
    EXPECT_NE(std::string::npos, ini.find("VideoFormat=0\r\n")) << ini;
}
