// The RAII holders: each closes with its own function, exactly once, and keeps the last error.
#include <windows.h>

#include <gtest/gtest.h>

#include "ComScope.h"
#include "SelectObject.h"
#include "UniqueAny.h"

namespace {

bool HandleIsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

bool GdiObjectExists(HGDIOBJ h) {
    return GetObjectType(h) != 0;
}

} // namespace

TEST(UniqueAnyTest, KernelHandleClosesOnceAndKeepsTheLastError) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, raw);
    {
        win::UniqueHandle event(raw);
        EXPECT_TRUE(event.is_valid());
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "closing must not hide the caller's error";
    EXPECT_FALSE(HandleIsOpen(raw));
}

TEST(UniqueAnyTest, MoveResetReleaseAndPutTransferOwnership) {
    win::UniqueHandle a(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE raw = a.get();
    win::UniqueHandle b(std::move(a));
    EXPECT_FALSE(a.is_valid());
    EXPECT_EQ(raw, b.get());

    a = std::move(b);
    EXPECT_EQ(raw, a.get());
    EXPECT_TRUE(HandleIsOpen(raw));

    HANDLE released = a.release();
    EXPECT_FALSE(a);
    EXPECT_TRUE(HandleIsOpen(released)) << "release gives the handle up without closing it";
    a.reset(released);

    HANDLE* slot = a.put();
    EXPECT_FALSE(HandleIsOpen(raw)) << "put closes what was held before handing out the slot";
    *slot = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(HandleIsOpen(a.get()));
}

TEST(UniqueAnyTest, FileHolderTreatsInvalidHandleValueAsEmpty) {
    SetLastError(0xdeadbeef);
    win::UniqueFile file(
        CreateFileW(L"Z:\\no\\such\\folder\\file.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_NE(0xdeadbeefu, GetLastError());
    EXPECT_FALSE(file.is_valid());
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.get());
    win::UniqueHandle none;
    EXPECT_EQ(nullptr, none.get());
}

TEST(UniqueAnyTest, CloseReportsWhetherTheCloseFunctionSucceeded) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, raw);
    win::UniqueHandle event(raw);
    EXPECT_TRUE(event.close());
    EXPECT_FALSE(event.is_valid());
    EXPECT_FALSE(HandleIsOpen(raw));
    EXPECT_TRUE(event.close()) << "nothing held: nothing to fail";

    // A value that was never a handle: the close fails, the holder is empty all the same, and the
    // last error is the close's, for the caller to report.
    win::UniqueHandle bogus(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7ffffff0)));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(bogus.close());
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    EXPECT_FALSE(bogus.is_valid());

    win::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()));
    EXPECT_TRUE(key.close()) << "RegCloseKey reports success as ERROR_SUCCESS, not as TRUE";
}

TEST(UniqueAnyTest, GlobalAndVirtualMemoryAreReleasedWhole) {
    void* raw = VirtualAlloc(nullptr, 3 * 65536, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, raw);
    {
        win::UniqueVirtualMemory memory(raw);
        static_cast<BYTE*>(memory.get())[3 * 65536 - 1] = 1;
    }
    MEMORY_BASIC_INFORMATION info = {};
    ASSERT_EQ(sizeof info, VirtualQuery(raw, &info, sizeof info));
    EXPECT_EQ(DWORD{MEM_FREE}, info.State) << "the whole reservation went";

    win::UniqueGlobal block(GlobalAlloc(GPTR, 1064));
    ASSERT_TRUE(block);
    EXPECT_TRUE(block.close()) << "GlobalFree reports success as NULL";
    EXPECT_FALSE(block);
}

// The holder frees in the process it allocated in; this process stands in for the other one,
// through a handle of its own that is not the pseudo-handle.
TEST(UniqueAnyTest, RemoteMemoryIsReleasedInItsProcessAndMovesWithItsOwner) {
    win::UniqueHandle self(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                                       FALSE, GetCurrentProcessId()));
    ASSERT_TRUE(self);
    win::UniqueRemoteMemory first(self.get(), 2 * 65536);
    ASSERT_TRUE(first);
    void* raw = first.get();
    const BYTE value = 7;
    SIZE_T written = 0;
    ASSERT_TRUE(WriteProcessMemory(self.get(), static_cast<BYTE*>(raw) + 2 * 65536 - 1, &value, 1, &written));
    EXPECT_EQ(1u, written) << "the whole size is committed";

    win::UniqueRemoteMemory second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(raw, second.get());
    MEMORY_BASIC_INFORMATION info = {};
    {
        win::UniqueRemoteMemory third;
        third = std::move(second);
        ASSERT_EQ(sizeof info, VirtualQuery(raw, &info, sizeof info));
        EXPECT_EQ(DWORD{MEM_COMMIT}, info.State) << "a move frees nothing";
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "releasing must not hide the caller's error";
    ASSERT_EQ(sizeof info, VirtualQuery(raw, &info, sizeof info));
    EXPECT_EQ(DWORD{MEM_FREE}, info.State) << "released once, whole";
}

TEST(UniqueAnyTest, DcAndGdiObjectsAreFreedByTheirOwnFunctions) {
    HDC rawDc = CreateCompatibleDC(nullptr);
    HBITMAP rawBitmap = CreateCompatibleBitmap(rawDc, 4, 4);
    HFONT rawFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    LOGFONTW lf = {};
    ASSERT_NE(0, GetObjectW(rawFont, sizeof lf, &lf));
    HFONT ownFont = CreateFontIndirectW(&lf);
    ASSERT_NE(nullptr, rawDc);
    ASSERT_NE(nullptr, rawBitmap);
    ASSERT_NE(nullptr, ownFont);
    {
        win::UniqueDc dc(rawDc);
        win::UniqueBitmap bitmap(rawBitmap);
        win::UniqueFont font(ownFont);
        EXPECT_EQ(DWORD{OBJ_MEMDC}, GetObjectType(dc.get()));
    }
    EXPECT_FALSE(GdiObjectExists(rawDc));
    EXPECT_FALSE(GdiObjectExists(rawBitmap));
    EXPECT_FALSE(GdiObjectExists(ownFont));
}

TEST(UniqueAnyTest, RegistryKeyAndMappedViewClose) {
    win::UniqueRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()));
    EXPECT_TRUE(key.is_valid());
    key.reset();
    EXPECT_FALSE(key.is_valid());

    win::UniqueHandle section(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, nullptr));
    ASSERT_TRUE(section);
    void* raw = MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(nullptr, raw);
    {
        win::UniqueMappedView view(raw);
        static_cast<BYTE*>(view.get())[0] = 1;
    }
    MEMORY_BASIC_INFORMATION info = {};
    ASSERT_EQ(sizeof info, VirtualQuery(raw, &info, sizeof info));
    EXPECT_EQ(DWORD{MEM_FREE}, info.State) << "the view is unmapped";
}

TEST(SelectGuardTest, PutsThePreviousObjectBackSoTheSelectedOneCanBeDeleted) {
    win::UniqueDc dc(CreateCompatibleDC(nullptr));
    win::UniqueBitmap bitmap(CreateCompatibleBitmap(dc.get(), 8, 8));
    ASSERT_TRUE(dc && bitmap);
    HGDIOBJ before = GetCurrentObject(dc.get(), OBJ_BITMAP);
    {
        win::SelectGuard guard(dc.get(), bitmap.get());
        EXPECT_TRUE(guard.selected());
        EXPECT_EQ(bitmap.get(), GetCurrentObject(dc.get(), OBJ_BITMAP));
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_EQ(before, GetCurrentObject(dc.get(), OBJ_BITMAP));

    win::SelectGuard none(nullptr, bitmap.get());
    EXPECT_FALSE(none.selected());
}

TEST(ComScopeTest, UndoesOnlyWhatItDid) {
    {
        win::ComScope outer;
        ASSERT_EQ(S_OK, outer.hr());
        {
            win::ComScope inner;
            EXPECT_EQ(S_FALSE, inner.hr()) << "same model again still counts and is undone";
        }
        win::ComScope other(COINIT_MULTITHREADED);
        EXPECT_EQ(RPC_E_CHANGED_MODE, other.hr());
        EXPECT_FALSE(other.ok());
    }
    // Everything was undone: the thread may now choose the other model.
    win::ComScope mta(COINIT_MULTITHREADED);
    EXPECT_EQ(S_OK, mta.hr());
}
