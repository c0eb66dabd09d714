#include "ProcessorSwitch.h"

#include <intrin.h>

#include "afx_app.h"

bool ProcessorHasMmx() {
    // CPUID traps to the hypervisor on virtual machines; every image constructor asks, so ask once.
    static const bool hasMmx = [] {
        int regs[4] = {};
        __cpuid(regs, 1);
        return (regs[3] & (1 << 23)) != 0;
    }();
    return hasMmx;
}

BOOL IsPackedBlendSelected() {
    const CWinApp* app = AfxGetApp();
    const UINT value = app ? app->GetProfileInt("Technology", "MMX", 1) : 1;
    return value == 1 && ProcessorHasMmx();
}
