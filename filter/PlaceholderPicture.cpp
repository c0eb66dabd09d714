#include "PlaceholderPicture.h"

#include <cstring>
#include <memory>
#include <type_traits>

namespace {

struct DcDeleter {
    void operator()(HDC h) const { DeleteDC(h); }
};
struct GdiObjectDeleter {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

// Puts the DC's previous object back when it leaves scope, so the objects can be deleted after it.
class CSelectObject {
public:
    CSelectObject(HDC hdc, HGDIOBJ hObj) : m_hdc(hdc), m_hOld(SelectObject(hdc, hObj)) {}
    ~CSelectObject() {
        if (m_hOld)
            SelectObject(m_hdc, m_hOld);
    }
    CSelectObject(const CSelectObject&) = delete;
    CSelectObject& operator=(const CSelectObject&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_hOld;
};

} // namespace

bool RenderPlaceholderPicture(int width, int height, std::vector<BYTE>* pBits) {
    if (width <= 0 || height <= 0 || !pBits)
        return false;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = height; // positive: bottom-up, like the channel
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 24;
    bmi.bmiHeader.biCompression = BI_RGB;
    const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
    const size_t size = stride * static_cast<size_t>(height);

    UniqueDc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    void* pvBits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &pvBits, nullptr, 0));
    if (!bitmap || !pvBits)
        return false;
    std::memset(pvBits, 0, size); // a new section is zero already; say so rather than rely on it

    // The icon-title font as the base, so everything we do not set is the system's usual choice.
    LOGFONTW lf = {};
    if (!SystemParametersInfoW(SPI_GETICONTITLELOGFONT, sizeof lf, &lf, 0))
        lf = LOGFONTW{};
    lf.lfHeight = 60;
    lf.lfWeight = FW_BOLD;
    lstrcpynW(lf.lfFaceName, L"Arial", LF_FACESIZE);
    UniqueGdiObject font(CreateFontIndirectW(&lf));
    {
        CSelectObject selectBitmap(dc.get(), bitmap.get());
        CSelectObject selectFont(dc.get(), font ? font.get() : GetStockObject(DEFAULT_GUI_FONT));
        SetTextColor(dc.get(), RGB(255, 255, 255));
        SetBkMode(dc.get(), TRANSPARENT);
        RECT rc = {0, 0, width, height};
        DrawTextW(dc.get(), L"Zarvex", -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        GdiFlush(); // the pixels are read straight from the section below
    }
    try {
        pBits->assign(static_cast<const BYTE*>(pvBits), static_cast<const BYTE*>(pvBits) + size);
    } catch (...) {
        return false;
    }
    return true;
}
