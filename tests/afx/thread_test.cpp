// CWinThread's two modes: owned threads keep their handle (and so their exit code) until the owner
// deletes them, joins are bounded, auto-delete threads clean up after themselves even when they end
// before AfxBeginThread returns, and an exception never leaves a thread procedure.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "UniqueAny.h"
#include "afx_thread.h"
#include "report_recorder.h"
#include "throwers.h"

namespace {

using afx_test::ReportRecorder;

win::UniqueHandle NewEvent() {
    return win::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

UINT __cdecl ReturnParam(LPVOID param) {
    return static_cast<UINT>(reinterpret_cast<UINT_PTR>(param));
}

// A thread that runs until the test opens the gate, then says so and ends with 7.
struct Gate {
    win::UniqueHandle open = NewEvent();
    win::UniqueHandle passed = NewEvent();
};

UINT __cdecl WaitAtGate(LPVOID param) {
    auto* gate = static_cast<Gate*>(param);
    WaitForSingleObject(gate->open.get(), 10000);
    SetEvent(gate->passed.get());
    return 7;
}

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = 0xDEADBEEF;
    EXPECT_TRUE(GetExitCodeThread(thread, &code)) << "error " << GetLastError();
    return code;
}

// Starts and finishes short auto-delete threads, so that freed handle values get handed out again.
void ChurnHandles() {
    for (int i = 0; i < 20; ++i) {
        Gate gate;
        ASSERT_TRUE(AfxBeginThread(&WaitAtGate, &gate));
        SetEvent(gate.open.get());
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gate.passed.get(), 10000));
    }
}

// The two ways of making an owned thread.
enum class OwnedBy { BeginOwned, SuspendedThenResumed };

std::unique_ptr<CWinThread> StartOwned(OwnedBy how, AFX_THREADPROC proc, LPVOID param) {
    if (how == OwnedBy::BeginOwned)
        return AfxBeginOwnedThread(proc, param);
    std::unique_ptr<CWinThread> thread(
        AfxBeginThread(proc, param, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED));
    if (!thread)
        return nullptr;
    // Suspended means it has not run: no exit code yet, and it was suspended exactly once.
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), ExitCodeOf(*thread));
    thread->m_bAutoDelete = FALSE;
    EXPECT_EQ(1u, thread->ResumeThread());
    return thread;
}

const char* Name(OwnedBy how) {
    return how == OwnedBy::BeginOwned ? "AfxBeginOwnedThread" : "suspended, m_bAutoDelete FALSE, resumed";
}

} // namespace

TEST(OwnedThreadTest, HandleAndExitCodeOutliveTheThreadUntilTheOwnerDeletesIt) {
    for (OwnedBy how : {OwnedBy::BeginOwned, OwnedBy::SuspendedThenResumed}) {
        SCOPED_TRACE(Name(how));
        // The thread ends at once, quite possibly before the start call has returned.
        std::unique_ptr<CWinThread> thread = StartOwned(how, &ReturnParam, reinterpret_cast<LPVOID>(42));
        ASSERT_TRUE(thread);
        EXPECT_NE(0u, thread->m_nThreadID);
        ASSERT_TRUE(thread->Join(10000));

        ChurnHandles();
        // Still the same thread behind the handle: ended, with its own exit code.
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(*thread, 0));
        EXPECT_EQ(42u, ExitCodeOf(*thread));
        EXPECT_EQ(thread->m_nThreadID, GetThreadId(*thread));
    }
}

TEST(OwnedThreadTest, JoinIsBoundedAndTellsARunningThreadFromAnEndedOne) {
    for (OwnedBy how : {OwnedBy::BeginOwned, OwnedBy::SuspendedThenResumed}) {
        SCOPED_TRACE(Name(how));
        Gate gate;
        std::unique_ptr<CWinThread> thread = StartOwned(how, &WaitAtGate, &gate);
        ASSERT_TRUE(thread);
        EXPECT_FALSE(thread->Join(50)) << "the thread is still waiting at its gate";
        EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), ExitCodeOf(*thread));
        EXPECT_FALSE(thread->Join(0));

        SetEvent(gate.open.get());
        ASSERT_TRUE(thread->Join(10000));
        EXPECT_EQ(7u, ExitCodeOf(*thread));
        EXPECT_TRUE(thread->Join(0)) << "joining an ended thread again answers at once";
    }
}

TEST(OwnedThreadTest, OwnerMayDeleteTheObjectWhileTheThreadStillRuns) {
    // After a join timed out the owner may still delete its object; the thread runs on without it.
    Gate gate;
    std::unique_ptr<CWinThread> thread = AfxBeginOwnedThread(&WaitAtGate, &gate);
    ASSERT_TRUE(thread);
    ASSERT_FALSE(thread->Join(20));
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), *thread, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    const win::UniqueHandle ownCopy(copy);
    thread.reset();

    // Fill the freed block's likely successors with set bits: a thread that still read its object
    // after its procedure would now find m_bAutoDelete set and delete a block it does not own.
    std::vector<std::unique_ptr<char[]>> filler;
    for (int i = 0; i < 64; ++i) {
        filler.emplace_back(new char[sizeof(CWinThread)]);
        std::memset(filler.back().get(), 0xFF, sizeof(CWinThread));
    }
    SetEvent(gate.open.get());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(gate.passed.get(), 10000));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ownCopy.get(), 10000));
    EXPECT_EQ(7u, ExitCodeOf(ownCopy.get()));
    for (const auto& block : filler)
        EXPECT_EQ(static_cast<char>(0xFF), block[0]);
}

namespace {

// One auto-delete thread of the burst below: it keeps a handle of its own to itself (the object's
// handle dies with it), records that it ran, and ends with its index.
struct BurstSlot {
    UINT index = 0;
    HANDLE self = nullptr;
    std::atomic<int> runs{0};
    std::atomic<bool> ended{false};
};

UINT __cdecl RunBurstSlot(LPVOID param) {
    auto* slot = static_cast<BurstSlot*>(param);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &slot->self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    ++slot->runs;
    slot->ended = true;
    return slot->index;
}

} // namespace

TEST(AutoDeleteThreadTest, ThreadsThatEndBeforeTheStartReturnsRunOnceAndCleanUp) {
    // Each thread ends at once, so many end (and delete their object) while AfxBeginThread is still
    // on its way out. The returned pointer is only tested, never followed.
    constexpr UINT kThreads = 200;
    std::vector<BurstSlot> slots(kThreads);
    int endedFirst = 0;
    for (UINT i = 0; i < kThreads; ++i) {
        slots[i].index = 1000 + i;
        ASSERT_TRUE(AfxBeginThread(&RunBurstSlot, &slots[i]) != nullptr) << i;
        endedFirst += slots[i].ended ? 1 : 0;
    }
    for (UINT i = 0; i < kThreads; ++i) {
        SCOPED_TRACE(i);
        for (int wait = 0; wait < 1000 && !slots[i].ended; ++wait)
            Sleep(10);
        ASSERT_TRUE(slots[i].ended);
        const win::UniqueHandle self(slots[i].self);
        ASSERT_TRUE(self);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(self.get(), 10000));
        EXPECT_EQ(1, slots[i].runs.load());
        EXPECT_EQ(1000 + i, ExitCodeOf(self.get()));
    }
    std::printf("[ figures  ] %d of %u threads had ended before AfxBeginThread returned\n", endedFirst,
                kThreads);
}

namespace {

UINT __cdecl RaiseThrower(LPVOID param) {
    static_cast<const afx_test::Thrower*>(param)->raise();
    return 0;
}

} // namespace

TEST(ThreadBarrierTest, AnExceptionEndsTheThreadWithAFailureCodeAfterItsReport) {
    ReportRecorder reports;
    for (const afx_test::Thrower& thrower : afx_test::kThrowers) {
        SCOPED_TRACE(thrower.name);
        reports.Clear();
        std::unique_ptr<CWinThread> thread =
            AfxBeginOwnedThread(&RaiseThrower, const_cast<afx_test::Thrower*>(&thrower));
        ASSERT_TRUE(thread);
        ASSERT_TRUE(thread->Join(10000));
        EXPECT_EQ(thrower.outOfMemory ? kThreadExitOutOfMemory : kThreadExitException, ExitCodeOf(*thread));
        EXPECT_EQ(std::vector<std::wstring>{afx_test::ExpectedReport(thrower)}, reports.Texts());
    }
}

TEST(ThreadBarrierTest, AnAutoDeleteThreadThatThrowsIsReportedAndTheProcessRunsOn) {
    ReportRecorder reports;
    for (const afx_test::Thrower& thrower : afx_test::kThrowers) {
        SCOPED_TRACE(thrower.name);
        reports.Clear();
        ASSERT_TRUE(AfxBeginThread(&RaiseThrower, const_cast<afx_test::Thrower*>(&thrower)));
        ASSERT_TRUE(reports.WaitForCount(1, 10000));
        EXPECT_EQ(std::vector<std::wstring>{afx_test::ExpectedReport(thrower)}, reports.Texts());
    }
    // The process is still here to start and join another thread.
    std::unique_ptr<CWinThread> after = AfxBeginOwnedThread(&ReturnParam, reinterpret_cast<LPVOID>(5));
    ASSERT_TRUE(after);
    ASSERT_TRUE(after->Join(10000));
    EXPECT_EQ(5u, ExitCodeOf(*after));
}
