#include "SoakOptions.h"

#include <cwchar>

#include "CommandLine.h"

namespace soak {

namespace {

bool ParseCount(const wchar_t* text, int low, int high, int* pValue) {
    wchar_t* end = nullptr;
    const long value = std::wcstol(text, &end, 10);
    if (end == text || *end != 0 || value < low || value > high)
        return false;
    *pValue = static_cast<int>(value);
    return true;
}

bool ParseSize(const wchar_t* text, SIZE* pSize) {
    wchar_t rest = 0;
    long width = 0, height = 0;
    if (std::swscanf(text, L"%ldx%ld%lc", &width, &height, &rest) != 2 || width <= 0 || height <= 0 ||
        width > 4096 || height > 4096)
        return false;
    *pSize = SIZE{width, height};
    return true;
}

} // namespace

bool ParseSoakOptions(SoakOptions* pOptions, std::wstring* pError) {
    const win::CommandLineArgs argv;
    if (argv.Count() == 0) {
        *pError = L"the command line cannot be read";
        return false;
    }
    struct Option {
        const wchar_t* name;
        int* value;
        int low, high;
    };
    const Option counts[] = {
        {L"--minutes", &pOptions->minutes, 1, 24 * 60},
        {L"--press-every", &pOptions->pressEverySeconds, 5, 3600},
        {L"--keep", &pOptions->keepClips, 1, 50},
        {L"--play-every", &pOptions->playEvery, 0, 1000},
        {L"--stall-every", &pOptions->stallEveryMinutes, 0, 24 * 60},
        {L"--stall-seconds", &pOptions->stallSeconds, 1, 600},
        {L"--restart-every", &pOptions->restartEveryMinutes, 0, 24 * 60},
        {L"--warmup", &pOptions->warmupMinutes, 0, 600},
    };
    for (int i = 1; i < argv.Count(); ++i) {
        const std::wstring name = argv[i];
        if (i + 1 >= argv.Count()) {
            *pError = name + L" needs a value";
            return false;
        }
        const wchar_t* value = argv[++i];
        bool known = false, ok = false;
        for (const Option& option : counts) {
            if (name == option.name) {
                known = true;
                ok = ParseCount(value, option.low, option.high, option.value);
            }
        }
        if (name == L"--size") {
            known = true;
            ok = ParseSize(value, &pOptions->clientSize);
        }
        if (!known) {
            *pError = L"unknown option " + name;
            return false;
        }
        if (!ok) {
            *pError = L"bad value for " + name + L": " + value;
            return false;
        }
    }
    return true;
}

const wchar_t* SoakUsage() {
    return L"usage: zxsoak [--minutes <n>] [--press-every <s>] [--keep <n>] [--play-every <n>]\n"
           L"              [--stall-every <m>] [--stall-seconds <s>] [--restart-every <m>]\n"
           L"              [--size <w>x<h>] [--warmup <m>]\n"
           L"(the options are described at the top of tools/soak/SoakOptions.h)\n";
}

} // namespace soak
