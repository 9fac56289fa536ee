#pragma once
// Error and notification codes of the media players and the wave command interpreter.
//
// The numbers are the classic media-control error numbers (error base 256), so a caller that
// already knows them reads ours the same way. The names carry a k prefix instead of the
// platform's MCIERR_ macros, which would clash with the platform header on Windows.

#include <QString>

namespace quaverly::mcierr {

inline constexpr int kNone = 0;                   // success
inline constexpr int kInvalidDeviceId = 257;      // MCIERR_INVALID_DEVICE_ID: nothing is open
inline constexpr int kUnrecognizedKeyword = 259;  // MCIERR_UNRECOGNIZED_KEYWORD
inline constexpr int kUnrecognizedCommand = 261;  // MCIERR_UNRECOGNIZED_COMMAND
inline constexpr int kHardware = 262;             // MCIERR_HARDWARE: the sound device failed
inline constexpr int kInvalidDeviceName = 263;    // MCIERR_INVALID_DEVICE_NAME: unknown alias/type
inline constexpr int kOutOfMemory = 264;          // MCIERR_OUT_OF_MEMORY
inline constexpr int kMissingCommandString = 267; // MCIERR_MISSING_COMMAND_STRING: empty text
inline constexpr int kBadInteger = 270;           // MCIERR_BAD_INTEGER: not a plain decimal
inline constexpr int kMissingParameter = 273;     // MCIERR_MISSING_PARAMETER
inline constexpr int kFileNotFound = 275;         // MCIERR_FILE_NOT_FOUND
inline constexpr int kOutOfRange = 282;           // MCIERR_OUTOFRANGE: position outside the sound
inline constexpr int kFileNotSaved = 286;         // MCIERR_FILE_NOT_SAVED
inline constexpr int kDeviceTypeRequired = 287;   // MCIERR_DEVICE_TYPE_REQUIRED
inline constexpr int kDuplicateAlias = 289;       // MCIERR_DUPLICATE_ALIAS
inline constexpr int kNoClosingQuote = 294;       // MCIERR_NO_CLOSING_QUOTE
inline constexpr int kDuplicateFlags = 295;       // MCIERR_DUPLICATE_FLAGS: a keyword twice
inline constexpr int kInvalidFile = 296;          // MCIERR_INVALID_FILE: not an 8/16-bit PCM WAV
inline constexpr int kFilenameRequired = 304;     // MCIERR_FILENAME_REQUIRED
inline constexpr int kFileRead = 348;             // MCIERR_FILE_READ
inline constexpr int kFileWrite = 349;            // MCIERR_FILE_WRITE

// A short English text for a code above ("unknown error N" for anything else).
QString text(int code);

} // namespace quaverly::mcierr

namespace quaverly::mcinotify {

// Codes carried by MciPlayer::Done, with the classic notification values.
inline constexpr int kSuccessful = 1; // MCI_NOTIFY_SUCCESSFUL: played to the end
inline constexpr int kFailure = 8;    // MCI_NOTIFY_FAILURE: playback broke off (file unreadable)

} // namespace quaverly::mcinotify
