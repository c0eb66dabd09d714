#include "VideoFormat.h"

void FourCCText(const VIDEOINFOHEADER& format, char text[5]) {
    const DWORD code = format.bmiHeader.biCompression;
    if (code == BI_RGB) {
        lstrcpynA(text, "RGB ", 5);
        return;
    }
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
    text[4] = '\0';
}

CString VideoFormatText(const VIDEOINFOHEADER& format) {
    char code[5];
    FourCCText(format, code);
    const BITMAPINFOHEADER& bmi = format.bmiHeader;
    CString line;
    if (format.AvgTimePerFrame > 0)
        line.Format("%dx%dx%d %df %s", static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight),
                    static_cast<int>(bmi.biBitCount), static_cast<int>(10000000LL / format.AvgTimePerFrame),
                    code);
    else
        line.Format("%dx%dx%d %s", static_cast<int>(bmi.biWidth), static_cast<int>(bmi.biHeight),
                    static_cast<int>(bmi.biBitCount), code);
    return line;
}

int CaptureFrameRate(REFERENCE_TIME avgTimePerFrame, int previous) {
    if (avgTimePerFrame <= 0)
        return previous;
    const REFERENCE_TIME milliseconds = avgTimePerFrame / 10000;
    if (milliseconds == 0)
        return previous;
    const REFERENCE_TIME rate = 1000 / milliseconds;
    return rate > 0 ? static_cast<int>(rate) : 1;
}
