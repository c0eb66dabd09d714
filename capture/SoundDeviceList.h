// The sound capture devices the dialog offers: one SoundDeviceEntry per device that has a GUID of
// its own, in the order DirectSound enumerates them. The primary capture driver (the entry without
// a GUID) is left out; it is the same device as one of the others.
//
// Threading: EnumSoundCaptureDevices runs on the dialog thread, and DirectSound calls the callback
// on that thread before the enumeration returns.
//
// This header does not include dsound.h (see SoundCapture.h); the callback has the shape of
// LPDSENUMCALLBACKA, so a caller can hand it to DirectSoundCaptureEnumerateA.
#pragma once

#include <windows.h>

#include "afx_coll.h"

struct SoundDeviceEntry {
    INT32 bHasGuid; // 1: guid names the device; 0: the default capture device
    GUID guid;
    char szDescription[128]; // zero-terminated multibyte text, shown in the sound combo box
    char szModule[128];      // zero-terminated driver module name
};

// The dialog's m_soundDevices.
class CSoundDeviceArray : public CGrowableArray<SoundDeviceEntry> {};

// Copies text into a field of fieldSize bytes, always zero-terminated. Text that does not fit is
// cut at the last whole character of codePage that fits (CP_ACP: the system's ANSI code page), so
// a cut never leaves half of a double-byte or UTF-8 character behind to merge with what follows.
// Null text gives an empty field.
void CopyTextField(char* field, size_t fieldSize, const char* text, UINT codePage = CP_ACP);

// The enumeration callback: for a device with a GUID, appends a zeroed entry with flag 1, the GUID,
// and the description and module cut to their fields; a device without a GUID is skipped. context
// is the CSoundDeviceArray. TRUE to go on; FALSE only when the list cannot grow, which ends the
// enumeration with the devices found so far.
BOOL CALLBACK SoundDeviceEnumCallback(LPGUID guid, LPCSTR description, LPCSTR module,
                                      LPVOID context) noexcept;

// DirectSoundCaptureEnumerateA with SoundDeviceEnumCallback into devices (which it appends to).
HRESULT EnumSoundCaptureDevices(CSoundDeviceArray& devices);
