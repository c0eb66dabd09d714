// device_client: a video application in its own process, as any other program would use a camera.
// It finds a video capture device by its friendly name through the system device enumerator,
// lists its capabilities, chooses a size with IAMStreamConfig::SetFormat, builds a graph with a
// sample grabber and a null renderer, runs it, and reports every frame it receives as one line.
//
// Command line (every option may be left out):
//   --device <name>        the friendly name to look for (default "ZarvexDevice")
//   --size <w>x<h>         the capability size to set before connecting (default: the current format)
//   --frame-time <t>       AvgTimePerFrame for that size, in 100 ns (default: the capability's own,
//                          else its MinFrameInterval)
//   --path direct|capture|preview
//                          pin to pin, or through the capture graph builder's capture or preview
//                          stream (the latter through a Smart Tee); default direct
//   --frames <n>           stop after n frames
//   --seconds <s>          stop after s seconds
//   --list                 list the capabilities and leave without building a graph
// With neither --frames nor --seconds it runs until a "stop" line or the end of its input.
//
// Output, one line each, in this order:
//   device <friendly name>
//   caps <index> <width> <height> <min frame interval> <max frame interval>   (one per capability)
//   format <width> <height> <bit count> <AvgTimePerFrame>                     (the connection's type)
//   running
//   frame <index> <bytes> <kind> [<number>] level <level>
//                          kind: black, pattern, testcam, captioned, placeholder or other, with
//                          the pattern's or the test camera's number when it can be read; level:
//                          the picture's brightness below the test camera's code band, 0..255
//                          (frame_kind.h)
//   stopped <frames reported>
// or, instead of what could not be done, "error <step> <HRESULT in hex>" and exit code 1.
// Exit code 2: a command line it does not understand.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ComScope.h"
#include "CommandLine.h"
#include "UniqueAny.h"
#include "Utf8.h"
#include "dshow_test.h"
#include "frame_kind.h"
#include "grabber_graph.h"
#include "media_types.h"
#include "video_devices.h"

using testing_support::GraphPath;

namespace {

struct Options {
    std::wstring device = L"ZarvexDevice";
    SIZE size = {0, 0};
    REFERENCE_TIME frameTime = 0;
    GraphPath path = GraphPath::Direct;
    long frames = 0;    // 0: no limit
    double seconds = 0; // 0: no limit
    bool list = false;
};

// Output lines come from the main thread and the streaming thread; one lock keeps them whole.
std::mutex g_outputLock;

void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_outputLock);
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(const char* step, HRESULT hr) {
    char text[128];
    std::snprintf(text, sizeof text, "error %s 0x%08lx", step, static_cast<unsigned long>(hr));
    Line(text);
    return 1;
}

bool ParseArgs(Options* options) {
    const win::CommandLineArgs argv;
    const int argc = argv.Count();
    if (argc == 0)
        return false;
    bool ok = true;
    for (int i = 1; i < argc && ok; ++i) {
        const std::wstring arg = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == L"--list") {
            options->list = true;
            continue;
        }
        if (!value) {
            ok = false;
            break;
        }
        ++i;
        if (arg == L"--device") {
            options->device = value;
        } else if (arg == L"--size") {
            ok = std::swscanf(value, L"%ldx%ld", &options->size.cx, &options->size.cy) == 2 &&
                 options->size.cx > 0 && options->size.cy > 0;
        } else if (arg == L"--frame-time") {
            options->frameTime = std::wcstoll(value, nullptr, 10);
            ok = options->frameTime > 0;
        } else if (arg == L"--path") {
            const std::wstring path = value;
            if (path == L"direct")
                options->path = GraphPath::Direct;
            else if (path == L"capture")
                options->path = GraphPath::Capture;
            else if (path == L"preview")
                options->path = GraphPath::Preview;
            else
                ok = false;
        } else if (arg == L"--frames") {
            options->frames = std::wcstol(value, nullptr, 10);
            ok = options->frames > 0;
        } else if (arg == L"--seconds") {
            options->seconds = std::wcstod(value, nullptr);
            ok = options->seconds > 0;
        } else {
            ok = false;
        }
    }
    return ok;
}

// Reports each frame the grabber hands over, on the streaming thread, until the limit is reached;
// then sets the done event. It keeps no frames: the report is the record (dshow_test.h's callback
// base holds its lock around MakeFrame, which also guards the members here).
struct NoRecord {};
class CReportingCallback : public CGrabberCallback<NoRecord> {
public:
    CReportingCallback(long limit, HANDLE done) : m_limit(limit), m_done(done) {}

    void SetSize(int width, int height) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_width = width;
        m_height = height;
    }
    long Reported() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_reported;
    }

protected:
    bool MakeFrame(const BYTE* p, long length, LONGLONG, NoRecord*) override {
        if (m_limit > 0 && m_reported >= m_limit)
            return false; // the graph is about to stop; what comes now is not reported
        const FrameIdentity id =
            IdentifyFrame(p, length > 0 ? static_cast<size_t>(length) : 0, m_width, m_height);
        std::string text = "frame " + std::to_string(m_reported) + " " + std::to_string(length) + " " +
                           FrameKindName(id.kind);
        if (id.hasNumber)
            text += " " + std::to_string(id.number);
        text += " level " + std::to_string(PictureLevel(p, length > 0 ? static_cast<size_t>(length) : 0,
                                                        m_width, m_height));
        Line(text);
        ++m_reported;
        if (m_limit > 0 && m_reported >= m_limit)
            (void)SetEvent(m_done); // an event we own: cannot fail
        return false;
    }

private:
    const long m_limit;
    const HANDLE m_done;
    int m_width = 0, m_height = 0;
    long m_reported = 0;
};

// Waits until done is set, the time is up, or the input says "stop" or ends. Input is watched only
// when it is a pipe: a program started from a console stops with Ctrl+C or its limits.
void WaitForTheEnd(HANDLE done, double seconds) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const bool watchInput = input && input != INVALID_HANDLE_VALUE && GetFileType(input) == FILE_TYPE_PIPE;
    const ULONGLONG start = GetTickCount64();
    std::string pending;
    for (;;) {
        if (WaitForSingleObject(done, 10) == WAIT_OBJECT_0)
            return;
        if (seconds > 0 && static_cast<double>(GetTickCount64() - start) >= seconds * 1000.0)
            return;
        if (!watchInput)
            continue;
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr))
            return; // the input ended
        if (available == 0)
            continue;
        char buffer[256];
        DWORD got = 0;
        if (!ReadFile(input, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
            got == 0)
            return;
        pending.append(buffer, got);
        if (pending.find("stop") != std::string::npos)
            return;
    }
}

int Run(const Options& options) {
    ComPtr<IMoniker> moniker = FindVideoDevice(options.device.c_str());
    if (!moniker)
        return Fail("device-not-found", HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    ComPtr<IBaseFilter> device;
    HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                       reinterpret_cast<void**>(device.GetAddressOf()));
    if (FAILED(hr))
        return Fail("bind", hr);
    moniker.Reset();
    Line("device " + win::Utf8(options.device));

    ComPtr<IPin> out = FindPinByDirection(device.Get(), PINDIR_OUTPUT);
    ComPtr<IAMStreamConfig> config;
    if (!out)
        return Fail("output-pin", VFW_E_NOT_FOUND);
    if (FAILED(hr = out.As(&config)))
        return Fail("stream-config", hr);
    int count = 0, recordSize = 0;
    if (FAILED(hr = config->GetNumberOfCapabilities(&count, &recordSize)))
        return Fail("capabilities", hr);
    if (recordSize != sizeof(VIDEO_STREAM_CONFIG_CAPS))
        return Fail("capabilities", E_UNEXPECTED);
    REFERENCE_TIME sizeFrameTime = 0; // what the chosen size is asked for at
    for (int i = 0; i < count; ++i) {
        MediaTypeHolder type;
        VIDEO_STREAM_CONFIG_CAPS caps = {};
        if (FAILED(hr = config->GetStreamCaps(i, &type.p, reinterpret_cast<BYTE*>(&caps))))
            return Fail("stream-caps", hr);
        Line("caps " + std::to_string(i) + " " + std::to_string(caps.InputSize.cx) + " " +
             std::to_string(caps.InputSize.cy) + " " + std::to_string(caps.MinFrameInterval) + " " +
             std::to_string(caps.MaxFrameInterval));
        if (caps.InputSize.cx == options.size.cx && caps.InputSize.cy == options.size.cy) {
            // A capability without a frame time of its own gets the fastest it allows, as
            // applications that want every frame the camera gives ask for.
            const REFERENCE_TIME own = type.p && type.p->formattype == FORMAT_VideoInfo &&
                                               type.p->cbFormat >= sizeof(VIDEOINFOHEADER) && type.p->pbFormat
                                           ? type.Vih()->AvgTimePerFrame
                                           : 0;
            sizeFrameTime = options.frameTime > 0 ? options.frameTime : own > 0 ? own : caps.MinFrameInterval;
        }
    }
    if (options.list)
        return 0;

    if (options.size.cx > 0 &&
        FAILED(hr = testing_support::SetFormatOfSize(config.Get(), options.size, sizeFrameTime)))
        return Fail("set-format", hr);
    config.Reset();
    out.Reset();

    win::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!done)
        return Fail("event", HRESULT_FROM_WIN32(GetLastError()));
    CReportingCallback callback(options.frames, done.get());
    testing_support::GrabberGraph graph;
    if (FAILED(hr = graph.Create(device.Get(), &callback)))
        return Fail("graph", hr);
    if (FAILED(hr = graph.Connect(options.path)))
        return Fail("connect", hr);
    {
        MediaTypeHolder connected(static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE))));
        if (!connected.p)
            return Fail("connection-type", E_OUTOFMEMORY);
        std::memset(connected.p, 0, sizeof(AM_MEDIA_TYPE));
        if (FAILED(hr = graph.ConnectedType(connected.p)))
            return Fail("connection-type", hr);
        if (connected.p->formattype != FORMAT_VideoInfo || connected.p->cbFormat < sizeof(VIDEOINFOHEADER))
            return Fail("connection-type", VFW_E_INVALIDMEDIATYPE);
        const VIDEOINFOHEADER* vih = connected.Vih();
        callback.SetSize(vih->bmiHeader.biWidth, vih->bmiHeader.biHeight);
        Line("format " + std::to_string(vih->bmiHeader.biWidth) + " " +
             std::to_string(vih->bmiHeader.biHeight) + " " + std::to_string(vih->bmiHeader.biBitCount) + " " +
             std::to_string(vih->AvgTimePerFrame));
    }
    hr = graph.Run();
    if (FAILED(hr))
        return Fail("run", hr);
    Line("running");
    WaitForTheEnd(done.get(), options.seconds);
    if (FAILED(hr = graph.Stop()))
        return Fail("stop", hr);
    Line("stopped " + std::to_string(callback.Reported()));
    const testing_support::GrabberGraph::Leftovers left = graph.Release();
    if (left.graph || left.grabber || left.renderer || left.builder)
        return Fail("release", E_UNEXPECTED);
    return 0;
}

} // namespace

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    Options options;
    if (!ParseArgs(&options)) {
        std::fputs("usage: device_client [--device <name>] [--size <w>x<h>] [--frame-time <t>]\n"
                   "       [--path direct|capture|preview] [--frames <n>] [--seconds <s>] [--list]\n",
                   stderr);
        return 2;
    }
    win::ComScope com;
    if (!com.ok())
        return Fail("com", com.hr());
    try {
        return Run(options);
    } catch (...) {
        return Fail("exception", E_UNEXPECTED);
    }
}
