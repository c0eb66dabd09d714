// The pin-category property (AMPROPSETID_Pin / AMPROPERTY_PIN_CATEGORY) that capture applications
// read through IKsPropertySet to tell a capture pin from a preview pin. A pin that implements
// IKsPropertySet answers Get and QuerySupported with these.
#pragma once

#include "DShowHeaders.h"

// IKsPropertySet::Get for a read-only pin category: the size pointer (if any) receives 16; with no
// data pointer that is all; a buffer under 16 bytes gives E_UNEXPECTED.
HRESULT GetPinCategoryProperty(REFGUID guidPropSet, DWORD dwPropID, LPVOID pPropData, DWORD cbPropData,
                               DWORD* pcbReturned, REFGUID category);

// IKsPropertySet::QuerySupported for the same property: get only.
HRESULT QueryPinCategorySupport(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport);
