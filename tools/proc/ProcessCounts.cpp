#include "ProcessCounts.h"

#include <tlhelp32.h>

#include <cstring>
#include <vector>

#include "UniqueAny.h"

namespace proc {

int ThreadsOf(DWORD pid) {
    const win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == pid ? 1 : 0;
    return count;
}

std::map<int, int> HandleTypesOf(DWORD pid) {
    struct Entry { // SYSTEM_HANDLE_TABLE_ENTRY_INFO
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    using Query = LONG(WINAPI*)(ULONG infoClass, PVOID info, ULONG length, PULONG returned);
    const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::map<int, int> types;
    if (!query)
        return types;
    const ULONG kSystemHandleInformation = 16;
    const LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    ULONG returned = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           &returned)) == kInfoLengthMismatch &&
           buffer.size() < (1u << 28))
        buffer.resize(buffer.size() * 2);
    if (status != 0)
        return types;
    ULONG count = 0;
    std::memcpy(&count, buffer.data(), sizeof count);
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == pid)
            ++types[entries[i].objectType];
    return types;
}

int HandlesOf(DWORD pid) {
    const std::map<int, int> types = HandleTypesOf(pid);
    if (types.empty())
        return -1;
    int count = 0;
    for (const auto& type : types)
        count += type.second;
    return count;
}

std::map<int, int> HandleGrowth(const std::map<int, int>& before, const std::map<int, int>& after) {
    std::map<int, int> growth;
    for (const auto& type : after) {
        const auto was = before.find(type.first);
        const int grew = type.second - (was == before.end() ? 0 : was->second);
        if (grew > 0)
            growth[type.first] = grew;
    }
    return growth;
}

std::int64_t PrivateBytesOf(HANDLE hProcess) {
    // The process's committed private regions, added up. This is what private bytes are, and it is
    // asked of the address space itself: Wine's memory counters for another process report VmSwap
    // as the private usage, which is 0 on a machine that does not swap.
    std::int64_t total = 0;
    bool any = false;
    MEMORY_BASIC_INFORMATION region = {};
    for (const BYTE* address = nullptr;
         VirtualQueryEx(hProcess, address, &region, sizeof region) == sizeof region;
         address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        any = true;
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<std::int64_t>(region.RegionSize);
        if (region.RegionSize == 0)
            break; // cannot happen; guards the walk against a region that would not move it on
    }
    return any ? total : -1;
}

int GuiObjectsOf(HANDLE hProcess, DWORD which) {
    const DWORD count = GetGuiResources(hProcess, which);
    return count > 0 ? static_cast<int>(count) : -1;
}

} // namespace proc
