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
//   raw-mutex-later <ms>                    answers first, then makes the mutex after <ms>
//   raw-open                                maps "KLO_SHM" by name, apart from CSharedMem
//   peek <offset> <size>                    reads 1, 2 or 4 bytes at a section offset (raw view)
//   poke <offset> <size> <value>            writes them
//   window                                  a window of this process (answers its handle)
//   register-window                         stores that window as the header's owner window
//   owner-alive                             "ok <IsWindow of the header's owner window>"
//   exit
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "SharedMem.h"

namespace {

constexpr char kSectionName[] = "KLO_SHM";

struct Peer {
    CSharedMem channel;
    HANDLE section = nullptr; // raw-section / raw-open
    BYTE* view = nullptr;
    SIZE_T committed = 0; // bytes of the raw view that can be touched
    HANDLE mutex = nullptr;
    HWND window = nullptr;

    ~Peer() {
        if (window)
            DestroyWindow(window);
        if (view)
            UnmapViewOfFile(view);
        if (section)
            CloseHandle(section);
        if (mutex)
            CloseHandle(mutex);
    }
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
    peer.view = static_cast<BYTE*>(MapViewOfFile(peer.section, FILE_MAP_WRITE, 0, 0, 0));
    if (!peer.view)
        return FALSE;
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(peer.view, &info, sizeof info) == sizeof info && info.State == MEM_COMMIT)
        peer.committed = info.RegionSize;
    return TRUE;
}

// Offset and size of a raw access, or false when it would leave the committed view.
bool RawRange(const Peer& peer, unsigned long offset, unsigned long size) {
    return peer.view && (size == 1 || size == 2 || size == 4) && offset <= peer.committed &&
           size <= peer.committed - offset;
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
        peer.section =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | (reserve ? SEC_RESERVE : 0), 0,
                               num(0), kSectionName);
        if (!peer.section || !MapRaw(peer))
            ReplyError(GetLastError());
        else
            Reply("ok");
    } else if (cmd == "raw-open") {
        peer.section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, kSectionName);
        if (!peer.section || !MapRaw(peer))
            ReplyError(GetLastError());
        else
            Reply("ok");
    } else if (cmd == "raw-mutex") {
        peer.mutex = CreateMutexA(nullptr, FALSE, kChannelName);
        if (peer.mutex)
            Reply("ok");
        else
            ReplyError(GetLastError());
    } else if (cmd == "raw-mutex-later") {
        Reply("ok");
        Sleep(num(0));
        peer.mutex = CreateMutexA(nullptr, FALSE, kChannelName);
    } else if (cmd == "peek") {
        if (!RawRange(peer, num(0), num(1))) {
            Reply("fail range");
            return;
        }
        DWORD value = 0;
        std::memcpy(&value, peer.view + num(0), num(1));
        ReplyValue(value);
    } else if (cmd == "poke") {
        if (args.size() != 3 || !RawRange(peer, num(0), num(1))) {
            Reply("fail range");
            return;
        }
        const DWORD value = num(2);
        std::memcpy(peer.view + num(0), &value, num(1));
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
