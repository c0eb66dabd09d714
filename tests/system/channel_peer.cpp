// The other process of the channel tests. It reads one command per line on stdin and answers each
// with one line on stdout: "ok", "ok <value>" or "fail <error>". It ends at "exit" or at the end of
// its input, or when the test kills it.
//
// Commands:
//   open | create | lock | unlock           the CSharedMem operation on "_KLO_SHM"; a failure
//                                           answers the channel's recorded error
//   raw-section <size> [reserve]            a section "KLO_SHM" made without CSharedMem (no size
//                                           word, no mutex); "reserve" leaves its pages reserved
//   raw-mutex                               the mutex "_KLO_SHM" alone
//   raw-open                                maps "KLO_SHM" by name, apart from CSharedMem
//   peek <offset> <size>                    reads 1, 2 or 4 bytes at a section offset (raw view)
//   poke <offset> <size> <value>            writes them
//   window                                  a window of this process (answers its handle)
//   register-window                         stores that window as the header's owner window
//   owner-alive                             "ok <IsWindow of the header's owner window>"
//   destroy-window                          destroys that window (the header keeps its handle)
//   messages                                takes the WM_CAMERA_FORMAT messages posted to this
//                                           process so far: "ok" and one "<wParam>:<lParam>" each
//   publish <n> <width> <height>            publishes numbered frame n (frame_pattern.h) of that
//                                           size as the capture program does: pixels, FrameReady
//   publish-two <n1> <n2> <width> <height>  two frames published under one lock hold: the first is
//                                           overwritten before any reader can see it
//   stream <count> <us> <width> <height>    publishes frames 1..count, frame n due <us> * (n - 1)
//                                           microseconds after the first (a camera's rate, which
//                                           a late frame does not slow down), each carrying its
//                                           number (bytes 0..3) and the performance counter read
//                                           just before FrameReady is set (bytes 4..11); answers
//                                           the number of frames it could not publish
//   hostile <rounds> <seed>                 puts random and extreme values into every header field
//                                           and the size word, round after round, under the lock;
//                                           ends with a sane zero header
//   watch-start <bytes>                     reads the channel as the virtual camera does, on a
//                                           thread of its own: every time FrameReady is set it
//                                           keeps the time and the first <bytes> (1..16) bytes of
//                                           the pixel area, and clears the flag
//   watch-stop                              ends the watch: "ok <n>" and one " <us>:<hex bytes>"
//                                           for each frame seen, <us> microseconds after the start
//   exit
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SharedMem.h"
#include "UniqueAny.h"
#include "frame_pattern.h"

namespace {

constexpr char kSectionName[] = "KLO_SHM";

// A frame the watcher saw: when, and how it began.
struct Sighting {
    LONGLONG us;
    BYTE bytes[16];
};

struct Peer {
    CSharedMem channel;
    std::thread watcher;
    std::atomic<bool> stopWatching{false};
    std::vector<Sighting> sightings; // the watcher's until it is joined

    win::UniqueHandle section; // raw-section / raw-open
    win::UniqueMappedView view;
    SIZE_T committed = 0; // bytes of the raw view that can be touched
    win::UniqueHandle mutex;
    HWND window = nullptr;

    ~Peer() {
        stopWatching = true;
        if (watcher.joinable())
            watcher.join();
        if (window)
            DestroyWindow(window);
    }

    BYTE* View() const { return static_cast<BYTE*>(view.get()); }
};

void Reply(const char* text) {
    std::printf("%s\n", text);
    std::fflush(stdout);
}

void ReplyValue(long long value) {
    std::printf("ok %lld\n", value);
    std::fflush(stdout);
}

void ReplyError(DWORD error) {
    std::printf("fail %lu\n", static_cast<unsigned long>(error));
    std::fflush(stdout);
}

void ReplyChannel(Peer& peer, BOOL ok) {
    if (ok)
        Reply("ok");
    else
        ReplyError(peer.channel.GetLastError());
}

BOOL MapRaw(Peer& peer) {
    peer.view.reset(MapViewOfFile(peer.section.get(), FILE_MAP_WRITE, 0, 0, 0));
    if (!peer.view)
        return FALSE;
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(peer.view.get(), &info, sizeof info) == sizeof info && info.State == MEM_COMMIT)
        peer.committed = info.RegionSize;
    return TRUE;
}

// Offset and size of a raw access, or false when it would leave the committed view.
bool RawRange(const Peer& peer, unsigned long offset, unsigned long size) {
    return peer.view && (size == 1 || size == 2 || size == 4) && offset <= peer.committed &&
           size <= peer.committed - offset;
}

// Publishes the frames numbered first..last (one after the other, each whole) of width x height
// under one lock hold, the way the capture program publishes one. False (error recorded) when the
// lock is not had or a frame does not fit the pixel area.
bool Publish(Peer& peer, unsigned long width, unsigned long height, const std::vector<std::uint32_t>& numbers,
             bool stamped) {
    const unsigned long long stride = ((width * 24ull + 31) / 32) * 4;
    const unsigned long long size = stride * height;
    if (size > kChannelPixelBytes || size < 12)
        return false;
    if (!peer.channel.Lock())
        return false;
    SharedFrameHeader* header = peer.channel.Header();
    if (header) {
        for (std::uint32_t number : numbers) {
            PaintFramePattern(header->pixels, static_cast<size_t>(size), number);
            if (stamped) {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                std::memcpy(header->pixels, &number, 4);
                std::memcpy(header->pixels + 4, &now.QuadPart, 8);
            }
            header->dwFlags |= kFrameReady;
        }
    }
    (void)peer.channel.Unlock(); // a failed release shows up in the other side's next Lock
    return header != nullptr;
}

// Random and extreme header values, so the reader meets every kind of nonsense a process on the
// machine could write.
void Hostile(Peer& peer, unsigned long rounds, unsigned long seed) {
    std::uint32_t state = seed ? static_cast<std::uint32_t>(seed) : 1u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    const std::uint32_t extremes[] = {0u,      1u,          0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 921600u,
                                      921601u, 0x10000000u, 640u,        480u,        24u};
    auto value = [&]() {
        return (next() & 1) ? next() : extremes[next() % (sizeof extremes / sizeof extremes[0])];
    };
    SharedFrameHeader* header = peer.channel.Header();
    if (!header)
        return;
    BYTE* sizeWord = reinterpret_cast<BYTE*>(header) - 4;
    for (unsigned long round = 0; round < rounds; ++round) {
        if (!peer.channel.Lock())
            continue;
        const std::uint32_t size = (next() % 8 == 0) ? value() : kChannelPayloadSize;
        std::memcpy(sizeWord, &size, 4);
        header->hwndOwner =
            (next() % 4 == 0) ? static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(peer.window)) : value();
        header->dwFlags = value() | ((next() & 1) ? kFrameReady : 0);
        header->dwFrameInterval = value();
        for (BYTE& b : header->reserved)
            b = static_cast<BYTE>(next());
        BITMAPINFOHEADER& bmi = header->bmiHeader;
        bmi.biSize = value();
        bmi.biWidth = static_cast<LONG>(value());
        bmi.biHeight = static_cast<LONG>(value());
        bmi.biPlanes = static_cast<WORD>(value());
        bmi.biBitCount = static_cast<WORD>(value());
        bmi.biCompression = value();
        bmi.biSizeImage = value();
        bmi.biXPelsPerMeter = static_cast<LONG>(value());
        bmi.biYPelsPerMeter = static_cast<LONG>(value());
        bmi.biClrUsed = value();
        bmi.biClrImportant = value();
        header->pixels[next() % kChannelPixelBytes] = static_cast<BYTE>(next());
        (void)peer.channel.Unlock();
        Sleep(round % 4 == 0 ? 1 : 0);
    }
    if (peer.channel.Lock()) {
        std::memcpy(sizeWord, &kChannelPayloadSize, 4);
        std::memset(header, 0, 72);
        (void)peer.channel.Unlock();
    }
}

// Polls the channel about once a millisecond, the way the filter's worker takes a frame, until
// told to stop. The reader must not miss a frame published 10 ms after the one before.
void Watch(Peer& peer, size_t bytes) {
    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    while (!peer.stopWatching) {
        if (peer.channel.Lock()) {
            SharedFrameHeader* header = peer.channel.Header();
            if (header && (header->dwFlags & kFrameReady)) {
                LARGE_INTEGER now;
                QueryPerformanceCounter(&now);
                Sighting sighting = {};
                sighting.us = (now.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
                std::memcpy(sighting.bytes, header->pixels, bytes);
                header->dwFlags &= ~kFrameReady;
                peer.sightings.push_back(sighting);
            }
            (void)peer.channel.Unlock(); // a failed release shows up in the other side's next Lock
        }
        Sleep(1);
    }
}

void Run(Peer& peer, const std::string& line) {
    std::istringstream in(line);
    std::string cmd, word;
    std::vector<std::string> args;
    in >> cmd;
    while (in >> word)
        args.push_back(word);
    // Numeric argument i, 0 when missing.
    auto num = [&args](size_t i) {
        return i < args.size() ? std::strtoul(args[i].c_str(), nullptr, 10) : 0ul;
    };

    if (cmd.empty()) {
        Reply("fail syntax");
    } else if (cmd == "open") {
        ReplyChannel(peer, peer.channel.Open(kChannelName));
    } else if (cmd == "create") {
        ReplyChannel(peer, peer.channel.Create(kChannelName, kChannelPayloadSize));
    } else if (cmd == "lock") {
        ReplyChannel(peer, peer.channel.Lock());
    } else if (cmd == "unlock") {
        ReplyChannel(peer, peer.channel.Unlock());
    } else if (cmd == "raw-section") {
        const bool reserve = args.size() > 1 && args[1] == "reserve";
        peer.section.reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr,
                                              PAGE_READWRITE | (reserve ? SEC_RESERVE : 0), 0, num(0),
                                              kSectionName));
        if (!peer.section || !MapRaw(peer))
            ReplyError(GetLastError());
        else
            Reply("ok");
    } else if (cmd == "raw-open") {
        peer.section.reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, kSectionName));
        if (!peer.section || !MapRaw(peer))
            ReplyError(GetLastError());
        else
            Reply("ok");
    } else if (cmd == "raw-mutex") {
        peer.mutex.reset(CreateMutexA(nullptr, FALSE, kChannelName));
        if (peer.mutex)
            Reply("ok");
        else
            ReplyError(GetLastError());
    } else if (cmd == "peek") {
        if (!RawRange(peer, num(0), num(1))) {
            Reply("fail range");
            return;
        }
        DWORD value = 0;
        std::memcpy(&value, peer.View() + num(0), num(1));
        ReplyValue(value);
    } else if (cmd == "poke") {
        if (args.size() != 3 || !RawRange(peer, num(0), num(1))) {
            Reply("fail range");
            return;
        }
        const DWORD value = num(2);
        std::memcpy(peer.View() + num(0), &value, num(1));
        Reply("ok");
    } else if (cmd == "window") {
        peer.window = CreateWindowExA(0, "STATIC", "channel peer", WS_POPUP, 0, 0, 8, 8, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        if (peer.window)
            ReplyValue(reinterpret_cast<LONG_PTR>(peer.window));
        else
            ReplyError(GetLastError());
    } else if (cmd == "register-window" || cmd == "owner-alive") {
        if (!peer.channel.Lock()) {
            ReplyError(peer.channel.GetLastError());
            return;
        }
        SharedFrameHeader* header = peer.channel.Header();
        BOOL alive = FALSE;
        if (header && cmd == "register-window")
            SetOwnerWindow(*header, peer.window);
        else if (header)
            alive = IsWindow(OwnerWindowOf(*header));
        (void)peer.channel.Unlock(); // a failed release shows up in the test's next Lock
        if (!header)
            Reply("fail no-header");
        else if (cmd == "register-window")
            Reply("ok");
        else
            ReplyValue(alive);
    } else if (cmd == "destroy-window") {
        if (peer.window)
            DestroyWindow(peer.window);
        peer.window = nullptr;
        Reply("ok");
    } else if (cmd == "messages") {
        std::string answer = "ok";
        MSG msg;
        while (PeekMessageA(&msg, nullptr, WM_CAMERA_FORMAT, WM_CAMERA_FORMAT, PM_REMOVE))
            answer += " " + std::to_string(msg.wParam) + ":" + std::to_string(msg.lParam);
        Reply(answer.c_str());
    } else if (cmd == "publish" || cmd == "publish-two") {
        const bool two = cmd == "publish-two";
        std::vector<std::uint32_t> numbers = {static_cast<std::uint32_t>(num(0))};
        if (two)
            numbers.push_back(static_cast<std::uint32_t>(num(1)));
        const size_t w = numbers.size();
        if (Publish(peer, num(w), num(w + 1), numbers, false))
            Reply("ok");
        else
            ReplyError(peer.channel.GetLastError());
    } else if (cmd == "stream") {
        LARGE_INTEGER frequency, start, now;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&start);
        const double ticksPerUs = static_cast<double>(frequency.QuadPart) / 1e6;
        unsigned long failed = 0;
        for (unsigned long n = 1; n <= num(0); ++n) {
            const LONGLONG due =
                start.QuadPart + static_cast<LONGLONG>(static_cast<double>(num(1)) * (n - 1) * ticksPerUs);
            for (QueryPerformanceCounter(&now); now.QuadPart < due; QueryPerformanceCounter(&now))
                Sleep(1);
            if (!Publish(peer, num(2), num(3), {static_cast<std::uint32_t>(n)}, true))
                ++failed;
        }
        ReplyValue(static_cast<long long>(failed));
    } else if (cmd == "hostile") {
        Hostile(peer, num(0), num(1));
        Reply("ok");
    } else if (cmd == "watch-start") {
        const size_t bytes = num(0);
        if (bytes < 1 || bytes > sizeof(Sighting::bytes) || peer.watcher.joinable()) {
            Reply("fail range");
            return;
        }
        peer.stopWatching = false;
        peer.sightings.clear();
        peer.sightings.reserve(4096);
        peer.watcher = std::thread([&peer, bytes] { Watch(peer, bytes); });
        Reply("ok");
    } else if (cmd == "watch-stop") {
        if (!peer.watcher.joinable()) {
            Reply("fail not-watching");
            return;
        }
        peer.stopWatching = true;
        peer.watcher.join();
        std::string answer = "ok " + std::to_string(peer.sightings.size());
        char hex[3];
        for (const Sighting& sighting : peer.sightings) {
            answer += " " + std::to_string(sighting.us) + ":";
            for (BYTE b : sighting.bytes) {
                std::snprintf(hex, sizeof hex, "%02x", b);
                answer += hex;
            }
        }
        Reply(answer.c_str());
    } else if (cmd == "exit") {
        Reply("ok");
        std::exit(0);
    } else {
        Reply("fail unknown");
    }
}

} // namespace

int main() {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    static Peer peer; // static: "exit" leaves through std::exit, which still runs its destructor
    char line[256];
    while (std::fgets(line, sizeof line, stdin)) {
        line[std::strcspn(line, "\r\n")] = '\0';
        Run(peer, line);
    }
    return 0;
}
