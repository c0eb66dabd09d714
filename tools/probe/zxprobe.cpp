// zxprobe: small window probe for the run script.
//   zxprobe wait <title> <timeout-ms>   exit 0 once a top-level window with that title is visible
//   zxprobe close <title>               ask that window to close (WM_CLOSE) and wait for it to go
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Widen(const char* s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s, -1, &w[0], n);
    w.resize(w.size() - 1);
    return w;
}

HWND FindVisible(const std::wstring& title) {
    HWND hwnd = FindWindowW(nullptr, title.c_str());
    return (hwnd && IsWindowVisible(hwnd)) ? hwnd : nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: zxprobe wait <title> <timeout-ms> | close <title>\n");
        return 2;
    }
    const std::string verb = argv[1];
    const std::wstring title = Widen(argv[2]);
    if (verb == "wait") {
        const DWORD timeout = argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 30000;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < timeout) {
            if (FindVisible(title))
                return 0;
            Sleep(100);
        }
        return 1;
    }
    if (verb == "close") {
        HWND hwnd = FindWindowW(nullptr, title.c_str());
        if (!hwnd)
            return 1;
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        for (int i = 0; i < 100 && IsWindow(hwnd); ++i)
            Sleep(100);
        return IsWindow(hwnd) ? 1 : 0;
    }
    return 2;
}
