#pragma once
// The codes of the player's and the cut's failures (Error::code()), their kinds in words, and the
// codes of the player's Done notification.
//
// The numbers are the classic media-control error numbers (error base 256), which the program
// has always shown; a caller that knows them reads ours the same way. The names carry a k prefix
// instead of the platform's MCIERR_ macros, which would clash with the platform header on Windows.

#include "engines/util/Error.h"

#include <QString>

namespace quaverly::mcierr {

inline constexpr int kInvalidDeviceId = 257;  // MCIERR_INVALID_DEVICE_ID: nothing is open
inline constexpr int kHardware = 262;         // MCIERR_HARDWARE: the sound device failed
inline constexpr int kOutOfMemory = 264;      // MCIERR_OUT_OF_MEMORY
inline constexpr int kFileNotFound = 275;     // MCIERR_FILE_NOT_FOUND
inline constexpr int kOutOfRange = 282;       // MCIERR_OUTOFRANGE: position outside the sound
inline constexpr int kFileNotSaved = 286;     // MCIERR_FILE_NOT_SAVED
inline constexpr int kInvalidFile = 296;      // MCIERR_INVALID_FILE: not an 8/16-bit PCM WAV
inline constexpr int kFilenameRequired = 304; // MCIERR_FILENAME_REQUIRED
inline constexpr int kFileRead = 348;         // MCIERR_FILE_READ
inline constexpr int kFileWrite = 349;        // MCIERR_FILE_WRITE

// The kind of failure a code stands for, in a few English words ("file not found"); "unknown
// error N" for any other number.
QString text(int code);

// The failure as the window and the command line tell it after their own opening words: the
// kind, then the file and the cause where the Error has them ("file not found: /a/b.wav",
// "the file could not be read: /a/b.wav: Input/output error").
QString reason(const Error& error);

} // namespace quaverly::mcierr

namespace quaverly::mcinotify {

// Codes carried by WavPlayer::Done, with the classic notification values.
inline constexpr int kSuccessful = 1; // MCI_NOTIFY_SUCCESSFUL: played to the end
inline constexpr int kFailure = 8;    // MCI_NOTIFY_FAILURE: playback broke off (file unreadable)

} // namespace quaverly::mcinotify
