// Initialises COM on the constructing thread and undoes exactly what it did.
//
// CoInitializeEx answers S_FALSE when the thread was already initialised in the same model (that
// still needs a matching CoUninitialize) and RPC_E_CHANGED_MODE when it was initialised in another
// (which must not be undone by us). The scope uninitialises only after a success of either kind.
#pragma once

#include <objbase.h>

namespace win {

class ComScope {
public:
    explicit ComScope(DWORD dwCoInit = COINIT_APARTMENTTHREADED) noexcept
        : m_hr(::CoInitializeEx(nullptr, dwCoInit)) {}
    ~ComScope() {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    HRESULT hr() const noexcept { return m_hr; }
    bool ok() const noexcept { return SUCCEEDED(m_hr); }

private:
    const HRESULT m_hr;
};

} // namespace win
