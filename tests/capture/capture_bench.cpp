// capture_bench: what one frame and one clip cost at the defaults (512 x 384 slots, 300 frames
// per clip), each set against a plain memcpy of the same bytes. Prints medians of repeated runs.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FrameStore.h"
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

// Median over `runs` of the milliseconds one call of op takes, averaged over `calls` calls a run.
double MedianMs(int runs, int calls, const std::function<void()>& op) {
    op(); // warm caches and pages
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        const double start = Now();
        for (int c = 0; c < calls; ++c)
            op();
        ms.push_back((Now() - start) / calls);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

void Report(const char* what, double ms, double bytes, double memcpyMs) {
    std::printf("%-40s %9.3f ms %9.0f MB/s %7.2f x memcpy\n", what, ms, bytes / (ms / 1000.0) / 1e6,
                ms / memcpyMs);
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

// Objects the process can still create before its GDI handle table is full (GetGuiResources
// answers 0 under Wine).
int FreeGdiObjects() {
    std::vector<HRGN> regions;
    regions.reserve(70000);
    while (HRGN r = CreateRectRgn(0, 0, 1, 1))
        regions.push_back(r);
    for (HRGN r : regions)
        DeleteObject(r);
    return static_cast<int>(regions.size());
}

} // namespace

int main() {
    const int runs = 15;
    const DWORD slotBytes = 512 * 384 * 3;

    CFrameImage a(512, 384, 24), b(512, 384, 24);
    for (DWORD i = 0; i < slotBytes; ++i)
        a.GetBits()[i] = static_cast<BYTE>(i * 7);
    const double memcpyMs = MedianMs(runs, 50, [&] { std::memcpy(b.GetBits(), a.GetBits(), slotBytes); });

    CFrameStore store;
    if (!store.Allocate(512, 384, 5, 5, 30)) {
        std::printf("the store could not be allocated\n");
        return 1;
    }
    BITMAPINFOHEADER header = {sizeof header, 640, 480, 1, 24, BI_RGB, 921600, 0, 0, 0, 0};
    std::vector<BYTE> camera(921600);
    for (size_t i = 0; i < camera.size(); ++i)
        camera[i] = static_cast<BYTE>(i / 1920 + i % 1920);
    const RECT src = {0, 0, 640, 480}, dst = {0, 0, 512, 384};
    const double storeMs =
        MedianMs(runs, 30, [&] { store.StoreFrame(camera.data(), camera.size(), &header, src, dst); });
    const double copyMs = MedianMs(runs, 50, [&] { a.CopyTo(&b); });

    auto plain = ImageWithMmx(0), packed = ImageWithMmx(1);
    a.CopyTo(plain.get());
    a.CopyTo(packed.get());
    const double plainMs = MedianMs(runs, 20, [&] { plain->BlendInto(&b, 37); });
    const double packedMs = MedianMs(runs, 20, [&] { packed->BlendInto(&b, 37); });

    const double clipMemcpyMs = memcpyMs * 299;
    std::vector<double> cutMs, keepMs;
    for (int r = 0; r < 7; ++r) {
        CFrameArray clip;
        const double start = Now();
        store.CutInto(&clip);
        const double cut = Now();
        clip.KeepPixelsOnly();
        keepMs.push_back(Now() - cut);
        cutMs.push_back(cut - start);
    }
    std::sort(cutMs.begin(), cutMs.end());
    std::sort(keepMs.begin(), keepMs.end());

    std::printf("per frame, 512 x 384 x 24 (%lu bytes); medians of %d runs\n",
                static_cast<unsigned long>(slotBytes), runs);
    Report("memcpy of one frame", memcpyMs, slotBytes, memcpyMs);
    Report("StoreFrame 640x480 -> 512x384 (scaled)", storeMs, slotBytes, memcpyMs);
    Report("CopyTo", copyMs, slotBytes, memcpyMs);
    Report("BlendInto, plain path", plainMs, slotBytes, memcpyMs);
    Report(packed->IsPackedBlend() ? "BlendInto, packed path" : "BlendInto (packed not selected!)", packedMs,
           slotBytes, memcpyMs);
    std::printf("per clip, 300 frames; median of %zu cuts\n", cutMs.size());
    Report("CutInto (300 new images, 299 copies)", cutMs[cutMs.size() / 2], 299.0 * slotBytes, clipMemcpyMs);
    Report("KeepPixelsOnly of the clip (300 frames)", keepMs[keepMs.size() / 2], 300.0 * slotBytes,
           memcpyMs * 300);

    // Clip capacity as far as GDI objects go. The count per clip does not depend on the frame
    // size, so small frames (300 of 32 x 24) stand in for the defaults, whose memory would run
    // out first here. A clip whose frames keep their DCs holds two objects per frame; after
    // KeepPixelsOnly it holds none.
    int failures = 0;
    AfxSetMessageBoxSink([&](const std::wstring&, UINT) {
        ++failures;
        return IDOK;
    });
    CFrameStore small;
    small.Allocate(32, 24, 5, 5, 30);
    const int freeAtStart = FreeGdiObjects();
    auto capacity = [&](bool keepPixelsOnly, int most, int* objectsPerClip) {
        CClipArray clips;
        int made = 0;
        while (made < most) {
            auto clip = std::make_unique<CFrameArray>();
            const int freeBefore = FreeGdiObjects();
            if (!small.CutInto(clip.get()))
                break;
            if (keepPixelsOnly)
                clip->KeepPixelsOnly();
            if (made == 0)
                *objectsPerClip = freeBefore - FreeGdiObjects();
            clips.Add(clip.release());
            ++made;
        }
        return made;
    };
    int perClipBefore = 0, perClipAfter = 0;
    const int before = capacity(false, 1000, &perClipBefore);
    const int after = capacity(true, 250, &perClipAfter);
    std::printf("clip capacity (GDI objects; %d free with a 300-slot ring allocated)\n", freeAtStart);
    std::printf("  frames keep their DC and bitmap: %d objects per clip, %d clips until the cut failed "
                "(Wine); Windows' 10,000-object quota: %d clips\n",
                perClipBefore, before, perClipBefore > 0 ? (10000 - 2 * 300) / perClipBefore : 0);
    std::printf("  frames keep their pixels only:   %d objects per clip, %d of %d clips made%s\n",
                perClipAfter, after, 250, after == 250 ? " (no limit reached; memory bounds it)" : "");
    AfxSetMessageBoxSink(nullptr);
    return 0;
}
