// AVI export: one clip, its frames and its sound, saved as a RIFF AVI file through the platform's
// AVIFile library, optionally through a video compressor the user picks in the system's chooser.
//
// The file gets a 'vids' stream of 'DIB ' frames (or the chosen compressor's), every frame a key
// frame, then an 'auds' stream holding the whole sound in one piece when the clip has sound.
// Both streams are created and given their formats before anything is written: AVIFile under Wine
// refuses a stream created after data was written (0x80044065), which would silently lose the sound.
//
// Nothing is written under the chosen name until the new file is complete. The file is built under
// a temporary name beside it, read back to prove every frame and the sound reached the disk (Wine's
// AVIFile reports success for writes that a full disk refused), and only then moved over the
// chosen name. A failed save leaves the disk as it was: no new file, an existing one untouched.
//
// Threading: everything runs on the calling thread, the dialog thread in the program. The chooser
// is modal and pumps that thread's messages while it is open; the writing itself does not. The
// clip is only read, so the playback thread may read it at the same time.
#pragma once

#include <windows.h>

#include <mmsystem.h>
#include <vfw.h>

#include "FrameArray.h"

enum class AviResult {
    Written,             // the file holds the clip as asked
    WrittenUncompressed, // the file holds the clip, but uncompressed: the chosen compressor could
                         // not take the frames
    Cancelled,           // the compressor chooser was cancelled; the disk is unchanged
    BadClip,             // no frames, or a frame without pixels or of another shape than the first
    BadFrameRate,        // a frame rate of 0 or less
    BadSound,            // a sound format without a block size or sample rate
    CannotCreate,        // no file can be made beside the path (missing folder, no access)
    WriteFailed,         // a stream or a write failed, or the file did not read back whole
    CannotReplace,       // the file at the path cannot be replaced (read-only, a folder, or in use);
                         // it is unchanged
};

// True when the clip reached the disk under the chosen name.
inline bool AviWritten(AviResult result) {
    return result == AviResult::Written || result == AviResult::WrittenUncompressed;
}

// The compressor the frames go through. Uncompressed until Choose or SetCompressor says otherwise;
// what the chooser allocated (its compressor and state block) is freed with the object.
class CCompressorChoice {
public:
    CCompressorChoice();
    ~CCompressorChoice();
    CCompressorChoice(const CCompressorChoice&) = delete;
    CCompressorChoice& operator=(const CCompressorChoice&) = delete;

    // Opens the system's compressor chooser for frames of the given format, uncompressed
    // preselected, with the key-frame and data-rate choices. False when the user cancelled
    // (the choice stays as it was).
    bool Choose(HWND owner, const BITMAPINFO* input);
    // Names a compressor directly, with the default quality, a key frame every keyFrameEvery
    // frames and a data rate in kilobytes a second (0: the compressor's own choice for either).
    void SetCompressor(DWORD fccHandler, LONG keyFrameEvery = 0, LONG dataRateKb = 0);

    // 'DIB ' (or no handler at all) is uncompressed: the frames are written as they are.
    bool IsUncompressed() const;
    DWORD GetHandler() const { return m_vars.fccHandler; }
    // The compression options of the choice, for AVIMakeCompressedStream; they point into this
    // object's state block, so they are valid as long as it lives.
    AVICOMPRESSOPTIONS GetOptions() const;

private:
    COMPVARS m_vars;
    bool m_bChosen = false; // m_vars holds what ICCompressorChoose allocated
};

// Saves clip at path. frameRate is the clip's own rate in frames a second. Without a sound format,
// without sound bytes (the clip has no sound block) or without one whole sample of sound, the file
// has the video stream only. Bytes beyond the last whole sample are not written.
AviResult WriteAvi(const CFrameArray& clip, const char* path, int frameRate, const WAVEFORMATEX* soundFormat,
                   const BYTE* soundBytes, DWORD soundLength, const CCompressorChoice& compressor);

// Runs out of memory only with std::bad_alloc (CMemoryException's base), for the caller's
// out-of-memory report; the disk is then left as it was, like after any failed save.
//
// As above, asking the user for the compressor first when chooseCompressor is set (owner owns the
// chooser); a cancelled chooser gives Cancelled before anything touches the disk.
AviResult WriteAvi(const CFrameArray& clip, const char* path, int frameRate, const WAVEFORMATEX* soundFormat,
                   const BYTE* soundBytes, DWORD soundLength, BOOL chooseCompressor, HWND owner = nullptr);
