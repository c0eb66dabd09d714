// INonDelegatingUnknown, CUnknown and GetInterface: reference counting and aggregation for every
// COM object of a filter module.
//
// An object's "owner" is the outer unknown when it is aggregated, else its own non-delegating
// unknown. The interfaces a derived class hands out route QueryInterface, AddRef and Release to the
// owner (DECLARE_IUNKNOWN below), so an aggregated object answers with the outer object's identity
// and reference count; only the outer object reaches the inner one's NonDelegating* methods.
//
// Threading: reference counts change with interlocked operations and may be touched from any thread.
#pragma once

#include <windows.h>

#include <unknwn.h>

#include "BaseObject.h"

// COM objects are deleted only by their own Release, never through an interface pointer, so the
// platform interfaces' non-virtual destructors are never the ones that run. GCC's
// -Wnon-virtual-dtor cannot know that and flags every class that implements an interface; classes
// that do are declared between these two markers.
#if defined(__GNUC__)
#define COM_CLASSES_BEGIN                                                                                    \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wnon-virtual-dtor\"")
#define COM_CLASSES_END _Pragma("GCC diagnostic pop")
#else
#define COM_CLASSES_BEGIN
#define COM_CLASSES_END
#endif

// The inner unknown of an aggregatable object. Its table has the shape of IUnknown's (three
// methods, same calling convention), which is what lets an outer object hold it as an IUnknown.
class INonDelegatingUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // The count starts at 0; whoever creates the object takes the first reference.
    CUnknown(const wchar_t* pName, LPUNKNOWN pUnk);
    CUnknown(const CUnknown&) = delete;
    CUnknown& operator=(const CUnknown&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;
    virtual ~CUnknown() = default;

    // The outer unknown when aggregated, else this object's own non-delegating unknown.
    LPUNKNOWN GetOwner() const { return m_pUnknown; }

    // This object's non-delegating unknown seen as an IUnknown: what an aggregating outer object
    // holds, and what QueryInterface(IID_IUnknown) hands out.
    LPUNKNOWN NonDelegatingUnknown() {
        return reinterpret_cast<LPUNKNOWN>(static_cast<INonDelegatingUnknown*>(this));
    }

protected:
    volatile LONG m_cRef = 0;

private:
    const LPUNKNOWN m_pUnknown;
};

// Hands out pUnk as the answer of a QueryInterface: stores it in *ppv with a reference.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The IUnknown methods of every interface a CUnknown-derived class implements: all go to the owner.
#define DECLARE_IUNKNOWN                                                                                     \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                                          \
        return GetOwner()->QueryInterface(riid, ppv);                                                        \
    }                                                                                                        \
    STDMETHODIMP_(ULONG) AddRef() override {                                                                 \
        return GetOwner()->AddRef();                                                                         \
    }                                                                                                        \
    STDMETHODIMP_(ULONG) Release() override {                                                                \
        return GetOwner()->Release();                                                                        \
    }
