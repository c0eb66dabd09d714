// The conversion from the stored position to the placement the dialog is restored with. (Wine
// keeps no work area apart from the screen, so there the two coordinate systems agree and only the
// conversion itself can be checked; on Windows a taskbar at the top or left separates them.)
#include <windows.h>

#include <gtest/gtest.h>

#include "UniqueAny.h"
#include "WindowPlacement.h"

namespace {

WINDOWPLACEMENT Junk() {
    WINDOWPLACEMENT p;
    memset(&p, 0xA5, sizeof p);
    return p;
}

} // namespace

TEST(WindowPlacementTest, MovesTheNormalRectangleAndKeepsEverythingElse) {
    struct Case {
        const char* name;
        RECT normal; // the placement's normal rectangle before the move
        int x, y;    // the stored position
        bool visible;
        UINT showCmd; // the placement's show command before the move
        RECT want;
        UINT wantShowCmd;
    };
    const Case cases[] = {
        {"hidden dialog during its initialisation",
         {0, 0, 506, 502},
         100,
         100,
         false,
         SW_SHOWNORMAL,
         {100, 100, 606, 602},
         SW_HIDE},
        {"visible window stays as shown",
         {40, 60, 140, 110},
         300,
         200,
         true,
         SW_SHOWNORMAL,
         {300, 200, 400, 250},
         SW_SHOWNORMAL},
        {"minimised window keeps its state",
         {40, 60, 140, 110},
         10,
         20,
         true,
         SW_SHOWMINIMIZED,
         {10, 20, 110, 70},
         SW_SHOWMINIMIZED},
        {"positions off every screen are kept as stored",
         {5, 5, 55, 25},
         -3000,
         70000,
         false,
         SW_SHOWNORMAL,
         {-3000, 70000, -2950, 70020},
         SW_HIDE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WINDOWPLACEMENT current = Junk();
        current.length = sizeof current;
        current.flags = WPF_SETMINPOSITION;
        current.showCmd = c.showCmd;
        current.ptMinPosition = {-32000, -32000};
        current.ptMaxPosition = {-1, -1};
        current.rcNormalPosition = c.normal;

        const WINDOWPLACEMENT got = PlacementAt(current, c.x, c.y, c.visible);
        EXPECT_EQ(sizeof(WINDOWPLACEMENT), got.length);
        EXPECT_EQ(c.want.left, got.rcNormalPosition.left);
        EXPECT_EQ(c.want.top, got.rcNormalPosition.top);
        EXPECT_EQ(c.want.right, got.rcNormalPosition.right);
        EXPECT_EQ(c.want.bottom, got.rcNormalPosition.bottom);
        EXPECT_EQ(c.wantShowCmd, got.showCmd);
        EXPECT_EQ(static_cast<UINT>(WPF_SETMINPOSITION), got.flags);
        EXPECT_EQ(-32000, got.ptMinPosition.x);
        EXPECT_EQ(-1, got.ptMaxPosition.y);
    }
}

TEST(WindowPlacementTest, AWindowPlacedThereReportsTheSameNumbersBack) {
    // The round trip the settings make: restored through SetWindowPlacement, saved from
    // GetWindowPlacement. Any conversion between the two would make the window creep.
    const win::UniqueWindow window(CreateWindowExW(0, L"STATIC", L"placement", WS_POPUP | WS_CAPTION, 10, 10,
                                                   200, 120, nullptr, nullptr, nullptr, nullptr));
    const HWND hwnd = window.get();
    ASSERT_TRUE(hwnd) << "no window without a display";
    for (POINT at : {POINT{250, 180}, POINT{-40, 700}}) {
        SCOPED_TRACE(testing::Message() << at.x << "," << at.y);
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        ASSERT_TRUE(GetWindowPlacement(hwnd, &placement));
        placement = PlacementAt(placement, at.x, at.y, IsWindowVisible(hwnd) != FALSE);
        ASSERT_TRUE(SetWindowPlacement(hwnd, &placement));
        EXPECT_FALSE(IsWindowVisible(hwnd)) << "placing a hidden window must not show it";

        WINDOWPLACEMENT back = {};
        back.length = sizeof back;
        ASSERT_TRUE(GetWindowPlacement(hwnd, &back));
        EXPECT_EQ(at.x, back.rcNormalPosition.left);
        EXPECT_EQ(at.y, back.rcNormalPosition.top);
        EXPECT_EQ(200, back.rcNormalPosition.right - back.rcNormalPosition.left);
        EXPECT_EQ(120, back.rcNormalPosition.bottom - back.rcNormalPosition.top);
    }
}
