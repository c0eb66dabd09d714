// One owner per Win32 handle: a move-only holder that names its close function in its type.
//
// Each handle kind is one line below (UniqueHandle, UniqueDc, UniqueBitmap, ...), so a reader sees
// at the declaration which function frees it: DeleteDC for a memory DC, never DeleteObject.
//
// Closing keeps the thread's last error: cleanup on a failure path must not hide the error the
// caller is about to report.
#pragma once

#include <windows.h>

#include <utility>

namespace win {

// How a handle kind is closed and which value means "nothing held".
template <typename T, auto Close, typename Invalid> struct HandlePolicy {
    using Type = T;
    static Type InvalidValue() noexcept { return Invalid::template Get<T>(); }
    // The close function's result is not examined: a holder has no caller to report it to, and
    // every close used here fails only for a handle that was never valid.
    static void CloseHandleValue(Type h) noexcept { (void)Close(h); }
    // The same close for a caller that reports its failure (UniqueAny::close).
    static bool CloseChecked(Type h) noexcept { return Succeeded(Close(h)); }

private:
    static bool Succeeded(BOOL result) noexcept { return result != FALSE; } // CloseHandle, DeleteDC, ...
    static bool Succeeded(LONG result) noexcept { return result == ERROR_SUCCESS; } // RegCloseKey
};

// Most handles are null when invalid; file handles use INVALID_HANDLE_VALUE.
struct NullInvalid {
    template <typename T> static T Get() noexcept { return T{}; }
};
struct MinusOneInvalid {
    template <typename T> static T Get() noexcept { return reinterpret_cast<T>(static_cast<LONG_PTR>(-1)); }
};

template <typename Policy> class UniqueAny {
public:
    using Type = typename Policy::Type;

    UniqueAny() noexcept : m_h(Policy::InvalidValue()) {}
    explicit UniqueAny(Type h) noexcept : m_h(h) {}
    ~UniqueAny() { reset(); }

    UniqueAny(UniqueAny&& other) noexcept : m_h(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;

    Type get() const noexcept { return m_h; }
    bool is_valid() const noexcept { return m_h != Policy::InvalidValue(); }
    explicit operator bool() const noexcept { return is_valid(); }

    // Closes what is held (keeping the last error) and takes h.
    void reset(Type h = Policy::InvalidValue()) noexcept {
        if (is_valid()) {
            const DWORD dwError = ::GetLastError();
            Policy::CloseHandleValue(m_h);
            ::SetLastError(dwError);
        }
        m_h = h;
    }
    // Closes what is held now and says whether the close function succeeded, for a caller that
    // reports a failed close (a file whose last buffered write fails at its close). Unlike reset,
    // the last error is then the close's own. Nothing held counts as success.
    bool close() noexcept {
        if (!is_valid())
            return true;
        return Policy::CloseChecked(release());
    }
    // Gives up ownership without closing.
    Type release() noexcept {
        Type h = m_h;
        m_h = Policy::InvalidValue();
        return h;
    }
    // For out-parameters (RegOpenKeyEx(..., key.put())): closes what is held first.
    Type* put() noexcept {
        reset();
        return &m_h;
    }

private:
    Type m_h;
};

template <typename T, auto Close> using UniqueNullable = UniqueAny<HandlePolicy<T, Close, NullInvalid>>;

// Kernel objects: events, mutexes, threads, file mappings, processes.
using UniqueHandle = UniqueNullable<HANDLE, &::CloseHandle>;
// Files from CreateFile, whose failure value is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueAny<HandlePolicy<HANDLE, &::CloseHandle, MinusOneInvalid>>;
// A view from MapViewOfFile.
using UniqueMappedView = UniqueNullable<void*, &::UnmapViewOfFile>;
// A DC from CreateCompatibleDC or CreateDC; a window's DC is WindowDc below.
using UniqueDc = UniqueNullable<HDC, &::DeleteDC>;
// GDI objects.
template <typename T> using UniqueGdiObject = UniqueNullable<T, &::DeleteObject>;
using UniqueBitmap = UniqueGdiObject<HBITMAP>;
using UniqueFont = UniqueGdiObject<HFONT>;
using UniqueBrush = UniqueGdiObject<HBRUSH>;
using UniquePen = UniqueGdiObject<HPEN>;
using UniqueRegion = UniqueGdiObject<HRGN>;
using UniqueIcon = UniqueNullable<HICON, &::DestroyIcon>;
// Registry keys.
using UniqueRegKey = UniqueNullable<HKEY, &::RegCloseKey>;
// A window made by CreateWindowEx; destroy it on the thread that made it.
using UniqueWindow = UniqueNullable<HWND, &::DestroyWindow>;
// A directory search from FindFirstFile, whose failure value is INVALID_HANDLE_VALUE.
using UniqueFindHandle = UniqueAny<HandlePolicy<HANDLE, &::FindClose, MinusOneInvalid>>;
// A module from LoadLibrary or LoadLibraryEx.
using UniqueModule = UniqueNullable<HMODULE, &::FreeLibrary>;
// Memory from GlobalAlloc (a fixed block's handle is its address). GlobalFree answers NULL when it
// succeeds, which GlobalRelease turns into TRUE.
inline BOOL GlobalRelease(HGLOBAL h) noexcept {
    return ::GlobalFree(h) == nullptr;
}
using UniqueGlobal = UniqueNullable<HGLOBAL, &GlobalRelease>;
// Memory from VirtualAlloc, released whole (VirtualFree with MEM_RELEASE, which takes size 0).
inline BOOL VirtualRelease(void* p) noexcept {
    return ::VirtualFree(p, 0, MEM_RELEASE);
}
using UniqueVirtualMemory = UniqueNullable<void*, &VirtualRelease>;
// Memory from LocalAlloc, or handed out by an API that says to free it with LocalFree (a security
// descriptor from ConvertStringSecurityDescriptorToSecurityDescriptor). LocalFree answers NULL when
// it succeeds.
inline BOOL LocalRelease(void* p) noexcept {
    return ::LocalFree(p) == nullptr;
}
using UniqueLocalMemory = UniqueNullable<void*, &LocalRelease>;

// A window's DC from GetDC: released to its window, which is why it cannot be a one-line alias.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : m_hwnd(hwnd), m_hdc(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (m_hdc) {
            const DWORD dwError = ::GetLastError();
            (void)::ReleaseDC(m_hwnd, m_hdc); // 0 only for a DC that was not the window's
            ::SetLastError(dwError);
        }
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return m_hdc; }
    explicit operator bool() const noexcept { return m_hdc != nullptr; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// Memory committed in another process with VirtualAllocEx, released there (MEM_RELEASE) when the
// holder goes. The process handle stays the caller's and must outlive the holder; it needs
// PROCESS_VM_OPERATION. This is how another process's controls get the structures that their
// messages point at (a list view's LVITEM).
class UniqueRemoteMemory {
public:
    UniqueRemoteMemory() noexcept = default;
    // Commits size bytes of read-write memory in process; empty when that fails (last error set).
    UniqueRemoteMemory(HANDLE process, SIZE_T size) noexcept
        : m_process(process),
          m_p(::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~UniqueRemoteMemory() { reset(); }
    UniqueRemoteMemory(UniqueRemoteMemory&& other) noexcept : m_process(other.m_process), m_p(other.m_p) {
        other.m_p = nullptr;
    }
    UniqueRemoteMemory& operator=(UniqueRemoteMemory&& other) noexcept {
        if (this != &other) {
            reset();
            m_process = other.m_process;
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }
    UniqueRemoteMemory(const UniqueRemoteMemory&) = delete;
    UniqueRemoteMemory& operator=(const UniqueRemoteMemory&) = delete;

    // The address in the other process: meaningful there only.
    void* get() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    void reset() noexcept {
        if (!m_p)
            return;
        const DWORD dwError = ::GetLastError();
        // Fails only when the process has ended, which took the memory with it.
        (void)::VirtualFreeEx(m_process, m_p, 0, MEM_RELEASE);
        ::SetLastError(dwError);
        m_p = nullptr;
    }

private:
    HANDLE m_process = nullptr;
    void* m_p = nullptr;
};

} // namespace win
