// CZarvexDlg: the program's one modal dialog, which owns the whole state of the program.
//
// Threading: every handler runs on the dialog thread. The capture graph's streaming thread reaches
// the dialog only through WM_CAPTURE_FRAME, whose frame OnCaptureFrame claims from the graph's
// frame handoff before it reads it. Worker threads started by the dialog (clip maker, player) are
// added with their subsystems; while any of them may touch the dialog's state the exit button is
// disabled, and OnCancel refuses to close the dialog then, so no way of closing (exit button, Esc,
// close box, Alt+F4) destroys that state under them. The sound capture's worker touches nothing of
// the dialog but its CSoundCapture, which OnDestroy deletes (joining the worker) before anything
// else goes, so it needs no such guard.
// The clip maker (CClipMaker) reads the ring and the sound capture, never the lists or the
// controls: it hands its clip back with WM_CLIP_MADE, and asks for the oldest clip's removal with
// a bounded send of WM_CLIP_REMOVE_OLDEST, so m_clips and m_sounds change on this thread only.
// OnDestroy stops and joins it (bounded, handling its sends meanwhile) before the sound capture,
// the ring or the lists go.
// The player (CClipPlayer) owns the playback thread, the command word and the seek position; the
// transport controls only set its bits. Its thread reads the playing clip and its sound block and
// writes the sound output, and never waits for this thread: it posts the slider's position and
// WM_PLAYBACK_ENDED. A playback holds the capture-side controls (the exit button with them) from
// its start until that message; OnDestroy stops and joins it (bounded) before the clips, the sound
// blocks or the sound output go. The clip maker's removal of the oldest clip keeps a clip that is
// playing.
#pragma once

#include <windows.h>

#include <memory>

#include "ClipMaker.h"
#include "ClipPlayer.h"
#include "ComScope.h"
#include "FramePublisher.h"
#include "FrameStore.h"
#include "SharedMem.h"
#include "SoundBlock.h"
#include "SoundCapture.h"
#include "SoundOutput.h"
#include "SoundPlayer.h"
#include "VideoFormat.h"
#include "afx_imagelist.h"
#include "afx_string.h"
#include "afx_sync.h"
#include "afx_wnd.h"

class CCaptureGraph;

namespace testing_support {
struct ZarvexDlgTestAccess;
}

// Posted by the clip maker when its result waits (CClipMaker::TakeResult).
constexpr UINT WM_CLIP_MADE = WM_APP + 1;
// Sent by the clip maker, with a bounded wait, when the user chose to remove the oldest clip.
constexpr UINT WM_CLIP_REMOVE_OLDEST = WM_APP + 2;
// Posted by the player when a playback has ended (its fade-out over, no longer marked as playing).
constexpr UINT WM_PLAYBACK_ENDED = WM_APP + 3;

class CZarvexDlg : public CDialog {
public:
    explicit CZarvexDlg(CWnd* parent = nullptr);
    ~CZarvexDlg() override;

    // Loads (TRUE) or saves (FALSE) the "Settings" section of the settings file.
    void ExchangeSettings(BOOL bLoad);
    // Enables or disables the capture-side controls as one group. They are given back only when
    // neither a press (armed, or its clip being made) nor a playback still holds them.
    void EnableControls(BOOL bEnable);

    // The settings file: the program's own path with the extension "ini".
    static CString SettingsPath();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

private:
    friend struct testing_support::ZarvexDlgTestAccess; // the in-process tests reach the clip list

    void OnDestroy();
    BOOL OnSysCommand(WPARAM id);
    BOOL OnPaint();
    void OnTopmost();
    void SetItemInt(int id, int value);
    // Fills m_soundDevices and list 1007, and selects entry m_nSoundDevice.
    void FillSoundDevices();
    // Replaces the sound capture by one for the device selected in 1007, sized for the current
    // pre and post times; "Error!" when its set-up fails (the new capture is then kept unstarted).
    void StartSoundCapture();
    // Shows a figure as "%d MB".
    void SetDlgItemMB(int id, LONGLONG megabytes);
    // Rebuilds the clip list view and its thumbnails whole from m_clips.
    void RefillClipList();
    // The first selected list item; 0 when items exist but none is selected; -1 for an empty list.
    int GetSelectedClip() const;
    // Button 3: deletes the selected clip and its sound block, then refreshes the free figure.
    void OnDelete();

    // The press, from the ring's completion on. OnRingCompleted starts the clip maker on the ring
    // that just completed; OnClipMade takes its result into the lists; OnRemoveOldest is the
    // removal the memory question asked for.
    void OnRingCompleted();
    void OnClipMade();
    void OnRemoveOldest();
    // The way out of a press that cannot complete (no frames for kNoFrameMs, or the ring rebuilt
    // while armed): disarms, captures sound again and gives the controls back.
    void AbandonPress();
    void OnTimer(UINT_PTR id);
    void StopPressTimer();

    // Device and format choice.
    void FillVideoDevices();
    void FillVideoFormats();
    void ApplyVideoFormat();
    void StartVideoCapture();
    void StopVideoCapture();
    // The device name text of entry index of the device list, or "" when there is none.
    CString VideoDeviceEntry(int index) const;

    // The frame ring and the memory figures. ResetFrameStore: TRUE when the frame channel was read.
    BOOL ResetFrameStore();
    BOOL ReadChannelFormat();
    BOOL CheckFreeMemory(BOOL bShow);

    // WM_CAPTURE_FRAME: wParam = the frame's pixels, lParam = their length.
    LRESULT OnCaptureFrame(WPARAM wParam, LPARAM lParam);
    // WM_CAMERA_FORMAT: wParam 1 (a client's SetFormat) or 2 (a pin connection) rebuilds the ring
    // at the size the channel asks for and publishes its blank frame; any other wParam is ignored.
    LRESULT OnCameraFormat(WPARAM wParam);
    // The frame publisher: an image into the channel, and the ring's slot at its write index.
    void PublishFrame(const CFrameImage& image);
    void PublishCurrentFrame();
    // True while a clip plays back (its fade-out included): live frames are then dropped.
    bool IsPlaying() const { return m_player.IsPlaying() != FALSE; }

    // Playback. StartPlayback plays clip index (no clip there, or a playback running: nothing
    // happens); a clip without a sound block plays without sound, paced by the player's timer.
    void StartPlayback(int index);
    void OnPlaybackEnded();
    // The transport buttons 1021, 1023, 1024, 1029 and 1031.
    void OnTransport(int id);
    // WM_HSCROLL from the position slider 1030.
    void OnPositionSlider(int code, int thumbPosition);
    // WM_VSCROLL from the volume slider 1025.
    void OnVolumeSlider(int code, int thumbPosition);
    // UDN_DELTAPOS from the sound delay spin 1028.
    void OnSoundDelayStep(int delta);
    // WM_NOTIFY: the clip list's double-click and the delay spin; TRUE when handled (*result set).
    BOOL OnNotify(const NMHDR* header, LRESULT* result);
    // Button 4: the selected clip saved as an AVI file.
    void OnSave();
    // WM_HSCROLL from the time sliders 1002 and 1005.
    void OnTimeSlider(int id, int code, int thumbPosition);

    // Declaration order is construction order; the COM scope is made first and destroyed last.
    // Its result is not examined: a failure shows up later as failing COM calls, which every user
    // of COM in the program already handles.
    win::ComScope m_com;
    CCriticalSection m_csFrames;       // guards the frame ring: its reallocation and every stored frame
    CFrameStore m_ring{&m_csFrames};   // the last PreTime + EndTime seconds of video
    CFrameStore* m_pRing = nullptr;    // where live frames go; ResetFrameStore points it at m_ring
    CFrameStore* m_pCutRing = nullptr; // the ring handed to the clip maker; always m_ring
    int m_nPreTime = 5;
    int m_nEndTime = 5;
    int m_nFrameRate = 30;
    int m_nVolume = 100;
    int m_nSoundDelay = 500;
    CClipArray m_clips;          // the clips in capture order; list item i shows clip i
    CSoundBlockArray m_sounds;   // entry i is the sound of clip i; shorter when clips had no sound
    CImageList m_thumbs;         // thumbnails of the clip list view
    CString m_strVideoDevice;    // device name text (DeviceNameText.h), as "VideoDevice" keeps it
    CVideoFormatArray m_formats; // formats of the chosen device; line i of list 1011 is entry i
    int m_nVideoFormat = 0;
    CSoundDeviceArray m_soundDevices; // the system's sound capture devices, in list 1007's order
    int m_nSoundDevice = 0;           // selected when the list is filled; never changed or saved
    // Replaced whenever a sound device is chosen or a time slider is released.
    std::unique_ptr<CSoundCapture> m_pSoundCapture;
    // The sound output: the device object, and the streaming buffer made on it. The buffer goes
    // first (it is declared after the device, and OnInitDialog's CreateSoundOutput drops it first).
    CDirectSoundDevice m_pDirectSound;
    CSoundPlayer m_soundOutput;
    RECT m_rcSrc = {0, 0, 0, 0}; // x, y, width, height
    RECT m_rcDst = {0, 0, 0, 0}; // x, y, width, height
    int m_nOutWidth = 512;
    int m_nOutHeight = 384;
    std::unique_ptr<CSharedMem> m_pChannel;
    std::unique_ptr<CFramePublisher> m_pPublisher;  // on m_pChannel, made right after it
    std::unique_ptr<CCaptureGraph> m_pVideoCapture; // the running capture graph
    // The player: the playing clip, its frame index and sound, the command word and the seek
    // position. Declared after the sound output and the publisher it uses, so it goes before them.
    CClipPlayer m_player{&m_soundOutput, [this](const CFrameImage& image) { PublishFrame(image); }};
    CString m_strCaption;
    LOGFONTA m_lfCaption = {};
    HICON m_hIcon = nullptr;
    // The press: armed from OnOK until the ring completes (or the press is abandoned), then the
    // clip maker's until OnClipMade. m_dwLastFrameTick: when the ring last took a frame or was armed.
    bool m_bArmed = false;
    DWORD m_dwLastFrameTick = 0;
    bool m_bPressTimer = false;
    CClipMaker m_clipMaker; // stopped in OnDestroy; declared last, so also destroyed first
};
