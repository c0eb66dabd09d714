// What this process holds, counted the way a leak test needs it: its threads and its open
// handles. GetProcessHandleCount answers 0 under Wine, so handles are counted from the system's
// handle list (NtQuerySystemInformation, SystemHandleInformation), which Wine does fill, by type:
// Wine 8 itself keeps a few handles for good (a registry key per device enumeration and per device
// property bag, an event per filter graph), and a leak test tells ours from those by type.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <map>
#include <vector>

#include "UniqueAny.h"

namespace testing_support {

// Threads of this process, or -1 when they cannot be listed.
inline int ThreadsOfThisProcess() {
    const win::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    return count;
}

// Open handles of this process by object type (the system's type index), or empty when the
// system does not list them.
inline std::map<int, int> HandleTypesOfThisProcess() {
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
        if (entries[i].ownerPid == GetCurrentProcessId())
            ++types[entries[i].objectType];
    return types;
}

// Open handles of this process, or -1 when the system does not list them.
inline int HandlesOfThisProcess() {
    const std::map<int, int> types = HandleTypesOfThisProcess();
    if (types.empty())
        return -1;
    int count = 0;
    for (const auto& type : types)
        count += type.second;
    return count;
}

// How many more handles of each type `after` holds than `before` (types that did not grow are left
// out).
inline std::map<int, int> HandleGrowth(const std::map<int, int>& before, const std::map<int, int>& after) {
    std::map<int, int> growth;
    for (const auto& type : after) {
        const auto was = before.find(type.first);
        const int grew = type.second - (was == before.end() ? 0 : was->second);
        if (grew > 0)
            growth[type.first] = grew;
    }
    return growth;
}

} // namespace testing_support
