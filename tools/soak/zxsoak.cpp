// zxsoak: a long run of Zarvex.exe as a user would have it, watched for what grows. It drives the
// real dialog, with the Zarvex Test Camera as its camera and ZarvexViewer.exe streaming from
// ZarvexDevice, and prints one table row a minute and a verdict at the end (SoakRun.h, SoakReport.h).
//
//   zxsoak [options]       (SoakOptions.h; tools/soak/soak.sh sets up the bench and runs it)
//
// The table goes to the output, the events of the run (presses, clips, stalls, restarts, what the
// client said) to the error output. Exit code 0: the verdict passed; 1: it failed; 2: a bad command
// line; 3: the programs could not be started.
#include <windows.h>

#include <cstdio>
#include <string>

#include "SoakOptions.h"
#include "SoakRun.h"

namespace {

// The folder of this executable, where the build puts Zarvex.exe and the viewer too.
std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    const size_t slash = dir.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash + 1);
}

} // namespace

int main() {
    soak::SoakOptions options;
    std::wstring error;
    if (!soak::ParseSoakOptions(&options, &error)) {
        std::fwprintf(stderr, L"zxsoak: %ls\n%ls", error.c_str(), soak::SoakUsage());
        return 2;
    }
    try {
        soak::CSoakRun run(options, BinDir());
        return run.Run();
    } catch (...) {
        std::fprintf(stderr, "zxsoak: out of memory\n");
        return 3;
    }
}
