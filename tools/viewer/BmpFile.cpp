#include "BmpFile.h"

#include "FrameGrabber.h"
#include "UniqueAny.h"

namespace viewer {

namespace {

bool WriteAll(HANDLE file, const void* p, size_t cb) {
    DWORD written = 0;
    return WriteFile(file, p, static_cast<DWORD>(cb), &written, nullptr) && written == cb;
}

} // namespace

bool WriteBmp24(const std::wstring& path, const VideoFrame& frame) {
    const BITMAPINFOHEADER& source = frame.header;
    const LONG height = source.biHeight < 0 ? -source.biHeight : source.biHeight;
    const size_t stride = Rgb24Stride(source.biWidth);
    const size_t cbImage = stride * static_cast<size_t>(height);
    if (frame.serial == 0 || source.biBitCount != 24 || source.biWidth <= 0 || height == 0 ||
        frame.pixels.size() < cbImage) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = source.biWidth;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(cbImage);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + cbImage);

    const std::wstring partial = path + L".part";
    {
        win::UniqueFile out(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out)
            return false;
        bool ok = WriteAll(out.get(), &file, sizeof file) && WriteAll(out.get(), &info, sizeof info);
        if (source.biHeight > 0) {
            ok = ok && WriteAll(out.get(), frame.pixels.data(), cbImage);
        } else {
            // A top-down frame: its last row is the file's first.
            for (LONG row = height - 1; ok && row >= 0; --row)
                ok = WriteAll(out.get(), frame.pixels.data() + stride * static_cast<size_t>(row), stride);
        }
        if (!ok || !out.close()) {
            const DWORD error = GetLastError();
            out.reset();
            (void)DeleteFileW(partial.c_str()); // what is left of a failed write goes if it can
            SetLastError(error);
            return false;
        }
    }
    if (!MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        (void)DeleteFileW(partial.c_str());
        SetLastError(error);
        return false;
    }
    return true;
}

} // namespace viewer
