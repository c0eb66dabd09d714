// How a video device's friendly name is kept as the program's 8-bit text (the device list, the
// settings file's "VideoDevice").
//
// Device names are wide text, and a name may hold characters the ANSI code page does not have
// (a Japanese camera name on a Western system). Such a name converted to ANSI comes back as
// question marks and is never found again. So a name is kept as ANSI text when it converts to the
// ANSI code page and back unchanged (every name the program ever kept before stays as it was),
// and otherwise as its UTF-8 bytes behind the UTF-8 byte order mark EF BB BF. No ANSI name starts
// with those three bytes: one that would (ANSI "ï»¿..." in code page 1252) is kept as marked UTF-8
// too, so the two forms never collide and every name has exactly one text.
#pragma once

#include <string>

#include "afx_string.h"

// The bytes that open a name kept as UTF-8.
constexpr char kDeviceNameUtf8Mark[] = "\xEF\xBB\xBF";

// The program's text for a device name.
CString DeviceNameToText(const wchar_t* name);
// The device name a text stands for: marked UTF-8, else ANSI. Invalid UTF-8 behind the mark
// (a hand-edited settings file) decodes with replacement characters and matches no device.
std::wstring DeviceNameFromText(const char* text);
