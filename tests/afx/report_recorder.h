// Stands in for the user in front of the program's message boxes: records every text shown and
// answers OK. Installed for the recorder's lifetime.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "afx_app.h"
#include "wait_until.h"

namespace afx_test {

class ReportRecorder {
public:
    ReportRecorder() {
        AfxSetMessageBoxSink([this](const std::wstring& text, UINT) {
            std::lock_guard<std::mutex> hold(m_lock);
            m_texts.push_back(text);
            return IDOK;
        });
    }
    ~ReportRecorder() { AfxSetMessageBoxSink(nullptr); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    std::vector<std::wstring> Texts() const {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_texts;
    }
    void Clear() {
        std::lock_guard<std::mutex> hold(m_lock);
        m_texts.clear();
    }
    // Waits until at least n texts were shown; false after timeoutMs.
    bool WaitForCount(size_t n, DWORD timeoutMs) const {
        return testing_support::WaitUntil([&] { return Texts().size() >= n; }, timeoutMs, 10);
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::wstring> m_texts;
};

// The texts of the two reports.
inline const std::wstring kOutOfMemoryReport = L"Out of memory.";
inline const std::wstring kUnexpectedReport = L"Unexpected error.";

} // namespace afx_test
