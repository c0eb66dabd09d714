#include "ViewerWindow.h"

#include <algorithm>
#include <cstdio>

#include "BmpFile.h"
#include "SelectObject.h"
#include "ViewerOutput.h"
#include "ViewerProtocol.h"

namespace viewer {

namespace {

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kSnapshotTimer = 2;
constexpr UINT_PTR kEndTimer = 3;
constexpr UINT kTickMs = 250;
// A device that takes longer than this to open gets the window shown with a note, so that a
// person sees something is happening.
constexpr ULONGLONG kShowWhileOpeningMs = 2000;
// No picture for this long (or three frame times of a slow device, whichever is longer) is worth
// saying so across the window.
constexpr ULONGLONG kStallMs = 2000;
// Smaller pictures are shown enlarged by a whole factor, so the window is not a postage stamp.
constexpr LONG kMinClientWidth = 320;

std::wstring SizeText(const BITMAPINFOHEADER& header) {
    const LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    return std::to_wstring(header.biWidth) + L"x" + std::to_wstring(height);
}

} // namespace

CViewerWindow::CViewerWindow(const ViewerOptions& options, CFrameGrabber* pGrabber)
    : m_options(options), m_pGrabber(pGrabber) {}

bool CViewerWindow::Create(HINSTANCE instance, int showCommand) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &CViewerWindow::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW is the narrow form here
    wc.hbrBackground = nullptr;                                 // WM_PAINT covers every pixel
    wc.lpszClassName = kWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;
    m_showCommand = showCommand;
    m_createdTick = GetTickCount64();
    const std::wstring title = std::wstring(kTitlePrefix) + L" - " + m_options.device;
    HWND hwnd = CreateWindowExW(0, kWindowClass, title.c_str(), WS_OVERLAPPEDWINDOW,
                                m_options.placed ? m_options.at.x : CW_USEDEFAULT,
                                m_options.placed ? m_options.at.y : CW_USEDEFAULT, kMinClientWidth * 3 / 2,
                                kMinClientWidth * 9 / 8, nullptr, nullptr, instance, this);
    if (!hwnd)
        return false;
    m_pGrabber->Attach(hwnd, kFrameMessage);
    if (!SetTimer(hwnd, kTickTimer, kTickMs, nullptr) ||
        (m_options.snapshotEveryMs > 0 &&
         !SetTimer(hwnd, kSnapshotTimer, m_options.snapshotEveryMs, nullptr)) ||
        (m_options.seconds > 0 &&
         !SetTimer(hwnd, kEndTimer, static_cast<UINT>(m_options.seconds * 1000.0 + 0.5), nullptr))) {
        DestroyWindow(hwnd);
        return false;
    }
    return true;
}

int CViewerWindow::ExitCode() const {
    if (m_exitCode >= 0)
        return m_exitCode;
    if (m_pGrabber->Delivered() == 0)
        return kExitNoFrames;
    return m_snapshotFailed ? kExitSnapshotFailed : kExitFrames;
}

LRESULT CALLBACK CViewerWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    CViewerWindow* self = reinterpret_cast<CViewerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_NCCREATE) {
        self = static_cast<CViewerWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->m_window.reset(hwnd);
    }
    if (!self)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        (void)self->m_window.release(); // being destroyed already: the holder must not do it again
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    try {
        return self->OnMessage(message, wParam, lParam);
    } catch (...) {
        // Out of memory while handling a message: that message is lost, the window lives on.
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

LRESULT CViewerWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND hwnd = m_window.get();
    switch (message) {
    case kFrameMessage:
        OnFrame();
        return 0;
    case kGraphMessage:
        OnGraphReport();
        return 0;
    case WM_TIMER:
        if (wParam == kTickTimer)
            OnTick();
        else if (wParam == kSnapshotTimer)
            OnSnapshotTimer();
        else if (wParam == kEndTimer)
            Close();
        return 0;
    case WM_COPYDATA:
        return OnSnapshotCommand(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case kQueryMessage:
        return static_cast<LRESULT>(OnQuery(wParam));
    case WM_ERASEBKGND:
        return 1; // WM_PAINT covers every pixel; erasing first would only flicker
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SIZE:
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DESTROY:
        // From here on the streaming thread must not post to this window.
        m_pGrabber->Detach();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

void CViewerWindow::Close() {
    // The graph starts stopping at once, on its own thread, while the window goes (which under
    // Wine without a window manager takes up to two seconds for a shown window).
    m_pGrabber->Detach();
    if (m_pGraph)
        m_pGraph->RequestStop();
    DestroyWindow(m_window.get());
}

void CViewerWindow::OnGraphReport() {
    if (!m_pGraph)
        return;
    m_report = m_pGraph->Latest();
    switch (m_report.state) {
    case CGraphThread::State::Opening:
        break;
    case CGraphThread::State::Failed:
        m_exitCode = m_report.exitCode;
        ReportError(m_report.text);
        DestroyWindow(m_window.get());
        return;
    case CGraphThread::State::Running: {
        m_runningTick = GetTickCount64();
        m_rateTick = m_runningTick;
        m_rateFrames = m_pGrabber->Delivered();
        ReportLine(L"running " + SizeText(m_report.format) + L" " + std::to_wstring(m_report.frameTime));
        // The client area gets the picture's size, enlarged by a whole factor when it is small.
        const LONG height =
            m_report.format.biHeight < 0 ? -m_report.format.biHeight : m_report.format.biHeight;
        const LONG factor = std::max<LONG>(1, (kMinClientWidth + m_report.format.biWidth - 1) /
                                                  std::max<LONG>(1, m_report.format.biWidth));
        RECT rc = {0, 0, m_report.format.biWidth * factor, height * factor};
        if (AdjustWindowRectEx(&rc, WS_OVERLAPPEDWINDOW, FALSE, 0))
            (void)SetWindowPos(m_window.get(), nullptr, 0, 0, rc.right - rc.left, rc.bottom - rc.top,
                               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE); // keeps its size if refused
        Show();
        break;
    }
    case CGraphThread::State::Ended:
        ReportLine(L"ended " + m_report.text);
        break;
    }
    UpdateTitle();
    InvalidateRect(m_window.get(), nullptr, FALSE);
}

void CViewerWindow::OnFrame() {
    if (m_pGrabber->TakeLatest(&m_frame)) {
        m_frameTick = GetTickCount64();
        InvalidateRect(m_window.get(), nullptr, FALSE);
    }
}

void CViewerWindow::OnTick() {
    const ULONGLONG now = GetTickCount64();
    if (!m_shown && now - m_createdTick >= kShowWhileOpeningMs)
        Show();
    if (m_report.state == CGraphThread::State::Running && now - m_rateTick >= 1000) {
        const unsigned long long delivered = m_pGrabber->Delivered();
        m_fps =
            static_cast<double>(delivered - m_rateFrames) * 1000.0 / static_cast<double>(now - m_rateTick);
        m_rateFrames = delivered;
        m_rateTick = now;
        UpdateTitle();
    }
    std::wstring status = StatusText(now);
    if (status != m_status) {
        m_status = std::move(status);
        InvalidateRect(m_window.get(), nullptr, FALSE);
    }
}

void CViewerWindow::OnSnapshotTimer() {
    OnFrame();
    if (m_frame.serial == 0 || m_frame.serial == m_savedSerial)
        return;
    wchar_t name[32];
    std::swprintf(name, 32, L"snapshot-%05u.bmp", ++m_snapshotIndex);
    std::wstring path = m_options.snapshotDir;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    path += name;
    if (WriteBmp24(path, m_frame)) {
        m_savedSerial = m_frame.serial;
        return;
    }
    if (!m_snapshotFailed)
        ReportError(L"cannot write " + path + L" (error " + std::to_wstring(GetLastError()) + L")");
    m_snapshotFailed = true;
}

BOOL CViewerWindow::OnSnapshotCommand(const COPYDATASTRUCT* pData) {
    if (!pData || pData->dwData != kSnapshotCommand || !pData->lpData || pData->cbData < sizeof(wchar_t))
        return FALSE;
    std::wstring path(static_cast<const wchar_t*>(pData->lpData), pData->cbData / sizeof(wchar_t));
    path.erase(std::find(path.begin(), path.end(), L'\0'), path.end());
    OnFrame(); // the newest frame, not the one painted last
    return !path.empty() && WriteBmp24(path, m_frame);
}

unsigned long long CViewerWindow::OnQuery(WPARAM what) {
    if (m_runningTick == 0)
        return 0;
    if (what == kAskDelivered)
        return m_pGrabber->Delivered();
    if (what == kAskRunningMs)
        return GetTickCount64() - m_runningTick;
    return 0;
}

void CViewerWindow::OnPaint() {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(m_window.get(), &ps);
    if (!dc)
        return;
    RECT client;
    GetClientRect(m_window.get(), &client);
    const HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const LONG srcHeight = m_frame.header.biHeight < 0 ? -m_frame.header.biHeight : m_frame.header.biHeight;
    if (m_frame.serial > 0 && m_frame.header.biWidth > 0 && srcHeight > 0 && client.right > 0 &&
        client.bottom > 0) {
        // The whole picture, as large as fits, centred; black bars fill the rest.
        LONG width = client.right;
        LONG height = static_cast<LONG>(static_cast<long long>(width) * srcHeight / m_frame.header.biWidth);
        if (height > client.bottom) {
            height = client.bottom;
            width = static_cast<LONG>(static_cast<long long>(height) * m_frame.header.biWidth / srcHeight);
        }
        const RECT picture = {(client.right - width) / 2, (client.bottom - height) / 2,
                              (client.right - width) / 2 + width, (client.bottom - height) / 2 + height};
        BITMAPINFO bmi = {};
        bmi.bmiHeader = m_frame.header;
        SetStretchBltMode(dc, COLORONCOLOR);
        (void)StretchDIBits(dc, picture.left, picture.top, width, height, 0, 0, m_frame.header.biWidth,
                            srcHeight, m_frame.pixels.data(), &bmi, DIB_RGB_COLORS,
                            SRCCOPY); // nothing to do if refused
        ExcludeClipRect(dc, picture.left, picture.top, picture.right, picture.bottom);
        FillRect(dc, &client, black);
        SelectClipRgn(dc, nullptr);
    } else {
        FillRect(dc, &client, black);
    }
    if (!m_status.empty()) {
        win::SelectGuard font(dc, GetStockObject(DEFAULT_GUI_FONT));
        RECT box = {8, 0, std::max<LONG>(client.right - 8, 16), 0};
        DrawTextW(dc, m_status.c_str(), -1, &box, DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
        const LONG boxHeight = box.bottom - box.top;
        box.left = 8;
        box.right = std::max<LONG>(client.right - 8, 16);
        box.top = (client.bottom - boxHeight) / 2;
        box.bottom = box.top + boxHeight;
        RECT back = {box.left - 4, box.top - 4, box.right + 4, box.bottom + 4};
        FillRect(dc, &back, black);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        DrawTextW(dc, m_status.c_str(), -1, &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    }
    EndPaint(m_window.get(), &ps);
}

void CViewerWindow::Show() {
    if (m_shown)
        return;
    m_shown = true;
    ShowWindow(m_window.get(), m_showCommand);
    UpdateWindow(m_window.get());
}

void CViewerWindow::UpdateTitle() {
    std::wstring title = std::wstring(kTitlePrefix) + L" - " + m_options.device;
    if (m_report.state == CGraphThread::State::Running || m_report.state == CGraphThread::State::Ended) {
        wchar_t rate[32];
        std::swprintf(rate, 32, L" %.1f fps", m_fps);
        title += L" " + SizeText(m_report.format) + rate;
    }
    SetWindowTextW(m_window.get(), title.c_str());
}

std::wstring CViewerWindow::StatusText(ULONGLONG now) const {
    const std::wstring& device = m_options.device;
    switch (m_report.state) {
    case CGraphThread::State::Opening:
        return L"Opening " + device + L"...";
    case CGraphThread::State::Failed:
        return m_report.text;
    case CGraphThread::State::Ended:
        return device + L": " + m_report.text;
    case CGraphThread::State::Running:
        break;
    }
    const ULONGLONG frameMs = static_cast<ULONGLONG>(m_report.frameTime / 10000);
    const ULONGLONG stallMs = std::max<ULONGLONG>(kStallMs, 3 * frameMs);
    if (m_frame.serial == 0) {
        const ULONGLONG waited = now - m_runningTick;
        if (waited < stallMs)
            return L"Waiting for the first picture from " + device + L"...";
        return L"No picture from " + device + L" yet (" + std::to_wstring(waited / 1000) + L" s)";
    }
    const ULONGLONG silent = now - m_frameTick;
    if (silent >= stallMs)
        return L"No new picture from " + device + L" for " + std::to_wstring(silent / 1000) + L" s";
    return std::wstring();
}

} // namespace viewer
