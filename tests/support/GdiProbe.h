// Counting and exhausting GDI objects, for the tests that count what a component holds and the
// benchmarks.
#pragma once

#include <windows.h>

#include <vector>

// GetGuiResources answers 0 under Wine, so GDI objects are counted by probing: the number of
// objects the process can still create before its handle table is full. Two probes with the
// same answer mean no object was created or lost in between.
inline int FreeGdiObjectSlots() {
    std::vector<HRGN> regions;
    regions.reserve(70000);
    while (HRGN r = CreateRectRgn(0, 0, 1, 1))
        regions.push_back(r);
    for (HRGN r : regions)
        DeleteObject(r);
    return static_cast<int>(regions.size());
}

// Fills the GDI handle table, leaving `spare` objects free, until destroyed.
class GdiExhaustion {
public:
    explicit GdiExhaustion(int spare) {
        regions_.reserve(70000);
        while (HRGN r = CreateRectRgn(0, 0, 1, 1))
            regions_.push_back(r);
        for (int i = 0; i < spare && !regions_.empty(); ++i) {
            DeleteObject(regions_.back());
            regions_.pop_back();
        }
    }
    ~GdiExhaustion() {
        for (HRGN r : regions_)
            DeleteObject(r);
    }
    GdiExhaustion(const GdiExhaustion&) = delete;
    GdiExhaustion& operator=(const GdiExhaustion&) = delete;
    size_t Held() const { return regions_.size(); }

private:
    std::vector<HRGN> regions_;
};
