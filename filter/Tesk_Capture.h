// CTesk_Capture: the ZarvexDevice video capture source filter. One output pin, CTesk_Stream
// ("RGB Out"), which serves the frames of the shared frame channel.
//
// The capture-device interfaces an application may ask of the filter itself (IAMStreamConfig,
// IKsPropertySet, ISpecifyPropertyPages, IZarvexSettings) are the pin's: the filter hands those
// requests on, so a page or client connected to the filter edits the pin.
#pragma once

#include "Source.h"

class CTesk_Stream;

COM_CLASSES_BEGIN
class CTesk_Capture : public CSource {
public:
    // The factory's creation function.
    static CUnknown* CALLBACK CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // The output pin, or null if it could not be made.
    CTesk_Stream* Stream();

private:
    CTesk_Capture(LPUNKNOWN pUnk, HRESULT* phr);
};
COM_CLASSES_END
