#pragma once
// The sound library layer: decode-only streams over MP3 (libmpg123) and WAV (libsndfile) files.
// Its calls and their meaning follow a small, well-known C interface: handles are 32-bit
// numbers into tables owned by the layer, 0 means failure, and BASS_ErrorGetCode() tells why.
//
// Threads: every function may be called from any one thread at a time (the UI thread in the
// program, the main thread in the command line and tests); the layer serialises its tables with
// a mutex. The error code is per calling thread.
//
// Devices: device 0 decodes only and needs no sound server. Recording and playing a take from
// memory are engines/audio's CaptureDevice and TakePlayer.

#include <cstdint>
#include <string>

namespace quaverly::bass {

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HMUSIC = DWORD;

// Interface level that this layer implements (2.2).
constexpr DWORD kVersion = 0x00020002;

// Error codes returned by BASS_ErrorGetCode().
enum : int {
    BASS_OK = 0,
    BASS_ERROR_MEM = 1,       // out of memory
    BASS_ERROR_FILEOPEN = 2,  // the file could not be opened
    BASS_ERROR_DRIVER = 3,    // no sound server / device driver
    BASS_ERROR_HANDLE = 5,    // invalid handle
    BASS_ERROR_FORMAT = 6,    // sample format not supported (e.g. more than two channels)
    BASS_ERROR_POSITION = 7,  // invalid position
    BASS_ERROR_INIT = 8,      // BASS_Init has not been successfully called
    BASS_ERROR_START = 9,     // the device could not be started
    BASS_ERROR_ALREADY = 14,  // already initialised
    BASS_ERROR_NOCHAN = 18,   // no free channel handle
    BASS_ERROR_ILLTYPE = 19,  // an illegal type was given
    BASS_ERROR_ILLPARAM = 20, // an illegal parameter was given
    BASS_ERROR_DEVICE = 23,   // illegal device number
    BASS_ERROR_NOPLAY = 24,   // not playing
    BASS_ERROR_NOTFILE = 27,  // the stream is not a file stream
    BASS_ERROR_NONET = 32,    // no network connection (URL streams are not supported)
    BASS_ERROR_CREATE = 33,   // the stream could not be created
    BASS_ERROR_NOTAVAIL = 37, // requested data is not available
    BASS_ERROR_DECODE = 38,   // the channel is a decoding channel
    BASS_ERROR_FILEFORM = 41, // unsupported file format
    BASS_ERROR_ENDED = 45,    // the channel has reached the end
    BASS_ERROR_UNKNOWN = -1,
};

// Flags.
constexpr DWORD BASS_SAMPLE_8BITS = 1;
constexpr DWORD BASS_STREAM_DECODE = 0x200000;
constexpr DWORD BASS_CONFIG_UPDATEPERIOD = 1;

// BASS_ChannelIsActive results.
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

struct BASS_CHANNELINFO {
    DWORD freq = 0;    // sample rate, Hz
    DWORD chans = 0;   // channel count
    DWORD flags = 0;   // BASS_SAMPLE_8BITS when the PCM is 8-bit, BASS_STREAM_DECODE, ...
    DWORD ctype = 0;   // one of the BASS_CTYPE_ values below
    DWORD origres = 0; // bits per sample of the source, 0 when not known (MP3)
};
constexpr DWORD BASS_CTYPE_STREAM_MP1 = 0x10003;
constexpr DWORD BASS_CTYPE_STREAM_MP2 = 0x10004;
constexpr DWORD BASS_CTYPE_STREAM_MP3 = 0x10005;
constexpr DWORD BASS_CTYPE_STREAM_WAV = 0x40000;

DWORD BASS_GetVersion();
// BASS_CONFIG_UPDATEPERIOD: 0 or 5-100 ms (else BASS_ERROR_ILLPARAM); other options:
// BASS_ERROR_ILLTYPE.
BOOL BASS_SetConfig(DWORD option, DWORD value);
// device 0: decoding only, needs no sound server; freq, flags and window are not used. A second
// BASS_Init without BASS_Free fails with BASS_ERROR_ALREADY; any other device with
// BASS_ERROR_DEVICE.
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* window, void* clsid);
// Frees every stream of the layer. BASS_ERROR_INIT when not started.
BOOL BASS_Free();
int BASS_ErrorGetCode();
// A readable text for the calling thread's last error (empty after success), e.g.
// "song.mp3: not an MPEG audio stream (no two consecutive frames)". For logs and messages.
std::string lastErrorText();

// mem false: file is a UTF-8 path; offset/length 0 for the whole file. Only decode-only file
// streams (BASS_STREAM_DECODE) are supported; the kind of file is found from its content, not
// its name: RIFF/WAVE (PCM 8/16/24/32-bit, float, extensible, A-law, ...) through libsndfile,
// anything else as MPEG audio (MP3/MP2/MP1) through libmpg123, gapless. Output is interleaved
// 16-bit signed little-endian PCM at the source rate, mono or stereo; a stream whose frames
// change between mono and stereo is stereo throughout. The length is exact from the start, and a
// decode that cannot reach it is an error, never padded: see BASS_ChannelGetData.
// Errors: BASS_ERROR_INIT (no BASS_Init), BASS_ERROR_ILLPARAM (no path, no BASS_STREAM_DECODE,
// offset or length not 0), BASS_ERROR_FILEOPEN (missing, unreadable or not a regular file),
// BASS_ERROR_FILEFORM (empty, not a WAV file libsndfile reads, no two consecutive MPEG audio
// frames), BASS_ERROR_FORMAT (more than two channels), BASS_ERROR_MEM.
// mem true: memory streams are not supported (BASS_ERROR_ILLPARAM).
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
// Network streams are not supported: always fails with BASS_ERROR_NONET (BASS_ERROR_INIT
// before BASS_Init).
HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, void* proc, void* user);
// Tracker modules are not supported: always fails, with BASS_ERROR_FILEOPEN when the file
// cannot be read (so that this last fallback keeps the real reason), else BASS_ERROR_FILEFORM.
HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                      DWORD freq);
BOOL BASS_StreamFree(HSTREAM handle);

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
// Not of the interface above: true when the source of a decoding file stream switches between
// mono and stereo frames, so that the stream, stereo throughout, carries its mono passages on
// both sides. False for every other channel, and for an unknown handle (BASS_ERROR_HANDLE).
bool channelsChangeInSource(DWORD handle);
BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan);
// Decoding channels: up to `length` bytes of PCM, whole frames only (length is rounded down to
// a multiple of the frame size); 0xFFFFFFFF on error or at the end (BASS_ERROR_ENDED). When the
// decoder stops before the length (a read error, a file that shrank or is damaged), the bytes it
// decoded are delivered and then every call fails with BASS_ERROR_NOTAVAIL, lastErrorText()
// naming the file and the cause, until BASS_ChannelSetPosition; the channel stays active.
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
// Decoding channels: BASS_ACTIVE_PLAYING while data remains, BASS_ACTIVE_STOPPED (0) once all
// of it has been delivered.
DWORD BASS_ChannelIsActive(DWORD handle);
// Bytes of the decoded PCM (16-bit, or 8-bit with BASS_SAMPLE_8BITS).
QWORD BASS_ChannelGetPosition(DWORD handle);
QWORD BASS_ChannelGetLength(DWORD handle);
// Decoding channels: any byte position up to the length, rounded down to a whole frame; the
// next BASS_ChannelGetData starts there (0 rewinds). Past the end: BASS_ERROR_POSITION.
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD position);
// Decoding channels cannot be played (BASS_ERROR_DECODE).
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
// A decoding channel ends: no more data until BASS_ChannelSetPosition.
BOOL BASS_ChannelStop(DWORD handle);

// Small helpers of the calling code.
inline DWORD MakeLong(DWORD low, DWORD high) {
    return (high << 16) | (low & 0xFFFFu);
}

} // namespace quaverly::bass
