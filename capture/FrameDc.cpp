#include "FrameDc.h"

#include <cstring>

CFrameDc::CFrameDc(CFrameImage& image) noexcept : m_image(image) {
    if (!image.HasPixels() || !CFrameImage::ReserveGdiObjects(2))
        return;
    m_bReserved = true;
    m_dc.reset(CreateCompatibleDC(nullptr));
    if (!m_dc)
        return;
    void* bits = nullptr;
    m_bitmap.reset(CreateDIBSection(m_dc.get(), image.GetHeader(), DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!m_bitmap || !bits)
        return;
    m_select.emplace(m_dc.get(), m_bitmap.get());
    if (!m_select->selected())
        return;
    std::memcpy(bits, image.m_pBits, image.GetImageSize());
    m_pOuter = image.m_pBits;
    image.m_pBits = static_cast<BYTE*>(bits);
    m_bOpen = true;
}

CFrameDc::~CFrameDc() {
    if (m_bOpen) {
        GdiFlush(); // drawing still queued must land before the pixels are taken back
        std::memcpy(m_pOuter, m_image.m_pBits, m_image.GetImageSize());
        m_image.m_pBits = m_pOuter;
    }
    m_select.reset();
    m_bitmap.reset();
    m_dc.reset();
    if (m_bReserved)
        CFrameImage::ReturnGdiObjects(2);
}
