#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "avi_expect.h"
#include "avi_test_clip.h"
#include "AviWriter.h"
#include "ComScope.h"
#include "UniqueAny.h"
#include "modal_dialog_helper.h"
#include "test_paths.h"

using avi_test::AviFile;
using avi_test::AviStream;
using avi_test::ExpectSound;
using avi_test::ExpectVideo;
using avi_test::FindHeader;
using testing_support::ModalDialogHelper;

namespace {

constexpr DWORD kDib = avi_test::kDibHandler;

using avi_test::ReadBytes;
using avi_test::WriteBytes;

class AviWriterTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com_.ok());
        ASSERT_TRUE(folder_.ok());
    }

    std::string Path(const char* name) const { return folder_.Path(name); }
    std::vector<std::string> Listing() const { return folder_.Listing(); }

    AviResult Save(const CFrameArray& clip, const char* name, int rate, const std::vector<BYTE>* sound,
                   const CCompressorChoice& compressor) {
        const WAVEFORMATEX pcm = avi_test::PcmFormat();
        return WriteAvi(clip, Path(name).c_str(), rate, sound ? &pcm : nullptr,
                        sound ? sound->data() : nullptr, sound ? static_cast<DWORD>(sound->size()) : 0,
                        compressor);
    }

    // The folder holds clip.avi alone, and it reads back as clip at rate with sound.
    void ExpectOnlyTheClip(const CFrameArray& clip, int rate, const std::vector<BYTE>& sound) {
        EXPECT_EQ(std::vector<std::string>{"clip.avi"}, Listing());
        const AviFile file = avi_test::ReadAvi(Path("clip.avi"));
        ASSERT_EQ(S_OK, file.hrOpen);
        EXPECT_EQ(2u, file.streamCount);
        ASSERT_EQ(2u, file.streams.size());
        EXPECT_EQ(streamtypeVIDEO, file.streams[0].info.fccType);
        EXPECT_EQ(streamtypeAUDIO, file.streams[1].info.fccType);
        ExpectVideo(file, clip, rate);
        ExpectSound(file, sound);
    }

    win::ComScope com_;
    avi_test::AviFolder folder_;
};

// A hidden top-level window to own the chooser.
class OwnerWindow {
public:
    OwnerWindow()
        : m_hwnd(CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr)) {}
    ~OwnerWindow() {
        if (m_hwnd)
            DestroyWindow(m_hwnd);
    }
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;
    HWND get() const { return m_hwnd; }

private:
    HWND m_hwnd;
};

} // namespace

TEST_F(AviWriterTest, SavedClipReadsBackWithEveryFrameAndTheWholeSound) {
    struct Case {
        const char* name;
        int frames, width, height, rate;
        size_t soundBytes;
    };
    const Case cases[] = {
        {"30 fps, half a second of sound", 12, 64, 48, 30, 88200},
        {"the rate comes from the caller: 15 fps", 6, 64, 48, 15,
         44100 * 4 / 4 + 2}, // a partial sample at the end
        {"one frame, one sample", 1, 96, 72, 30, 4},
        {"rows padded to 4 bytes", 3, 97, 5, 25, 1000},
        {"the program's size, a second of sound", 10, 512, 384, 30, 176400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto clip = avi_test::MakeClip(c.frames, c.width, c.height);
        const std::vector<BYTE> sound = avi_test::MakeSound(c.soundBytes);
        CCompressorChoice uncompressed;
        ASSERT_EQ(AviResult::Written, Save(*clip, "clip.avi", c.rate, &sound, uncompressed));
        ExpectOnlyTheClip(*clip, c.rate, sound);
        DeleteFileA(Path("clip.avi").c_str());
    }
}

TEST_F(AviWriterTest, ClipWithoutSoundGivesAValidVideoOnlyFile) {
    struct Case {
        const char* name;
        bool format;   // a sound format is known (a sound capture exists)
        bool block;    // the clip has a sound block
        size_t bytes;  // its length
        DWORD streams; // streams in the file
    };
    const Case cases[] = {
        {"no sound format", false, true, 1000, 1},
        {"a format but no sound block for the clip", true, false, 0, 1},
        {"an empty sound block", true, true, 0, 1},
        {"less than one sample", true, true, 3, 1},
    };
    auto clip = avi_test::MakeClip(5, 64, 48);
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<BYTE> sound = avi_test::MakeSound(c.bytes);
        CCompressorChoice uncompressed;
        ASSERT_EQ(AviResult::Written,
                  WriteAvi(*clip, Path("clip.avi").c_str(), 30, c.format ? &pcm : nullptr,
                           c.block ? sound.data() : nullptr, static_cast<DWORD>(c.bytes), uncompressed));
        const AviFile file = avi_test::ReadAvi(Path("clip.avi"));
        ASSERT_EQ(S_OK, file.hrOpen);
        EXPECT_EQ(c.streams, file.streamCount);
        EXPECT_EQ(c.streams, file.streams.size());
        ExpectVideo(file, *clip, 30);
        if (c.streams == 2) {
            ExpectSound(file, sound);
        } else {
            // Neither the reader's view nor the file itself has a sound stream (AVIFile under Wine
            // hides one that holds no data, so the headers tell).
            EXPECT_EQ(nullptr, file.Find(streamtypeAUDIO));
            EXPECT_EQ(nullptr, FindHeader(file, streamtypeAUDIO));
            EXPECT_EQ(1u, file.headers.size());
        }
        DeleteFileA(Path("clip.avi").c_str());
    }
}

TEST_F(AviWriterTest, CompressorThatCannotTakeTheFramesSavesThemUncompressed) {
    // Under Wine no installed compressor takes 24-bit frames: the stream refuses their format
    // (AVIERR_COMPRESSOR), and a handler nobody installed gives no compressed stream at all.
    const DWORD handlers[] = {mmioFOURCC('c', 'v', 'i', 'd'), mmioFOURCC('m', 's', 'v', 'c'),
                              mmioFOURCC('m', 'r', 'l', 'e'), mmioFOURCC('X', 'X', 'X', 'X')};
    auto clip = avi_test::MakeClip(4, 64, 48);
    const std::vector<BYTE> sound = avi_test::MakeSound(8000);
    for (DWORD handler : handlers) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&handler), 4));
        CCompressorChoice compressor;
        compressor.SetCompressor(handler, 10, 200);
        ASSERT_EQ(AviResult::WrittenUncompressed, Save(*clip, "clip.avi", 30, &sound, compressor));
        ExpectOnlyTheClip(*clip, 30, sound);
        DeleteFileA(Path("clip.avi").c_str());
    }
}

TEST_F(AviWriterTest, ChooserConfirmedOrCancelledByTheUser) {
    struct Case {
        const char* name;
        const char* pick; // part of the compressor's name to select, or null to keep the preselection
        int button;       // how the chooser is closed
        bool existing;    // a file is already at the path
        AviResult result;
    };
    const Case cases[] = {
        {"uncompressed kept", nullptr, IDOK, false, AviResult::Written},
        {"uncompressed kept over an existing file", nullptr, IDOK, true, AviResult::Written},
        {"a compressor that cannot take the frames", "Cinepak", IDOK, false, AviResult::WrittenUncompressed},
        {"cancelled", nullptr, IDCANCEL, false, AviResult::Cancelled},
        {"cancelled over an existing file", "Cinepak", IDCANCEL, true, AviResult::Cancelled},
    };
    auto clip = avi_test::MakeClip(3, 64, 48);
    const std::vector<BYTE> sound = avi_test::MakeSound(4000);
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    const std::string old = "not the clip";
    OwnerWindow owner;
    ASSERT_NE(nullptr, owner.get()) << "no display: the chooser needs a window station with a desktop";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.existing) {
            ASSERT_TRUE(WriteBytes(Path("clip.avi"), old));
        }
        const std::vector<std::string> before = Listing();

        std::string preselected, picked;
        HWND chooserOwner = nullptr;
        ModalDialogHelper helper({[&](HWND dialog) {
            chooserOwner = GetWindow(dialog, GW_OWNER);
            HWND combo = ModalDialogHelper::FindDescendant(dialog, "ComboBox");
            preselected = ModalDialogHelper::TextOf(combo);
            if (c.pick && !ModalDialogHelper::SelectComboItem(dialog, combo, c.pick))
                picked = "(none)";
            else
                picked = ModalDialogHelper::TextOf(combo);
            ModalDialogHelper::Press(dialog, c.button);
        }});
        const AviResult result = WriteAvi(*clip, Path("clip.avi").c_str(), 30, &pcm, sound.data(),
                                          static_cast<DWORD>(sound.size()), TRUE, owner.get());
        helper.Join();
        EXPECT_EQ(c.result, result);
        ASSERT_EQ(1, helper.Answered()) << "the compressor chooser did not open";
        EXPECT_TRUE(helper.Unexpected().empty());
        EXPECT_EQ(owner.get(), chooserOwner);
        EXPECT_NE(std::string::npos, preselected.find("Uncompressed")) << preselected;
        if (c.pick) {
            EXPECT_NE(std::string::npos, picked.find(c.pick)) << "no such compressor: " << picked;
        }

        if (c.result == AviResult::Cancelled) {
            EXPECT_EQ(before, Listing());
            if (c.existing) {
                EXPECT_TRUE(old == ReadBytes(Path("clip.avi"))) << "the existing file changed";
            }
        } else {
            ExpectOnlyTheClip(*clip, 30, sound);
        }
        DeleteFileA(Path("clip.avi").c_str());
    }
}

TEST_F(AviWriterTest, SavingOverAnExistingFileReplacesItWhole) {
    auto oldClip = avi_test::MakeClip(9, 96, 72);
    const std::vector<BYTE> oldSound = avi_test::MakeSound(40000);
    auto clip = avi_test::MakeClip(2, 64, 48);
    const std::vector<BYTE> sound = avi_test::MakeSound(400);
    struct Case {
        const char* name;
        bool oldIsAvi; // the old file is a longer AVI file (else a few plain bytes)
    };
    for (const Case& c : {Case{"a longer AVI file", true}, Case{"a plain file", false}}) {
        SCOPED_TRACE(c.name);
        CCompressorChoice uncompressed;
        if (c.oldIsAvi) {
            ASSERT_EQ(AviResult::Written, Save(*oldClip, "clip.avi", 15, &oldSound, uncompressed));
        } else {
            ASSERT_TRUE(WriteBytes(Path("clip.avi"), "old bytes"));
        }
        ASSERT_EQ(AviResult::Written, Save(*clip, "clip.avi", 30, &sound, uncompressed));
        ExpectOnlyTheClip(*clip, 30, sound);
        DeleteFileA(Path("clip.avi").c_str());
    }
}

TEST_F(AviWriterTest, FailedSaveIsReportedAndLeavesTheDiskAsItWas) {
    auto clip = avi_test::MakeClip(3, 64, 48);
    const std::vector<BYTE> sound = avi_test::MakeSound(4000);
    const std::string old = "the user's old file";
    struct Case {
        const char* name;
        const char* target;
        AviResult result;
        void (*prepare)(const std::string& path, const std::string& old);
    };
    const Case cases[] = {
        {"a folder that does not exist", "missing\\clip.avi", AviResult::CannotCreate,
         [](const std::string&, const std::string&) {}},
        {"a read-only file at the path", "clip.avi", AviResult::CannotReplace,
         [](const std::string& path, const std::string& old) {
             ASSERT_TRUE(WriteBytes(path, old));
             ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
         }},
        {"a folder at the path", "clip.avi", AviResult::CannotReplace,
         [](const std::string& path, const std::string&) {
             ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Path(c.target);
        c.prepare(path, old);
        const std::vector<std::string> before = Listing();
        const std::string bytesBefore = ReadBytes(path);

        CCompressorChoice uncompressed;
        const WAVEFORMATEX pcm = avi_test::PcmFormat();
        EXPECT_EQ(c.result, WriteAvi(*clip, path.c_str(), 30, &pcm, sound.data(),
                                     static_cast<DWORD>(sound.size()), uncompressed));
        EXPECT_FALSE(AviWritten(c.result));
        EXPECT_EQ(before, Listing()) << "a save that failed left something behind";
        EXPECT_TRUE(bytesBefore == ReadBytes(path)) << "the file at the path changed";

        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str()))
            RemoveDirectoryA(path.c_str());
    }
}

TEST_F(AviWriterTest, FileInUseIsNotReplacedAndStaysAsItWas) {
    const std::string path = Path("clip.avi");
    const std::string old = "open in another program";
    ASSERT_TRUE(WriteBytes(path, old));
    // Another program has the file open, sharing reading and writing but not its deletion.
    win::UniqueFile held(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    auto clip = avi_test::MakeClip(3, 64, 48);
    CCompressorChoice uncompressed;
    EXPECT_EQ(AviResult::CannotReplace, Save(*clip, "clip.avi", 30, nullptr, uncompressed));
    held.reset();
    EXPECT_EQ(std::vector<std::string>{"clip.avi"}, Listing());
    EXPECT_TRUE(old == ReadBytes(path)) << "the file in use changed";
}

TEST_F(AviWriterTest, UnusableInputIsRefusedBeforeTheChooserAndTheDisk) {
    const WAVEFORMATEX pcm = avi_test::PcmFormat();
    WAVEFORMATEX noBlockAlign = pcm;
    noBlockAlign.nBlockAlign = 0;
    WAVEFORMATEX noRate = pcm;
    noRate.nSamplesPerSec = 0;
    const std::vector<BYTE> sound = avi_test::MakeSound(400);
    struct Case {
        const char* name;
        std::unique_ptr<CFrameArray> (*clip)();
        int rate;
        const WAVEFORMATEX* format;
        AviResult result;
    };
    const Case cases[] = {
        {"no frames", [] { return std::make_unique<CFrameArray>(); }, 30, &pcm, AviResult::BadClip},
        {"a frame without pixels",
         [] {
             auto clip = avi_test::MakeClip(2, 64, 48);
             clip->Add(new CFrameImage());
             return clip;
         },
         30, &pcm, AviResult::BadClip},
        {"a missing frame",
         [] {
             auto clip = avi_test::MakeClip(2, 64, 48);
             clip->Add(nullptr);
             return clip;
         },
         30, &pcm, AviResult::BadClip},
        {"a frame of another size",
         [] {
             auto clip = avi_test::MakeClip(2, 64, 48);
             clip->Add(new CFrameImage(48, 64, 24));
             return clip;
         },
         30, &pcm, AviResult::BadClip},
        {"frame rate 0", [] { return avi_test::MakeClip(2, 64, 48); }, 0, &pcm, AviResult::BadFrameRate},
        {"a negative frame rate", [] { return avi_test::MakeClip(2, 64, 48); }, -30, &pcm,
         AviResult::BadFrameRate},
        {"sound without a block size", [] { return avi_test::MakeClip(2, 64, 48); }, 30, &noBlockAlign,
         AviResult::BadSound},
        {"sound without a sample rate", [] { return avi_test::MakeClip(2, 64, 48); }, 30, &noRate,
         AviResult::BadSound},
    };
    for (const Case& c : cases) {
        for (BOOL choose : {FALSE, TRUE}) {
            SCOPED_TRACE(std::string(c.name) + (choose ? ", with the chooser" : ""));
            auto clip = c.clip();
            ModalDialogHelper helper({}); // any dialog that opens is unexpected
            EXPECT_EQ(c.result, WriteAvi(*clip, Path("clip.avi").c_str(), c.rate, c.format, sound.data(),
                                         static_cast<DWORD>(sound.size()), choose));
            helper.Join();
            EXPECT_TRUE(helper.Unexpected().empty()) << "a chooser opened for input that cannot be saved";
            EXPECT_TRUE(Listing().empty());
        }
    }
}

TEST(CompressorChoiceTest, OptionsCarryTheChoice) {
    CCompressorChoice fresh;
    EXPECT_TRUE(fresh.IsUncompressed());
    EXPECT_EQ(kDib, fresh.GetHandler());

    struct Case {
        DWORD handler;
        LONG key, rateKb;
        bool uncompressed;
        DWORD flags, bytesPerSecond;
    };
    const DWORD cvid = mmioFOURCC('c', 'v', 'i', 'd');
    const Case cases[] = {
        {cvid, 0, 0, false, 0, 0},
        {cvid, 15, 0, false, AVICOMPRESSF_KEYFRAMES, 0},
        {cvid, 0, 300, false, AVICOMPRESSF_DATARATE, 300 * 1024},
        {cvid, 15, 300, false, AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_DATARATE, 300 * 1024},
        {kDib, 0, 0, true, 0, 0},
        {0, 0, 0, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.handler) + " key " + std::to_string(c.key) + " rate " +
                     std::to_string(c.rateKb));
        CCompressorChoice choice;
        choice.SetCompressor(c.handler, c.key, c.rateKb);
        EXPECT_EQ(c.uncompressed, choice.IsUncompressed());
        AVICOMPRESSOPTIONS options;
        std::memset(&options, 0xA5, sizeof options);
        options = choice.GetOptions();
        EXPECT_EQ(streamtypeVIDEO, options.fccType);
        EXPECT_EQ(c.handler, options.fccHandler);
        EXPECT_EQ(static_cast<DWORD>(c.key), options.dwKeyFrameEvery);
        EXPECT_EQ(static_cast<DWORD>(ICQUALITY_DEFAULT), options.dwQuality);
        EXPECT_EQ(c.bytesPerSecond, options.dwBytesPerSecond);
        EXPECT_EQ(c.flags, options.dwFlags);
        EXPECT_EQ(nullptr, options.lpFormat);
        EXPECT_EQ(0u, options.cbFormat);
        EXPECT_EQ(nullptr, options.lpParms);
        EXPECT_EQ(0u, options.cbParms);
        EXPECT_EQ(0u, options.dwInterleaveEvery);
    }
}
