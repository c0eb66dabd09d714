#include "Caption.h"

#include <new>

#include "FrameDc.h"
#include "SelectObject.h"
#include "UniqueAny.h"

namespace {

// The outline's eight points, in the order the clip maker draws them.
const POINT kOutline[] = {{9, 9}, {10, 9}, {11, 9}, {9, 10}, {11, 10}, {9, 11}, {10, 11}, {11, 11}};
const POINT kOrigin = {10, 10};

bool DrawOnto(CFrameImage& picture, HFONT font, const char* text, int length) {
    CFrameDc dc(picture);
    if (!dc)
        return false;
    CCaption::Draw(dc.get(), font, text, length);
    return true; // the DC copies the drawing back into the picture as it closes
}

} // namespace

void CCaption::Draw(HDC dc, HFONT font, const char* text, int length) {
    win::SelectGuard keep(dc, font);
    (void)SetBkMode(dc, TRANSPARENT);
    (void)SetTextColor(dc, RGB(255, 255, 255));
    for (const POINT& p : kOutline)
        (void)TextOutA(dc, p.x, p.y, text, length); // a failed output leaves that point undrawn
    (void)SelectObject(dc, font);
    (void)SetTextColor(dc, RGB(255, 0, 0));
    (void)TextOutA(dc, kOrigin.x, kOrigin.y, text, length);
}

BOOL CCaption::Prepare(const LOGFONTA& font, const char* text, int length, int width, int height) {
    m_bytes.clear();
    m_width = m_height = 0;
    if (!text || length < 0 || width <= 0 || height <= 0)
        return FALSE;
    CFrameImage black(width, height, 24), white(width, height, 24);
    if (!black.HasPixels() || !white.HasPixels())
        return FALSE;
    white.Fill(0xFF);
    win::UniqueFont hfont(CreateFontIndirectA(&font));
    if (!hfont || !DrawOnto(black, hfont.get(), text, length) || !DrawOnto(white, hfont.get(), text, length))
        return FALSE;

    const BYTE* b = black.GetBits();
    const BYTE* w = white.GetBits();
    const DWORD size = black.GetImageSize();
    try {
        for (DWORD i = 0; i < size; ++i) {
            if (b[i] == 0 && w[i] == 0xFF)
                continue; // no text here
            const int k = w[i] > b[i] ? w[i] - b[i] : 0;
            m_bytes.push_back({i, b[i], static_cast<uint8_t>(k)});
        }
    } catch (const std::bad_alloc&) {
        m_bytes.clear();
        return FALSE;
    }
    m_width = width;
    m_height = height;
    return TRUE;
}

BOOL CCaption::ApplyTo(CFrameImage& frame) const {
    if (!IsPrepared() || !frame.HasPixels() || frame.GetWidth() != m_width || frame.GetHeight() != m_height ||
        frame.GetBitCount() != 24)
        return FALSE;
    BYTE* bits = frame.GetBits();
    for (const Byte& c : m_bytes) {
        BYTE& b = bits[c.offset];
        b = static_cast<BYTE>(c.m + (b * c.k + 127) / 255);
    }
    return TRUE;
}

BOOL CCaption::ApplyTo(const CFrameArray& clip) const {
    BOOL all = TRUE;
    for (int i = 0; i < clip.GetSize(); ++i) {
        CFrameImage* frame = clip.GetAt(i);
        if (!frame || !ApplyTo(*frame))
            all = FALSE;
    }
    return all;
}
