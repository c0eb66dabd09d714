#include "LinuxSide.h"

#include <cctype>
#include <cstdlib>
#include <cwctype>

#include "UniqueAny.h"
#include "Utf8.h"

namespace soak {

namespace {

const wchar_t kProc[] = L"Z:\\proc\\";

// A whole file of /proc, whose files report a size of 0 and are read until they end.
std::string ReadProcFile(const std::wstring& path) {
    const win::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    if (!file)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0 && bytes.size() < (1u << 20))
        bytes.append(buffer, got);
    return bytes;
}

// The value of a NUL-separated environment block's variable, or "" when it is not set.
std::string EnvironmentValue(const std::string& block, const std::string& name) {
    const std::string key = name + "=";
    size_t at = 0;
    while (at < block.size()) {
        const size_t end = block.find('\0', at);
        const std::string entry = block.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (entry.compare(0, key.size(), key) == 0)
            return entry.substr(key.size());
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return std::string();
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The number after "<field>:" in a /proc status text, or -1.
long long StatusField(const std::string& status, const char* field) {
    const std::string key = std::string("\n") + field + ":";
    const size_t at = status.find(key);
    if (at == std::string::npos)
        return -1;
    return std::strtoll(status.c_str() + at + key.size(), nullptr, 10);
}

} // namespace

bool CLinuxSide::Attach(const std::wstring& exePath) {
    m_pid = 0;
    // /proc/self is this program's own Wine process: the prefix to look in.
    const std::string prefix =
        EnvironmentValue(ReadProcFile(std::wstring(kProc) + L"self\\environ"), "WINEPREFIX");
    const std::string wanted = Lower(win::Utf8(exePath));
    WIN32_FIND_DATAW found;
    const win::UniqueFindHandle search(FindFirstFileW((std::wstring(kProc) + L"*").c_str(), &found));
    if (!search)
        return false;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !std::iswdigit(found.cFileName[0]))
            continue;
        const std::wstring folder = std::wstring(kProc) + found.cFileName + L"\\";
        const std::string commandLine = ReadProcFile(folder + L"cmdline");
        // The first argument, up to its NUL: the path Wine gave the program.
        if (Lower(commandLine.substr(0, commandLine.find('\0'))) != wanted)
            continue;
        if (EnvironmentValue(ReadProcFile(folder + L"environ"), "WINEPREFIX") != prefix)
            continue;
        m_pid = std::wcstoul(found.cFileName, nullptr, 10);
        return true;
    } while (FindNextFileW(search.get(), &found));
    return false;
}

void CLinuxSide::Read(std::int64_t* pRssKb, int* pThreads) const {
    *pRssKb = -1;
    *pThreads = -1;
    if (!m_pid)
        return;
    const std::string status = ReadProcFile(std::wstring(kProc) + std::to_wstring(m_pid) + L"\\status");
    if (status.empty())
        return;
    *pRssKb = StatusField(status, "VmRSS");
    *pThreads = static_cast<int>(StatusField(status, "Threads"));
}

} // namespace soak

namespace soak {

double CLinuxSide::LoadAverage() {
    const std::string text = ReadProcFile(std::wstring(kProc) + L"loadavg");
    return text.empty() ? -1 : std::strtod(text.c_str(), nullptr);
}

} // namespace soak
