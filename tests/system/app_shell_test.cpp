// The real Zarvex.exe as a separate process: its window, its settings file, its channel entry.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ComScope.h"
#include "SharedMem.h"
#include "UniqueAny.h"
#include "Utf8.h"
#include "dialog_template.h"
#include "resource.h"
#include "test_paths.h"
#include "video_devices.h"
#include "wait_until.h"
#include "zarvex_process.h"

using testing_support::DialogTemplate;
using testing_support::WaitUntil;
using testing_support::ZarvexProcess;

namespace {

constexpr wchar_t kAboutCaption[] = L"Zarvexのﾊﾞｰｼﾞｮﾝ情報";

bool IsTopmost(HWND hwnd) {
    return (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

POINT TopLeft(HWND hwnd) {
    RECT rc = {};
    GetWindowRect(hwnd, &rc);
    return {rc.left, rc.top};
}

bool HasChildWithText(HWND parent, const wchar_t* want) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t text[128] = {};
        SendMessageW(child, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
        if (lstrcmpW(text, want) == 0)
            return true;
    }
    return false;
}

// Minimises through the system command, as the minimise box does. Right after the window first
// shows, Wine's X11 driver may still be settling the window's state and undo the first request,
// so the command is repeated until it sticks.
bool Minimise(HWND hwnd) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        PostMessageW(hwnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        if (WaitUntil([&] { return IsIconic(hwnd) != FALSE; }, 500))
            return true;
    }
    return false;
}

LRESULT SliderPos(const ZarvexProcess& app, int id) {
    return SendMessageW(app.Item(id), TBM_GETPOS, 0, 0);
}

std::string Ini(const char* const (&lines)[10]) {
    std::string text;
    for (const char* line : lines)
        text += std::string(line) + "\r\n";
    return text;
}

// The ways a user closes the dialog.
enum class CloseBy { ExitButton, EscapeKey, CloseBox };

const char* Name(CloseBy how) {
    switch (how) {
    case CloseBy::ExitButton:
        return "exit button";
    case CloseBy::EscapeKey:
        return "Esc key";
    default:
        return "close box";
    }
}

void RequestClose(const ZarvexProcess& app, CloseBy how) {
    switch (how) {
    case CloseBy::ExitButton:
        // A click on a disabled button does nothing, as for a user; an enabled one sends BN_CLICKED.
        PostMessageW(app.Item(IDCANCEL), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
        PostMessageW(app.Item(IDCANCEL), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
        break;
    case CloseBy::EscapeKey:
        // The dialog's message loop turns Esc on any of its controls into IDCANCEL.
        PostMessageW(app.Item(IDOK), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(app.Item(IDOK), WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    case CloseBy::CloseBox:
        PostMessageW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    }
}

class AppShellTest : public testing::Test {
protected:
    void StartApp() { ASSERT_TRUE(m_app.Start()) << m_app.Failure(); }
    void Exit() {
        RequestClose(m_app, CloseBy::ExitButton);
        ASSERT_TRUE(m_app.WaitForExit(10000)) << "Zarvex did not end after the exit button";
    }
    std::string IniText() const { return testing_support::ReadFileBytes(m_app.IniPath()); }

    ZarvexProcess m_app;
};

struct ExpectedControl {
    int id;
    const wchar_t* className;
    const wchar_t* text;
    short x, y, cx, cy;
    DWORD typeMask;  // bits of the style that select the control's kind
    DWORD typeValue; // their required value
    bool visible;
    bool enabled;
};

constexpr DWORD kNoType = 0;

// The main dialog as a user sees it: every control, in template order.
const ExpectedControl kMainControls[] = {
    {IDOK, L"Button", L"キャプチャ", 0, 0, 95, 30, 0xF, BS_DEFPUSHBUTTON, true, true},
    {IDCANCEL, L"Button", L"終了", 0, 285, 95, 24, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_CLIP_LIST, L"SysListView32", L"List1", 0, 30, 95, 195,
     LVS_TYPEMASK | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS,
     LVS_ICON | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SHAREIMAGELISTS, true, true},
    {IDC_STATIC, L"Static", L"キャプチャボタン押下前録画時間", 105, 101, 115, 8, SS_TYPEMASK, SS_LEFT, true,
     true},
    {IDC_STATIC, L"Static", L"キャプチャボタン押下後録画時間", 105, 131, 114, 8, SS_TYPEMASK, SS_LEFT, true,
     true},
    {IDC_PRE_TIME, L"msctls_trackbar32", L"Slider1", 110, 111, 95, 15, TBS_VERT, 0, true, true},
    {IDC_PRE_TIME_TEXT, L"Static", L"", 207, 111, 21, 15, SS_TYPEMASK | SS_SUNKEN, SS_CENTER | SS_SUNKEN,
     true, true},
    {IDC_STATIC, L"Static", L"秒", 231, 117, 8, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_END_TIME_TEXT, L"Static", L"", 207, 141, 20, 15, SS_TYPEMASK | SS_SUNKEN, SS_CENTER | SS_SUNKEN,
     true, true},
    {IDC_STATIC, L"Static", L"秒", 230, 146, 8, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_END_TIME, L"msctls_trackbar32", L"Slider1", 110, 141, 95, 15, TBS_VERT, 0, true, true},
    {IDC_DEVICE_GROUP, L"Button", L"キャプチャデバイス", 100, 18, 145, 65, 0xF, BS_GROUPBOX, true, true},
    {IDC_VIDEO_DEVICE, L"ComboBox", L"", 128, 32, 112, 135, 0x3 | CBS_SORT | WS_VSCROLL,
     CBS_DROPDOWNLIST | WS_VSCROLL, true, true},
    {IDC_STATIC, L"Static", L"ビデオ", 105, 35, 21, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_SOUND_DEVICE, L"ComboBox", L"", 128, 64, 112, 110, 0x3, CBS_DROPDOWNLIST, true, true},
    {IDC_STATIC, L"Static", L"音声", 110, 66, 15, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_STATIC, L"Button", L"録画設定", 100, 88, 145, 94, 0xF, BS_GROUPBOX, true, true},
    {IDC_VIDEO_FORMAT, L"ComboBox", L"", 128, 48, 89, 135, 0x3, CBS_DROPDOWNLIST, true, true},
    {IDC_FORMAT_DETAIL, L"Button", L"詳細", 219, 47, 20, 14, 0xF, BS_PUSHBUTTON, false, false},
    {IDC_TOPMOST, L"Button", L"最前面に表示", 190, 3, 57, 10, 0xF, BS_AUTOCHECKBOX, true, true},
    {IDC_PREV, L"Button", L"<<", 205, 13, 20, 14, 0xF, BS_PUSHBUTTON, false, true},
    {IDC_NEXT, L"Button", L">>", 225, 13, 20, 14, 0xF, BS_PUSHBUTTON, false, true},
    {IDC_DELETE, L"Button", L"削除...", 0, 225, 95, 24, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_STATIC, L"Static", L"使用メモリ :", 106, 167, 35, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_USED_MEMORY, L"Static", L"", 141, 165, 30, 11, SS_TYPEMASK | SS_SUNKEN, SS_CENTER | SS_SUNKEN, true,
     true},
    {IDC_STATIC, L"Static", L"空きメモリ :", 175, 167, 34, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_FREE_MEMORY, L"Static", L"", 209, 165, 31, 11, SS_TYPEMASK | SS_SUNKEN, SS_CENTER | SS_SUNKEN, true,
     true},
    {IDC_STATIC, L"Button", L"ZELKOR再生コントロール", 100, 188, 145, 85, 0xF, BS_GROUPBOX, true, true},
    {IDC_PLAY, L"Button", L"|>", 108, 203, 22, 14, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_STOP, L"Button", L"■", 135, 203, 15, 14, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_VOLUME, L"msctls_trackbar32", L"Slider4", 225, 208, 10, 48, TBS_VERT, TBS_VERT, true, true},
    {IDC_VOLUME_TEXT, L"Static", L"", 220, 257, 20, 9, SS_TYPEMASK, SS_CENTER, true, true},
    {IDC_STATIC, L"Static", L"音量", 223, 198, 15, 8, SS_TYPEMASK, SS_LEFT, true, true},
    {IDC_SOUND_DELAY, L"Edit", L"", 161, 253, 30, 14, ES_READONLY | ES_CENTER, ES_READONLY | ES_CENTER, true,
     true},
    {IDC_SOUND_DELAY_SPIN, L"msctls_updown32", L"Spin1", 193, 253, 20, 14, UDS_HORZ | UDS_ARROWKEYS,
     UDS_HORZ | UDS_ARROWKEYS, true, true},
    {IDC_STATIC, L"Static", L"音ずれ補正(ms) :", 105, 257, 55, 8, SS_TYPEMASK, SS_RIGHT, true, true},
    {IDC_POSITION, L"msctls_trackbar32", L"Slider3", 108, 223, 113, 20, TBS_VERT, 0, true, true},
    {IDC_STEP_BACK, L"Button", L"<||", 184, 203, 15, 14, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_STEP_FORWARD, L"Button", L"||>", 204, 203, 15, 14, 0xF, BS_PUSHBUTTON, true, true},
    {IDC_PAUSE, L"Button", L"| |", 162, 203, 15, 14, 0xF | BS_PUSHLIKE, BS_AUTOCHECKBOX | BS_PUSHLIKE, true,
     true},
    {IDC_SAVE, L"Button", L"保存...", 0, 255, 95, 24, 0xF, BS_PUSHBUTTON, true, true},
};

// The device the program lists first: the first video input device but its own virtual camera,
// in ANSI as the settings file keeps it; "" when there is none.
std::string FirstRealVideoDevice() {
    const win::ComScope com;
    for (const auto& moniker : VideoDevices()) {
        const std::wstring name = FriendlyNameOf(moniker.Get());
        if (name == L"ZarvexDevice")
            continue;
        char ansi[256] = {};
        WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi, sizeof ansi, nullptr, nullptr);
        return ansi;
    }
    return std::string();
}

// The program's executable loaded as a data file, to read its resources.
win::UniqueModule LoadProgramResources() {
    return win::UniqueModule(LoadLibraryExW((testing_support::BinDir() + L"Zarvex.exe").c_str(), nullptr,
                                            LOAD_LIBRARY_AS_DATAFILE));
}

} // namespace

// The templates as built into the program, read back from its resources.
TEST(AppResourcesTest, MainDialogTemplateHoldsEveryControlAsListed) {
    const win::UniqueModule module = LoadProgramResources();
    ASSERT_TRUE(module.get());
    DialogTemplate t;
    ASSERT_TRUE(testing_support::LoadDialogTemplate(module.get(), IDD_ZARVEX_DIALOG, &t));
    EXPECT_EQ(L"Zarvex", t.caption);
    EXPECT_EQ(250, t.cx);
    EXPECT_EQ(309, t.cy);
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(L"ＭＳ Ｐゴシック", t.faceName);
    const DWORD frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME;
    EXPECT_EQ(frame, t.style & frame);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_APPWINDOW), t.exStyle & WS_EX_APPWINDOW);

    ASSERT_EQ(std::size(kMainControls), t.items.size());
    for (size_t i = 0; i < t.items.size(); ++i) {
        const ExpectedControl& want = kMainControls[i];
        const testing_support::DialogItem& got = t.items[i];
        SCOPED_TRACE(testing::Message()
                     << "control " << i << " id " << want.id << " " << win::Utf8(want.text));
        EXPECT_EQ(want.id, got.id);
        EXPECT_EQ(0, lstrcmpiW(want.className, got.className.c_str())) << win::Utf8(got.className);
        EXPECT_EQ(std::wstring(want.text), got.text);
        EXPECT_EQ(want.x, got.x);
        EXPECT_EQ(want.y, got.y);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
        EXPECT_EQ(want.typeValue, got.style & want.typeMask);
        EXPECT_EQ(want.visible, (got.style & WS_VISIBLE) != 0);
        EXPECT_EQ(want.enabled, (got.style & WS_DISABLED) == 0);
    }
}

TEST(AppResourcesTest, AboutBoxStringsAndIcon) {
    const win::UniqueModule module = LoadProgramResources();
    ASSERT_TRUE(module.get());
    DialogTemplate about;
    ASSERT_TRUE(testing_support::LoadDialogTemplate(module.get(), IDD_ABOUTBOX, &about));
    EXPECT_EQ(kAboutCaption, about.caption);
    EXPECT_EQ(235, about.cx);
    EXPECT_EQ(55, about.cy);
    EXPECT_EQ(L"ＭＳ Ｐゴシック", about.faceName);
    ASSERT_EQ(4u, about.items.size());
    EXPECT_EQ(IDR_MAINFRAME, about.items[0].textOrdinal); // the program icon
    EXPECT_EQ(11, about.items[0].x);
    EXPECT_EQ(17, about.items[0].y);
    EXPECT_EQ(L"Zarvex Version 1.0", about.items[1].text);
    EXPECT_EQ(40, about.items[2].x);
    EXPECT_EQ(25, about.items[2].y);
    EXPECT_FALSE(about.items[2].text.empty());
    EXPECT_EQ(IDOK, about.items[3].id);
    EXPECT_EQ(L"OK", about.items[3].text);
    EXPECT_EQ(static_cast<DWORD>(BS_DEFPUSHBUTTON), about.items[3].style & 0xF);

    wchar_t text[256] = {};
    LoadStringW(module.get(), IDS_ABOUTBOX, text, 256);
    EXPECT_EQ(std::wstring(L"Zarvex のﾊﾞｰｼﾞｮﾝ情報(&A)..."), text);
    LoadStringW(module.get(), IDS_MEMORY_QUESTION, text, 256);
    EXPECT_EQ(std::wstring(L"空きメモリが足りません。\n古いデータを削除して保存しますか？"), text);

    // The icon group carries a 32 x 32 and a 16 x 16 image.
    for (int size : {32, 16}) {
        SCOPED_TRACE(size);
        HRSRC group = FindResourceW(module.get(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                    reinterpret_cast<LPCWSTR>(RT_GROUP_ICON));
        ASSERT_TRUE(group);
        const BYTE* dir = static_cast<const BYTE*>(LockResource(LoadResource(module.get(), group)));
        ASSERT_TRUE(dir);
        WORD count;
        memcpy(&count, dir + 4, 2);
        bool found = false;
        for (WORD i = 0; i < count; ++i) {
            const BYTE* entry = dir + 6 + 14 * i; // GRPICONDIRENTRY
            found = found || (entry[0] == size && entry[1] == size);
        }
        EXPECT_TRUE(found);
    }
}

TEST_F(AppShellTest, WindowShowsEveryControlWithItsIdAndCaption) {
    StartApp();
    int index = 0;
    for (HWND child = GetWindow(m_app.Window(), GW_CHILD); child;
         child = GetWindow(child, GW_HWNDNEXT), ++index) {
        ASSERT_LT(static_cast<size_t>(index), std::size(kMainControls));
        const ExpectedControl& want = kMainControls[index];
        SCOPED_TRACE(testing::Message() << "control " << index << " id " << want.id);
        EXPECT_EQ(want.id, static_cast<int>(static_cast<short>(GetDlgCtrlID(child))));
        wchar_t cls[64] = {};
        GetClassNameW(child, cls, 64);
        EXPECT_EQ(0, lstrcmpiW(want.className, cls)) << win::Utf8(cls);
        EXPECT_EQ(want.visible, IsWindowVisible(child) != FALSE);
        EXPECT_EQ(want.enabled, IsWindowEnabled(child) != FALSE);
        if (want.id == IDC_STATIC || lstrcmpiW(want.className, L"Button") == 0) {
            wchar_t text[128] = {};
            SendMessageW(child, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text));
            EXPECT_EQ(std::wstring(want.text), text);
        }
    }
    EXPECT_EQ(std::size(kMainControls), static_cast<size_t>(index));
}

TEST_F(AppShellTest, FirstStartUsesTheDefaultsAndExitWritesAllNineKeys) {
    ASSERT_TRUE(IniText().empty());
    // The first listed video device is chosen, and kept by name.
    const std::string device = FirstRealVideoDevice();
    ASSERT_FALSE(device.empty())
        << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh build";
    StartApp();
    const POINT at = TopLeft(m_app.Window());
    EXPECT_EQ(100, at.x);
    EXPECT_EQ(100, at.y);
    EXPECT_FALSE(IsTopmost(m_app.Window()));
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(m_app.Item(IDC_TOPMOST), BM_GETCHECK, 0, 0));
    EXPECT_EQ(L"5", m_app.ItemText(IDC_PRE_TIME_TEXT));
    EXPECT_EQ(L"5", m_app.ItemText(IDC_END_TIME_TEXT));
    EXPECT_EQ(5, SliderPos(m_app, IDC_PRE_TIME));
    EXPECT_EQ(5, SliderPos(m_app, IDC_END_TIME));
    EXPECT_EQ(0, SliderPos(m_app, IDC_VOLUME)) << "full volume puts the vertical slider at its top";
    EXPECT_EQ(L"100", m_app.ItemText(IDC_VOLUME_TEXT));
    EXPECT_EQ(L"500", m_app.ItemText(IDC_SOUND_DELAY));
    EXPECT_EQ(10000, SendMessageW(m_app.Item(IDC_POSITION), TBM_GETRANGEMAX, 0, 0));
    EXPECT_EQ(30, SendMessageW(m_app.Item(IDC_PRE_TIME), TBM_GETRANGEMAX, 0, 0));
    EXPECT_EQ(100, SendMessageW(m_app.Item(IDC_VOLUME), TBM_GETRANGEMAX, 0, 0));
    Exit();

    const std::string deviceLine = "VideoDevice=" + device;
    const char* const expected[10] = {"[Settings]", "VideoFormat=0", deviceLine.c_str(), "SoundDelay=500",
                                      "Volume=100", "EndTime=5",     "PreTime=5",        "PY=100",
                                      "PX=100",     "Topmost=0"};
    EXPECT_EQ(Ini(expected), IniText());
}

TEST_F(AppShellTest, SecondStartRestoresEveryValue) {
    // Values the user changes in this build (position, topmost) go through the window; the rest
    // are stored the way an earlier exit stores them.
    const char* const stored[10] = {"[Settings]",      "VideoFormat=2", "VideoDevice=Zarvex Test Camera",
                                    "SoundDelay=-250", "Volume=40",     "EndTime=3",
                                    "PreTime=7",       "PY=100",        "PX=100",
                                    "Topmost=0"};
    ASSERT_TRUE(testing_support::WriteFileBytes(m_app.IniPath(), Ini(stored)));
    StartApp();
    SetWindowPos(m_app.Window(), nullptr, 310, 220, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SendMessageW(m_app.Item(IDC_TOPMOST), BM_CLICK, 0, 0);
    Exit();

    ZarvexProcess second;
    ASSERT_TRUE(testing_support::WriteFileBytes(second.IniPath(), IniText()));
    ASSERT_TRUE(second.Start()) << second.Failure();
    const POINT at = TopLeft(second.Window());
    EXPECT_EQ(310, at.x);
    EXPECT_EQ(220, at.y);
    EXPECT_TRUE(IsTopmost(second.Window()));
    EXPECT_EQ(BST_CHECKED, SendMessageW(second.Item(IDC_TOPMOST), BM_GETCHECK, 0, 0));
    EXPECT_EQ(L"7", second.ItemText(IDC_PRE_TIME_TEXT));
    EXPECT_EQ(L"3", second.ItemText(IDC_END_TIME_TEXT));
    EXPECT_EQ(7, SliderPos(second, IDC_PRE_TIME));
    EXPECT_EQ(3, SliderPos(second, IDC_END_TIME));
    EXPECT_EQ(60, SliderPos(second, IDC_VOLUME));
    EXPECT_EQ(L"40", second.ItemText(IDC_VOLUME_TEXT));
    EXPECT_EQ(L"-250", second.ItemText(IDC_SOUND_DELAY));
    // A dropped-down list's text is its selected entry.
    EXPECT_EQ(L"Zarvex Test Camera", second.ItemText(IDC_VIDEO_DEVICE));
    EXPECT_EQ(L"160x120x24 30f RGB ", second.ItemText(IDC_VIDEO_FORMAT));
    RequestClose(second, CloseBy::ExitButton);
    ASSERT_TRUE(second.WaitForExit(10000));

    const char* const saved[10] = {"[Settings]",      "VideoFormat=2", "VideoDevice=Zarvex Test Camera",
                                   "SoundDelay=-250", "Volume=40",     "EndTime=3",
                                   "PreTime=7",       "PY=220",        "PX=310",
                                   "Topmost=1"};
    EXPECT_EQ(Ini(saved), testing_support::ReadFileBytes(second.IniPath()));
}

// A settings file someone else wrote: junk lines, a long one, numbers beyond any range, words
// where numbers belong, and read-only. The program starts with every value inside its control's
// range and the first device and format, closes normally, and leaves the file exactly as it was.
TEST_F(AppShellTest, AGarbledReadOnlySettingsFileIsReadWithinRangesAndLeftAsItWas) {
    std::string text = "\xff\xfe\x01garbage without an equals sign\r\n[Settings\r\n=\r\n";
    text += "[Settings]\r\nPreTime=-99999999999\r\nEndTime=2junk\r\nVolume=99999999999\r\n"
            "SoundDelay=-2147483648\r\nVideoFormat=-7\r\nVideoDevice=\x01\x7f no such camera\r\n"
            "PX=12abc\r\nPY=-0x10\r\nTopmost=banana\r\n";
    text += "Long=" + std::string(100000, '9') + "\r\n[Other]\r\nPreTime=3\r\n";
    ASSERT_TRUE(testing_support::WriteFileBytes(m_app.IniPath(), text));
    ASSERT_TRUE(SetFileAttributesW(m_app.IniPath().c_str(), FILE_ATTRIBUTE_READONLY));
    // The folder goes with the harness, and a read-only file would stay in it.
    struct Writable {
        std::wstring path;
        ~Writable() { SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL); }
    } writable{m_app.IniPath()};
    const std::string device = FirstRealVideoDevice();
    ASSERT_FALSE(device.empty())
        << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh build";

    StartApp();
    EXPECT_EQ(L"0", m_app.ItemText(IDC_PRE_TIME_TEXT));
    EXPECT_EQ(0, SliderPos(m_app, IDC_PRE_TIME));
    EXPECT_EQ(L"2", m_app.ItemText(IDC_END_TIME_TEXT));
    EXPECT_EQ(L"100", m_app.ItemText(IDC_VOLUME_TEXT));
    EXPECT_EQ(0, SliderPos(m_app, IDC_VOLUME));
    EXPECT_EQ(L"-2000", m_app.ItemText(IDC_SOUND_DELAY));
    EXPECT_EQ(0, SendMessageW(m_app.Item(IDC_VIDEO_FORMAT), CB_GETCURSEL, 0, 0));
    EXPECT_EQ(0, SendMessageW(m_app.Item(IDC_VIDEO_DEVICE), CB_GETCURSEL, 0, 0));
    EXPECT_FALSE(IsTopmost(m_app.Window()));
    const POINT at = TopLeft(m_app.Window());
    EXPECT_EQ(12, at.x);
    EXPECT_EQ(0, at.y);
    // 30 frames a second for 0 + 2 seconds at 512 x 384.
    EXPECT_EQ(L"33 MB", m_app.ItemText(IDC_USED_MEMORY));
    Exit();
    EXPECT_EQ(0u, m_app.ExitCode());

    EXPECT_TRUE(IniText() == text) << "the read-only file was changed";
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY),
              GetFileAttributesW(m_app.IniPath().c_str()) & FILE_ATTRIBUTE_READONLY);
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    const win::UniqueFindHandle search(FindFirstFileW((m_app.Folder() + L"*").c_str(), &found));
    for (BOOL more = search.get() != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search.get(), &found))
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Zarvex.exe", L"Zarvex.ini"}), names) << "nothing left beside it";
}

TEST_F(AppShellTest, TopmostBoxPutsTheWindowOnTopAndTakesItOff) {
    StartApp();
    ASSERT_FALSE(IsTopmost(m_app.Window()));
    SendMessageW(m_app.Item(IDC_TOPMOST), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return IsTopmost(m_app.Window()); }, 5000));
    SendMessageW(m_app.Item(IDC_TOPMOST), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsTopmost(m_app.Window()); }, 5000));
    Exit();
    EXPECT_NE(std::string::npos, IniText().find("Topmost=0\r\n"));
}

TEST_F(AppShellTest, ExitWhileMinimisedSavesTheRestoredPosition) {
    StartApp();
    SetWindowPos(m_app.Window(), nullptr, 250, 180, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(Minimise(m_app.Window()));
    RequestClose(m_app, CloseBy::CloseBox);
    ASSERT_TRUE(m_app.WaitForExit(10000));
    const std::string ini = IniText();
    EXPECT_NE(std::string::npos, ini.find("PX=250\r\n")) << ini;
    EXPECT_NE(std::string::npos, ini.find("PY=180\r\n")) << ini;
}

TEST_F(AppShellTest, EveryWayOfClosingRunsTheShutdown) {
    for (CloseBy how : {CloseBy::ExitButton, CloseBy::EscapeKey, CloseBy::CloseBox}) {
        SCOPED_TRACE(Name(how));
        ZarvexProcess app;
        ASSERT_TRUE(app.Start()) << app.Failure();
        // Sound capture runs from the start (the bench has sound devices), so its worker is there
        // when the dialog closes.
        EXPECT_GT(SendMessageW(app.Item(IDC_SOUND_DEVICE), CB_GETCOUNT, 0, 0), 0);
        RequestClose(app, how);
        ASSERT_TRUE(app.WaitForExit(10000));
        EXPECT_NE(std::string::npos, testing_support::ReadFileBytes(app.IniPath()).find("[Settings]\r\n"));
        EXPECT_EQ(0u, app.ExitCode()) << "the shutdown did not end normally";
    }
}

TEST_F(AppShellTest, NoWayOfClosingWorksWhileTheExitButtonIsDisabled) {
    StartApp();
    // Work in progress disables the exit button; stand in for it by disabling the button directly.
    EnableWindow(m_app.Item(IDCANCEL), FALSE);
    for (CloseBy how : {CloseBy::ExitButton, CloseBy::EscapeKey, CloseBy::CloseBox}) {
        SCOPED_TRACE(Name(how));
        RequestClose(m_app, how);
        EXPECT_FALSE(m_app.WaitForExit(700));
        EXPECT_TRUE(IsWindow(m_app.Window()));
    }
    PostMessageW(m_app.Window(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(m_app.WaitForExit(700));
    EXPECT_TRUE(IniText().empty()) << "the shutdown must not have run";

    EnableWindow(m_app.Item(IDCANCEL), TRUE);
    RequestClose(m_app, CloseBy::CloseBox);
    EXPECT_TRUE(m_app.WaitForExit(10000));
}

TEST_F(AppShellTest, AboutCommandOpensTheAboutBoxWithAnyLowFourBits) {
    StartApp();
    for (WPARAM command : {WPARAM(IDM_ABOUTBOX), WPARAM(IDM_ABOUTBOX | 0xF)}) {
        SCOPED_TRACE(command);
        PostMessageW(m_app.Window(), WM_SYSCOMMAND, command, 0);
        HWND about = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] { return (about = m_app.FindOwnWindow(L"#32770", kAboutCaption)) != nullptr; }, 5000));
        EXPECT_EQ(m_app.Window(), GetWindow(about, GW_OWNER));
        EXPECT_TRUE(HasChildWithText(about, L"Zarvex Version 1.0"));
        PostMessageW(about, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(about); }, 5000));
    }
    // Any other system command keeps its default behaviour.
    EXPECT_TRUE(Minimise(m_app.Window()));
    EXPECT_FALSE(m_app.FindOwnWindow(L"#32770", kAboutCaption));
}

TEST_F(AppShellTest, ChannelHeaderHoldsTheDialogWindowWhileItRuns) {
    StartApp();
    CSharedMem channel;
    ASSERT_TRUE(channel.Open(kChannelName)) << "the program creates the channel when nobody else has";
    ASSERT_TRUE(channel.Lock());
    SharedFrameHeader* header = channel.Header();
    ASSERT_TRUE(header);
    const HWND owner = OwnerWindowOf(*header);
    channel.Unlock();
    EXPECT_EQ(m_app.Window(), owner);
    EXPECT_TRUE(IsWindow(owner));
    Exit();

    // The header keeps the stale handle after exit; readers tell with IsWindow.
    ASSERT_TRUE(channel.Lock());
    EXPECT_EQ(owner, OwnerWindowOf(*channel.Header()));
    channel.Unlock();
    EXPECT_FALSE(IsWindow(owner));
}

TEST(ZarvexProcessTest, TheProgramsFolderGoesWithTheHarness) {
    std::wstring folder;
    {
        ZarvexProcess app;
        folder = app.Folder();
        ASSERT_TRUE(app.Failure().empty()) << app.Failure();
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((folder + L"Zarvex.exe").c_str()));
        ASSERT_TRUE(app.Start()) << app.Failure();
        RequestClose(app, CloseBy::CloseBox);
        ASSERT_TRUE(app.WaitForExit(10000));
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(app.IniPath().c_str()))
            << "the exit saved settings";
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(folder.c_str()))
        << "the copy of the program and its settings are left behind";
}
