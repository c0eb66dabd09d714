#include "test_paths.h"

#include <windows.h>

#include "UniqueAny.h"

namespace testing_support {

std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::wstring MakeTempFolder(const wchar_t* tag) {
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    for (unsigned n = GetTickCount() & 0xFFFF;; ++n) {
        std::wstring dir = std::wstring(base) + L"zarvex_" + tag + L"_" +
                           std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(n);
        if (CreateDirectoryW(dir.c_str(), nullptr))
            return dir + L"\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
}

std::string ReadFileBytes(const std::wstring& path) {
    win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    if (!file)
        return std::string();
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got)
        out.append(buf, got);
    return out;
}

void RemoveFolder(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const win::UniqueFindHandle search(FindFirstFileW((folder + L"*").c_str(), &found));
    if (search) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveFolder(path + L"\\");
                continue;
            }
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            for (int attempt = 0; attempt < 50 && !DeleteFileW(path.c_str()); ++attempt)
                Sleep(20);
        } while (FindNextFileW(search.get(), &found));
    }
    RemoveDirectoryW(folder.c_str());
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file)
        return false;
    DWORD put = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
           put == bytes.size();
}

} // namespace testing_support
