#pragma once
// The one table of the kinds of sound file the program knows. For each: how it is recognised
// from its first bytes and which library reads it; its name for people and the names its files
// usually have; and, for those written, the extension, the window's word for it and, for the
// encoded ones, the encoder's one setting with its default and the values offered. The song
// reader, the encoders, the command line and the window's file dialogs all take these facts
// from here, so that they cannot disagree.
//
// A file's kind is found from its content, never from its name; the names only help people find
// their songs, and a target's extension chooses what is written.
//
// Threads: any (constant data).

#include <QString>
#include <QStringList>

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace quaverly::formats {

// Which library reads a kind.
enum class Reader { Sndfile, Mpeg, Ffmpeg };

// How a kind is written.
enum class Writer {
    None,    // not written
    Pcm,     // 16-bit PCM, the sample bytes as they are (the list's join, the convert, the take)
    Encoder, // through its encoder, with its one setting
};

// The formats written through an encoder, in the order the window offers them.
enum class Format { Mp3, M4a, M4r, Vorbis, Opus, Flac };

// What an encoded format's one setting means.
enum class Setting {
    BitRate, // kbit/s (MP3 constant, AAC average, Opus variable)
    Quality, // Vorbis quality, 0 (smallest) to 10 (best)
    Level,   // FLAC compression level, 0 (fastest) to 8 (smallest); never changes the sound
};

// Bytes a file holds at `at`: (byte & mask) == value for each, all bits without a mask.
struct Mark {
    std::size_t at = 0;
    std::string_view value;
    std::string_view mask = {};
};

// One way to recognise a kind from a file's first bytes: both marks hold (an empty second one
// always does).
struct Sign {
    Mark first;
    Mark second = {};
};

struct FileFormat {
    // Read: the name for people ("Ogg Vorbis"; translated in the context "SongFormats") and the
    // usual names of its files ("*.ogg *.oga"). Without them the kind is not listed by name.
    const char* kindName = nullptr;
    const char* patterns = nullptr;
    Reader reader = Reader::Ffmpeg;
    std::span<const Sign> signs = {}; // none: found only by trying the readers

    // Written.
    Writer writer = Writer::None;
    const char* extension = nullptr; // without the dot: "m4r"
    const char* alias = nullptr;     // another extension written as the same: "oga"
    const char* word = nullptr;      // the window's short name: "M4R", "Ogg"

    // Encoded.
    Format format = Format::Mp3;
    const char* name = nullptr;  // for the user: "M4R ringtone (AAC)"
    const char* codec = nullptr; // as ffprobe names it: "aac"
    Setting setting = Setting::BitRate;
    int defaultValue = 0;
    std::span<const int> offered = {}; // the values the window offers, ascending
    bool lossy = false;
};

// Every kind, in the order the lists of kinds read show them.
std::span<const FileFormat> all();
// The kinds read listed by name (all of them but a few found from their content alone).
std::span<const FileFormat> listed();
// The formats written through an encoder, in Format's order.
std::span<const FileFormat* const> encoded();
const FileFormat& info(Format format);
// WAV: read, and written as 16-bit PCM.
const FileFormat& wav();

// The kind whose sign `head` (a file's first bytes) shows: the first in the table's order;
// nullptr for none.
const FileFormat* recognise(const unsigned char* head, std::size_t size);

// The written kind a target's extension names, in any case: .wav, .mp3, .m4a, .m4r, .ogg and
// .oga, .opus, .flac. nullptr for anything else.
const FileFormat* writtenFor(const QString& path);
// The encoded format a target's extension names; nullopt for anything else (also .wav).
std::optional<Format> formatForPath(const QString& path);
// Whether a target's extension names WAV.
bool isWav(const QString& path);

// A written kind's patterns, "*.ogg *.oga", and its file dialog filter, "Ogg Vorbis (*.ogg *.oga)";
// with `label`, that in place of its name.
QString writtenPatterns(const FileFormat& kind);
QString dialogFilter(const FileFormat& kind, const QString& label = QString());

// A listed kind's name, translated, and its patterns, "*.ogg", "*.oga".
QString kindName(const FileFormat& kind);
QStringList kindPatterns(const FileFormat& kind);
// Every listed kind's patterns, each once, in the table's order.
QStringList readPatterns();
// Every listed kind's name, in the table's order, joined by ", "; with a `lineWidth`, broken into
// lines of at most that many characters between the names.
QString kindNames(qsizetype lineWidth = 0);

} // namespace quaverly::formats
