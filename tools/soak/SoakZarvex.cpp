#include "SoakZarvex.h"

#include "ProbeVerb.h"
#include "ProbeWindows.h"
#include "ProcessCounts.h"

namespace soak {

namespace {

// The dialog's title and controls (app/resource.h).
const wchar_t kDialog[] = L"Zarvex";
constexpr int kCaptureButton = 1; // IDOK
constexpr int kExitButton = 2;    // IDCANCEL
constexpr int kDeleteButton = 3;
constexpr int kClipList = 1000;
constexpr int kPlayButton = 1021;

std::wstring Id(int id) {
    return std::to_wstring(id);
}

} // namespace

CSoakZarvex::CSoakZarvex(const std::wstring& binDir) {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        m_failure = L"no temporary folder";
        return;
    }
    m_folder = std::wstring(temp) + L"zarvex-soak-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    if (!CreateDirectoryW(m_folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        m_failure = L"cannot make " + m_folder + L" (error " + std::to_wstring(GetLastError()) + L")";
        m_folder.clear();
        return;
    }
    m_exe = m_folder + L"Zarvex.exe";
    if (!CopyFileW((binDir + L"Zarvex.exe").c_str(), m_exe.c_str(), FALSE))
        m_failure =
            L"cannot copy Zarvex.exe into " + m_folder + L" (error " + std::to_wstring(GetLastError()) + L")";
}

CSoakZarvex::~CSoakZarvex() {
    if (m_process.IsRunning())
        m_process.Kill(99);
    if (m_folder.empty())
        return;
    // The program has only just ended: its file may stay busy for a moment.
    for (const wchar_t* name : {L"Zarvex.exe", L"Zarvex.ini"}) {
        const std::wstring path = m_folder + name;
        for (int attempt = 0;
             attempt < 20 && !DeleteFileW(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND; ++attempt)
            Sleep(100);
    }
    (void)RemoveDirectoryW(m_folder.c_str()); // a folder left in the temporary folder harms nobody
}

bool CSoakZarvex::Start(DWORD timeoutMs) {
    if (!m_failure.empty())
        return false;
    proc::ChildProcess::Options options;
    options.folder = m_folder;
    if (!m_process.Start(m_exe, options)) {
        m_failure = std::wstring(m_process.Error().begin(), m_process.Error().end());
        return false;
    }
    std::wstring why;
    if (!Drive(probe::VerbWait, {kDialog, std::to_wstring(timeoutMs)}, nullptr, &why)) {
        m_failure = L"Zarvex.exe did not show its dialog: " + why;
        return false;
    }
    (void)m_linux.Attach(m_exe); // without a Linux side its figures are simply not reported
    return true;
}

bool CSoakZarvex::Drive(probe::VerbFunction verb, const probe::VerbArgs& args, std::wstring* pOut,
                        std::wstring* pWhy) const {
    std::wstring out;
    const bool done = verb(args, &out, pWhy);
    if (pOut)
        *pOut = out;
    return done;
}

bool CSoakZarvex::Enabled(int id) const {
    std::wstring why;
    const HWND control = probe::RequireControl(kDialog, Id(id), &why);
    return control && IsWindowEnabled(control);
}

int CSoakZarvex::ClipCount() {
    std::wstring out, why;
    int count = -1;
    if (!Drive(probe::VerbCount, {kDialog, Id(kClipList)}, &out, &why) || !probe::ParseInt(out, &count))
        return -1;
    return count;
}

bool CSoakZarvex::Press(DWORD waitMs, std::wstring* pWhy) {
    return Drive(probe::VerbWaitEnabled, {kDialog, Id(kCaptureButton), L"1", std::to_wstring(waitMs)},
                 nullptr, pWhy) &&
           Drive(probe::VerbClick, {kDialog, Id(kCaptureButton)}, nullptr, pWhy);
}

bool CSoakZarvex::DeleteClip(int index, std::wstring* pWhy) {
    const int count = ClipCount();
    if (count <= index) {
        *pWhy = L"no clip " + std::to_wstring(index) + L" to delete";
        return false;
    }
    return Drive(probe::VerbSelect, {kDialog, Id(kClipList), std::to_wstring(index)}, nullptr, pWhy) &&
           Drive(probe::VerbClick, {kDialog, Id(kDeleteButton)}, nullptr, pWhy) &&
           Drive(probe::VerbWaitCount, {kDialog, Id(kClipList), std::to_wstring(count - 1)}, nullptr, pWhy);
}

bool CSoakZarvex::PlayClip(int index, bool doubleClick, std::wstring* pWhy) {
    const bool clicked =
        doubleClick
            ? Drive(probe::VerbDoubleClick, {kDialog, Id(kClipList), std::to_wstring(index)}, nullptr, pWhy)
            : Drive(probe::VerbSelect, {kDialog, Id(kClipList), std::to_wstring(index)}, nullptr, pWhy) &&
                  Drive(probe::VerbClick, {kDialog, Id(kPlayButton)}, nullptr, pWhy);
    if (!clicked)
        return false;
    std::wstring why;
    if (!Drive(probe::VerbWaitEnabled, {kDialog, Id(kCaptureButton), L"0", L"3000"}, nullptr, &why)) {
        *pWhy = L"no playback began (the capture button stayed enabled)";
        return false;
    }
    return true;
}

void CSoakZarvex::Measure(SoakSample* pSample) {
    const HANDLE process = m_process.Handle();
    pSample->privateBytes = proc::PrivateBytesOf(process);
    pSample->handles = proc::HandlesOf(Pid());
    pSample->threads = proc::ThreadsOf(Pid());
    pSample->gdiObjects = proc::GuiObjectsOf(process, GR_GDIOBJECTS);
    pSample->userObjects = proc::GuiObjectsOf(process, GR_USEROBJECTS);
    m_linux.Read(&pSample->linuxRssKb, &pSample->linuxThreads);
}

bool CSoakZarvex::Close(DWORD timeoutMs, std::wstring* pWhy) {
    if (!m_process.IsRunning()) {
        *pWhy = L"Zarvex.exe had already ended";
        return false;
    }
    // The exit button is disabled while a clip is made or played: the user waits for it, and so
    // does the run, rather than close the window under a running clip maker or player.
    if (!Drive(probe::VerbWaitEnabled, {kDialog, Id(kExitButton), L"1", std::to_wstring(timeoutMs)}, nullptr,
               pWhy) ||
        !Drive(probe::VerbClick, {kDialog, Id(kExitButton)}, nullptr, pWhy) ||
        !m_process.WaitForExit(timeoutMs)) {
        if (pWhy->empty())
            *pWhy = L"Zarvex.exe did not end within " + std::to_wstring(timeoutMs / 1000) +
                    L" s of its exit button";
        m_process.Kill(99);
        return false;
    }
    return true;
}

} // namespace soak
