#include "SoundDeviceList.h"

#include <mmsystem.h>

#include <dsound.h>

#include <cstring>
#include <new>

void CopyTextField(char* field, size_t fieldSize, const char* text, UINT codePage) {
    if (!field || fieldSize == 0)
        return;
    field[0] = '\0';
    if (!text)
        return;
    const size_t limit = fieldSize - 1;
    // Never reads more than one byte past what fits: the text may not be terminated within reach.
    const size_t length = strnlen(text, fieldSize);
    if (length <= limit) {
        std::memcpy(field, text, length);
        field[length] = '\0';
        return;
    }

    if (codePage == CP_ACP)
        codePage = GetACP();
    size_t cut = limit;
    if (codePage == CP_UTF8) {
        // text[cut] is the first byte left out. When it continues a character, that character began
        // before the cut and goes whole. A UTF-8 character has at most three continuation bytes.
        for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++i)
            --cut;
        if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            cut = limit; // not UTF-8 after all: a plain cut is as good as any
    } else {
        // A double-byte code page can only be walked from the start: a byte's role depends on
        // the bytes before it.
        size_t at = 0;
        while (at < limit) {
            const size_t width = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[at])) ? 2 : 1;
            if (at + width > limit)
                break;
            at += width;
        }
        cut = at;
    }
    std::memcpy(field, text, cut);
    field[cut] = '\0';
}

BOOL CALLBACK SoundDeviceEnumCallback(LPGUID guid, LPCSTR description, LPCSTR module,
                                      LPVOID context) noexcept {
    auto* devices = static_cast<CSoundDeviceArray*>(context);
    // The primary capture driver comes without a GUID; it is one of the devices listed with theirs.
    if (!guid || !devices)
        return TRUE;
    SoundDeviceEntry entry = {};
    entry.bHasGuid = 1;
    entry.guid = *guid;
    CopyTextField(entry.szDescription, sizeof entry.szDescription, description);
    CopyTextField(entry.szModule, sizeof entry.szModule, module);
    try {
        devices->Add(entry);
    } catch (...) {
        // No exception may cross back into DirectSound. A list that cannot grow keeps what it has.
        return FALSE;
    }
    return TRUE;
}

HRESULT EnumSoundCaptureDevices(CSoundDeviceArray& devices) {
    return DirectSoundCaptureEnumerateA(&SoundDeviceEnumCallback, &devices);
}
