#include "PlaceholderPicture.h"

#include <cstring>

#include "SelectObject.h"
#include "UniqueAny.h"

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

    win::UniqueDc dc(CreateCompatibleDC(nullptr));
    if (!dc)
        return false;
    void* pvBits = nullptr;
    win::UniqueBitmap bitmap(CreateDIBSection(dc.get(), &bmi, DIB_RGB_COLORS, &pvBits, nullptr, 0));
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
    win::UniqueFont font(CreateFontIndirectW(&lf));
    {
        // The guards put the DC's own objects back before the holders delete ours.
        const win::SelectGuard selectBitmap(dc.get(), bitmap.get());
        const win::SelectGuard selectFont(dc.get(), font ? font.get() : GetStockObject(DEFAULT_GUI_FONT));
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
