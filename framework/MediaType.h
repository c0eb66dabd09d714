// CMediaType and the media-type helpers.
//
// A CMediaType is an AM_MEDIA_TYPE that owns its format block (task memory, as every block handed
// to or received from the platform is) and holds a reference on its pUnk. Copies are deep. Nothing
// here throws: a copy that runs out of memory leaves a type without a format block, which Set()
// reports as E_OUTOFMEMORY for callers that need to know.
#pragma once

#include "DShowHeaders.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* pMajorType);
    CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& rt);
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& rt);
    CMediaType& operator=(const CMediaType& rt);
    // Major type, subtype, format type, format length and format bytes; nothing else.
    bool operator==(const CMediaType& rt) const;
    bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

    // Deep copy; E_OUTOFMEMORY leaves this type without a format block.
    HRESULT Set(const AM_MEDIA_TYPE& rt);

    BOOL IsValid() const;
    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }

    void SetType(const GUID* pType) { majortype = *pType; }
    void SetSubtype(const GUID* pType) { subtype = *pType; }
    void SetFormatType(const GUID* pType) { formattype = *pType; }
    void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }
    // 0 makes samples variable-sized; anything else fixed at that size.
    void SetSampleSize(ULONG cbSize);
    void SetVariableSize();

    // A format block of exactly cbLength bytes: the present block when its length is already
    // cbLength, else a new one (the old one freed). Null when memory runs out.
    BYTE* AllocFormatBuffer(ULONG cbLength);
    // Like AllocFormatBuffer, but keeps as much of the old content as fits.
    BYTE* ReallocFormatBuffer(ULONG cbLength);
    // Copies cbLength bytes into a format block of that size; FALSE when memory runs out.
    BOOL SetFormat(const BYTE* pFormat, ULONG cbLength);
    void ResetFormatBuffer();

    // The major type or the format type is left open (GUID_NULL).
    BOOL IsPartiallySpecified() const;
    // Every field the partial type names (not GUID_NULL, or a non-empty format block) is equal here.
    BOOL MatchesPartial(const CMediaType* pPartial) const;

    void InitMediaType();
};

// A task-allocated copy of *pSrc (structure and format block), for handing to a caller. Null when
// memory runs out. DeleteMediaType frees it.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Frees what the structure owns (format block, pUnk) and clears those fields; the structure stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Deep copy into *pDest, whose previous content is not freed. E_OUTOFMEMORY leaves no format block.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pDest, const AM_MEDIA_TYPE* pSrc);

// Bytes of a bitmap with this header: rows padded to 4 bytes, times |height|.
DWORD GetBitmapSize(const BITMAPINFOHEADER* pHeader);
// The media subtype that describes pixels of this header. For 16-bit BI_BITFIELDS the three masks
// are read from right after the header, as they sit in a BITMAPINFO.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* pHeader);
