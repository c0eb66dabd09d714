// The one way framework code and filters built on it include the platform's DirectShow headers.
//
// dsound.h and strmif.h both declare IKsPropertySet under the same guard, with the methods in a
// different order. Pins that implement or call IKsPropertySet must see strmif.h's order, which is
// the one capture applications and the platform call, so a translation unit that already saw
// dsound.h stops here instead of building a pin with a silently wrong vtable.
#pragma once

#if defined(__DSOUND_INCLUDED__) && !defined(__IKsPropertySet_INTERFACE_DEFINED__)
#error "dsound.h was included before the DirectShow headers; keep DirectSound code out of pin code"
#endif

#include <windows.h>

#include <dshow.h>
