// The main dialog's device and format choice and its live capture, in-process, on the bench's real
// DirectShow with the Zarvex Test Camera (and spares of it, listed for a test) and ZarvexDevice.
#include "DShowClient.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CaptureGraph.h"
#include "ComScope.h"
#include "DeviceNameText.h"
#include "GrabberCallback.h"
#include "TestCamPainter.h"
#include "Utf8.h"
#include "dialog_fixture.h"
#include "listed_video_devices.h"
#include "module_library.h"
#include "resource.h"
#include "testcam_code.h"
#include "wait_until.h"

using testing_support::CListedTestCamera;
using testing_support::CUnlistedVideoDevices;
using testing_support::DialogThread;
using testing_support::EnumeratedNames;
using testing_support::ZarvexDlgTestAccess;
using Access = testing_support::ZarvexDlgTestAccess;

namespace {

const wchar_t kVirtualCamera[] = L"ZarvexDevice";
// A name no ANSI code page holds whole: Japanese, and a camera emoji outside the BMP.
const wchar_t kWideName[] = L"Zarvex \u30AB\u30E1\u30E9 \U0001F4F7";

std::vector<std::wstring> ComboItems(HWND combo) {
    std::vector<std::wstring> items;
    const int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length > 0 ? length : 0));
        items.push_back(text);
    }
    return items;
}

std::wstring ComboSelection(HWND combo) {
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR)
        return L"(none)";
    return ComboItems(combo)[static_cast<size_t>(index)];
}

std::wstring ItemText(const DialogThread& dlg, int id) {
    wchar_t text[64] = {};
    GetDlgItemTextW(dlg.window(), id, text, 64);
    return text;
}

// Chooses entry index of a list as a user does: the selection, then the notification.
void Choose(const DialogThread& dlg, int id, int index) {
    SendMessageW(dlg.item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dlg.window(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(dlg.item(id)));
}

int IndexOf(const std::vector<std::wstring>& items, const std::wstring& item) {
    const auto it = std::find(items.begin(), items.end(), item);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

std::string Settings(const std::string& device, int format) {
    return "[Settings]\r\nVideoFormat=" + std::to_string(format) + "\r\nVideoDevice=" + device + "\r\n";
}

// What the ring holds, read on the dialog thread.
struct RingState {
    int slots = 0;
    int writeIndex = 0;
    int width = 0, height = 0;
    int frameRate = 0;
    std::vector<std::optional<std::uint32_t>> sequences; // of slots 0 .. writeIndex - 1
};

RingState ReadRing(DialogThread& dlg, bool decode = false) {
    RingState state;
    EXPECT_TRUE(dlg.Run([&](CZarvexDlg& d) {
        CFrameStore& ring = Access::Ring(d);
        state.slots = ring.GetSlotCount();
        state.writeIndex = ring.GetWriteIndex();
        state.frameRate = Access::FrameRate(d);
        if (const CFrameImage* first = ring.GetSlot(0)) {
            state.width = first->GetWidth();
            state.height = first->GetHeight();
        }
        for (int i = 0; decode && i < state.writeIndex; ++i) {
            const CFrameImage* slot = ring.GetSlot(i);
            std::uint32_t sequence = 0;
            state.sequences.push_back(
                TestCamDecodeSequence(slot->GetBits(), slot->GetWidth(), slot->GetHeight(), &sequence)
                    ? std::optional<std::uint32_t>(sequence)
                    : std::nullopt);
        }
    }));
    return state;
}

// The ring's stored frames are test camera frames in the order the camera sent them.
::testing::AssertionResult StoredInOrder(const RingState& ring) {
    size_t gaps = 0;
    for (size_t i = 0; i < ring.sequences.size(); ++i) {
        if (!ring.sequences[i])
            return ::testing::AssertionFailure() << "slot " << i << " holds no test camera frame";
        if (i > 0 && *ring.sequences[i] <= *ring.sequences[i - 1])
            return ::testing::AssertionFailure() << "slot " << i << " holds frame " << *ring.sequences[i]
                                                 << " after " << *ring.sequences[i - 1];
        gaps += i > 0 && *ring.sequences[i] != *ring.sequences[i - 1] + 1 ? 1 : 0;
    }
    if (gaps * 10 > ring.sequences.size())
        return ::testing::AssertionFailure() << gaps << " gaps in " << ring.sequences.size() << " frames";
    return ::testing::AssertionSuccess();
}

// Waits until the ring holds at least n frames since it was last rebuilt.
bool WaitForStored(DialogThread& dlg, int n, DWORD timeoutMs) {
    return testing_support::WaitUntil([&] { return ReadRing(dlg).writeIndex >= n; }, timeoutMs, 50);
}

class VideoCaptureTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_com.ok());
        const std::vector<std::wstring> names = EnumeratedNames();
        ASSERT_NE(names.end(), std::find(names.begin(), names.end(), TESTCAM_FRIENDLY_NAME))
            << "the Zarvex Test Camera is not registered in the bench: tools/testcam/register-testcam.sh "
               "build";
    }
    // The dialog, started once the test has its devices listed.
    DialogThread& Start(const std::optional<std::string>& settings = std::nullopt) {
        m_dlg = std::make_unique<DialogThread>(settings);
        EXPECT_TRUE(m_dlg->window()) << "the dialog did not appear";
        return *m_dlg;
    }

    win::ComScope m_com;
    std::unique_ptr<DialogThread> m_dlg;
};

// ZarvexDevice.ax registered for the test, and the prefix's registration of it put back after.
class VirtualCameraRegistered {
public:
    VirtualCameraRegistered() : m_keeper(m_module, kVirtualCamera) {
        if (m_module.Loaded())
            m_hr = m_module.RegisterServer();
    }
    HRESULT Result() const { return m_hr; }

private:
    CModuleLibrary m_module{L"ZarvexDevice.ax"};
    CRegistrationKeeper m_keeper;
    HRESULT m_hr = E_FAIL;
};

} // namespace

TEST_F(VideoCaptureTest, TheDeviceListHoldsEveryDeviceButTheVirtualCameraAndTakesTheFirst) {
    const VirtualCameraRegistered virtualCamera;
    ASSERT_EQ(S_OK, virtualCamera.Result());
    std::vector<std::wstring> expected = EnumeratedNames();
    ASSERT_NE(-1, IndexOf(expected, kVirtualCamera));
    expected.erase(std::remove(expected.begin(), expected.end(), kVirtualCamera), expected.end());

    DialogThread& dlg = Start(); // no settings: the first device and its first format
    EXPECT_EQ(expected, ComboItems(dlg.item(IDC_VIDEO_DEVICE)));
    EXPECT_TRUE(IsWindowEnabled(dlg.item(IDC_VIDEO_DEVICE)));
    EXPECT_EQ(expected[0], ComboSelection(dlg.item(IDC_VIDEO_DEVICE)));
    EXPECT_EQ(DeviceNameToText(expected[0].c_str()), Access::VideoDevice(dlg.dialog()));
    EXPECT_TRUE(IsWindowEnabled(dlg.item(IDC_VIDEO_FORMAT)));
    EXPECT_EQ(0, SendMessageW(dlg.item(IDC_VIDEO_FORMAT), CB_GETCURSEL, 0, 0));
}

TEST_F(VideoCaptureTest, WithoutARealCameraNoFormatIsOfferedAndNothingIsRemembered) {
    const VirtualCameraRegistered virtualCamera;
    ASSERT_EQ(S_OK, virtualCamera.Result());
    struct Case {
        const char* what;
        const wchar_t* keep; // the one device left listed, or none
        bool deviceListEnabled;
    };
    // The test is on the number of names found: the virtual camera alone leaves the list enabled.
    const Case cases[] = {{"the virtual camera alone", kVirtualCamera, true},
                          {"no device at all", L"", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CUnlistedVideoDevices others(c.keep);
        ASSERT_TRUE(others.Ok());
        DialogThread& dlg = Start(Settings("Zarvex Test Camera", 1));
        EXPECT_EQ(c.deviceListEnabled, IsWindowEnabled(dlg.item(IDC_VIDEO_DEVICE)) != FALSE);
        EXPECT_EQ(0, SendMessageW(dlg.item(IDC_VIDEO_DEVICE), CB_GETCOUNT, 0, 0));
        EXPECT_FALSE(IsWindowEnabled(dlg.item(IDC_VIDEO_FORMAT)));
        EXPECT_EQ(nullptr, Access::VideoCapture(dlg.dialog())) << "no format, no graph";
        // The ring is there all the same, at the default rate.
        EXPECT_EQ(300, ReadRing(dlg).slots);
        ASSERT_TRUE(dlg.Close());
        const std::optional<std::string> saved = DialogThread::ReadSettings();
        ASSERT_TRUE(saved);
        EXPECT_NE(std::string::npos, saved->find("\r\nVideoDevice=\r\n")) << *saved;
        m_dlg.reset();
    }
}

TEST_F(VideoCaptureTest, TheRememberedDeviceIsFoundByItsWholeNameElseByItsBeginning) {
    const CListedTestCamera longer(0, L"Zarvex Prefix Cam Two", L"Zarvex Prefix 1");
    const CListedTestCamera shorter(1, L"Zarvex Prefix Cam", L"Zarvex Prefix 2");
    ASSERT_EQ(S_OK, longer.Result());
    ASSERT_EQ(S_OK, shorter.Result());
    const std::vector<std::wstring> names = EnumeratedNames();
    ASSERT_LT(IndexOf(names, L"Zarvex Prefix Cam Two"), IndexOf(names, L"Zarvex Prefix Cam"))
        << "the test needs the longer name listed first";

    struct Case {
        const char* remembered;
        std::wstring selected; // empty: the first entry
    };
    const Case cases[] = {
        // A prefix of both, in another case: the list control's choice, the first that begins with it.
        {"zarvex prefix", L"Zarvex Prefix Cam Two"},
        // The whole name of a device, which is also the beginning of one listed before it.
        {"Zarvex Prefix Cam", L"Zarvex Prefix Cam"},
        {"Zarvex Prefix Cam Two", L"Zarvex Prefix Cam Two"},
        {"Nothing Like It", L""},
        {"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remembered);
        DialogThread& dlg = Start(Settings(c.remembered, 0));
        const std::wstring want = c.selected.empty() ? ComboItems(dlg.item(IDC_VIDEO_DEVICE))[0] : c.selected;
        EXPECT_EQ(want, ComboSelection(dlg.item(IDC_VIDEO_DEVICE)));
        EXPECT_EQ(DeviceNameToText(want.c_str()), Access::VideoDevice(dlg.dialog()));
        m_dlg.reset();
    }
}

TEST_F(VideoCaptureTest, FormatLinesSkipUnusableCapabilitiesAndTheRememberedIndexIsClamped) {
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    const std::vector<std::wstring> lines = {L"640x480x24 30f RGB ", L"320x240x24 15f RGB ",
                                             L"320x240x16 YUY2", L"160x120x24 RGB ",
                                             L"160x120x24 2000f RGB "};
    struct Case {
        int remembered, selected, frameRate;
        const wchar_t* usedMemory;
    };
    const Case cases[] = {
        {1, 1, 15, L"84 MB"},
        {-5, 0, 30, L"168 MB"},
        // The last line is a format faster than a frame a millisecond: the rate it would give
        // divides by zero, so the ring keeps the rate it had (30 at start).
        {99, 4, 30, L"168 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remembered);
        DialogThread& dlg = Start(Settings("Zarvex Mixed Camera", c.remembered));
        EXPECT_EQ(lines, ComboItems(dlg.item(IDC_VIDEO_FORMAT)));
        EXPECT_TRUE(IsWindowEnabled(dlg.item(IDC_VIDEO_FORMAT)));
        EXPECT_EQ(c.selected, SendMessageW(dlg.item(IDC_VIDEO_FORMAT), CB_GETCURSEL, 0, 0));
        EXPECT_EQ(c.selected, Access::VideoFormat(dlg.dialog()));
        EXPECT_EQ(c.frameRate, ReadRing(dlg).frameRate);
        EXPECT_EQ(c.usedMemory, ItemText(dlg, IDC_USED_MEMORY));
        m_dlg.reset();
    }
}

TEST_F(VideoCaptureTest, AFormatBelowAMillisecondAFrameKeepsTheRateItFollows) {
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    DialogThread& dlg = Start(Settings("Zarvex Mixed Camera", 1));
    ASSERT_EQ(15, ReadRing(dlg).frameRate);
    Choose(dlg, IDC_VIDEO_FORMAT, 4); // "160x120x24 2000f RGB ": 5000 x 100 ns a frame
    EXPECT_EQ(4, Access::VideoFormat(dlg.dialog()));
    EXPECT_EQ(15, ReadRing(dlg).frameRate);
    EXPECT_EQ(L"84 MB", ItemText(dlg, IDC_USED_MEMORY));
    // The restart went all the way: the new graph runs. (The camera keeps its own format, which
    // the grabber takes as it comes; the frames are drawn with the chosen header.)
    const long messages = dlg.CaptureFrameMessages();
    Sleep(2000);
    EXPECT_GE(dlg.CaptureFrameMessages(), messages + 5) << "capture did not run again";
}

TEST_F(VideoCaptureTest, ACapabilityRecordOtherThan128BytesOffersNoFormat) {
    const CListedTestCamera odd(0, L"Zarvex Odd Record Camera", L"Zarvex Odd",
                                TESTCAM_CAPABILITIES_RECORD136);
    ASSERT_EQ(S_OK, odd.Result());
    DialogThread& dlg = Start(Settings("Zarvex Odd Record Camera", 0));
    EXPECT_EQ(L"Zarvex Odd Record Camera", ComboSelection(dlg.item(IDC_VIDEO_DEVICE)));
    EXPECT_FALSE(IsWindowEnabled(dlg.item(IDC_VIDEO_FORMAT)));
    EXPECT_TRUE(Access::VideoDevice(dlg.dialog()).IsEmpty());
    EXPECT_EQ(nullptr, Access::VideoCapture(dlg.dialog()));
}

TEST_F(VideoCaptureTest, LiveFramesArriveInOrderScaledIntoThe512By384Ring) {
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 0)); // 640x480x24 30f
    ASSERT_EQ(L"640x480x24 30f RGB ", ComboSelection(dlg.item(IDC_VIDEO_FORMAT)));
    const RECT src = Access::Source(dlg.dialog()), dst = Access::Destination(dlg.dialog());
    EXPECT_EQ(640, src.right);
    EXPECT_EQ(480, src.bottom);
    EXPECT_EQ(512, dst.right);
    EXPECT_EQ(384, dst.bottom);

    ASSERT_TRUE(WaitForStored(dlg, 5, 10000)) << "no frames reached the ring";
    const RingState first = ReadRing(dlg);
    const DWORD start = GetTickCount();
    Sleep(3000);
    const RingState ring = ReadRing(dlg, true);
    const double seconds = (GetTickCount() - start) / 1000.0;
    EXPECT_EQ(300, ring.slots);
    EXPECT_EQ(512, ring.width);
    EXPECT_EQ(384, ring.height);
    EXPECT_TRUE(StoredInOrder(ring));
    // About the camera's 30 a second: a shared machine may drop some, none may come extra.
    const double rate = (ring.writeIndex - first.writeIndex) / seconds;
    EXPECT_GE(rate, 10.0);
    EXPECT_LE(rate, 36.0);
    EXPECT_GE(dlg.CaptureFrameMessages(), ring.writeIndex);
}

TEST_F(VideoCaptureTest, ChoosingAnotherDeviceOrFormatRestartsCaptureAtItsRate) {
    const CListedTestCamera mixed(0, L"Zarvex Mixed Camera", L"Zarvex Mixed", TESTCAM_CAPABILITIES_MIXED);
    ASSERT_EQ(S_OK, mixed.Result());
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 1)); // 320x240x24 30f
    ASSERT_EQ(L"Zarvex Test Camera", ComboSelection(dlg.item(IDC_VIDEO_DEVICE)));
    ASSERT_TRUE(WaitForStored(dlg, 5, 10000));
    EXPECT_EQ(L"168 MB", ItemText(dlg, IDC_USED_MEMORY));

    struct Step {
        const char* what;
        int list;
        std::wstring choice; // the entry's text
        int frameRate, slots;
        const wchar_t* usedMemory;
        const wchar_t* format;
    };
    const Step steps[] = {
        // The remembered format index (1) goes with the new device.
        {"device", IDC_VIDEO_DEVICE, L"Zarvex Mixed Camera", 15, 150, L"84 MB", L"320x240x24 15f RGB "},
        {"format", IDC_VIDEO_FORMAT, L"640x480x24 30f RGB ", 30, 300, L"168 MB", L"640x480x24 30f RGB "},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const int index = IndexOf(ComboItems(dlg.item(s.list)), s.choice);
        ASSERT_NE(-1, index);
        Choose(dlg, s.list, index);
        EXPECT_EQ(s.format, ComboSelection(dlg.item(IDC_VIDEO_FORMAT)));
        EXPECT_EQ(s.usedMemory, ItemText(dlg, IDC_USED_MEMORY));
        ASSERT_TRUE(WaitForStored(dlg, 10, 10000)) << "capture did not start again";
        const RingState ring = ReadRing(dlg, true);
        EXPECT_EQ(s.frameRate, ring.frameRate);
        EXPECT_EQ(s.slots, ring.slots);
        EXPECT_TRUE(StoredInOrder(ring));
        // The camera counts from 0 at every start: these frames come from the new graph.
        ASSERT_FALSE(ring.sequences.empty());
        EXPECT_LT(*ring.sequences.front(), 30u);
    }
}

TEST_F(VideoCaptureTest, NoFrameArrivesAfterStopVideoCapture) {
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 2));
    ASSERT_TRUE(WaitForStored(dlg, 5, 10000));
    ASSERT_TRUE(dlg.Run([](CZarvexDlg& d) { Access::StopVideoCapture(d); }));
    EXPECT_EQ(nullptr, Access::VideoCapture(dlg.dialog()));
    // A message sent before the stop is handled by now (the task above ran after it).
    const long messages = dlg.CaptureFrameMessages();
    const int stored = ReadRing(dlg).writeIndex;
    Sleep(500);
    EXPECT_EQ(messages, dlg.CaptureFrameMessages());
    EXPECT_EQ(stored, ReadRing(dlg).writeIndex);
}

TEST_F(VideoCaptureTest, DraggingATimeSliderShowsTheNumberAndOnlyItsReleaseRebuildsTheRing) {
    struct Case {
        int slider, text;
    };
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 2));
    for (const Case& c : {Case{IDC_PRE_TIME, IDC_PRE_TIME_TEXT}, Case{IDC_END_TIME, IDC_END_TIME_TEXT}}) {
        SCOPED_TRACE(c.slider);
        const RingState before = ReadRing(dlg);
        const std::wstring usedBefore = ItemText(dlg, IDC_USED_MEMORY);
        HWND slider = dlg.item(c.slider);
        SendMessageW(dlg.window(), WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 10),
                     reinterpret_cast<LPARAM>(slider));
        EXPECT_EQ(L"10", ItemText(dlg, c.text));
        EXPECT_EQ(before.slots, ReadRing(dlg).slots) << "the drag rebuilt the ring";
        EXPECT_EQ(usedBefore, ItemText(dlg, IDC_USED_MEMORY));

        SendMessageW(slider, TBM_SETPOS, TRUE, 10);
        SendMessageW(dlg.window(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
        EXPECT_EQ(L"10", ItemText(dlg, c.text));
        EXPECT_EQ(before.slots + 30 * 5, ReadRing(dlg).slots);
    }
    EXPECT_EQ(L"337 MB", ItemText(dlg, IDC_USED_MEMORY)); // 30 x 20 s of 512 x 384 x 3 bytes
}

namespace {

// A test camera frame of 640 x 480 whose pages end exactly where its length says, followed by a
// page no one may read: a read past the length faults.
class GuardedFrame {
public:
    GuardedFrame(size_t length, std::uint32_t sequence) : m_length(length) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t full = static_cast<size_t>(TestCamStride(640)) * 480;
        const size_t committed = (std::max(length, full) + page - 1) / page * page;
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, committed + page, MEM_RESERVE, PAGE_NOACCESS));
        if (!m_base || !VirtualAlloc(m_base, committed, MEM_COMMIT, PAGE_READWRITE))
            return;
        std::vector<BYTE> picture(full);
        TestCamPaintFrame(picture.data(), 640, 480, sequence);
        // The frame's first length bytes, placed so that its end is the guard page.
        m_bits = m_base + committed - length;
        std::memcpy(m_bits, picture.data(), std::min(length, full));
    }
    ~GuardedFrame() { Free(); }
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    BYTE* Bits() const { return m_bits; }
    long Length() const { return static_cast<long>(m_length); }
    void Free() {
        if (m_base)
            VirtualFree(m_base, 0, MEM_RELEASE);
        m_base = nullptr;
    }

private:
    size_t m_length;
    BYTE* m_base = nullptr;
    BYTE* m_bits = nullptr;
};

// The dialog's graph stopped, with its callback aimed at the dialog again, so that the test's own
// thread delivers frames through it as the streaming thread would.
void DeliverByHand(DialogThread& dlg) {
    ASSERT_TRUE(dlg.Run([](CZarvexDlg& d) {
        CCaptureGraph* graph = Access::VideoCapture(d);
        ASSERT_TRUE(graph);
        graph->Stop();
        graph->Callback().SetWindow(d.m_hWnd);
    }));
}

} // namespace

TEST_F(VideoCaptureTest, AFrameShorterThanItsHeaderIsDroppedBeforeItIsRead) {
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 0)); // 640x480: 921600 bytes a frame
    ASSERT_TRUE(WaitForStored(dlg, 1, 10000));
    DeliverByHand(dlg);
    CGrabberCallback& callback = Access::VideoCapture(dlg.dialog())->Callback();
    struct Case {
        const char* what;
        size_t length;
        int stored;
    };
    const Case cases[] = {{"a row short", 921600 - 1920, 0}, {"one byte", 1, 0}, {"whole", 921600, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int before = ReadRing(dlg).writeIndex;
        GuardedFrame frame(c.length, 77);
        ASSERT_TRUE(frame.Bits());
        ASSERT_EQ(S_OK, callback.BufferCB(0.0, frame.Bits(), frame.Length()));
        const RingState after = ReadRing(dlg, true);
        EXPECT_EQ(before + c.stored, after.writeIndex);
        if (c.stored) {
            ASSERT_FALSE(after.sequences.empty());
            EXPECT_EQ(77u, after.sequences.back().value_or(0));
        }
    }
}

TEST_F(VideoCaptureTest, AFrameWhoseSendTimedOutIsNotReadByTheDialog) {
    DialogThread& dlg = Start(Settings("Zarvex Test Camera", 0));
    ASSERT_TRUE(WaitForStored(dlg, 1, 10000));
    DeliverByHand(dlg);
    CGrabberCallback& callback = Access::VideoCapture(dlg.dialog())->Callback();
    const int before = ReadRing(dlg).writeIndex;

    GuardedFrame frame(921600, 5);
    ASSERT_TRUE(frame.Bits());
    dlg.Post([](CZarvexDlg&) { Sleep(400); }); // the dialog is busy, as in a long clip list refill
    Sleep(50);
    const long timedOut = callback.TimedOutCount();
    ASSERT_EQ(S_OK, callback.BufferCB(0.0, frame.Bits(), frame.Length()));
    EXPECT_EQ(timedOut + 1, callback.TimedOutCount());
    BYTE* const late = frame.Bits();
    frame.Free();
    // Windows delivers the message once the dialog is free again (Wine drops it); either way the
    // dialog must not read the buffer, which is gone.
    SendMessageW(dlg.window(), WM_CAPTURE_FRAME, reinterpret_cast<WPARAM>(late), 921600);
    EXPECT_EQ(before, ReadRing(dlg).writeIndex);
}

TEST_F(VideoCaptureTest, ADeviceNameOutsideTheAnsiCodePageIsListedChosenAndFoundAgain) {
    const CListedTestCamera wide(0, kWideName, L"Zarvex Wide");
    ASSERT_EQ(S_OK, wide.Result());
    {
        DialogThread& dlg = Start();
        const int index = IndexOf(ComboItems(dlg.item(IDC_VIDEO_DEVICE)), kWideName);
        ASSERT_NE(-1, index) << "the name is not listed as it is";
        Choose(dlg, IDC_VIDEO_DEVICE, index);
        EXPECT_TRUE(IsWindowEnabled(dlg.item(IDC_VIDEO_FORMAT)));
        EXPECT_EQ(3, SendMessageW(dlg.item(IDC_VIDEO_FORMAT), CB_GETCOUNT, 0, 0));
        ASSERT_TRUE(dlg.Close());
    }
    const std::optional<std::string> saved = DialogThread::ReadSettings();
    ASSERT_TRUE(saved);
    // Behind the UTF-8 byte order mark, the name's UTF-8 bytes.
    const std::string line = "\r\nVideoDevice=\xEF\xBB\xBF" + win::Utf8(kWideName) + "\r\n";
    EXPECT_NE(std::string::npos, saved->find(line)) << *saved;

    DialogThread& again = Start(saved);
    EXPECT_EQ(kWideName, ComboSelection(again.item(IDC_VIDEO_DEVICE)));
    EXPECT_TRUE(IsWindowEnabled(again.item(IDC_VIDEO_FORMAT)));
    EXPECT_TRUE(WaitForStored(again, 5, 10000)) << "the device was not found again";
}
