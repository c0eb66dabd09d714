// The COM object layer: reference counting, aggregation, interface lookup, the live-object and
// server-lock counts, and the class factory over a template table.
#include <windows.h>

#include <gtest/gtest.h>

#include <new>

#include "ClassFactory.h"
#include "FilterModule.h"
#include "FrameworkTestUtil.h"
#include "TestCameraIds.h"
#include "Unknown.h"

namespace {

// A minimal aggregatable object with one interface of its own (IPersist).
COM_CLASSES_BEGIN
class CPersistObject : public CUnknown, public IPersist {
public:
    CPersistObject(LPUNKNOWN pUnk, int* pDestroyed, bool selfRefInDestructor = false)
        : CUnknown(L"Persist object", pUnk), m_pDestroyed(pDestroyed), m_selfRef(selfRefInDestructor) {}
    ~CPersistObject() override {
        if (m_selfRef) {
            // What a destructor does when it hands itself to a helper that takes a reference.
            NonDelegatingAddRef();
            NonDelegatingRelease();
        }
        if (m_pDestroyed)
            ++*m_pDestroyed;
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IPersist)
            return GetInterface(static_cast<IPersist*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP GetClassID(CLSID* p) override {
        *p = CLSID_NULL;
        return S_OK;
    }

    LONG RefCount() const { return m_cRef; }

private:
    int* m_pDestroyed;
    bool m_selfRef;
};
COM_CLASSES_END

// An outer object that aggregates a CPersistObject and hands out its IPersist as its own.
COM_CLASSES_BEGIN
class COuter : public IUnknown {
public:
    explicit COuter(int* pInnerDestroyed) {
        m_pInner = new CPersistObject(this, pInnerDestroyed);
        m_pInnerUnknown = m_pInner->NonDelegatingUnknown();
        m_pInnerUnknown->AddRef(); // the inner unknown: non-delegating
    }
    virtual ~COuter() { m_pInnerUnknown->Release(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_pInnerUnknown->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG r = InterlockedDecrement(&m_cRef);
        if (r == 0)
            delete this;
        return static_cast<ULONG>(r);
    }

    LONG m_cRef = 1;
    CPersistObject* m_pInner;
    IUnknown* m_pInnerUnknown;
};
COM_CLASSES_END

int g_destroyed = 0;

CUnknown* CALLBACK CreatePersist(LPUNKNOWN pUnk, HRESULT*) {
    return new CPersistObject(pUnk, &g_destroyed);
}
CUnknown* CALLBACK CreateNothing(LPUNKNOWN, HRESULT*) {
    return nullptr;
}
CUnknown* CALLBACK CreateNothingDenied(LPUNKNOWN, HRESULT* phr) {
    *phr = E_ACCESSDENIED;
    return nullptr;
}
CUnknown* CALLBACK CreateBroken(LPUNKNOWN pUnk, HRESULT* phr) {
    *phr = E_ABORT;
    return new CPersistObject(pUnk, &g_destroyed);
}
CUnknown* CALLBACK CreateThrowing(LPUNKNOWN, HRESULT*) {
    throw std::bad_alloc();
}

const CLSID kPersistClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const CLSID kNothingClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};
const CLSID kDeniedClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 10}};
const CLSID kBrokenClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 11}};
const CLSID kThrowingClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 12}};
const CLSID kUnknownClsid = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 13}};

const CFactoryTemplate kTemplates[] = {
    {L"Persist", &kPersistClsid, CreatePersist, nullptr, nullptr},
    {L"Nothing", &kNothingClsid, CreateNothing, nullptr, nullptr},
    {L"Denied", &kDeniedClsid, CreateNothingDenied, nullptr, nullptr},
    {L"Broken", &kBrokenClsid, CreateBroken, nullptr, nullptr},
    {L"Throwing", &kThrowingClsid, CreateThrowing, nullptr, nullptr},
    {L"Test camera", &CLSID_ZarvexTestCamera, CTestCamera::CreateInstance, nullptr, nullptr},
};
const CFilterModule kModule(kTemplates, sizeof(kTemplates) / sizeof(kTemplates[0]), nullptr);

ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(S_OK, kModule.GetClassObject(clsid, IID_IClassFactory,
                                           reinterpret_cast<void**>(factory.GetAddressOf())));
    return factory;
}

class ComLayerTest : public testing::Test {
protected:
    void SetUp() override {
        g_destroyed = 0;
        m_liveAtStart = CBaseObject::ObjectsActive();
    }
    void TearDown() override {
        EXPECT_EQ(m_liveAtStart, CBaseObject::ObjectsActive()) << "a framework object leaked";
    }

    win::ComScope m_com;
    LONG m_liveAtStart = 0;
};

} // namespace

TEST_F(ComLayerTest, FirstAddRefGivesOneAndFinalReleaseDeletes) {
    int destroyed = 0;
    CPersistObject* p = new CPersistObject(nullptr, &destroyed);
    EXPECT_EQ(m_liveAtStart + 1, CBaseObject::ObjectsActive());
    EXPECT_EQ(0, p->RefCount());
    EXPECT_EQ(1u, p->NonDelegatingAddRef());
    EXPECT_EQ(2u, p->AddRef()); // not aggregated: the interface's AddRef is the object's own
    EXPECT_EQ(1u, p->Release());
    EXPECT_EQ(0, destroyed);
    EXPECT_EQ(0u, p->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(m_liveAtStart, CBaseObject::ObjectsActive());
}

TEST_F(ComLayerTest, ReferencesTakenDuringDestructionDoNotDeleteTwice) {
    int destroyed = 0;
    CPersistObject* p = new CPersistObject(nullptr, &destroyed, /*selfRefInDestructor=*/true);
    p->NonDelegatingAddRef();
    EXPECT_EQ(0u, p->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
}

TEST_F(ComLayerTest, QueryInterfaceAnswersItsOwnAndLeavesNullForTheRest) {
    int destroyed = 0;
    CPersistObject* p = new CPersistObject(nullptr, &destroyed);
    p->NonDelegatingAddRef();

    void* pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, p->QueryInterface(IID_IClassFactory, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(E_POINTER, p->NonDelegatingQueryInterface(IID_IUnknown, nullptr));

    IUnknown* pUnk = nullptr;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk)));
    EXPECT_EQ(p->NonDelegatingUnknown(), pUnk);
    EXPECT_EQ(2, p->RefCount());
    pUnk->Release();

    IPersist* pPersist = nullptr;
    ASSERT_EQ(S_OK, p->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pPersist)));
    EXPECT_EQ(static_cast<IPersist*>(p), pPersist);
    pPersist->Release();

    EXPECT_EQ(0u, p->NonDelegatingRelease());
    EXPECT_EQ(1, destroyed);
}

TEST_F(ComLayerTest, GetInterfaceRefusesANullResultPointer) {
    int destroyed = 0;
    CPersistObject* p = new CPersistObject(nullptr, &destroyed);
    p->NonDelegatingAddRef();
    EXPECT_EQ(E_POINTER, GetInterface(p->NonDelegatingUnknown(), nullptr));
    EXPECT_EQ(1, p->RefCount());
    EXPECT_EQ(0u, p->NonDelegatingRelease());
}

TEST_F(ComLayerTest, AggregatedObjectAnswersWithTheOuterIdentityAndCount) {
    int innerDestroyed = 0;
    COuter* outer = new COuter(&innerDestroyed);

    IPersist* pPersist = nullptr;
    ASSERT_EQ(S_OK, outer->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pPersist)));
    EXPECT_EQ(2, outer->m_cRef) << "the reference went to the outer object";
    EXPECT_EQ(1, outer->m_pInner->RefCount()) << "the inner count is the outer object's business";

    IUnknown* pIdentity = nullptr;
    ASSERT_EQ(S_OK, pPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
    EXPECT_EQ(static_cast<IUnknown*>(outer), pIdentity);
    EXPECT_EQ(3, outer->m_cRef);
    EXPECT_EQ(4u, pPersist->AddRef());
    EXPECT_EQ(3u, pPersist->Release());
    pIdentity->Release();
    pPersist->Release();

    EXPECT_EQ(0, innerDestroyed);
    EXPECT_EQ(0u, outer->Release());
    EXPECT_EQ(1, innerDestroyed);
}

TEST_F(ComLayerTest, GetClassObjectChecksTheInterfaceBeforeTheClass) {
    struct Case {
        const char* name;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } cases[] = {
        {"IPersist on a served class", &kPersistClsid, &IID_IPersist, E_NOINTERFACE},
        {"IPersist on an unknown class", &kUnknownClsid, &IID_IPersist, E_NOINTERFACE},
        {"unknown class", &kUnknownClsid, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"IClassFactory", &kPersistClsid, &IID_IClassFactory, S_OK},
        {"IUnknown", &kPersistClsid, &IID_IUnknown, S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* pv = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(c.expected, kModule.GetClassObject(*c.clsid, *c.iid, &pv));
        if (c.expected == S_OK) {
            ASSERT_NE(nullptr, pv);
            EXPECT_EQ(0u, static_cast<IUnknown*>(pv)->Release());
        } else {
            EXPECT_EQ(nullptr, pv);
        }
    }
    EXPECT_EQ(E_POINTER, kModule.GetClassObject(kPersistClsid, IID_IClassFactory, nullptr));
}

TEST_F(ComLayerTest, FactoryAnswersOnlyItsOwnInterfaces) {
    ComPtr<IClassFactory> factory = Factory(kPersistClsid);
    ASSERT_TRUE(factory);
    void* pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IPersist, &pv));
    EXPECT_EQ(nullptr, pv);
    ComPtr<IUnknown> unk;
    EXPECT_EQ(S_OK, factory.As(&unk));
    unk.Reset();
    EXPECT_EQ(0u, FinalRelease(factory));
}

TEST_F(ComLayerTest, CreateInstanceWithAnOuterUnknownWantsIUnknown) {
    ComPtr<IClassFactory> factory = Factory(kPersistClsid);
    ASSERT_TRUE(factory);
    int innerDestroyed = 0;
    COuter* outer = new COuter(&innerDestroyed);

    void* pv = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(outer, IID_IClassFactory, &pv));
    EXPECT_EQ(nullptr, pv);
    EXPECT_EQ(0, g_destroyed) << "refused before anything was made";

    IUnknown* pInner = nullptr;
    ASSERT_EQ(S_OK, factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&pInner)));
    IPersist* pPersist = nullptr;
    ASSERT_EQ(S_OK, pInner->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pPersist)));
    IUnknown* pIdentity = nullptr;
    ASSERT_EQ(S_OK, pPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)));
    EXPECT_EQ(static_cast<IUnknown*>(outer), pIdentity);
    pIdentity->Release();
    pPersist->Release();
    EXPECT_EQ(0u, pInner->Release());
    EXPECT_EQ(1, g_destroyed);

    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
    EXPECT_EQ(0u, outer->Release());
    EXPECT_EQ(0u, FinalRelease(factory));
}

TEST_F(ComLayerTest, CreateInstanceReportsWhatTheCreationFunctionSaid) {
    struct Case {
        const char* name;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
        int destroyed; // objects made and deleted again
    } cases[] = {
        {"made, asked for its interface", &kPersistClsid, &IID_IPersist, S_OK, 0},
        {"made, asked for an interface it lacks", &kPersistClsid, &IID_IClassFactory, E_NOINTERFACE, 1},
        {"nothing made, no code", &kNothingClsid, &IID_IUnknown, E_OUTOFMEMORY, 0},
        {"nothing made, with a code", &kDeniedClsid, &IID_IUnknown, E_ACCESSDENIED, 0},
        {"made but reported broken", &kBrokenClsid, &IID_IUnknown, E_ABORT, 1},
        {"creation threw", &kThrowingClsid, &IID_IUnknown, E_OUTOFMEMORY, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_destroyed = 0;
        ComPtr<IClassFactory> factory = Factory(*c.clsid);
        ASSERT_TRUE(factory);
        void* pv = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(c.expected, factory->CreateInstance(nullptr, *c.iid, &pv));
        EXPECT_EQ(c.destroyed, g_destroyed);
        if (c.expected == S_OK) {
            ASSERT_NE(nullptr, pv);
            EXPECT_EQ(0u, static_cast<IUnknown*>(pv)->Release());
            EXPECT_EQ(1, g_destroyed);
        } else {
            EXPECT_EQ(nullptr, pv);
        }
        EXPECT_EQ(0u, FinalRelease(factory));
    }
}

TEST_F(ComLayerTest, LiveObjectsAndServerLocksDecideWhetherTheModuleCanUnload) {
    ASSERT_EQ(0, m_liveAtStart) << "an earlier test leaked an object";
    EXPECT_EQ(S_OK, CFilterModule::CanUnloadNow());

    ComPtr<IClassFactory> factory = Factory(CLSID_ZarvexTestCamera);
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_FALSE, CFilterModule::CanUnloadNow()) << "a factory held by a client keeps the module";

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter,
                                            reinterpret_cast<void**>(filter.GetAddressOf())));
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, filter->EnumPins(&pins));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    EXPECT_EQ(0u, FinalRelease(factory));
    pins.Reset();
    EXPECT_EQ(0u, FinalRelease(filter));
    EXPECT_EQ(0, CBaseObject::ObjectsActive()) << "filter, pin and enumerator are all gone";
    EXPECT_EQ(S_FALSE, CFilterModule::CanUnloadNow()) << "the server lock alone keeps the module";

    factory = Factory(CLSID_ZarvexTestCamera);
    ASSERT_TRUE(factory);
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    EXPECT_EQ(0u, FinalRelease(factory));
    EXPECT_EQ(0, CFilterModule::ServerLocks());
    EXPECT_EQ(S_OK, CFilterModule::CanUnloadNow());
}
