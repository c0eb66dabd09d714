#include "BaseObject.h"

namespace {
// One copy per loaded module: the framework is a static library, so each module that links it
// (the filter module, the test camera, a test executable) counts only its own objects.
volatile LONG g_cActiveObjects = 0;
} // namespace

CBaseObject::CBaseObject(const wchar_t* /*pName*/) {
    InterlockedIncrement(&g_cActiveObjects);
}

CBaseObject::~CBaseObject() {
    InterlockedDecrement(&g_cActiveObjects);
}

LONG CBaseObject::ObjectsActive() {
    return InterlockedCompareExchange(&g_cActiveObjects, 0, 0);
}
