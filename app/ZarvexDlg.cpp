#include "ZarvexDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <new>

#include "AboutDlg.h"
#include "ChannelAccess.h"
#include "ClipThumbnails.h"
#include "FrameDc.h"
#include "IniFile.h"
#include "Log.h"
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

// The capture-side controls that EnableControls switches as one group.
const int kCaptureSideControls[] = {
    IDOK,         IDCANCEL,     IDC_VIDEO_DEVICE, IDC_VIDEO_FORMAT, IDC_SOUND_DEVICE,
    IDC_PRE_TIME, IDC_END_TIME, IDC_DELETE};

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

    // Seam: the sound output (DirectSoundCreate, cooperative level, CSoundPlayer::Create) is made here.

    // Register the dialog as the channel's owner window: the virtual camera posts format
    // announcements to it.
    if (m_pChannel && m_pChannel->Lock()) {
        if (SharedFrameHeader* header = m_pChannel->Header())
            SetOwnerWindow(*header, m_hWnd);
        (void)m_pChannel->Unlock(); // a failed release is recorded in the channel object
    }
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

    // Seam, in this order: fill the video device, format and sound device lists; allocate the
    // frame ring at the size the channel asks for; build and run the capture graph; start sound
    // capture.
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
    for (int id : kCaptureSideControls)
        EnableWindow(GetDlgItem(id), bEnable);
    EnableWindow(GetDlgItem(IDC_FORMAT_DETAIL), FALSE);
}

void CZarvexDlg::OnOK() {
    // The capture button and the Enter key: the press arms the frame ring. The dialog never closes
    // here. Seam: the capture press joins with the frame ring and the sound capture.
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
    // Seam: delete the sound capture (its thread gets at most 10 s), then stop and delete the
    // capture graph.
    // The header keeps our stale window handle; the filter sees with IsWindow that we are gone.
    m_pChannel.reset();
    m_clips.DeleteAll();
    m_sounds.DeleteAll();
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

BOOL CZarvexDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM /*lParam*/, LRESULT* result) {
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
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_TOPMOST && HIWORD(wParam) == BN_CLICKED) {
            OnTopmost();
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}
