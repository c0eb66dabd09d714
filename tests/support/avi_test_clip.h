// Helpers of the AVI export tests: clips whose every byte tells frame and position apart, the
// program's sound format and sound blocks of numbered samples, and an AVI file read back whole
// through the platform's AVIFile library, a reader independent of the writer's own checks.
#pragma once

#include <windows.h>

#include <mmsystem.h>
#include <vfw.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "AviWriter.h"
#include "FrameArray.h"
#include "UniqueAny.h"
#include "test_paths.h"

namespace avi_test {

// A private temporary folder for files a test writes, emptied and removed with the object.
class AviFolder {
public:
    AviFolder() {
        const std::wstring wide = testing_support::MakeTempFolder(L"avi");
        m_path.assign(wide.begin(), wide.end()); // the temporary folder's name is ASCII
    }
    ~AviFolder() {
        for (const std::string& name : Listing()) {
            const std::string path = m_path + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!DeleteFileA(path.c_str()))
                RemoveDirectoryA(path.c_str());
        }
        RemoveDirectoryA(m_path.c_str());
    }
    AviFolder(const AviFolder&) = delete;
    AviFolder& operator=(const AviFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    std::string Path(const char* name) const { return m_path + name; }

    // Names in the folder, sorted: what a save left behind, temporary files included.
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((m_path + "*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            if (std::strcmp(found.cFileName, ".") != 0 && std::strcmp(found.cFileName, "..") != 0)
                names.push_back(found.cFileName);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string m_path;
};

inline std::string ReadBytes(const std::string& path) {
    return testing_support::ReadFileBytes(std::wstring(path.begin(), path.end()));
}

inline bool WriteBytes(const std::string& path, const std::string& bytes) {
    return testing_support::WriteFileBytes(std::wstring(path.begin(), path.end()), bytes);
}

// Byte k of frame i: differs between neighbouring frames and along each frame.
inline BYTE PatternByte(int frame, size_t k) {
    return static_cast<BYTE>(k * 7 + (k >> 11) + static_cast<size_t>(frame) * 29 + 3);
}

// A clip of count frames of width x height at 24 bits, frame i filled with PatternByte(i, ...).
inline std::unique_ptr<CFrameArray> MakeClip(int count, int width, int height) {
    auto clip = std::make_unique<CFrameArray>();
    for (int i = 0; i < count; ++i) {
        auto* frame = new CFrameImage(width, height, 24);
        clip->Add(frame);
        for (DWORD k = 0; frame->HasPixels() && k < frame->GetImageSize(); ++k)
            frame->GetBits()[k] = PatternByte(i, k);
    }
    return clip;
}

inline std::vector<BYTE> FrameBytes(const CFrameImage& frame) {
    return std::vector<BYTE>(frame.GetBits(), frame.GetBits() + frame.GetImageSize());
}

// The program's sound format: PCM, 44100 Hz, 2 channels, 16 bits.
inline WAVEFORMATEX PcmFormat() {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    return format;
}

// bytes of sound whose 16-bit values count up, so a lost, doubled or moved sample shows.
inline std::vector<BYTE> MakeSound(size_t bytes) {
    std::vector<BYTE> sound(bytes);
    for (size_t i = 0; i < bytes; ++i)
        sound[i] = static_cast<BYTE>(i % 2 == 0 ? (i / 2) & 0xFF : ((i / 2) >> 8) * 3 + 1);
    return sound;
}

struct AviStream {
    AVISTREAMINFOA info = {};
    std::vector<BYTE> format;
    std::vector<std::vector<BYTE>> samples; // video: one entry per frame; sound: one entry, all of it
    std::vector<bool> keyFrames;            // video: per frame
};

// A stream header chunk ('strh') as a file holds it: 56 bytes, the frame rectangle in 16-bit
// fields (mingw's AVIStreamHeader declares a RECT there and is 64 bytes long).
struct StreamHeader {
    FOURCC fccType;
    FOURCC fccHandler;
    DWORD dwFlags;
    WORD wPriority;
    WORD wLanguage;
    DWORD dwInitialFrames;
    DWORD dwScale;
    DWORD dwRate;
    DWORD dwStart;
    DWORD dwLength;
    DWORD dwSuggestedBufferSize;
    DWORD dwQuality;
    DWORD dwSampleSize;
    struct {
        short left, top, right, bottom;
    } rcFrame;
};
static_assert(sizeof(StreamHeader) == 56, "the file's stream header is 56 bytes");

struct AviFile {
    HRESULT hrOpen = E_FAIL;
    DWORD streamCount = 0; // from AVIFileInfo
    std::vector<AviStream> streams;
    // The stream headers as the file holds them, in stream order: AVIStreamInfo gives the
    // reader's view, which reduces scale and rate to their lowest terms.
    std::vector<StreamHeader> headers;

    const AviStream* Find(DWORD fccType) const {
        for (const AviStream& s : streams)
            if (s.info.fccType == fccType)
                return &s;
        return nullptr;
    }
};

// Every 'strh' chunk inside the chunks of bytes[begin, end), in file order.
inline void CollectStreamHeaders(const std::string& bytes, size_t begin, size_t end,
                                 std::vector<StreamHeader>* headers) {
    while (begin + 8 <= end && end <= bytes.size()) {
        DWORD size = 0;
        std::memcpy(&size, &bytes[begin + 4], 4);
        const std::string id = bytes.substr(begin, 4);
        if ((id == "RIFF" || id == "LIST") && size >= 4)
            CollectStreamHeaders(bytes, begin + 12, std::min(end, begin + 8 + size), headers);
        else if (id == "strh" && size >= sizeof(StreamHeader) && begin + 8 + sizeof(StreamHeader) <= end) {
            StreamHeader header;
            std::memcpy(&header, &bytes[begin + 8], sizeof header);
            headers->push_back(header);
        }
        begin += 8 + size + (size & 1);
    }
}

// Reads every stream of the file at path, every sample of it, through AVIFile, and the stream
// headers from the file's bytes.
inline AviFile ReadAvi(const std::string& path) {
    using Microsoft::WRL::ComPtr;
    AviFile out;
    {
        // The header list sits at the start of the file.
        std::string head(64 * 1024, '\0');
        win::UniqueFile file(
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        DWORD got = 0;
        if (file) {
            ReadFile(file.get(), &head[0], static_cast<DWORD>(head.size()), &got, nullptr);
        }
        head.resize(got);
        CollectStreamHeaders(head, 0, head.size(), &out.headers);
    }
    AVIFileInit();
    {
        ComPtr<IAVIFile> file;
        out.hrOpen = AVIFileOpenA(file.GetAddressOf(), path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr);
        if (SUCCEEDED(out.hrOpen)) {
            AVIFILEINFOA fileInfo = {};
            if (SUCCEEDED(AVIFileInfoA(file.Get(), &fileInfo, sizeof fileInfo)))
                out.streamCount = fileInfo.dwStreams;
            for (LONG n = 0;; ++n) {
                ComPtr<IAVIStream> stream;
                if (FAILED(AVIFileGetStream(file.Get(), stream.GetAddressOf(), 0, n)))
                    break;
                AviStream s;
                AVIStreamInfoA(stream.Get(), &s.info, sizeof s.info);
                LONG formatSize = 0;
                AVIStreamReadFormat(stream.Get(), 0, nullptr, &formatSize);
                s.format.resize(static_cast<size_t>(formatSize));
                if (formatSize > 0)
                    AVIStreamReadFormat(stream.Get(), 0, s.format.data(), &formatSize);
                const LONG start = AVIStreamStart(stream.Get());
                const LONG length = AVIStreamLength(stream.Get());
                if (s.info.fccType == streamtypeVIDEO) {
                    for (LONG i = start; i < start + length; ++i) {
                        LONG bytes = 0;
                        AVIStreamRead(stream.Get(), i, 1, nullptr, 0, &bytes, nullptr);
                        std::vector<BYTE> frame(static_cast<size_t>(bytes > 0 ? bytes : 0));
                        if (bytes > 0 &&
                            FAILED(AVIStreamRead(stream.Get(), i, 1, frame.data(), bytes, nullptr, nullptr)))
                            frame.clear();
                        s.samples.push_back(std::move(frame));
                        s.keyFrames.push_back(AVIStreamIsKeyFrame(stream.Get(), i));
                    }
                } else if (length > 0) {
                    LONG bytes = 0;
                    AVIStreamRead(stream.Get(), start, length, nullptr, 0, &bytes, nullptr);
                    std::vector<BYTE> all(static_cast<size_t>(bytes > 0 ? bytes : 0));
                    LONG read = 0;
                    if (bytes > 0 &&
                        FAILED(AVIStreamRead(stream.Get(), start, length, all.data(), bytes, &read, nullptr)))
                        all.clear();
                    s.samples.push_back(std::move(all));
                } else {
                    s.samples.emplace_back();
                }
                out.streams.push_back(std::move(s));
            }
        }
    }
    AVIFileExit();
    return out;
}

} // namespace avi_test

// gtest prints results by name.
inline void PrintTo(AviResult result, std::ostream* os) {
    static const char* const names[] = {"Written",      "WrittenUncompressed", "Cancelled",
                                        "BadClip",      "BadFrameRate",        "BadSound",
                                        "CannotCreate", "WriteFailed",         "CannotReplace"};
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(AviResult::CannotReplace) + 1,
                  "a name for every result");
    const auto index = static_cast<size_t>(result);
    if (index < sizeof names / sizeof names[0])
        *os << names[index];
    else
        *os << "AviResult(" << index << ")";
}
