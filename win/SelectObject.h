// Puts a DC's previous object back when it leaves scope, so that the selected object (a bitmap, a
// font) can be deleted after the guard without ever being deleted while selected.
#pragma once

#include <windows.h>

namespace win {

class SelectGuard {
public:
    SelectGuard(HDC hdc, HGDIOBJ hObject) noexcept
        : m_hdc(hdc), m_hOld(hdc && hObject ? ::SelectObject(hdc, hObject) : nullptr) {}
    ~SelectGuard() {
        if (m_hOld && m_hOld != HGDI_ERROR) {
            const DWORD dwError = ::GetLastError();
            (void)::SelectObject(m_hdc, m_hOld); // putting back the DC's own object cannot fail
            ::SetLastError(dwError);
        }
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

    // False when the selection failed (a null DC or object, or one the DC refused).
    bool selected() const noexcept { return m_hOld != nullptr && m_hOld != HGDI_ERROR; }

private:
    HDC m_hdc;
    HGDIOBJ m_hOld;
};

} // namespace win
