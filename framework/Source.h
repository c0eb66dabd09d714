// CSource: a filter whose pins are CSourceStreams - the base of a push source.
//
// The filter owns its pins: a CSourceStream adds itself in its constructor and removes itself in
// its destructor, and ~CSource deletes whatever pins remain, last first.
//
// Threading: the state lock is the filter lock of every state method, of pin lookup and of each
// pin's connection and Active/Inactive.
#pragma once

#include <vector>

#include "BaseFilter.h"

class CSourceStream;

COM_CLASSES_BEGIN
class CSource : public CBaseFilter {
public:
    CSource(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);
    // The index of pPin among this filter's pins, or -1.
    int FindPinNumber(IPin* pPin);

protected:
    CCritSec m_cStateLock;
    std::vector<CSourceStream*> m_paStreams;
};
COM_CLASSES_END
