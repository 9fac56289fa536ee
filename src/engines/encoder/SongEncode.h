#pragma once
// Sound into a file of any format the program encodes (engines/formats/Formats.h: each format's
// extension and setting): MP3 (LAME), M4A and M4R
// (AAC-LC, FFmpeg's encoder and its iPod MP4 muxer), Ogg Vorbis (libvorbis), Opus (libopusenc)
// and FLAC (libFLAC), each with its tags. WAV is not here: WAV targets keep the sample bytes as
// they are (the list's join, the converter's copy, the recorder's take).
//
// Every target is written through one AtomicFile: the sound, then the tags, then the commit, so
// a failure or a cancel leaves the target as it was and nothing behind.
//
// Threads: no state is kept between calls; any number of encodings may run at once on different
// files, on any threads.

#include "engines/encoder/Mp3Encode.h"
#include "engines/formats/Formats.h"
#include "engines/tags/ClipTags.h"

#include <QString>

#include <memory>
#include <optional>
#include <stop_token>

namespace quaverly::encode {

using mp3::encodeStep;
using mp3::EncodeStep;
using mp3::PcmSource;

using formats::Format;
using formats::Setting;

struct Settings {
    Format format = Format::Mp3;
    std::optional<int> value; // the format's Setting; unset: its default
    int sampleRate = 0; // 0: the source's (or the nearest the codec takes); else resampled to it
    int channels = 0;   // 0: the source's; 1 or 2: mixed down or duplicated to it

    int effectiveValue() const;
};

// A setting the format's codec cannot take, in words ("300 kbit/s is not an MP3 bit rate",
// "Opus takes 6 to 256 kbit/s", "this FFmpeg has no AAC encoder"); the Error names `target`.
Status checkSettings(const Settings& settings, const QString& target);

// Encodes everything `source` delivers into `target` in settings.format, tagged with `tags`.
// `sourceName` names the source in messages about it as a whole. Success once the target is
// complete and in place; on a failure or when stop is requested (EncodeStep::Cancel) the target
// is as it was and no temporary file remains.
Status encodeSong(PcmSource& source, const QString& sourceName, const QString& target,
                  const Settings& settings, const ClipTags& tags, std::stop_token stop = {});

// Opens a WAV file (any that libsndfile reads) as a source, checked as the MP3 encoder checks it
// (mono or stereo, some sound). The Error names the file.
Result<std::unique_ptr<PcmSource>> openWavSource(const QString& path);

} // namespace quaverly::encode
