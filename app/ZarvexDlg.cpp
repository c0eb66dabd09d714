#include "ZarvexDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "AboutDlg.h"
#include "CaptureGraph.h"
#include "ChannelAccess.h"
#include "ClipSaver.h"
#include "ClipThumbnails.h"
#include "DeviceNameText.h"
#include "FrameDc.h"
#include "IniFile.h"
#include "Log.h"
#include "SoundControls.h"
#include "VideoDevices.h"
#include "WindowPlacement.h"
#include "afx_app.h"
#include "resource.h"

namespace {

const char kSettings[] = "Settings";

// The ranges of the controls that show the stored values. A value from the settings file is brought
// into its range as it is loaded, so that the number shown, the control and the value used agree
// (and 100 - volume cannot overflow).
constexpr int kMaxTime = 30;         // PreTime and EndTime in seconds: sliders 1002 and 1005
constexpr int kMaxVolume = 100;      // slider 1025
constexpr int kMaxSoundDelay = 2000; // milliseconds either way: the spin control's range

// The virtual camera's own friendly name: the program never captures its own output.
const char kVirtualCameraName[] = "ZarvexDevice";

// The capture-side controls that EnableControls switches as one group.
const int kCaptureSideControls[] = {
    IDOK,         IDCANCEL,     IDC_VIDEO_DEVICE, IDC_VIDEO_FORMAT, IDC_SOUND_DEVICE,
    IDC_PRE_TIME, IDC_END_TIME, IDC_DELETE};

// The press timer: while a press is armed or its clip is being made, it looks for a press that
// cannot complete and for a clip maker's result whose message was lost.
constexpr UINT_PTR kPressTimer = 1;
constexpr UINT kPressTimerMs = 500;
// An armed ring that has had no frame for this long is given up: the camera delivers nothing (no
// graph, a device unplugged), and without frames the press would keep every capture-side control,
// the exit button included, disabled for good. Three seconds are many frame periods at any rate a
// capture device offers, and short enough for a user looking at a frozen window.
constexpr DWORD kNoFrameMs = 3000;
// How long the clip maker waits for the dialog to remove the oldest clip before it cuts anyway.
constexpr DWORD kRemoveWaitMs = 5000;

} // namespace

CZarvexDlg::CZarvexDlg(CWnd* parent) : CDialog(IDD_ZARVEX_DIALOG, parent), m_strCaption("ZELKOR") {
    m_hIcon = LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));

    // The caption burnt into clips: 20-point bold italic Arial at the screen's resolution.
    // The resolution is that of the frame images the caption is drawn into.
    SystemParametersInfoA(SPI_GETICONTITLELOGFONT, sizeof m_lfCaption, &m_lfCaption, 0);
    lstrcpynA(m_lfCaption.lfFaceName, "Arial", LF_FACESIZE);
    m_lfCaption.lfWeight = FW_BOLD;
    m_lfCaption.lfItalic = TRUE;
    {
        CFrameImage probe(64, 64, 24);
        if (const CFrameDc dc{probe})
            m_lfCaption.lfHeight = -MulDiv(20, GetDeviceCaps(dc.get(), LOGPIXELSY), 72);
    }

    // The frame channel: open the one the virtual camera made, or make it. The object is kept even
    // when both fail; every later Lock then fails and nothing is published.
    m_pChannel.reset(new (std::nothrow) CSharedMem);
    if (m_pChannel && !m_pChannel->Open(kChannelName))
        (void)m_pChannel->Create(kChannelName, kChannelPayloadSize); // failure recorded in the object
    // Without a channel object the publisher does nothing, which is what the program then needs.
    m_pPublisher = std::make_unique<CFramePublisher>(m_pChannel.get());
}

CZarvexDlg::~CZarvexDlg() = default;

CString CZarvexDlg::SettingsPath() {
    const CWinApp* app = AfxGetApp();
    CString help = app ? app->m_strHelpFilePath : CString();
    if (help.GetLength() < 3)
        return CString();
    return help.Left(help.GetLength() - 3) + "ini";
}

void CZarvexDlg::SetItemInt(int id, int value) {
    CString text;
    text.Format("%d", value);
    SetDlgItemTextA(m_hWnd, id, text);
}

BOOL CZarvexDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    ExchangeSettings(TRUE);

    // The about entry goes on the system menu.
    HMENU sysMenu = GetSystemMenu(m_hWnd, FALSE);
    const std::wstring about = AfxLoadStringW(IDS_ABOUTBOX);
    if (sysMenu && !about.empty()) {
        AppendMenuW(sysMenu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(sysMenu, MF_STRING, IDM_ABOUTBOX, about.c_str());
    }

    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    SetDlgItemInt(m_hWnd, IDC_SOUND_DELAY, static_cast<UINT>(m_nSoundDelay), TRUE);

    // The sound output, at the volume the settings hold. Without one (no device, or it refused
    // the priority level or the buffer) clips play silently, paced by the player's timer.
    (void)CreateSoundOutput(m_hWnd, m_nVolume, m_pDirectSound, m_soundOutput);
    m_player.SetWindows(m_hWnd, WM_PLAYBACK_ENDED, GetDlgItem(IDC_POSITION));

    // Register the dialog as the channel's owner window: the virtual camera posts format
    // announcements to it.
    (void)m_pPublisher->RegisterOwner(m_hWnd); // without a channel no announcement can come anyway
    (void)LOG_IF_WIN32_FALSE(AllowCameraFormatMessage(m_hWnd)); // else only same-level hosts reach us

    SendDlgItemMessageW(m_hWnd, IDC_PRE_TIME, TBM_SETRANGE, FALSE, MAKELPARAM(0, kMaxTime));
    SendDlgItemMessageW(m_hWnd, IDC_PRE_TIME, TBM_SETPOS, TRUE, m_nPreTime);
    SendDlgItemMessageW(m_hWnd, IDC_END_TIME, TBM_SETRANGE, FALSE, MAKELPARAM(0, kMaxTime));
    SendDlgItemMessageW(m_hWnd, IDC_END_TIME, TBM_SETPOS, TRUE, m_nEndTime);
    // The volume slider is vertical and its top is position 0, so a louder volume sits higher.
    SendDlgItemMessageW(m_hWnd, IDC_VOLUME, TBM_SETRANGE, FALSE, MAKELPARAM(0, kMaxVolume));
    SendDlgItemMessageW(m_hWnd, IDC_VOLUME, TBM_SETPOS, TRUE, kMaxVolume - m_nVolume);
    SetItemInt(IDC_VOLUME_TEXT, m_nVolume);
    SendDlgItemMessageW(m_hWnd, IDC_POSITION, TBM_SETRANGE, FALSE, MAKELPARAM(0, 10000));

    FillVideoDevices();
    FillVideoFormats();
    FillSoundDevices();
    ResetFrameStore();
    ApplyVideoFormat();
    StartSoundCapture();
    return TRUE;
}

void CZarvexDlg::ExchangeSettings(BOOL bLoad) {
    CIniFile ini(SettingsPath());
    if (bLoad) {
        const int topmost = ini.GetInt(kSettings, "Topmost", 0);
        const int y = ini.GetInt(kSettings, "PY", 100);
        const int x = ini.GetInt(kSettings, "PX", 100);
        // Always moved to the stored position (not validated: a position off every screen is kept),
        // in the coordinates it was saved in; put on top only when "Topmost" is set.
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        if (LOG_IF_WIN32_FALSE(GetWindowPlacement(m_hWnd, &placement))) {
            placement = PlacementAt(placement, x, y, IsWindowVisible(m_hWnd) != FALSE);
            (void)LOG_IF_WIN32_FALSE(SetWindowPlacement(m_hWnd, &placement));
        }
        if (topmost) {
            SetWindowPos(&CWnd::wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            CheckDlgButton(m_hWnd, IDC_TOPMOST, BST_CHECKED);
        }
        m_nPreTime = std::clamp(ini.GetInt(kSettings, "PreTime", m_nPreTime), 0, kMaxTime);
        m_nEndTime = std::clamp(ini.GetInt(kSettings, "EndTime", m_nEndTime), 0, kMaxTime);
        m_strVideoDevice = ini.GetString(kSettings, "VideoDevice", "");
        m_nVideoFormat = ini.GetInt(kSettings, "VideoFormat", m_nVideoFormat);
        m_nVolume = std::clamp(ini.GetInt(kSettings, "Volume", m_nVolume), 0, kMaxVolume);
        m_nSoundDelay =
            std::clamp(ini.GetInt(kSettings, "SoundDelay", m_nSoundDelay), -kMaxSoundDelay, kMaxSoundDelay);
        SetItemInt(IDC_PRE_TIME_TEXT, m_nPreTime);
        SetItemInt(IDC_END_TIME_TEXT, m_nEndTime);
    } else {
        WINDOWPLACEMENT placement = {};
        placement.length = sizeof placement;
        GetWindowPlacement(m_hWnd, &placement);
        ini.SetInt(kSettings, "Topmost", IsDlgButtonChecked(m_hWnd, IDC_TOPMOST) == BST_CHECKED ? 1 : 0);
        // The restored rectangle, so that exiting while minimised keeps the real position.
        ini.SetInt(kSettings, "PX", placement.rcNormalPosition.left);
        ini.SetInt(kSettings, "PY", placement.rcNormalPosition.top);
        ini.SetInt(kSettings, "PreTime", m_nPreTime);
        ini.SetInt(kSettings, "EndTime", m_nEndTime);
        ini.SetInt(kSettings, "Volume", m_nVolume);
        ini.SetInt(kSettings, "SoundDelay", m_nSoundDelay);
        ini.SetString(kSettings, "VideoDevice", m_strVideoDevice);
        ini.SetInt(kSettings, "VideoFormat", m_nVideoFormat);
    }
    // Leaving the scope destroys the CIniFile, which writes the file when anything changed.
}

void CZarvexDlg::EnableControls(BOOL bEnable) {
    // A press and a playback each give the controls back when they end, and either may end while
    // the other still runs (a playback started while a clip is made, or a press given up during a
    // playback). Giving them back then would let the user close the dialog, or press, under it.
    if (bEnable && (m_bArmed || m_clipMaker.IsBusy() || IsPlaying()))
        bEnable = FALSE;
    for (int id : kCaptureSideControls)
        EnableWindow(GetDlgItem(id), bEnable);
    EnableWindow(GetDlgItem(IDC_FORMAT_DETAIL), FALSE);
}

void CZarvexDlg::OnOK() {
    // The capture button and the Enter key: the press arms the frame ring. The dialog never closes
    // here. The Enter key reaches this even while the button is disabled: one press at a time, and
    // none while a clip plays (live frames are dropped then, so the ring would not move).
    if (m_bArmed || m_clipMaker.IsBusy() || IsPlaying())
        return;
    EnableControls(FALSE);
    if (m_pSoundCapture)
        m_pSoundCapture->RequestStop(CSoundCapture::StopAfterDelay);
    if (m_pRing)
        m_pRing->ArmStop();
    m_bArmed = true;
    m_dwLastFrameTick = GetTickCount();
    if (!m_bPressTimer)
        m_bPressTimer = SetTimer(m_hWnd, kPressTimer, kPressTimerMs, nullptr) != 0;
    if (!m_bPressTimer)
        AbandonPress(); // without the timer nothing could give the controls back
}

void CZarvexDlg::OnRingCompleted() {
    m_bArmed = false;
    m_pCutRing = m_pRing;
    CClipMaker::Job job;
    job.pRing = m_pCutRing;
    job.nGeneration = m_pCutRing ? m_pCutRing->GetGeneration() : CFrameStore::kAnyGeneration;
    job.pSound = m_pSoundCapture.get();
    // The thread stops by itself post seconds after the press, which is about now; the bound
    // leaves it the post time again plus the stop wait of the sound capture.
    if (m_pSoundCapture)
        job.dwSoundWaitMs =
            static_cast<DWORD>(m_pSoundCapture->GetPost()) * 1000 + CSoundCapture::kStopWaitMs;
    job.lfCaption = m_lfCaption;
    job.strCaption = static_cast<const char*>(m_strCaption);
    job.ask = [] { return AfxMessageBox(IDS_MEMORY_QUESTION, MB_OKCANCEL); };
    const HWND hwnd = m_hWnd;
    job.removeOldest = [hwnd] {
        DWORD_PTR result = 0;
        // A dialog that does not answer in time keeps its clips; the maker cuts anyway, and a late
        // handling of the message removes nothing (CClipMaker::ClaimRemoval).
        (void)SendMessageTimeoutW(hwnd, WM_CLIP_REMOVE_OLDEST, 0, 0, SMTO_NORMAL, kRemoveWaitMs, &result);
    };
    job.done = [hwnd] {
        // A lost post is made up for by the press timer, which looks for the result as well.
        (void)LOG_IF_WIN32_FALSE(PostMessageW(hwnd, WM_CLIP_MADE, 0, 0));
    };
    if (!m_clipMaker.Start(std::move(job))) {
        win::LogFailure(__FILE__, __LINE__, "clip maker", "could not start", 0);
        AbandonPress();
    }
}

void CZarvexDlg::OnClipMade() {
    CClipMaker::Result result;
    if (!m_clipMaker.TakeResult(result))
        return;
    if (result.pClip) {
        // The clip and its block go in together or not at all: clip i and block i belong together.
        bool added = false;
        try {
            m_clips.Add(result.pClip.get());
            result.pClip.release();
            added = true;
            if (result.pSound) {
                m_sounds.Add(result.pSound.get());
                result.pSound.release();
            }
        } catch (const std::bad_alloc&) {
            if (added)
                m_clips.RemoveAt(m_clips.GetSize() - 1);
            AfxReportMemoryException();
        }
    }
    RefillClipList();
    StopPressTimer();
    EnableControls(TRUE);
    (void)CheckFreeMemory(TRUE); // shows the free figure; the room is the next press's question
}

void CZarvexDlg::OnRemoveOldest() {
    // A clip being played stays: the playback reads it. The new clip is made all the same.
    if (IsPlaying() && m_player.GetPlayingClip() == m_clips.GetAt(0))
        return;
    if (!m_clipMaker.ClaimRemoval())
        return;
    m_clips.RemoveAt(0);  // nothing when the list is empty
    m_sounds.RemoveAt(0); // nothing when no clip had sound
    RefillClipList();
}

void CZarvexDlg::AbandonPress() {
    m_bArmed = false;
    if (m_pRing)
        m_pRing->Disarm();
    // The sound capture was told to stop after the post time; it runs again for the next press.
    if (m_pSoundCapture)
        (void)m_pSoundCapture->Start(); // fails only without a thread to run; clips then have silence
    if (!m_clipMaker.IsBusy())
        StopPressTimer();
    EnableControls(TRUE);
}

void CZarvexDlg::OnTimer(UINT_PTR id) {
    if (id != kPressTimer)
        return;
    if (m_bArmed && GetTickCount() - m_dwLastFrameTick >= kNoFrameMs)
        AbandonPress();
    else if (!m_bArmed && m_clipMaker.IsBusy())
        OnClipMade(); // takes a result whose message was lost; nothing while the maker runs
    else if (!m_bArmed)
        StopPressTimer();
}

void CZarvexDlg::StopPressTimer() {
    if (m_bPressTimer)
        (void)KillTimer(m_hWnd, kPressTimer); // a timer already gone needs no killing
    m_bPressTimer = false;
}

int CZarvexDlg::GetSelectedClip() const {
    const HWND list = GetDlgItem(IDC_CLIP_LIST);
    const int selected =
        static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (selected >= 0)
        return selected;
    return SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0 ? 0 : -1;
}

void CZarvexDlg::OnDelete() {
    const int index = GetSelectedClip();
    if (index >= 0 && index < m_clips.GetSize()) {
        m_clips.RemoveAt(index);
        m_sounds.RemoveAt(index); // nothing when this clip had no sound block
        RefillClipList();
    }
    (void)CheckFreeMemory(TRUE); // only the free figure is refreshed: the ring did not change
}

void CZarvexDlg::OnCancel() {
    // The exit button is disabled exactly while a worker (clip maker, player) may use the dialog's
    // state. Esc, the close box and Alt+F4 also arrive here, so they are refused at the same time.
    if (!IsWindowEnabled(GetDlgItem(IDCANCEL)))
        return;
    CDialog::OnCancel();
}

void CZarvexDlg::OnDestroy() {
    ExchangeSettings(FALSE);
    // The player reads a clip and its sound block and writes the sound output: it is stopped (no
    // fade-out) and joined before any of them goes. The exit button is disabled while it plays, so
    // it normally has nothing to stop here.
    if (!m_player.Abort(CClipPlayer::kJoinTimeoutMs))
        win::LogFailure(__FILE__, __LINE__, "player", "did not end at shutdown", 0);
    // The clip maker reads the ring and the sound capture: it is stopped and joined before either
    // goes. A worker that did not end within the bound still has them, and the log says so.
    StopPressTimer();
    if (!m_clipMaker.Stop(CClipMaker::kJoinMs))
        win::LogFailure(__FILE__, __LINE__, "clip maker", "did not end at shutdown", 0);
    // Deleting the sound capture joins its worker (for at most 10 s). It goes first, so that no
    // worker is left running, on a delayed stop or otherwise, when the rest of the state goes.
    m_pSoundCapture.reset();
    StopVideoCapture();
    // The header keeps our stale window handle; the filter sees with IsWindow that we are gone.
    m_pChannel.reset();
    m_clips.DeleteAll();
    m_sounds.DeleteAll();
}

void CZarvexDlg::FillSoundDevices() {
    const HWND list = GetDlgItem(IDC_SOUND_DEVICE);
    m_soundDevices.RemoveAll();
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    if (FAILED(EnumSoundCaptureDevices(m_soundDevices)) || m_soundDevices.IsEmpty()) {
        EnableWindow(list, FALSE);
        return;
    }
    for (int i = 0; i < m_soundDevices.GetSize(); ++i)
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_soundDevices[i].szDescription));
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    SendMessageW(list, CB_SETCURSEL, m_nSoundDevice >= 0 && m_nSoundDevice < count ? m_nSoundDevice : 0, 0);
}

void CZarvexDlg::StartSoundCapture() {
    const int selected = static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_SOUND_DEVICE, CB_GETCURSEL, 0, 0));
    if (selected < 0 || selected >= m_soundDevices.GetSize())
        return; // no choice: the running capture, if any, goes on
    // The old capture goes first: its worker is joined and its device released before the new one
    // opens the device.
    m_pSoundCapture.reset();
    m_pSoundCapture = std::make_unique<CSoundCapture>();
    if (m_pSoundCapture->Setup(m_soundDevices[selected], m_nPreTime, m_nEndTime))
        (void)m_pSoundCapture->Start(); // fails only without a thread to run; clips then have silence
    else
        (void)AfxMessageBox("Error!", MB_OK); // only OK to answer
}

void CZarvexDlg::RefillClipList() {
    RefillClipThumbnails(GetDlgItem(IDC_CLIP_LIST), m_thumbs, m_clips);
}

BOOL CZarvexDlg::OnSysCommand(WPARAM id) {
    // The about entry with any low four bits; everything else gets the default processing.
    if ((LOWORD(id) & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about(this);
        about.DoModal();
        return TRUE;
    }
    return FALSE;
}

BOOL CZarvexDlg::OnPaint() {
    if (!IsIconic(m_hWnd))
        return FALSE;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return TRUE;
}

void CZarvexDlg::OnTopmost() {
    const bool on = IsDlgButtonChecked(m_hWnd, IDC_TOPMOST) == BST_CHECKED;
    SetWindowPos(on ? &CWnd::wndTopMost : &CWnd::wndNoTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

BOOL CZarvexDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam);
    case WM_PAINT:
        return OnPaint();
    case WM_QUERYDRAGICON:
        *result = reinterpret_cast<LRESULT>(m_hIcon);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_CLIP_MADE:
        OnClipMade();
        return TRUE;
    case WM_CAMERA_FORMAT:
        *result = OnCameraFormat(wParam);
        return TRUE;
    case WM_CLIP_REMOVE_OLDEST:
        OnRemoveOldest();
        return TRUE;
    case WM_PLAYBACK_ENDED:
        OnPlaybackEnded();
        return TRUE;
    case WM_NOTIFY:
        return OnNotify(reinterpret_cast<const NMHDR*>(lParam), result);
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DELETE && HIWORD(wParam) == BN_CLICKED) {
            OnDelete();
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_SAVE && HIWORD(wParam) == BN_CLICKED) {
            OnSave();
            return TRUE;
        }
        if (HIWORD(wParam) == BN_CLICKED &&
            (LOWORD(wParam) == IDC_PLAY || LOWORD(wParam) == IDC_STOP || LOWORD(wParam) == IDC_STEP_BACK ||
             LOWORD(wParam) == IDC_STEP_FORWARD || LOWORD(wParam) == IDC_PAUSE)) {
            OnTransport(LOWORD(wParam));
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_TOPMOST && HIWORD(wParam) == BN_CLICKED) {
            OnTopmost();
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_SOUND_DEVICE && HIWORD(wParam) == CBN_SELCHANGE) {
            StartSoundCapture();
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_VIDEO_DEVICE && HIWORD(wParam) == CBN_SELCHANGE) {
            FillVideoFormats();
            ApplyVideoFormat();
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_VIDEO_FORMAT && HIWORD(wParam) == CBN_SELCHANGE) {
            ApplyVideoFormat();
            return TRUE;
        }
        return FALSE;
    case WM_HSCROLL: {
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        if (id == IDC_PRE_TIME || id == IDC_END_TIME)
            OnTimeSlider(id, LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        else if (id == IDC_POSITION)
            OnPositionSlider(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return FALSE; // the framework's default scrolling follows
    }
    case WM_VSCROLL:
        if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == IDC_VOLUME)
            OnVolumeSlider(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return FALSE;
    case WM_CAPTURE_FRAME:
        *result = OnCaptureFrame(wParam, lParam);
        return TRUE;
    default:
        return FALSE;
    }
}

void CZarvexDlg::FillVideoDevices() {
    CStringArray names;
    (void)EnumVideoDevices(names); // -1 (no enumerator) leaves the array empty, as no device does
    HWND list = GetDlgItem(IDC_VIDEO_DEVICE);
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    if (names.GetSize() == 0) {
        EnableWindow(list, FALSE);
        return;
    }
    // The names go in as wide text, so a name beyond the ANSI code page shows as it is.
    for (int i = 0; i < names.GetSize(); ++i)
        if (names[i] != kVirtualCameraName)
            SendMessageW(list, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(DeviceNameFromText(names[i]).c_str()));
    // Enabled on the number of names found: with the virtual camera alone the list is enabled and
    // empty.
    EnableWindow(list, TRUE);

    // The remembered device itself first; the list control's own choice (the first entry that
    // begins with the remembered name, case ignored) only when it is not listed. Otherwise a
    // remembered "Cam" would come back as a "Cam 2" listed before it.
    int index = CB_ERR;
    const int count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count && index == CB_ERR && !m_strVideoDevice.IsEmpty(); ++i)
        if (VideoDeviceEntry(i) == m_strVideoDevice)
            index = i;
    if (index != CB_ERR)
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    else if (SendMessageW(list, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                          reinterpret_cast<LPARAM>(DeviceNameFromText(m_strVideoDevice).c_str())) == CB_ERR)
        SendMessageW(list, CB_SETCURSEL, 0, 0);
}

CString CZarvexDlg::VideoDeviceEntry(int index) const {
    HWND list = GetDlgItem(IDC_VIDEO_DEVICE);
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR)
        return CString();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    if (SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&text[0])) ==
        CB_ERR)
        return CString();
    text.resize(static_cast<size_t>(length));
    return DeviceNameToText(text.c_str());
}

void CZarvexDlg::FillVideoFormats() {
    bool haveFormats = false;
    const LRESULT selected = SendDlgItemMessageW(m_hWnd, IDC_VIDEO_DEVICE, CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR) {
        const CString name = VideoDeviceEntry(static_cast<int>(selected));
        m_formats.RemoveAll();
        if (EnumVideoDeviceFormats(name, m_formats) > 0) {
            m_strVideoDevice = name;
            HWND list = GetDlgItem(IDC_VIDEO_FORMAT);
            SendMessageW(list, CB_RESETCONTENT, 0, 0);
            for (int i = 0; i < m_formats.GetSize(); ++i)
                SendMessageA(list, CB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(VideoFormatText(m_formats[i]).GetString()));
            haveFormats = true;
        }
    }
    EnableWindow(GetDlgItem(IDC_VIDEO_FORMAT), haveFormats ? TRUE : FALSE);
    if (!haveFormats) {
        // The old lines stay in the disabled list; nothing reads them while it is disabled.
        m_strVideoDevice.Empty();
        return;
    }
    m_nVideoFormat = std::clamp(m_nVideoFormat, 0, m_formats.GetSize() - 1);
    SendDlgItemMessageW(m_hWnd, IDC_VIDEO_FORMAT, CB_SETCURSEL, static_cast<WPARAM>(m_nVideoFormat), 0);
}

void CZarvexDlg::ApplyVideoFormat() {
    // With no usable format the running graph, if any, goes on.
    if (!IsWindowEnabled(GetDlgItem(IDC_VIDEO_FORMAT)))
        return;
    const LRESULT selected = SendDlgItemMessageW(m_hWnd, IDC_VIDEO_FORMAT, CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR)
        return;
    m_nVideoFormat = static_cast<int>(selected);
    StartVideoCapture();
}

void CZarvexDlg::StartVideoCapture() {
    StopVideoCapture();
    const VIDEOINFOHEADER* format = m_nVideoFormat >= 0 && m_nVideoFormat < m_formats.GetSize()
                                        ? &m_formats.ElementAt(m_nVideoFormat)
                                        : nullptr;
    m_pVideoCapture.reset(new CCaptureGraph);
    // A graph that did not build stays and simply never delivers a frame; the ring is still
    // rebuilt for the chosen format.
    (void)m_pVideoCapture->Build(m_strVideoDevice, format);
    if (format) {
        // Rectangles are in picture coordinates, so a top-down format (negative height) has the
        // same source rectangle as a bottom-up one.
        const LONG height = format->bmiHeader.biHeight;
        m_rcSrc = {0, 0, format->bmiHeader.biWidth, height < 0 ? -height : height};
        m_nFrameRate = CaptureFrameRate(format->AvgTimePerFrame, m_nFrameRate);
    }
    m_rcDst = {0, 0, m_nOutWidth, m_nOutHeight};
    ResetFrameStore();
    m_pVideoCapture->Start(m_hWnd);
}

void CZarvexDlg::StopVideoCapture() {
    if (!m_pVideoCapture)
        return;
    m_pVideoCapture->Stop();
    m_pVideoCapture.reset();
}

BOOL CZarvexDlg::ReadChannelFormat() {
    // The publisher refuses a size whose frame would not fit the channel's pixel area (any process
    // may write the header), and the output size stays as it was.
    const BOOL read = m_pChannel && m_pPublisher->ReadFormat(m_nOutWidth, m_nOutHeight);
    m_rcDst.right = m_nOutWidth;
    m_rcDst.bottom = m_nOutHeight;
    return read;
}

BOOL CZarvexDlg::ResetFrameStore() {
    const BOOL read = ReadChannelFormat();
    {
        std::lock_guard<CCriticalSection> lock(m_csFrames);
        // A failed rebuild was reported to the user; the ring keeps the slots it could make. A cut
        // running now is waited for inside Allocate: its slots are not freed under it.
        (void)m_ring.Allocate(m_nOutWidth, m_nOutHeight, m_nPreTime, m_nEndTime, m_nFrameRate);
    }
    m_pRing = &m_ring;
    SetDlgItemMB(IDC_USED_MEMORY, m_ring.GetMemoryBytes() / 1048576);
    (void)CheckFreeMemory(TRUE); // the free figure; the answer matters to the clip maker only
    // The rebuild disarmed a press: it can no longer complete, so it is given up at once.
    if (m_bArmed)
        AbandonPress();
    return read;
}

LRESULT CZarvexDlg::OnCameraFormat(WPARAM wParam) {
    if (wParam != kFormatAnnouncedBySetFormat && wParam != kFormatAnnouncedByConnection)
        return 0;
    (void)ResetFrameStore(); // an unread channel leaves the size; the ring is rebuilt regardless
    PublishCurrentFrame();
    return 0;
}

void CZarvexDlg::PublishFrame(const CFrameImage& image) {
    // The publisher borrows the channel, which OnDestroy closes before the dialog goes.
    if (m_pChannel)
        (void)m_pPublisher->PublishFrame(image); // a frame not had in 50 ms is skipped; the next follows
}

void CZarvexDlg::PublishCurrentFrame() {
    if (!m_pRing)
        return;
    if (const CFrameImage* slot = m_pRing->GetCurrentFrame())
        PublishFrame(*slot);
}

BOOL CZarvexDlg::CheckFreeMemory(BOOL bShow) {
    MEMORYSTATUS status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    if (bShow)
        SetDlgItemMB(IDC_FREE_MEMORY, static_cast<LONGLONG>(status.dwAvailPhys >> 20));
    return CFrameStore::HasRoomForClip(m_pRing, status.dwAvailPhys);
}

void CZarvexDlg::SetDlgItemMB(int id, LONGLONG megabytes) {
    CString text;
    text.Format("%d MB", static_cast<int>(megabytes));
    SetDlgItemTextA(m_hWnd, id, text);
}

LRESULT CZarvexDlg::OnCaptureFrame(WPARAM wParam, LPARAM lParam) {
    // While a clip plays the virtual camera shows the clip: the live frame is neither stored nor
    // published, and the ring does not move.
    if (IsPlaying() || !m_pVideoCapture || !m_pRing)
        return 0;
    // Only a frame still on offer is read: a message whose send gave up, or one from a graph
    // that has gone since, names a buffer that may hold anything by now. The claim keeps the
    // buffer lent to us until it goes.
    const CFrameHandoff::CClaim frame =
        m_pVideoCapture->Handoff().Claim(reinterpret_cast<const void*>(wParam), static_cast<size_t>(lParam));
    if (!frame)
        return 0;
    m_dwLastFrameTick = GetTickCount(); // the camera delivers: an armed press will complete
    // The delivered length goes with the bits: a frame shorter than its header says is dropped
    // before a byte of it is read. The slot is published after the store lock is let go and before
    // the write index moves on.
    const BOOL completed =
        m_pRing->StoreFrame(frame.Bits(), frame.Length(), &m_pVideoCapture->FrameHeader(), m_rcSrc, m_rcDst,
                            [this](CFrameImage& slot) { PublishFrame(slot); });
    if (completed && m_bArmed)
        OnRingCompleted();
    return 0;
}

void CZarvexDlg::OnTimeSlider(int id, int code, int thumbPosition) {
    const int position = code == SB_THUMBTRACK
                             ? thumbPosition
                             : static_cast<int>(SendDlgItemMessageW(m_hWnd, id, TBM_GETPOS, 0, 0));
    if (id == IDC_PRE_TIME) {
        m_nPreTime = position;
        SetItemInt(IDC_PRE_TIME_TEXT, position);
    } else {
        m_nEndTime = position;
        SetItemInt(IDC_END_TIME_TEXT, position);
    }
    // While the thumb is dragged only the number follows; the ring is rebuilt once, on release.
    if (code == TB_ENDTRACK) {
        ResetFrameStore();
        StartSoundCapture(); // the sound ring follows the new times too
    }
}

void CZarvexDlg::StartPlayback(int index) {
    const CFrameArray* clip = m_clips.GetAt(index); // none for -1 (an empty list) or past the end
    if (!clip)
        return;
    // A clip without a sound block plays without sound; the player paces it by its timer. The
    // player refuses a second playback while one runs (the play button and the list stay usable).
    if (!m_player.Start(clip, m_sounds.GetAt(index), m_nSoundDelay))
        return;
    EnableControls(FALSE);
}

void CZarvexDlg::OnPlaybackEnded() {
    // Posted once the playback is no longer marked as playing; a press under way keeps the
    // controls (EnableControls), and so does a playback started since.
    EnableControls(TRUE);
}

void CZarvexDlg::OnTransport(int id) {
    switch (id) {
    case IDC_PLAY:
        StartPlayback(GetSelectedClip());
        break;
    case IDC_STOP:
        m_player.SetPlayFlag(CClipPlayer::PlayStop, TRUE);
        break;
    case IDC_STEP_BACK:
        m_player.SetPlayFlag(CClipPlayer::PlayStepBack, TRUE);
        break;
    case IDC_STEP_FORWARD:
        m_player.SetPlayFlag(CClipPlayer::PlayStepForward, TRUE);
        break;
    case IDC_PAUSE:
        m_player.Pause(IsDlgButtonChecked(m_hWnd, IDC_PAUSE) == BST_CHECKED);
        break;
    default:
        break;
    }
}

void CZarvexDlg::OnPositionSlider(int code, int thumbPosition) {
    const int position = code == SB_THUMBTRACK
                             ? thumbPosition
                             : static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_POSITION, TBM_GETPOS, 0, 0));
    // Every notification of a drag shows the frame at the thumb; its end lets the clip play on.
    m_player.Seek(position, code != TB_ENDTRACK);
}

void CZarvexDlg::OnVolumeSlider(int code, int thumbPosition) {
    const int position = code == SB_THUMBTRACK
                             ? thumbPosition
                             : static_cast<int>(SendDlgItemMessageW(m_hWnd, IDC_VOLUME, TBM_GETPOS, 0, 0));
    // The slider's top is position 0: the loudest.
    m_nVolume = std::clamp(kMaxVolume - position, 0, kMaxVolume);
    if (m_soundOutput.HasBuffer())
        (void)LOG_IF_WIN32_FALSE(m_soundOutput.SetVolume(m_nVolume)); // a refusal keeps the old volume
    SetItemInt(IDC_VOLUME_TEXT, m_nVolume);
}

void CZarvexDlg::OnSoundDelayStep(int delta) {
    m_nSoundDelay = StepSoundDelay(m_nSoundDelay, delta);
    SetDlgItemInt(m_hWnd, IDC_SOUND_DELAY, static_cast<UINT>(m_nSoundDelay), TRUE);
}

BOOL CZarvexDlg::OnNotify(const NMHDR* header, LRESULT* result) {
    if (!header)
        return FALSE;
    if (header->idFrom == IDC_CLIP_LIST && header->code == NM_DBLCLK) {
        StartPlayback(GetSelectedClip());
        *result = 0;
        return TRUE;
    }
    if (header->idFrom == IDC_SOUND_DELAY_SPIN && header->code == UDN_DELTAPOS) {
        OnSoundDelayStep(reinterpret_cast<const NMUPDOWN*>(header)->iDelta);
        *result = 0; // the spin moves as it likes; its own position is never read
        return TRUE;
    }
    return FALSE;
}

void CZarvexDlg::OnSave() {
    // The flow tells the user of a failed save or an uncompressed fallback itself.
    (void)SaveClipAs(this, m_clips, m_sounds, GetSelectedClip(),
                     m_pSoundCapture ? m_pSoundCapture->GetWaveFormat() : nullptr, m_nFrameRate);
}
