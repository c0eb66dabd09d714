// The real channel ("_KLO_SHM" / "KLO_SHM") between this test and a second process,
// channel_peer.exe, which it drives line by line. Both run on the bench's one wineserver, so the
// named section and mutex are shared for real.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "SharedMem.h"
#include "UniqueAny.h"
#include "peer_process.h"

namespace {

constexpr char kSectionName[] = "KLO_SHM";

using win::UniqueHandle;

struct WindowDestroyer {
    void operator()(HWND h) const { DestroyWindow(h); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

double MsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

using testing_support::PeerProcess;

// Every test starts and ends without a channel: a section or mutex left behind would decide which
// side creates, and hide faults.
class ChannelTest : public testing::Test {
protected:
    void SetUp() override { ExpectNoChannel(); }
    void TearDown() override { ExpectNoChannel(); }

    static void ExpectNoChannel() {
        UniqueHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName));
        UniqueHandle mutex(OpenMutexA(SYNCHRONIZE, FALSE, kChannelName));
        EXPECT_FALSE(section) << "a \"KLO_SHM\" section is left over";
        EXPECT_FALSE(mutex) << "a \"_KLO_SHM\" mutex is left over";
    }
};

TEST_F(ChannelTest, EitherSideCreatesTheOtherOpensAndBothSeeEachOthersWrites) {
    for (const bool peerCreates : {true, false}) {
        SCOPED_TRACE(peerCreates ? "the peer creates" : "this side creates");
        PeerProcess peer;
        CSharedMem mine;
        // The side that starts first finds nothing to open and creates.
        if (peerCreates) {
            EXPECT_EQ("fail 2", peer.Do("open"));
            ASSERT_EQ("ok", peer.Do("create"));
            ASSERT_TRUE(mine.Open(kChannelName));
        } else {
            SetLastError(0xdeadbeef);
            EXPECT_FALSE(mine.Open(kChannelName));
            EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, mine.GetLastError());
            ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
            ASSERT_EQ("ok", peer.Do("open"));
        }
        EXPECT_TRUE(mine.IsOpen());
        EXPECT_STREQ(kChannelName, mine.GetName());
        ASSERT_EQ("ok", peer.Do("raw-open"));
        EXPECT_EQ(921672, peer.Value("peek 0 4"));

        SharedFrameHeader* header = mine.Header();
        ASSERT_NE(nullptr, header);
        ASSERT_TRUE(mine.Lock());
        const BYTE* bytes = reinterpret_cast<const BYTE*>(header);
        EXPECT_TRUE(std::all_of(bytes, bytes + kChannelPayloadSize, [](BYTE b) { return b == 0; }))
            << "the header and pixel area start zero";
        header->dwFlags = kFrameReady | kFormatFromSetFormat;
        header->pixels[kChannelPixelBytes - 1] = 0x5A;
        ASSERT_TRUE(mine.Unlock());

        ASSERT_EQ("ok", peer.Do("lock"));
        EXPECT_EQ(0x21, peer.Value("peek 8 4"));
        EXPECT_EQ(0x5A, peer.Value("peek 921675 1"));
        EXPECT_EQ("ok", peer.Do("poke 12 4 333333"));
        ASSERT_EQ("ok", peer.Do("unlock"));
        ASSERT_TRUE(mine.Lock());
        EXPECT_EQ(333333u, header->dwFrameInterval);
        ASSERT_TRUE(mine.Unlock());

        // Closing never clears the header; opening again finds what was written.
        mine.Close();
        EXPECT_EQ(nullptr, mine.Header());
        EXPECT_STREQ("", mine.GetName());
        EXPECT_EQ(0x21, peer.Value("peek 8 4"));
        ASSERT_TRUE(mine.Open(kChannelName));
        ASSERT_TRUE(mine.Lock());
        EXPECT_EQ(333333u, mine.Header()->dwFrameInterval);
        EXPECT_EQ(0x5A, mine.Header()->pixels[kChannelPixelBytes - 1]);
        ASSERT_TRUE(mine.Unlock());
    }
}

// The header record against raw section offsets read and written by the other process, so the
// layout is checked independently of the struct that describes it.
TEST_F(ChannelTest, HeaderFieldsSitAtTheirSectionOffsets) {
    struct Field {
        const char* name;
        DWORD offset; // from the start of the section
        DWORD size;
        BYTE* (*at)(SharedFrameHeader&);
    };
    const Field fields[] = {
        {"owner window", 4, 4, [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.hwndOwner); }},
        {"flags", 8, 4, [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.dwFlags); }},
        {"interval", 12, 4, [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.dwFrameInterval); }},
        {"reserved, first", 16, 4, [](SharedFrameHeader& h) { return &h.reserved[0]; }},
        {"reserved, last", 32, 4, [](SharedFrameHeader& h) { return &h.reserved[16]; }},
        {"biSize", 36, 4, [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biSize); }},
        {"biWidth", 40, 4,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biWidth); }},
        {"biHeight", 44, 4,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biHeight); }},
        {"biPlanes", 48, 2,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biPlanes); }},
        {"biBitCount", 50, 2,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biBitCount); }},
        {"biCompression", 52, 4,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biCompression); }},
        {"biSizeImage", 56, 4,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biSizeImage); }},
        {"biClrImportant", 72, 4,
         [](SharedFrameHeader& h) { return reinterpret_cast<BYTE*>(&h.bmiHeader.biClrImportant); }},
        {"pixels, first", 76, 4, [](SharedFrameHeader& h) { return &h.pixels[0]; }},
        {"pixels, last", 921672, 4, [](SharedFrameHeader& h) { return &h.pixels[kChannelPixelBytes - 4]; }},
    };
    // A value per field and direction, distinct in its low two bytes as well.
    auto pattern = [](uint32_t seed, size_t i, DWORD size) {
        const uint32_t v = seed + static_cast<uint32_t>(i) * 0x01010101u;
        return size == 4 ? v : (v & 0xFFFFu);
    };

    PeerProcess peer;
    CSharedMem mine;
    ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
    ASSERT_EQ("ok", peer.Do("open"));
    ASSERT_EQ("ok", peer.Do("raw-open"));
    SharedFrameHeader* header = mine.Header();
    ASSERT_NE(nullptr, header);

    // Written through the struct here, read at raw offsets there.
    ASSERT_TRUE(mine.Lock());
    for (size_t i = 0; i < std::size(fields); ++i) {
        const uint32_t v = pattern(0x5A000011u, i, fields[i].size);
        std::memcpy(fields[i].at(*header), &v, fields[i].size);
    }
    ASSERT_TRUE(mine.Unlock());
    ASSERT_EQ("ok", peer.Do("lock"));
    for (size_t i = 0; i < std::size(fields); ++i) {
        SCOPED_TRACE(fields[i].name);
        const Field& f = fields[i];
        EXPECT_EQ(pattern(0x5A000011u, i, f.size),
                  peer.Value("peek " + std::to_string(f.offset) + " " + std::to_string(f.size)));
    }
    // Written at raw offsets there, read through the struct here.
    for (size_t i = 0; i < std::size(fields); ++i) {
        const Field& f = fields[i];
        EXPECT_EQ("ok", peer.Do("poke " + std::to_string(f.offset) + " " + std::to_string(f.size) + " " +
                                std::to_string(pattern(0x3C000077u, i, f.size))));
    }
    ASSERT_EQ("ok", peer.Do("unlock"));
    ASSERT_TRUE(mine.Lock());
    for (size_t i = 0; i < std::size(fields); ++i) {
        SCOPED_TRACE(fields[i].name);
        uint32_t v = 0;
        std::memcpy(&v, fields[i].at(*header), fields[i].size);
        EXPECT_EQ(pattern(0x3C000077u, i, fields[i].size), v);
    }
    ASSERT_TRUE(mine.Unlock());
}

TEST_F(ChannelTest, LockGivesUpAfterFiftyMsWhileThePeerHoldsTheMutex) {
    PeerProcess peer;
    CSharedMem mine;
    ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
    ASSERT_EQ("ok", peer.Do("open"));
    ASSERT_EQ("ok", peer.Do("lock"));

    // Repeated failures leave nothing behind that would change the next attempt.
    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        SetLastError(0xdeadbeef);
        const LARGE_INTEGER start = Now();
        EXPECT_FALSE(mine.Lock());
        const double ms = MsSince(start);
        EXPECT_GE(ms, 40.0);
        EXPECT_LT(ms, 1000.0);
        EXPECT_EQ(DWORD{WAIT_TIMEOUT}, mine.GetLastError());
        EXPECT_TRUE(mine.IsOpen());
    }

    // Released there, taken here; now the peer is the one that times out.
    ASSERT_EQ("ok", peer.Do("unlock"));
    ASSERT_TRUE(mine.Lock());
    EXPECT_EQ("fail 258", peer.Do("lock"));
    ASSERT_TRUE(mine.Unlock());
    EXPECT_EQ("ok", peer.Do("lock"));
    EXPECT_EQ("ok", peer.Do("unlock"));
}

TEST_F(ChannelTest, MutexAbandonedByAKilledPeerIsTakenByTheNextLock) {
    CSharedMem mine;
    ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
    {
        PeerProcess peer;
        ASSERT_EQ("ok", peer.Do("open"));
        ASSERT_EQ("ok", peer.Do("lock"));
        peer.Kill();
    }
    const LARGE_INTEGER start = Now();
    EXPECT_TRUE(mine.Lock());
    EXPECT_LT(MsSince(start), 1000.0);
    ASSERT_NE(nullptr, mine.Header()) << "the header outlives the process that died holding the lock";
    EXPECT_TRUE(mine.Unlock());

    // Released properly, the mutex works for the next process too.
    PeerProcess next;
    ASSERT_EQ("ok", next.Do("open"));
    EXPECT_EQ("ok", next.Do("lock"));
    EXPECT_EQ("ok", next.Do("unlock"));
}

TEST_F(ChannelTest, HeaderIsNullUntilTheSizeWordIsWritten) {
    PeerProcess peer;
    ASSERT_EQ("ok", peer.Do("raw-section 921676"));
    ASSERT_EQ("ok", peer.Do("raw-mutex"));
    CSharedMem mine;
    ASSERT_TRUE(mine.Open(kChannelName)) << "Open does not look at the size word";
    EXPECT_EQ(nullptr, mine.Header());
    ASSERT_EQ("ok", peer.Do("poke 0 4 921672"));
    EXPECT_NE(nullptr, mine.Header());
}

TEST_F(ChannelTest, CreateJoinsTheSectionThePeerCreatedWithoutReinitialisingIt) {
    PeerProcess peer;
    ASSERT_EQ("ok", peer.Do("create"));
    ASSERT_EQ("ok", peer.Do("raw-open"));
    ASSERT_EQ("ok", peer.Do("poke 4 4 4660"));
    ASSERT_EQ("ok", peer.Do("poke 8 4 33"));
    ASSERT_EQ("ok", peer.Do("poke 76 4 3405705229"));

    // As when the peer created the section between this side's failed Open and its Create.
    CSharedMem mine;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
    EXPECT_TRUE(mine.IsOpen());
    EXPECT_STREQ(kChannelName, mine.GetName());
    EXPECT_EQ(DWORD{ERROR_ALREADY_EXISTS}, mine.GetLastError()) << "the join is recorded";
    SharedFrameHeader* header = mine.Header();
    ASSERT_NE(nullptr, header);
    ASSERT_TRUE(mine.Lock());
    EXPECT_EQ(4660u, header->hwndOwner);
    EXPECT_EQ(33u, header->dwFlags);
    uint32_t pixel;
    std::memcpy(&pixel, header->pixels, 4);
    EXPECT_EQ(3405705229u, pixel);
    ASSERT_TRUE(mine.Unlock());
    EXPECT_EQ(921672, peer.Value("peek 0 4"));

    // Both sides hold the same mutex.
    ASSERT_EQ("ok", peer.Do("lock"));
    EXPECT_FALSE(mine.Lock());
    ASSERT_EQ("ok", peer.Do("unlock"));
    EXPECT_TRUE(mine.Lock());
    EXPECT_TRUE(mine.Unlock());
}

// A channel side whose pauses between looks for the creator's mutex are where the test decides:
// before look `mutexBeforeLook` the peer makes the mutex, as a creator does right after its
// section. So the mutex appears at a known look instead of at some time the scheduler picks.
class CJoiningSide : public CSharedMem {
public:
    CJoiningSide(PeerProcess& peer, int mutexBeforeLook) : m_peer(peer), m_mutexBeforeLook(mutexBeforeLook) {}
    int pauses = 0;
    std::string peerAnswer = "not asked";

protected:
    void PauseBeforeJoinAttempt(int attempt) override {
        ++pauses;
        if (attempt == m_mutexBeforeLook)
            peerAnswer = m_peer.Do("raw-mutex");
        CSharedMem::PauseBeforeJoinAttempt(attempt);
    }

private:
    PeerProcess& m_peer;
    const int m_mutexBeforeLook;
};

// The creator makes its mutex right after the section; the joining side looks for it a bounded
// number of times, a few milliseconds apart, and joins when it appears in time.
TEST_F(ChannelTest, CreateJoinsWhenThePeersMutexAppearsShortlyAfterItsSection) {
    const struct {
        const char* name;
        int mutexBeforeLook; // 0: never
        bool joins;
        int pauses;
    } cases[] = {
        {"mutex before the second look", 2, true, 1},
        {"mutex before the last look", CSharedMem::kMutexJoinAttempts, true,
         CSharedMem::kMutexJoinAttempts - 1},
        {"no mutex at all", 0, false, CSharedMem::kMutexJoinAttempts - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PeerProcess peer;
        ASSERT_EQ("ok", peer.Do("raw-section 921676"));
        CJoiningSide mine(peer, c.mutexBeforeLook);
        SetLastError(0xdeadbeef);
        const LARGE_INTEGER start = Now();
        EXPECT_EQ(c.joins, mine.Create(kChannelName, kChannelPayloadSize) != FALSE);
        EXPECT_LT(MsSince(start), 1000.0);
        EXPECT_EQ(c.pauses, mine.pauses) << "looks stop when the mutex is found, and are bounded";
        if (c.mutexBeforeLook) {
            EXPECT_EQ("ok", mine.peerAnswer);
        }
        if (!c.joins) {
            EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, mine.GetLastError());
            EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError()) << "the pause did not hide the cause";
            EXPECT_FALSE(mine.IsOpen());
            EXPECT_STREQ("", mine.GetName());
            EXPECT_FALSE(mine.Lock());
            continue;
        }
        EXPECT_TRUE(mine.IsOpen());
        EXPECT_EQ(nullptr, mine.Header()) << "the creator's size word is not written by the joining side";
        EXPECT_TRUE(mine.Lock());
        EXPECT_TRUE(mine.Unlock());
    }
}

// Sections and mutexes of the channel's names that were not made by a CSharedMem: neither Open nor
// Create may use them, and neither may wait for long or touch their content.
TEST_F(ChannelTest, OpenAndCreateRefuseWhatTheyCannotUseSafely) {
    struct Case {
        const char* what;
        std::vector<const char*> setup; // peer commands
        bool markable;                  // the section's pages can be written
        DWORD createError;
        DWORD openError;
    };
    const Case cases[] = {
        {"section without mutex", {"raw-section 921676"}, true, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {"section smaller than the layout",
         {"raw-section 4096", "raw-mutex"},
         true,
         ERROR_INVALID_DATA,
         ERROR_INVALID_DATA},
        {"section with reserved pages only",
         {"raw-section 921676 reserve", "raw-mutex"},
         false,
         ERROR_INVALID_DATA,
         ERROR_INVALID_DATA},
        {"mutex without section", {"raw-mutex"}, false, ERROR_ALREADY_EXISTS, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PeerProcess peer;
        for (const char* command : c.setup) {
            ASSERT_EQ("ok", peer.Do(command)) << command;
        }
        if (c.markable) {
            ASSERT_EQ("ok", peer.Do("poke 8 4 119"));
        }

        CSharedMem mine;
        SetLastError(0xdeadbeef);
        const LARGE_INTEGER start = Now();
        EXPECT_FALSE(mine.Create(kChannelName, kChannelPayloadSize));
        EXPECT_LT(MsSince(start), 1000.0);
        EXPECT_EQ(c.createError, mine.GetLastError());
        EXPECT_EQ(c.createError, GetLastError()) << "the thread's error still tells the cause";
        EXPECT_FALSE(mine.IsOpen());
        EXPECT_EQ(nullptr, mine.Header());
        EXPECT_STREQ("", mine.GetName());

        SetLastError(0xdeadbeef);
        EXPECT_FALSE(mine.Open(kChannelName));
        EXPECT_EQ(c.openError, mine.GetLastError());
        EXPECT_FALSE(mine.Lock());

        if (c.markable) {
            EXPECT_EQ(0, peer.Value("peek 0 4")) << "no size word written";
            EXPECT_EQ(119, peer.Value("peek 8 4")) << "content left alone";
        }
        // Only the peer's own section may still exist: a refused Create leaves none of its own.
        const bool peerMadeSection = std::string(c.setup[0]).rfind("raw-section", 0) == 0;
        UniqueHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kSectionName));
        EXPECT_EQ(peerMadeSection, static_cast<bool>(section));
    }
}

// The owner window is stored as 32 bits by one process and used by the other.
TEST_F(ChannelTest, OwnerWindowReadsBackAsALiveWindowInTheOtherProcess) {
    CSharedMem mine;
    ASSERT_TRUE(mine.Create(kChannelName, kChannelPayloadSize));
    SharedFrameHeader* header = mine.Header();
    ASSERT_NE(nullptr, header);

    {
        SCOPED_TRACE("this process owns the window");
        UniqueWindow window(CreateWindowExA(0, "STATIC", "channel owner", WS_POPUP, 0, 0, 8, 8, nullptr,
                                            nullptr, GetModuleHandleA(nullptr), nullptr));
        ASSERT_TRUE(window) << "no window: the test needs a display (" << GetLastError() << ")";
        ASSERT_TRUE(mine.Lock());
        header->dwFlags = 0xA5A5A5A5u;
        header->dwFrameInterval = 0x5A5A5A5Au;
        SetOwnerWindow(*header, window.get());
        ASSERT_TRUE(mine.Unlock());

        PeerProcess peer;
        ASSERT_EQ("ok", peer.Do("open"));
        ASSERT_EQ("ok", peer.Do("raw-open"));
        EXPECT_EQ(static_cast<long long>(static_cast<uint32_t>(reinterpret_cast<UINT_PTR>(window.get()))),
                  peer.Value("peek 4 4"));
        EXPECT_EQ(0xA5A5A5A5ll, peer.Value("peek 8 4")) << "the field is 32 bits wide";
        EXPECT_EQ(1, peer.Value("owner-alive"));
        window.reset();
        EXPECT_EQ(0, peer.Value("owner-alive")) << "a destroyed owner is seen as stale";
    }
    {
        SCOPED_TRACE("the peer owns the window");
        PeerProcess peer;
        ASSERT_EQ("ok", peer.Do("open"));
        const HWND peerWindow = reinterpret_cast<HWND>(static_cast<LONG_PTR>(peer.Value("window")));
        ASSERT_EQ("ok", peer.Do("register-window"));
        ASSERT_TRUE(mine.Lock());
        const HWND owner = OwnerWindowOf(*header);
        EXPECT_EQ(0xA5A5A5A5u, header->dwFlags);
        EXPECT_EQ(0x5A5A5A5Au, header->dwFrameInterval);
        ASSERT_TRUE(mine.Unlock());
        EXPECT_EQ(peerWindow, owner);
        EXPECT_TRUE(IsWindow(owner));

        peer.Exit();
        EXPECT_FALSE(IsWindow(owner)) << "the owner's process has ended";
        ASSERT_TRUE(mine.Lock());
        EXPECT_EQ(owner, OwnerWindowOf(*header)) << "the ended program leaves its handle in place";
        ASSERT_TRUE(mine.Unlock());
    }
}

} // namespace
