// The save button's flow: one clip of the dialog's list saved as an AVI file, asking the user for
// the file name and the compressor, and telling the user when the save went wrong.
//
// A clip without a sound block is saved as video alone. A compressor that cannot take the frames
// gives an uncompressed file, and the user is told so. Any failed save is reported and leaves the
// disk as it was (WriteAvi builds the file beside the chosen name and moves it there only when
// whole). A cancelled file dialog or compressor chooser ends the flow without a word.
//
// Threading: the dialog thread only. The file dialog and the compressor chooser are modal to the
// owner and keep running its messages, so the lists may change while they are open (a clip maker
// handing in a clip, or removing the oldest one to make room). The clip is therefore looked up
// again, by identity, once both have closed; the writing itself runs no messages.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include "AviWriter.h"
#include "FrameArray.h"
#include "SoundBlock.h"

class CWnd;

// What the save dialog offers.
constexpr char kAviDefaultExtension[] = "avi";
constexpr char kAviFileFilter[] = "AVI File (*.avi)|*.avi||";

// What the user is told after a save, or null when the outcome needs no word (written as asked,
// or cancelled).
const char* ClipSaveMessage(AviResult result);

// Saves clip index of clips (with sounds[index] when the sound list reaches that far) through the
// file dialog and the compressor chooser, both owned by pOwner. soundFormat is the sound capture's
// format, or null when there is none; the clip's sound then goes out in the program's one sound
// format, which every sound block is recorded in. The clip's own frame rate is used, or
// nCurrentFrameRate for a clip that does not know its own, or the rate the player plays such a
// clip at when neither is known.
//
// Returns what the export did: BadClip when there is no clip at index (nothing is shown then),
// Cancelled for a cancelled file dialog or chooser. Whatever it returns has been told to the user
// as ClipSaveMessage says; an exhausted memory gets the framework's out-of-memory report instead
// and gives WriteFailed.
AviResult SaveClipAs(CWnd* pOwner, const CClipArray& clips, const CSoundBlockArray& sounds, int index,
                     const WAVEFORMATEX* soundFormat, int nCurrentFrameRate);
