// The system's video capture devices as the system device enumerator lists them, by friendly name,
// and the formats each offers.
//
// Names are device name text (DeviceNameText.h): ANSI when the name has an ANSI form, marked
// UTF-8 otherwise, so that every device can be listed, chosen and found again.
//
// Threading: none of its own. Each call makes and releases its own enumerators on the calling
// thread, which must have entered a COM apartment (the dialog thread does).
#pragma once

#include <windows.h>

#include <wrl/client.h>

#include "VideoFormat.h"
#include "afx_string.h"

struct IBaseFilter;

// Appends the name of every video capture device, in enumeration order (unsorted). The number of
// strings in names then; -1 when the enumerator cannot be made or the category has no enumerator
// (which is how the platform says "no device at all").
int EnumVideoDevices(CStringArray& names);

// The device whose name is exactly name (byte-wise, case counts; a prefix is no match), bound to
// its filter. Of two devices with that name the later one in enumeration order wins. Null when
// none has it, or when it cannot be bound.
Microsoft::WRL::ComPtr<IBaseFilter> FindVideoDevice(const CString& name);

// Appends the device's usable formats in the order it reports them: from its capture (or preview)
// output pin, each capability whose type is FORMAT_VideoInfo with a whole 88-byte block and 16 or
// more bits per pixel. The number of formats in the list then; -1 without a device; -2 when the
// pins, the stream configuration or the capabilities cannot be read, or the capability record is
// not the 128-byte VIDEO_STREAM_CONFIG_CAPS. Every media type read from the device is freed.
int EnumVideoFormats(IBaseFilter* device, CVideoFormatArray& formats);

// FindVideoDevice, then EnumVideoFormats, then the device is released again; -1 when no device
// has the name.
int EnumVideoDeviceFormats(const CString& name, CVideoFormatArray& formats);
