// The system's video input devices, found by friendly name through the system device enumerator,
// the way any video application lists cameras.
#pragma once

#include <windows.h>

#include <dshow.h>

#include <wrl/client.h>

#include <string>
#include <vector>

namespace viewer {

// The friendly names of every video input device, in the enumerator's order.
std::vector<std::wstring> ListVideoInputDevices();

// The device with this friendly name, bound to its filter. S_FALSE (and no filter) when no device
// has that name; a failure when the enumerator or the binding fails.
HRESULT OpenVideoInputDevice(const std::wstring& name, Microsoft::WRL::ComPtr<IBaseFilter>* pFilter);

} // namespace viewer
