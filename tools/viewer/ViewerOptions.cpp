#include "ViewerOptions.h"

#include <cwchar>
#include <cstdlib>

#include "CommandLine.h"

namespace viewer {

namespace {

bool ParseSize(const wchar_t* text, SIZE* pSize) {
    wchar_t rest = 0;
    long width = 0, height = 0;
    if (std::swscanf(text, L"%ldx%ld%lc", &width, &height, &rest) != 2)
        return false;
    // Larger than any camera gives: a typing slip rather than a wish.
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return false;
    pSize->cx = width;
    pSize->cy = height;
    return true;
}

// Any screen position, negative ones included: a second monitor may lie left of or above the first.
bool ParsePosition(const wchar_t* text, POINT* pAt) {
    wchar_t rest = 0;
    long x = 0, y = 0;
    if (std::swscanf(text, L"%ld,%ld%lc", &x, &y, &rest) != 2)
        return false;
    pAt->x = x;
    pAt->y = y;
    return true;
}

} // namespace

bool ParseViewerOptions(ViewerOptions* pOptions, std::wstring* pError) {
    const win::CommandLineArgs argv;
    if (argv.Count() == 0) {
        *pError = L"the command line cannot be read";
        return false;
    }
    static const wchar_t* const kNames[] = {L"--device",       L"--size",           L"--at",
                                            L"--snapshot-dir", L"--snapshot-every", L"--seconds"};
    for (int i = 1; i < argv.Count(); ++i) {
        const std::wstring name = argv[i];
        bool known = false;
        for (const wchar_t* option : kNames)
            known = known || name == option;
        if (!known) {
            *pError = L"unknown option " + name;
            return false;
        }
        if (i + 1 >= argv.Count()) {
            *pError = name + L" needs a value";
            return false;
        }
        const wchar_t* value = argv[++i];
        wchar_t* end = nullptr;
        bool ok = true;
        if (name == L"--device") {
            pOptions->device = value;
            ok = !pOptions->device.empty();
        } else if (name == L"--size") {
            ok = ParseSize(value, &pOptions->size);
        } else if (name == L"--at") {
            ok = pOptions->placed = ParsePosition(value, &pOptions->at);
        } else if (name == L"--snapshot-dir") {
            pOptions->snapshotDir = value;
            ok = !pOptions->snapshotDir.empty();
        } else if (name == L"--snapshot-every") {
            const unsigned long ms = std::wcstoul(value, &end, 10);
            ok = end != value && *end == 0 && ms >= 10 && ms <= 3600000;
            pOptions->snapshotEveryMs = static_cast<DWORD>(ms);
        } else if (name == L"--seconds") {
            pOptions->seconds = std::wcstod(value, &end);
            ok = end != value && *end == 0 && pOptions->seconds > 0 && pOptions->seconds <= 86400;
        }
        if (!ok) {
            *pError = L"bad value for " + name + L": " + value;
            return false;
        }
    }
    if (pOptions->snapshotEveryMs > 0 && pOptions->snapshotDir.empty()) {
        *pError = L"--snapshot-every needs --snapshot-dir";
        return false;
    }
    return true;
}

const wchar_t* ViewerUsage() {
    return L"usage: ZarvexViewer [--device <name>] [--size <w>x<h>] [--at <x>,<y>] [--snapshot-dir <dir>]\n"
           L"                    [--snapshot-every <ms>] [--seconds <s>]\n";
}

} // namespace viewer
