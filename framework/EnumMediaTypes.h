// CEnumMediaTypes: the IEnumMediaTypes a CBasePin hands out, over the pin's
// GetMediaType(position).
//
// Every type it gives is a new task-allocated copy the caller frees with DeleteMediaType. When the
// pin's type version moves (the types it offers changed), Next, Skip and Clone answer
// VFW_E_ENUM_OUT_OF_SYNC until Reset.
#pragma once

#include <wrl/client.h>

#include "DShowHeaders.h"
#include "Unknown.h"

class CBasePin;

COM_CLASSES_BEGIN
class CEnumMediaTypes : public IEnumMediaTypes, public CBaseObject {
public:
    // A new enumerator with one reference, or null when memory runs out.
    static CEnumMediaTypes* Create(CBasePin* pPin, const CEnumMediaTypes* pCopy);
    virtual ~CEnumMediaTypes();

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
    STDMETHODIMP Skip(ULONG cMediaTypes) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

private:
    CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pCopy);
    BOOL AreWeOutOfSync() const;

    volatile LONG m_cRef = 1;
    int m_Position = 0;
    const Microsoft::WRL::ComPtr<CBasePin> m_pPin; // keeps the pin, hence its filter, alive
    LONG m_Version = 0;
};
COM_CLASSES_END
