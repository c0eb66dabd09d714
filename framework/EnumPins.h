// CEnumPins: the IEnumPins a CBaseFilter hands out.
//
// It remembers every pin it already gave, so that when the filter's pin set changes (the pin
// version moved) Next starts over from the first pin and gives only pins not seen before. Skip and
// Clone answer VFW_E_ENUM_OUT_OF_SYNC after such a change; Reset takes the new state.
#pragma once

#include <vector>

#include <wrl/client.h>

#include "DShowHeaders.h"
#include "Unknown.h"

class CBaseFilter;
class CBasePin;

COM_CLASSES_BEGIN
class CEnumPins : public IEnumPins, public CBaseObject {
public:
    // A new enumerator with one reference, or null when memory runs out. pCopy: the enumerator to
    // clone, or null for a fresh one.
    static CEnumPins* Create(CBaseFilter* pFilter, const CEnumPins* pCopy);
    virtual ~CEnumPins();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cPins) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** ppEnum) override;

private:
    CEnumPins(CBaseFilter* pFilter, const CEnumPins* pCopy);
    BOOL AreWeOutOfSync() const;
    void Refresh();

    volatile LONG m_cRef = 1;
    int m_Position = 0;
    int m_PinCount = 0;
    const Microsoft::WRL::ComPtr<CBaseFilter> m_pFilter; // keeps the filter alive
    LONG m_Version = 0;
    std::vector<CBasePin*> m_PinCache;
};
COM_CLASSES_END
