// Filter setup records: what a filter module tells the filter mapper about each filter it serves.
//
// The pin and media-type records are the platform's own REGFILTERPINS and REGPINTYPES, so one
// record serves both the REGFILTER2 pin list and the older IFilterMapper calls.
#pragma once

#include "DShowHeaders.h"

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGFILTERPINS AMOVIESETUP_PIN;

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};
