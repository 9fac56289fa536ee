#pragma once
// The sound library layer: memory streams played through the sound device, and recording from a
// chosen input. (Files are decoded by the song reader, engines/decode/SongReader.h.)
// Its calls and their meaning follow a small, well-known C interface: handles are 32-bit
// numbers into tables owned by the layer, 0 means failure, and BASS_ErrorGetCode() tells why.
//
// Threads: every function may be called from any one thread at a time (the UI thread in the
// program, the main thread in the command line and tests); the layer serialises its tables with
// a mutex. The error code is per calling thread. A RECORDPROC runs on the sound device's thread.
//
// Devices: device -1 (BASS_Init) and the recording device (BASS_RecordInit) are the sound device
// back end of audio::defaultBackend():
// the sound server, or the virtual device when QUAVERLY_AUDIO=virtual. When no device can be
// had they fail at once with BASS_ERROR_DRIVER, and lastErrorText() gives the back end's reason.

#include <cstdint>
#include <string>

namespace quaverly::bass {

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HRECORD = DWORD;

// Error codes returned by BASS_ErrorGetCode().
enum : int {
    BASS_OK = 0,
    BASS_ERROR_MEM = 1,       // out of memory
    BASS_ERROR_FILEOPEN = 2,  // the file could not be opened
    BASS_ERROR_DRIVER = 3,    // no sound server / device driver
    BASS_ERROR_HANDLE = 5,    // invalid handle
    BASS_ERROR_FORMAT = 6,    // sample format not supported (e.g. more than two channels)
    BASS_ERROR_POSITION = 7,  // invalid position
    BASS_ERROR_INIT = 8,      // BASS_Init / BASS_RecordInit has not been successfully called
    BASS_ERROR_START = 9,     // the device could not be started
    BASS_ERROR_ALREADY = 14,  // already initialised
    BASS_ERROR_NOCHAN = 18,   // no free channel handle
    BASS_ERROR_ILLPARAM = 20, // an illegal parameter was given
    BASS_ERROR_DEVICE = 23,   // illegal device number
    BASS_ERROR_NOPLAY = 24,   // not playing
    BASS_ERROR_NOTAVAIL = 37, // requested data is not available
    BASS_ERROR_FILEFORM = 41, // unsupported file format
    BASS_ERROR_UNKNOWN = -1,
};

// Flags.
constexpr DWORD BASS_SAMPLE_8BITS = 1;
constexpr DWORD BASS_STREAM_DECODE = 0x200000;

// BASS_ChannelIsActive results.
constexpr DWORD BASS_ACTIVE_STOPPED = 0;
constexpr DWORD BASS_ACTIVE_PLAYING = 1;
constexpr DWORD BASS_ACTIVE_STALLED = 2;
constexpr DWORD BASS_ACTIVE_PAUSED = 3;

// BASS_RecordGetInput / BASS_RecordSetInput.
constexpr DWORD BASS_INPUT_OFF = 0x10000;
constexpr DWORD BASS_INPUT_ON = 0x20000;
constexpr DWORD BASS_INPUT_LEVEL = 0x40000;
constexpr DWORD BASS_INPUT_TYPE_MASK = 0xFF000000;
constexpr DWORD BASS_INPUT_TYPE_UNDEF = 0x00000000;
constexpr DWORD BASS_INPUT_TYPE_DIGITAL = 0x01000000;
constexpr DWORD BASS_INPUT_TYPE_LINE = 0x02000000;
constexpr DWORD BASS_INPUT_TYPE_MIC = 0x03000000;
constexpr DWORD BASS_INPUT_TYPE_SYNTH = 0x04000000;
constexpr DWORD BASS_INPUT_TYPE_CD = 0x05000000;
constexpr DWORD BASS_INPUT_TYPE_PHONE = 0x06000000;
constexpr DWORD BASS_INPUT_TYPE_SPEAKER = 0x07000000;
constexpr DWORD BASS_INPUT_TYPE_WAVE = 0x08000000;
constexpr DWORD BASS_INPUT_TYPE_AUX = 0x09000000;
constexpr DWORD BASS_INPUT_TYPE_ANALOG = 0x0A000000;

struct BASS_CHANNELINFO {
    DWORD freq = 0;    // sample rate, Hz
    DWORD chans = 0;   // channel count
    DWORD flags = 0;   // BASS_SAMPLE_8BITS when the PCM is 8-bit
    DWORD ctype = 0;   // one of the BASS_CTYPE_ values below
    DWORD origres = 0; // bits per sample of the source
};
constexpr DWORD BASS_CTYPE_RECORD = 2;
constexpr DWORD BASS_CTYPE_STREAM_MEMORY = 0x10000;

// Called on the sound device's thread for every recorded block of 16-bit PCM; return nonzero to
// go on recording, 0 to stop (no call follows). It must not block, allocate, touch widgets or call
// this layer (the layer may be waiting for the device thread): what the UI must know it passes
// on through atomics or a queued signal.
using RECORDPROC = BOOL(HRECORD handle, const void* buffer, DWORD length, void* user);

// device -1: the default output of the sound device back end, where memory streams play;
// BASS_ERROR_DRIVER (with the back end's reason) when it cannot be had. freq, flags and window are
// not used: streams play at their own rate. A second BASS_Init without BASS_Free fails with
// BASS_ERROR_ALREADY; any other device with BASS_ERROR_DEVICE.
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* window, void* clsid);
// Frees every stream of the layer (playing ones are silenced before it returns) and the output
// device. BASS_ERROR_INIT when not started.
BOOL BASS_Free();
// device -1 only (else BASS_ERROR_DEVICE): the capture side of the sound device back end.
// BASS_ERROR_DRIVER with the back end's reason when it cannot be had, BASS_ERROR_ALREADY when
// started already. The input recorded from is then the server's default source (none when the
// server has none).
BOOL BASS_RecordInit(int device);
// Stops any recording (no RECORDPROC call after it returns), frees the recording channels and
// the recording device. BASS_ERROR_INIT when not started.
BOOL BASS_RecordFree();
int BASS_ErrorGetCode();
// A readable text for the calling thread's last error (empty after success), e.g.
// "the virtual device was unplugged". For logs and messages.
std::string lastErrorText();

// Memory streams only (mem TRUE; else BASS_ERROR_ILLPARAM): file points at `length` bytes of a
// WAV image in memory (the recorder's take: a 44-byte header and 16-bit PCM; any RIFF/WAVE chunk
// layout with 8 or 16-bit PCM, mono or stereo, is accepted; sizes are believed only as far as
// `length` goes, nothing past it is read). The memory is not copied: it must stay valid and
// unchanged until the stream is freed (BASS_StreamFree or BASS_Free). The stream plays on the
// device of BASS_Init(-1) with BASS_ChannelPlay; offset and flags must be 0. Errors:
// BASS_ERROR_INIT, BASS_ERROR_ILLPARAM (no memory, offset or flags not 0), BASS_ERROR_FILEFORM
// (not a WAV image, no format or data chunk), BASS_ERROR_FORMAT (not 8/16-bit PCM, more than two
// channels, an unplayable rate).
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
BOOL BASS_StreamFree(HSTREAM handle);

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
// Memory streams: BASS_ACTIVE_PLAYING from BASS_ChannelPlay until the last byte has been heard
// or BASS_ChannelStop. Recordings: BASS_ACTIVE_PLAYING while blocks are delivered; stopped after
// BASS_ChannelStop or the RECORDPROC returning 0. A memory stream or a recording stopped because
// its device failed reads BASS_ACTIVE_STOPPED and leaves BASS_ERROR_DRIVER with the device's
// reason.
DWORD BASS_ChannelIsActive(DWORD handle);
// For a recording, bytes handed to the RECORDPROC so far; for a memory stream, bytes of its PCM
// (16-bit, or 8-bit with BASS_SAMPLE_8BITS) heard so far.
QWORD BASS_ChannelGetPosition(DWORD handle);
QWORD BASS_ChannelGetLength(DWORD handle);
// Memory streams: any byte position up to the length, rounded down to a whole frame; a playing
// one goes on playing from there. Past the end: BASS_ERROR_POSITION.
BOOL BASS_ChannelSetPosition(DWORD handle, QWORD position);
// Memory streams: plays from the position heard, or from the start when restart is TRUE or the
// stream has been heard to its end; a playing stream goes on unchanged unless restart is TRUE.
// A stream whose device failed (the sound server went away) plays on a new device stream: the
// output of BASS_Init(-1) need not be made again, the sound server is connected to anew once it
// is back. BASS_ERROR_START with the device's reason when it cannot play. Recordings:
// BASS_ERROR_NOTAVAIL.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
// A memory stream halts, keeping its position. A recording ends: no RECORDPROC call after this
// returns; its handle stays valid (the position readable) until BASS_RecordFree.
BOOL BASS_ChannelStop(DWORD handle);

// Recording inputs: the sound server's sources, monitors of outputs included, numbered from 0 in
// the server's order at BASS_RecordInit. An input keeps its number until BASS_RecordFree: sources
// that appear later are appended, and one that goes away keeps its number (its name is still
// given; reading, setting or recording from it fails with BASS_ERROR_NOTAVAIL until it is back).
// Input -1 (no input) is refused with BASS_ERROR_ILLPARAM by all three calls. Without
// BASS_RecordInit they fail with BASS_ERROR_INIT; when the sources cannot be listed, with
// BASS_ERROR_DRIVER.
//
// The source's description, UTF-8, valid until the next call of this function on this thread;
// null past the last input (BASS_ERROR_ILLPARAM).
const char* BASS_RecordGetInputName(int input);
// Low 16 bits: level 0-100 (the source's volume, 100 = normal, higher volumes read 100);
// BASS_INPUT_OFF unless it is the input recorded from; top byte: BASS_INPUT_TYPE_MIC,
// _LINE, _DIGITAL, _ANALOG, _AUX from the source's port, _WAVE for a monitor of an output,
// BASS_INPUT_TYPE_UNDEF when unknown. 0xFFFFFFFF on error.
DWORD BASS_RecordGetInput(int input);
// BASS_INPUT_ON makes `input` the one the next BASS_RecordStart records from (a recording in
// progress goes on from its input; nothing else on the system changes: the server's default
// source and the other inputs stay as they are). BASS_INPUT_OFF is accepted and changes nothing.
// BASS_INPUT_LEVEL | n (n 0-100) sets the source's volume (BASS_ERROR_DRIVER when the server
// refuses). The flags may be combined (not ON with OFF); anything else: BASS_ERROR_ILLPARAM.
BOOL BASS_RecordSetInput(int input, DWORD setting);
// 16-bit PCM at freq and chans (1-8) from the input that is on; proc gets each block, with the
// recording's handle and `user`, on the device thread, from before this returns (a proc that
// needs the handle gets it as its first argument). flags must be 0.
// Errors: BASS_ERROR_INIT, BASS_ERROR_ILLPARAM (no proc, flags), BASS_ERROR_FORMAT (rate or
// channels the device cannot record), BASS_ERROR_NOTAVAIL (no input is on, or it has gone),
// BASS_ERROR_START (the device refused, with its reason), BASS_ERROR_DRIVER.
HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);

// Small helpers of the calling code.
inline DWORD LoWord(DWORD x) {
    return x & 0xFFFFu;
}

} // namespace quaverly::bass
