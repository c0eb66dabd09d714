// What a process holds, counted the way a leak test or a soak run needs it: its threads, its open
// handles, its private memory and its window-system objects.
//
// Wine leaves some of the usual counters unanswered, and each function here says so rather than
// answer 0: GetProcessHandleCount answers 0, so handles are counted from the system's handle list
// (NtQuerySystemInformation, SystemHandleInformation), which Wine does fill, by type; Wine 8 itself
// keeps a few handles for good (a registry key per device enumeration and per device property bag,
// an event per filter graph), and a leak test tells ours from those by type. The private usage of
// another process's memory counters is its Linux swap use, so private bytes are added up from its
// address space. GetGuiResources answers 0 for GDI and USER objects, which no process with a
// window really holds.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>

namespace proc {

// Threads of process pid, or -1 when they cannot be listed.
int ThreadsOf(DWORD pid);

// Open handles of process pid by object type (the system's type index), or empty when the system
// does not list them.
std::map<int, int> HandleTypesOf(DWORD pid);

// Open handles of process pid, or -1 when the system does not list them.
int HandlesOf(DWORD pid);

// How many more handles of each type `after` holds than `before` (types that did not grow are left
// out).
std::map<int, int> HandleGrowth(const std::map<int, int>& before, const std::map<int, int>& after);

// Private bytes (committed memory no other process shares) of the process behind hProcess, which
// needs PROCESS_QUERY_INFORMATION access; -1 when its address space cannot be read.
std::int64_t PrivateBytesOf(HANDLE hProcess);

// GDI objects (GR_GDIOBJECTS) or USER objects (GR_USEROBJECTS) of the process behind hProcess; -1
// when not reported (0 counts as not reported: every process with a window holds some).
int GuiObjectsOf(HANDLE hProcess, DWORD which);

inline int ThreadsOfThisProcess() {
    return ThreadsOf(GetCurrentProcessId());
}
inline std::map<int, int> HandleTypesOfThisProcess() {
    return HandleTypesOf(GetCurrentProcessId());
}
inline int HandlesOfThisProcess() {
    return HandlesOf(GetCurrentProcessId());
}

} // namespace proc
