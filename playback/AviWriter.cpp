#include "AviWriter.h"

#include <wrl/client.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "Log.h"
#include "UniqueAny.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kDibHandler = mmioFOURCC('D', 'I', 'B', ' ');
// OF_CREATE | OF_WRITE: a new file, or an existing one emptied.
constexpr UINT kCreateForWriting = OF_CREATE | OF_WRITE;
// Temporary names tried beside the chosen one before giving up.
constexpr int kTemporaryNameTries = 100;

// AVIFileInit and AVIFileExit for the length of one save; the library counts its users.
class AviLibrary {
public:
    AviLibrary() { AVIFileInit(); }
    ~AviLibrary() { AVIFileExit(); }
    AviLibrary(const AviLibrary&) = delete;
    AviLibrary& operator=(const AviLibrary&) = delete;
};

// What one save writes, checked once before anything is touched.
struct SavePlan {
    const CFrameArray* clip = nullptr;
    const CFrameImage* first = nullptr;
    LONG frames = 0;
    LONG frameBytes = 0;
    int frameRate = 0;
    const WAVEFORMATEX* soundFormat = nullptr; // null: no sound stream
    const BYTE* soundBytes = nullptr;
    LONG soundSamples = 0;
};

AviResult MakePlan(const CFrameArray& clip, int frameRate, const WAVEFORMATEX* soundFormat,
                   const BYTE* soundBytes, DWORD soundLength, SavePlan* plan) {
    const CFrameImage* first = clip.GetAt(0);
    if (!first || !first->HasPixels())
        return AviResult::BadClip;
    const DWORD frameBytes = first->GetImageSize();
    if (frameBytes == 0 || frameBytes > static_cast<DWORD>(MAXLONG))
        return AviResult::BadClip;
    // Every frame is written with the first frame's format: one of another shape would be
    // written with a wrong header, and one without pixels cannot be written at all.
    for (int i = 1; i < clip.GetSize(); ++i) {
        const CFrameImage* frame = clip.GetAt(i);
        if (!frame || !frame->HasPixels() || frame->GetWidth() != first->GetWidth() ||
            frame->GetHeight() != first->GetHeight() || frame->GetBitCount() != first->GetBitCount() ||
            frame->GetImageSize() != frameBytes)
            return AviResult::BadClip;
    }
    if (frameRate <= 0)
        return AviResult::BadFrameRate;

    plan->clip = &clip;
    plan->first = first;
    plan->frames = clip.GetSize();
    plan->frameBytes = static_cast<LONG>(frameBytes);
    plan->frameRate = frameRate;
    if (soundFormat && soundBytes) {
        if (soundFormat->nBlockAlign == 0 || soundFormat->nSamplesPerSec == 0)
            return AviResult::BadSound;
        const DWORD samples = soundLength / soundFormat->nBlockAlign;
        if (static_cast<ULONGLONG>(samples) * soundFormat->nBlockAlign > static_cast<ULONGLONG>(MAXLONG))
            return AviResult::BadSound;
        // A block without a whole sample gives no sound stream: AVIFile under Wine hides a sound
        // stream that holds no data, and claims one sample for an empty write, so readers would
        // disagree about such a file.
        if (samples > 0) {
            plan->soundFormat = soundFormat;
            plan->soundBytes = soundBytes;
            plan->soundSamples = static_cast<LONG>(samples);
        }
    }
    return AviResult::Written;
}

DWORD SoundFormatSize(const WAVEFORMATEX& format) {
    // PCM has no extra bytes, whatever cbSize holds; other formats carry cbSize of them.
    return sizeof(WAVEFORMATEX) + (format.wFormatTag == WAVE_FORMAT_PCM ? 0 : format.cbSize);
}

// The file under construction: a name reserved beside the chosen one, deleted again unless the
// finished file was moved over the chosen name.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile() {
        if (!m_strPath.empty())
            LOG_IF_WIN32_FALSE(DeleteFileA(m_strPath.c_str()));
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Reserves "<path>.~<n>.avi" (the extension lets AVIFile pick its AVI handler). False when no
    // file can be made in that folder.
    bool Reserve(const char* path) {
        for (int n = 0; n < kTemporaryNameTries; ++n) {
            std::string candidate = std::string(path) + ".~" + std::to_string(n) + ".avi";
            win::UniqueFile file(CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file) {
                m_strPath = std::move(candidate);
                return true;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                LOG_IF_WIN32_FALSE(file.is_valid()); // traces why the folder takes no file
                return false;
            }
        }
        return false;
    }

    // Moves the file over target, replacing what is there; the temporary name is then gone.
    bool MoveTo(const char* target) {
        if (!LOG_IF_WIN32_FALSE(MoveFileExA(m_strPath.c_str(), target, MOVEFILE_REPLACE_EXISTING)))
            return false;
        m_strPath.clear();
        return true;
    }

    const char* Path() const { return m_strPath.c_str(); }

private:
    std::string m_strPath;
};

// Under Wine, AVIFile records a sound write of any length as a single sample in the stream's
// header, so a reader that trusts the header (AVIFile itself) finds four bytes of sound. Once the
// file is closed, the sound stream's length in its 'strh' chunk is set to the samples written;
// where the library got it right, nothing is written. False when the header cannot be found.
bool CorrectSoundLength(const char* path, LONG samples) {
    win::UniqueFile file(
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!LOG_IF_WIN32_FALSE(file.is_valid()))
        return false;
    // The header list comes first in the file and is small.
    std::vector<BYTE> head(64 * 1024);
    DWORD got = 0;
    if (!LOG_IF_WIN32_FALSE(
            ReadFile(file.get(), head.data(), static_cast<DWORD>(head.size()), &got, nullptr)))
        return false;
    const auto at = [&](size_t offset, const char* fourcc) {
        return offset + 4 <= got && std::memcmp(&head[offset], fourcc, 4) == 0;
    };
    const auto dword = [&](size_t offset) {
        DWORD value = 0;
        std::memcpy(&value, &head[offset], sizeof value);
        return value;
    };
    if (!at(0, "RIFF") || !at(8, "AVI ") || !at(12, "LIST") || !at(20, "hdrl"))
        return false;
    // A LIST's size counts from its list type on.
    const size_t headerEnd = std::min<size_t>(20 + static_cast<size_t>(dword(16)), got);
    for (size_t chunk = 24; chunk + 8 <= headerEnd;) {
        const size_t size = dword(chunk + 4);
        const size_t streamHeader = chunk + 12; // the first chunk of a stream's list is its header
        const size_t lengthAt = streamHeader + 8 + offsetof(AVIStreamHeader, dwLength);
        if (at(chunk, "LIST") && at(chunk + 8, "strl") && lengthAt + 4 <= headerEnd &&
            at(streamHeader, "strh") && at(streamHeader + 8, "auds")) {
            const DWORD length = static_cast<DWORD>(samples);
            if (dword(lengthAt) == length)
                return true;
            LARGE_INTEGER position;
            position.QuadPart = static_cast<LONGLONG>(lengthAt);
            DWORD put = 0;
            return LOG_IF_WIN32_FALSE(SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) &&
                   LOG_IF_WIN32_FALSE(WriteFile(file.get(), &length, sizeof length, &put, nullptr)) &&
                   put == sizeof length;
        }
        chunk += 8 + size + (size & 1);
    }
    return false;
}

// Writes the whole file at path: both streams created and given their formats first, then every
// frame, then the sound in one write. With options the frames go through that compressor. Any
// failure stops at once, so nothing is ever written to a stream that failed.
HRESULT BuildFile(const char* path, const SavePlan& plan, AVICOMPRESSOPTIONS* options) {
    ComPtr<IAVIFile> file;
    HRESULT hr = LOG_IF_FAILED(AVIFileOpenA(file.GetAddressOf(), path, kCreateForWriting, nullptr));
    if (FAILED(hr))
        return hr;

    const BITMAPINFO* header = plan.first->GetHeader();
    AVISTREAMINFOA videoInfo = {};
    videoInfo.fccType = streamtypeVIDEO;
    videoInfo.fccHandler = kDibHandler;
    videoInfo.dwScale = 1;
    videoInfo.dwRate = static_cast<DWORD>(plan.frameRate);
    videoInfo.dwLength = static_cast<DWORD>(plan.frames);
    videoInfo.dwQuality = static_cast<DWORD>(-1);
    SetRect(&videoInfo.rcFrame, 0, 0, header->bmiHeader.biWidth, header->bmiHeader.biHeight);
    ComPtr<IAVIStream> video;
    hr = LOG_IF_FAILED(AVIFileCreateStreamA(file.Get(), video.GetAddressOf(), &videoInfo));
    if (FAILED(hr))
        return hr;

    ComPtr<IAVIStream> compressed;
    if (options) {
        hr = LOG_IF_FAILED(AVIMakeCompressedStream(compressed.GetAddressOf(), video.Get(), options, nullptr));
        if (FAILED(hr))
            return hr;
    }
    IAVIStream* frames = compressed ? compressed.Get() : video.Get();
    // The header and the first palette entry, as the frames' format. A compressor learns the
    // input format here, so this is where one that cannot take the frames fails.
    hr = LOG_IF_FAILED(AVIStreamSetFormat(frames, 0, const_cast<BITMAPINFO*>(header),
                                          static_cast<LONG>(sizeof(BITMAPINFO))));
    if (FAILED(hr))
        return hr;

    ComPtr<IAVIStream> sound;
    if (plan.soundFormat) {
        const WAVEFORMATEX& format = *plan.soundFormat;
        AVISTREAMINFOA soundInfo = {};
        soundInfo.fccType = streamtypeAUDIO;
        soundInfo.dwScale = format.nBlockAlign;
        soundInfo.dwRate = format.nSamplesPerSec * format.nBlockAlign;
        soundInfo.dwSampleSize = format.nBlockAlign;
        soundInfo.dwQuality = static_cast<DWORD>(-1);
        hr = LOG_IF_FAILED(AVIFileCreateStreamA(file.Get(), sound.GetAddressOf(), &soundInfo));
        if (FAILED(hr))
            return hr;
        hr = LOG_IF_FAILED(AVIStreamSetFormat(sound.Get(), 0, const_cast<WAVEFORMATEX*>(&format),
                                              static_cast<LONG>(SoundFormatSize(format))));
        if (FAILED(hr))
            return hr;
    }

    // Frames go to the library in place, one write each; it only reads them.
    for (LONG i = 0; i < plan.frames; ++i) {
        hr = LOG_IF_FAILED(AVIStreamWrite(frames, i, 1, plan.clip->GetAt(i)->GetBits(), plan.frameBytes,
                                          AVIIF_KEYFRAME, nullptr, nullptr));
        if (FAILED(hr))
            return hr;
    }
    if (sound) {
        const LONG bytes = plan.soundSamples * static_cast<LONG>(plan.soundFormat->nBlockAlign);
        hr = LOG_IF_FAILED(AVIStreamWrite(sound.Get(), 0, plan.soundSamples,
                                          const_cast<BYTE*>(plan.soundBytes), bytes, 0, nullptr, nullptr));
        if (FAILED(hr))
            return hr;
    }
    // The header and the index are written when the last reference to the file goes.
    compressed.Reset();
    video.Reset();
    sound.Reset();
    file.Reset();
    if (plan.soundFormat && !CorrectSoundLength(path, plan.soundSamples))
        return E_FAIL;
    return S_OK;
}

// Reads one sample and compares it with expected (when given): false when it cannot be read whole.
bool ReadsBackSample(IAVIStream* stream, LONG position, const BYTE* expected, LONG expectedBytes) {
    LONG bytes = 0;
    if (FAILED(LOG_IF_FAILED(AVIStreamRead(stream, position, 1, nullptr, 0, &bytes, nullptr))) || bytes <= 0)
        return false;
    if (expected && bytes != expectedBytes)
        return false;
    std::vector<BYTE> buffer(static_cast<size_t>(bytes));
    LONG read = 0;
    if (FAILED(LOG_IF_FAILED(AVIStreamRead(stream, position, 1, buffer.data(), bytes, &read, nullptr))) ||
        read != bytes)
        return false;
    return !expected || std::memcmp(buffer.data(), expected, static_cast<size_t>(bytes)) == 0;
}

// True when the file holds all of the RIFF tree its first chunk claims. AVIFile writes the final
// size into that chunk when the file is closed, so a file that lost writes at its end (a full
// disk) is shorter. It must not be handed to AVIFile then: Wine's reader stops the process on an
// assertion when asked for a frame its lost index no longer has.
bool HoldsWholeRiff(const char* path) {
    win::UniqueFile file(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!LOG_IF_WIN32_FALSE(file.is_valid()))
        return false;
    BYTE head[12] = {};
    DWORD got = 0;
    LARGE_INTEGER size = {};
    if (!LOG_IF_WIN32_FALSE(ReadFile(file.get(), head, sizeof head, &got, nullptr)) || got != sizeof head ||
        !LOG_IF_WIN32_FALSE(GetFileSizeEx(file.get(), &size)))
        return false;
    DWORD riffSize = 0;
    std::memcpy(&riffSize, head + 4, sizeof riffSize);
    return std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0 &&
           static_cast<ULONGLONG>(size.QuadPart) >= static_cast<ULONGLONG>(riffSize) + 8;
}

// Proves that the file at path is whole: its streams have their full lengths, and the last frame
// and the last sound sample, which reach the disk last, read back. Wine's AVIFile reports writes
// that the disk refused as done, so a save's own results cannot show this.
bool ReadsBackWhole(const char* path, const SavePlan& plan, bool compressed) {
    if (!HoldsWholeRiff(path))
        return false;
    ComPtr<IAVIFile> file;
    if (FAILED(
            LOG_IF_FAILED(AVIFileOpenA(file.GetAddressOf(), path, OF_READ | OF_SHARE_DENY_WRITE, nullptr))))
        return false;
    ComPtr<IAVIStream> video;
    if (FAILED(LOG_IF_FAILED(AVIFileGetStream(file.Get(), video.GetAddressOf(), streamtypeVIDEO, 0))) ||
        AVIStreamLength(video.Get()) != plan.frames)
        return false;
    const LONG last = plan.frames - 1;
    if (!ReadsBackSample(video.Get(), last, compressed ? nullptr : plan.clip->GetAt(last)->GetBits(),
                         plan.frameBytes))
        return false;
    if (!plan.soundFormat)
        return true;
    ComPtr<IAVIStream> sound;
    if (FAILED(LOG_IF_FAILED(AVIFileGetStream(file.Get(), sound.GetAddressOf(), streamtypeAUDIO, 0))) ||
        AVIStreamLength(sound.Get()) != plan.soundSamples)
        return false;
    const LONG align = plan.soundFormat->nBlockAlign;
    return ReadsBackSample(sound.Get(), plan.soundSamples - 1,
                           plan.soundBytes + (plan.soundSamples - 1) * align, align);
}

} // namespace

CCompressorChoice::CCompressorChoice() {
    SetCompressor(kDibHandler);
}

CCompressorChoice::~CCompressorChoice() {
    if (m_bChosen)
        ICCompressorFree(&m_vars);
}

bool CCompressorChoice::Choose(HWND owner, const BITMAPINFO* input) {
    // Uncompressed preselected, the default quality; sized by the structure, which differs
    // between the 32-bit and the 64-bit build.
    COMPVARS vars = {};
    vars.cbSize = sizeof(COMPVARS);
    vars.dwFlags = ICMF_COMPVARS_VALID;
    vars.fccHandler = kDibHandler;
    vars.lQ = ICQUALITY_DEFAULT;
    if (!ICCompressorChoose(owner, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE,
                            const_cast<BITMAPINFO*>(input), nullptr, &vars, nullptr)) {
        ICCompressorFree(&vars); // frees nothing unless the chooser left something behind
        return false;
    }
    if (m_bChosen)
        ICCompressorFree(&m_vars);
    m_vars = vars;
    m_bChosen = true;
    return true;
}

void CCompressorChoice::SetCompressor(DWORD fccHandler, LONG keyFrameEvery, LONG dataRateKb) {
    if (m_bChosen)
        ICCompressorFree(&m_vars);
    m_bChosen = false;
    std::memset(&m_vars, 0, sizeof m_vars);
    m_vars.cbSize = sizeof(COMPVARS);
    m_vars.dwFlags = ICMF_COMPVARS_VALID;
    m_vars.fccHandler = fccHandler;
    m_vars.lQ = ICQUALITY_DEFAULT;
    m_vars.lKey = keyFrameEvery;
    m_vars.lDataRate = dataRateKb;
}

bool CCompressorChoice::IsUncompressed() const {
    return m_vars.fccHandler == kDibHandler || m_vars.fccHandler == 0;
}

AVICOMPRESSOPTIONS CCompressorChoice::GetOptions() const {
    AVICOMPRESSOPTIONS options = {};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = m_vars.fccHandler;
    options.dwKeyFrameEvery = static_cast<DWORD>(m_vars.lKey);
    options.dwQuality = static_cast<DWORD>(m_vars.lQ);
    // The chooser's data rate is in kilobytes a second, the stream's in bytes a second.
    options.dwBytesPerSecond = m_vars.lDataRate > 0 ? static_cast<DWORD>(m_vars.lDataRate) * 1024 : 0;
    options.dwFlags =
        (m_vars.lDataRate > 0 ? AVICOMPRESSF_DATARATE : 0) | (m_vars.lKey > 0 ? AVICOMPRESSF_KEYFRAMES : 0);
    options.lpFormat = nullptr;
    options.cbFormat = 0;
    options.lpParms = m_vars.lpState;
    options.cbParms = static_cast<DWORD>(m_vars.cbState);
    options.dwInterleaveEvery = 0;
    return options;
}

AviResult WriteAvi(const CFrameArray& clip, const char* path, int frameRate, const WAVEFORMATEX* soundFormat,
                   const BYTE* soundBytes, DWORD soundLength, const CCompressorChoice& compressor) {
    SavePlan plan;
    const AviResult checked = MakePlan(clip, frameRate, soundFormat, soundBytes, soundLength, &plan);
    if (checked != AviResult::Written)
        return checked;
    if (!path || !*path)
        return AviResult::CannotCreate;

    // A read-only file is the user's to protect, and a folder cannot become a file: refuse both
    // before writing anything (Wine's MoveFileEx would replace a read-only file).
    const DWORD existing = GetFileAttributesA(path);
    if (existing != INVALID_FILE_ATTRIBUTES &&
        (existing & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return AviResult::CannotReplace;

    AviLibrary library;
    TemporaryFile temporary;
    if (!temporary.Reserve(path))
        return AviResult::CannotCreate;

    // A compressor that fails anywhere (no such compressor, the frames' format refused, a frame
    // it cannot take) costs that attempt only: the file is made again, uncompressed.
    const bool wantCompressed = !compressor.IsUncompressed();
    bool compressedWhole = false;
    if (wantCompressed) {
        AVICOMPRESSOPTIONS options = compressor.GetOptions();
        compressedWhole = SUCCEEDED(BuildFile(temporary.Path(), plan, &options)) &&
                          ReadsBackWhole(temporary.Path(), plan, true);
    }
    const bool whole = compressedWhole || (SUCCEEDED(BuildFile(temporary.Path(), plan, nullptr)) &&
                                           ReadsBackWhole(temporary.Path(), plan, false));
    if (!whole)
        return AviResult::WriteFailed;
    if (!temporary.MoveTo(path))
        return AviResult::CannotReplace;
    return wantCompressed && !compressedWhole ? AviResult::WrittenUncompressed : AviResult::Written;
}

AviResult WriteAvi(const CFrameArray& clip, const char* path, int frameRate, const WAVEFORMATEX* soundFormat,
                   const BYTE* soundBytes, DWORD soundLength, BOOL chooseCompressor, HWND owner) {
    CCompressorChoice compressor;
    if (chooseCompressor) {
        // Nothing to choose for a clip that cannot be saved; and the chooser opens before anything
        // touches the disk, so cancelling it changes nothing there.
        SavePlan plan;
        const AviResult checked = MakePlan(clip, frameRate, soundFormat, soundBytes, soundLength, &plan);
        if (checked != AviResult::Written)
            return checked;
        if (!compressor.Choose(owner, plan.first->GetHeader()))
            return AviResult::Cancelled;
    }
    return WriteAvi(clip, path, frameRate, soundFormat, soundBytes, soundLength, compressor);
}
