// capture_bench: what the live scale, the blend and clip making cost, each set against a plain
// memcpy of the same bytes, and how many clips a process can hold. Prints medians of repeated
// runs; it asserts nothing.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Caption.h"
#include "ClipMaker.h"
#include "CaptionFont.h"
#include "FrameDc.h"
#include "FrameStore.h"
#include "GdiProbe.h"
#include "UniqueAny.h"
#include "afx_app.h"

namespace {

double Now() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

// Milliseconds one call of op takes, averaged over `calls` calls a run: the median over `runs`,
// and the best run. On a shared machine the best run is the one least disturbed by the others.
struct Timing {
    double median, best;
};

Timing Time(int runs, int calls, const std::function<void()>& op) {
    op(); // warm caches and pages
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const double start = Now();
        for (int c = 0; c < calls; ++c)
            op();
        ms.push_back((Now() - start) / calls);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

double MedianMs(int runs, int calls, const std::function<void()>& op) {
    return Time(runs, calls, op).median;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// memcpy of `bytes` between two buffers that stay in place (hot in the cache when they fit).
double MemcpyMs(size_t bytes) {
    std::vector<BYTE> a(bytes, 7), b(bytes);
    return MedianMs(15, 20, [&] { std::memcpy(b.data(), a.data(), bytes); });
}

void Report(const char* what, double ms, double memcpyMs, const char* goal = "") {
    std::printf("  %-46s %9.3f ms %8.2f x memcpy %s\n", what, ms, ms / memcpyMs, goal);
}

// An image made while the profile's "MMX" holds value.
std::unique_ptr<CFrameImage> ImageWithMmx(int value) {
    CWinApp app;
    app.InitModuleNames(GetModuleHandleW(nullptr));
    app.WriteProfileInt("Technology", "MMX", value);
    auto image = std::make_unique<CFrameImage>(512, 384, 24);
    WritePrivateProfileStringA("Technology", "MMX", nullptr, app.m_strProfileName);
    return image;
}

std::vector<BYTE> CameraFrame(int width, int height, BITMAPINFOHEADER& header) {
    const int stride = ((width * 24 + 31) / 32) * 4;
    header = {
        sizeof header, width, height, 1, 24, BI_RGB, static_cast<DWORD>(width * 3 * height), 0, 0, 0, 0};
    std::vector<BYTE> bits(static_cast<size_t>(stride) * height);
    for (size_t i = 0; i < bits.size(); ++i)
        bits[i] = static_cast<BYTE>(i / stride + i % stride);
    return bits;
}

void LiveScale() {
    std::printf("live scale (StoreFrame: the scale into a ring slot under the store lock); goal for "
                "640x480 -> 512x384: at most 10 x memcpy of the destination bytes\n");
    std::printf("  %-20s %-36s %s\n", "", "into one slot (hot), x memcpy",
                "around a 300-slot ring (cold), x memcpy");
    struct Size {
        int sw, sh, dw, dh;
    } const sizes[] = {{640, 480, 512, 384}, {320, 240, 512, 384}, {160, 120, 512, 384}, {512, 384, 512, 384},
                       {176, 144, 512, 384}, {321, 241, 512, 384}, {97, 73, 512, 384},   {641, 479, 512, 384},
                       {640, 480, 640, 480}, {640, 480, 320, 240}, {640, 480, 160, 120}, {640, 480, 97, 73}};
    for (const Size& s : sizes) {
        BITMAPINFOHEADER header;
        const std::vector<BYTE> camera = CameraFrame(s.sw, s.sh, header);
        CFrameStore one, ring;
        if (!one.Allocate(s.dw, s.dh, 1, 0, 1) || !ring.Allocate(s.dw, s.dh, 10, 0, 30))
            return;
        const RECT src = {0, 0, s.sw, s.sh}, dst = {0, 0, s.dw, s.dh};
        const DWORD bytes = one.GetSlot(0)->GetImageSize();
        const Timing hot =
            Time(31, 5, [&] { one.StoreFrame(camera.data(), camera.size(), &header, src, dst); });
        const Timing hotCopy = Time(31, 5, [&, copy = std::vector<BYTE>(bytes)]() mutable {
            std::memcpy(one.GetSlot(0)->GetBits(), copy.data(), bytes);
        });
        // The ring's slots are touched once before timing, so that first-touch page faults stay out.
        for (int i = 0; i < ring.GetSlotCount(); ++i)
            ring.StoreFrame(camera.data(), camera.size(), &header, src, dst);
        const Timing cold =
            Time(9, 300, [&] { ring.StoreFrame(camera.data(), camera.size(), &header, src, dst); });
        int next = 0;
        const Timing coldCopy = Time(9, 300, [&] {
            std::memcpy(ring.GetSlot(next)->GetBits(), camera.data(), bytes);
            next = (next + 1) % ring.GetSlotCount();
        });
        char what[64];
        std::snprintf(what, sizeof what, "%dx%d -> %dx%d", s.sw, s.sh, s.dw, s.dh);
        std::printf("  %-20s %7.3f ms %6.2f x (best %6.2f x)   %7.3f ms %6.2f x (best %6.2f x) %s\n", what,
                    hot.median, hot.median / hotCopy.median, hot.best / hotCopy.best, cold.median,
                    cold.median / coldCopy.median, cold.best / coldCopy.best,
                    s.sw == 640 && s.sh == 480 && s.dw == 512 ? "(goal <= 10)" : "");
    }
}

void Blend() {
    const DWORD bytes = 512 * 384 * 3;
    CFrameImage b(512, 384, 24);
    auto plain = ImageWithMmx(0), packed = ImageWithMmx(1);
    for (DWORD i = 0; i < bytes; ++i)
        plain->GetBits()[i] = packed->GetBits()[i] = static_cast<BYTE>(i * 7);
    const double copy = MemcpyMs(bytes);
    std::printf("blend of one 512x384 frame (BlendInto)\n");
    Report("plain path", MedianMs(15, 20, [&] { plain->BlendInto(&b, 37); }), copy);
    Report(packed->IsPackedBlend() ? "packed path" : "packed path (not selected!)",
           MedianMs(15, 20, [&] { packed->BlendInto(&b, 37); }), copy);
}

void ClipMaking() {
    const DWORD frameBytes = 512 * 384 * 3;
    const double clipBytes = 300.0 * frameBytes;
    CFrameStore store;
    if (!store.Allocate(512, 384, 5, 5, 30))
        return;
    BITMAPINFOHEADER header;
    const std::vector<BYTE> camera = CameraFrame(640, 480, header);
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};
    for (int i = 0; i < 300; ++i)
        store.StoreFrame(camera.data(), camera.size(), &header, src, dst);
    const LOGFONTA font = CaptionFont();

    std::vector<double> cutMs, prepareMs, applyMs, totalMs;
    for (int r = 0; r < 7; ++r) {
        CFrameArray clip;
        CCaption caption;
        const double start = Now();
        store.CutInto(&clip);
        const double cut = Now();
        caption.Prepare(font, "ZELKOR", 6, 512, 384);
        const double prepared = Now();
        caption.ApplyTo(clip);
        const double applied = Now();
        cutMs.push_back(cut - start);
        prepareMs.push_back(prepared - cut);
        applyMs.push_back(applied - prepared);
        totalMs.push_back(applied - start);
    }
    // Three baselines for the clip's 300 frames: the one-frame copy of the live path 300 times
    // (hot in the cache), one copy of all the ring's bytes into memory touched before, and the
    // same into fresh memory, which the cut has to fill (the system zeroes each page first).
    const double hot = MemcpyMs(frameBytes) * 300;
    std::vector<BYTE> touched(static_cast<size_t>(clipBytes), 1);
    const double warm = MedianMs(5, 1, [&] {
        for (int i = 0; i < 300; ++i)
            std::memcpy(touched.data() + static_cast<size_t>(i) * frameBytes, store.GetSlot(i)->GetBits(),
                        frameBytes);
    });
    const double fresh = MedianMs(5, 1, [&] {
        std::vector<void*> blocks;
        for (int i = 0; i < 300; ++i) {
            void* p = VirtualAlloc(nullptr, frameBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            std::memcpy(p, store.GetSlot(i)->GetBits(), frameBytes);
            blocks.push_back(p);
        }
        for (void* p : blocks)
            VirtualFree(p, 0, MEM_RELEASE);
    });
    const double clipMs = Median(totalMs);
    std::printf(
        "clip making at the defaults (300 frames of 512x384, %.0f MB); goal: at most 10 x memcpy of the "
        "clip's bytes\n",
        clipBytes / 1048576);
    std::printf("  %-46s %9.3f ms\n", "CutInto (300 new images, 299 copies)", Median(cutMs));
    std::printf("  %-46s %9.3f ms\n", "CCaption::Prepare (text drawn once with GDI)", Median(prepareMs));
    std::printf("  %-46s %9.3f ms\n", "CCaption::ApplyTo (300 frames)", Median(applyMs));
    std::printf("  %-46s %9.3f ms\n", "cut + caption", clipMs);
    std::printf("    %6.2f x memcpy of the clip's bytes into fresh memory, as a clip needs (goal <= 10)\n",
                clipMs / fresh);
    std::printf("    %6.2f x memcpy of the clip's bytes into memory touched before\n", clipMs / warm);
    std::printf("    %6.2f x 300 one-frame memcpys hot in the cache\n", clipMs / hot);
    std::printf("  memcpy baselines: %.1f ms into fresh memory, %.1f ms into touched memory, %.1f ms hot\n",
                fresh, warm, hot);

    // The caption drawn with GDI into each frame, as the clip maker would without CCaption.
    CFrameArray clip;
    store.CutInto(&clip);
    win::UniqueFont hfont(CreateFontIndirectA(&font));
    const double start = Now();
    for (int i = 0; i < clip.GetSize(); ++i) {
        CFrameDc dc(*clip.GetAt(i));
        CCaption::Draw(dc.get(), hfont.get(), "ZELKOR", 6);
    }
    const double gdiMs = Now() - start;
    std::printf("  %-46s %9.3f ms (%.0f x Prepare + ApplyTo)\n",
                "caption drawn with GDI into each of 300 frames", gdiMs,
                gdiMs / (Median(prepareMs) + Median(applyMs)));
}

// A sound capture whose thread has ended, with the defaults' ring of 10 s in whole blocks.
class EndedSound final : public IClipSound {
public:
    static constexpr DWORD kRingBytes = 1763840;
    BOOL WaitForEnd(DWORD) const override { return TRUE; }
    void TakeRingInto(SoundBlock& block) const override {
        block.TakeRing(m_ring.data(), static_cast<int>(m_ring.size()), 22048 * 37);
    }
    DWORD GetRingSize() const override { return kRingBytes; }
    int GetPost() const override { return 5; }
    BOOL Start() override { return TRUE; }

private:
    std::vector<BYTE> m_ring = std::vector<BYTE>(kRingBytes, 3);
};

// The clip maker's whole run on its worker at the defaults, and its steps one by one: the room
// test, the cut, the caption, the sound block, against a memcpy of the same bytes into fresh memory.
void ClipMakerSteps() {
    const DWORD frameBytes = 512 * 384 * 3;
    CFrameStore store;
    if (!store.Allocate(512, 384, 5, 5, 30))
        return;
    BITMAPINFOHEADER header;
    const std::vector<BYTE> camera = CameraFrame(640, 480, header);
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};
    for (int i = 0; i < 300; ++i)
        store.StoreFrame(camera.data(), camera.size(), &header, src, dst);
    store.ArmStop();
    for (int i = 0; i < 150; ++i)
        store.StoreFrame(camera.data(), camera.size(), &header, src, dst);
    const LOGFONTA font = CaptionFont();
    EndedSound sound;

    std::vector<double> roomMs, cutMs, captionMs, soundMs, makerMs;
    for (int r = 0; r < 7; ++r) {
        double t0 = Now();
        (void)CFrameStore::HasRoomForClip(&store);
        double t1 = Now();
        roomMs.push_back(t1 - t0);
        {
            CFrameArray clip;
            t0 = Now();
            store.CutInto(&clip);
            t1 = Now();
            CCaption caption;
            caption.Prepare(font, "ZELKOR", 6, 512, 384);
            caption.ApplyTo(clip);
            const double t2 = Now();
            SoundBlock block;
            sound.TakeRingInto(block);
            const double t3 = Now();
            cutMs.push_back(t1 - t0);
            captionMs.push_back(t2 - t1);
            soundMs.push_back(t3 - t2);
        }
        CClipMaker maker;
        win::UniqueHandle done(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        CClipMaker::Job job;
        job.pRing = &store;
        job.pSound = &sound;
        job.dwSoundWaitMs = 15000;
        job.lfCaption = font;
        job.strCaption = "ZELKOR";
        job.done = [&done] { SetEvent(done.get()); };
        t0 = Now();
        maker.Start(std::move(job));
        WaitForSingleObject(done.get(), 60000);
        makerMs.push_back(Now() - t0);
        CClipMaker::Result result;
        maker.TakeResult(result);
    }
    const double bytes = 300.0 * frameBytes + EndedSound::kRingBytes;
    const std::vector<BYTE> ring(EndedSound::kRingBytes, 3);
    const double fresh = MedianMs(5, 1, [&] {
        std::vector<void*> blocks;
        for (int i = 0; i < 300; ++i) {
            void* p = VirtualAlloc(nullptr, frameBytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
            std::memcpy(p, store.GetSlot(i)->GetBits(), frameBytes);
            blocks.push_back(p);
        }
        std::vector<BYTE> soundCopy(ring);
        for (void* p : blocks)
            VirtualFree(p, 0, MEM_RELEASE);
    });
    std::printf(
        "clip maker at the defaults (300 frames of 512x384 and 1763840 bytes of sound, %.0f MB); goal: "
        "at most 10 x memcpy of the same bytes into fresh memory (%.1f ms)\n",
        bytes / 1048576, fresh);
    std::printf("  %-46s %9.3f ms\n", "room test", Median(roomMs));
    std::printf("  %-46s %9.3f ms\n", "cut", Median(cutMs));
    std::printf("  %-46s %9.3f ms\n", "caption (prepare + apply)", Median(captionMs));
    std::printf("  %-46s %9.3f ms\n", "sound block (the ring rotated)", Median(soundMs));
    std::printf("  %-46s %9.3f ms %8.2f x memcpy (goal <= 10)\n", "whole run on the worker, start to result",
                Median(makerMs), Median(makerMs) / fresh);
}

void Capacity() {
    // Full-size clips with the test cap standing in for Windows' 10,000 GDI objects a process.
    MEMORYSTATUSEX status = {sizeof status};
    GlobalMemoryStatusEx(&status);
    const double clipBytes = 300.0 * 512 * 384 * 3;
    int failures = 0;
    AfxSetMessageBoxSink([&](const std::wstring&, UINT) {
        ++failures;
        return IDOK;
    });
    CFrameImage::SetGdiObjectLimitForTesting(10000);
    CFrameStore store;
    store.Allocate(512, 384, 5, 5, 30);
    const int freeAtStart = FreeGdiObjectSlots();
    // A few clips prove the count; the rest of memory is other engineers' on a shared machine.
    const int most = static_cast<int>(std::min<double>(10, status.ullAvailPhys / clipBytes / 4));
    CClipArray clips;
    for (int i = 0; i < most; ++i) {
        auto clip = std::make_unique<CFrameArray>();
        if (!store.CutInto(clip.get()))
            break;
        clips.Add(clip.release());
    }
    const int objects = freeAtStart - FreeGdiObjectSlots();
    std::printf(
        "clip capacity at full size (300 frames of 512x384, %.0f MB a clip), GDI cap 10,000 objects\n",
        clipBytes / 1048576);
    std::printf(
        "  %d of %d clips made, %d out-of-memory reports; GDI objects held by them: %d (own count %d)\n",
        clips.GetSize(), most, failures, objects, CFrameImage::GetGdiObjectCount());
    std::printf(
        "  so clips are bounded by memory only: %.0f MB available = about %.0f clips (the room test asks "
        "for twice the ring: %.0f)\n",
        status.ullAvailPhys / 1048576.0, status.ullAvailPhys / clipBytes,
        status.ullAvailPhys / (2 * clipBytes));
    std::printf(
        "  with a DC and a section per frame (two objects each) the cap would have allowed %d clips\n",
        (10000 - 2 * 300) / (2 * 300));
    CFrameImage::SetGdiObjectLimitForTesting(0);
    AfxSetMessageBoxSink(nullptr);
}

} // namespace

// With an argument, only the parts named run: live, blend, clip, maker, capacity.
int main(int argc, char** argv) {
    const auto wanted = [&](const char* part) {
        if (argc < 2)
            return true;
        for (int i = 1; i < argc; ++i)
            if (std::strcmp(argv[i], part) == 0)
                return true;
        return false;
    };
    if (wanted("live"))
        LiveScale();
    if (wanted("blend"))
        Blend();
    if (wanted("clip"))
        ClipMaking();
    if (wanted("maker"))
        ClipMakerSteps();
    if (wanted("capacity"))
        Capacity();
    return 0;
}
