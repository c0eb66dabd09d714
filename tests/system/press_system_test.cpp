// The capture press and the frame publisher across processes: the real Zarvex.exe capturing from
// the Zarvex Test Camera, ZarvexDevice.ax streaming what it publishes to device_client.exe, and a
// press that cannot complete.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ComScope.h"
#include "TestCameraIds.h"
#include "module_library.h"
#include "resource.h"
#include "zarvex_process.h"

using testing_support::ZarvexProcess;

namespace {

template <typename Pred> bool WaitFor(Pred pred, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(20);
    }
    return true;
}

void Press(const ZarvexProcess& zarvex) {
    PostMessageW(zarvex.Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(zarvex.Item(IDOK)));
}

// Closes the program as the close box does and waits for a clean end.
void CloseAndExpectExit(ZarvexProcess& zarvex, DWORD timeoutMs) {
    PostMessageW(zarvex.Window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(zarvex.WaitForExit(timeoutMs)) << "the program did not end after WM_CLOSE";
    EXPECT_EQ(0u, zarvex.ExitCode());
}

// The test camera's registration kept as the bench had it.
class PressSystemTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(S_OK, m_com.hr());
        ASSERT_TRUE(m_camera.Loaded()) << "ZarvexTestCamera.ax must sit beside the test";
    }

    win::ComScope m_com;
    CModuleLibrary m_camera{L"ZarvexTestCamera.ax"};
    CRegistrationKeeper m_keepCamera{m_camera, TESTCAM_FRIENDLY_NAME};
};

// With no camera at all nothing follows a press. The press is given up after three seconds
// without a frame: the exit button comes back, and the program closes.
TEST_F(PressSystemTest, APressWithNoCameraLeavesTheProgramClosable) {
    ASSERT_EQ(S_OK, m_camera.UnregisterServer());
    ZarvexProcess zarvex;
    ASSERT_TRUE(zarvex.Start()) << zarvex.Failure();
    Press(zarvex);
    ASSERT_TRUE(WaitFor([&] { return !IsWindowEnabled(zarvex.Item(IDCANCEL)); }, 5000))
        << "the press did nothing";
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(zarvex.Item(IDCANCEL)) != FALSE; }, 15000))
        << "the exit button stayed disabled";
    EXPECT_TRUE(IsWindowEnabled(zarvex.Item(IDOK)));
    CloseAndExpectExit(zarvex, 15000);
}

} // namespace
