#include "MediaType.h"

#include <cstring>
#include <cstdlib>

#include "Log.h"

namespace {

const GUID kNullGuid = {};

bool IsNull(const GUID& guid) {
    return guid == kNullGuid;
}

} // namespace

CMediaType::CMediaType() : AM_MEDIA_TYPE() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* pMajorType) : AM_MEDIA_TYPE() {
    InitMediaType();
    majortype = *pMajorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) : AM_MEDIA_TYPE() {
    const HRESULT hr = CopyMediaType(this, &rt);
    if (phr && FAILED(hr))
        *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt) : AM_MEDIA_TYPE() {
    (void)LOG_IF_FAILED(CopyMediaType(this, &rt)); // a copy has no result; it is left without a format
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt) {
    (void)LOG_IF_FAILED(Set(rt)); // an assignment has no result; Set() is there for callers that need one
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& rt) {
    (void)LOG_IF_FAILED(Set(rt));
    return *this;
}

bool CMediaType::operator==(const CMediaType& rt) const {
    if (majortype != rt.majortype || subtype != rt.subtype || formattype != rt.formattype ||
        cbFormat != rt.cbFormat)
        return false;
    if (cbFormat == 0)
        return true;
    if (!pbFormat || !rt.pbFormat)
        return pbFormat == rt.pbFormat;
    return std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0;
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt) {
    if (&rt == this)
        return S_OK;
    FreeMediaType(*this);
    return CopyMediaType(this, &rt);
}

BOOL CMediaType::IsValid() const {
    return !IsNull(majortype);
}

void CMediaType::SetSampleSize(ULONG cbSize) {
    if (cbSize == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = cbSize;
    }
}

void CMediaType::SetVariableSize() {
    bFixedSizeSamples = FALSE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG cbLength) {
    if (cbFormat == cbLength && pbFormat)
        return pbFormat;
    BYTE* pNew = static_cast<BYTE*>(CoTaskMemAlloc(cbLength ? cbLength : 1));
    if (!pNew)
        return nullptr;
    if (pbFormat)
        CoTaskMemFree(pbFormat);
    pbFormat = pNew;
    cbFormat = cbLength;
    return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG cbLength) {
    if (cbFormat == cbLength && pbFormat)
        return pbFormat;
    BYTE* pNew = static_cast<BYTE*>(CoTaskMemAlloc(cbLength ? cbLength : 1));
    if (!pNew)
        return nullptr;
    if (pbFormat) {
        std::memcpy(pNew, pbFormat, cbFormat < cbLength ? cbFormat : cbLength);
        CoTaskMemFree(pbFormat);
    }
    pbFormat = pNew;
    cbFormat = cbLength;
    return pbFormat;
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG cbLength) {
    if (cbLength == 0) {
        ResetFormatBuffer();
        return TRUE;
    }
    if (!AllocFormatBuffer(cbLength))
        return FALSE;
    std::memcpy(pbFormat, pFormat, cbLength);
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    if (pbFormat)
        CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return IsNull(majortype) || IsNull(formattype);
}

BOOL CMediaType::MatchesPartial(const CMediaType* pPartial) const {
    if (!IsNull(pPartial->majortype) && majortype != pPartial->majortype)
        return FALSE;
    if (!IsNull(pPartial->subtype) && subtype != pPartial->subtype)
        return FALSE;
    if (!IsNull(pPartial->formattype)) {
        if (formattype != pPartial->formattype)
            return FALSE;
        if (pPartial->cbFormat != 0) {
            if (cbFormat != pPartial->cbFormat || !pbFormat || !pPartial->pbFormat ||
                std::memcmp(pbFormat, pPartial->pbFormat, cbFormat) != 0)
                return FALSE;
        }
    }
    return TRUE;
}

void CMediaType::InitMediaType() {
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE();
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    AM_MEDIA_TYPE* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!pmt)
        return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt)
        return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.pbFormat)
        CoTaskMemFree(mt.pbFormat);
    mt.pbFormat = nullptr;
    mt.cbFormat = 0;
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pDest, const AM_MEDIA_TYPE* pSrc) {
    *pDest = *pSrc;
    if (pDest->pUnk)
        pDest->pUnk->AddRef();
    if (pSrc->cbFormat == 0 || !pSrc->pbFormat) {
        pDest->pbFormat = nullptr;
        pDest->cbFormat = 0;
        return S_OK;
    }
    pDest->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pSrc->cbFormat));
    if (!pDest->pbFormat) {
        pDest->cbFormat = 0;
        return E_OUTOFMEMORY;
    }
    std::memcpy(pDest->pbFormat, pSrc->pbFormat, pSrc->cbFormat);
    return S_OK;
}

DWORD GetBitmapSize(const BITMAPINFOHEADER* pHeader) {
    const LONGLONG bits = static_cast<LONGLONG>(pHeader->biBitCount) * pHeader->biWidth;
    const LONGLONG stride = ((bits + 31) / 8) & ~3LL;
    return static_cast<DWORD>(stride * std::llabs(static_cast<LONGLONG>(pHeader->biHeight)));
}

GUID GetBitmapSubtype(const BITMAPINFOHEADER* pHeader) {
    const DWORD compression = pHeader->biCompression;
    if (compression != BI_RGB && compression != BI_BITFIELDS) {
        // FOURCC subtypes are the FOURCC in the first field of the base media-subtype GUID.
        GUID fourcc = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
        fourcc.Data1 = compression;
        return fourcc;
    }
    switch (pHeader->biBitCount) {
    case 1:
        return MEDIASUBTYPE_RGB1;
    case 4:
        return MEDIASUBTYPE_RGB4;
    case 8:
        return MEDIASUBTYPE_RGB8;
    case 24:
        return MEDIASUBTYPE_RGB24;
    case 32:
        return MEDIASUBTYPE_RGB32;
    case 16: {
        if (compression == BI_RGB)
            return MEDIASUBTYPE_RGB555;
        const DWORD* pMasks = reinterpret_cast<const DWORD*>(pHeader + 1);
        if (pMasks[0] == 0x7C00 && pMasks[1] == 0x03E0 && pMasks[2] == 0x001F)
            return MEDIASUBTYPE_RGB555;
        if (pMasks[0] == 0xF800 && pMasks[1] == 0x07E0 && pMasks[2] == 0x001F)
            return MEDIASUBTYPE_RGB565;
        return kNullGuid;
    }
    default:
        return kNullGuid;
    }
}
