#pragma once
// What the output frame has chosen for the window's encoded saves: the format, each format's
// setting, and the preset they were set from. The window holds one OutputChoice; the settings
// handlers are its only writer and every encoded save reads it. A preset is chosen only with
// its own format and value: choosing a preset sets both, and changing either by hand lets the
// preset go.
//
// Beside it, the window's words for the formats and their settings, and what the encoded save
// dialogs offer.
//
// Threads: plain values and pure functions; the program uses them on the UI thread.

#include "engines/encoder/Presets.h"
#include "engines/encoder/SongEncode.h"

#include <QString>

#include <map>

namespace quaverly {

class OutputChoice {
public:
    // MP3 at 256 kbit/s, every other format at its default, no preset.
    OutputChoice();

    encode::Format format() const { return format_; }
    // The format's value, as chosen last for it.
    int value(encode::Format format) const;
    // The chosen preset; nullptr for none.
    const encode::Preset* preset() const { return preset_; }

    // By hand: the preset goes unless it asks for exactly this.
    void setFormat(encode::Format format);
    void setValue(encode::Format format, int value);
    // The preset's format and value, and the preset; nullptr: none (format and values stay).
    void choosePreset(const encode::Preset* preset);

    // The preset that shapes a clip saved in `format`: the chosen one when it writes `format`.
    const encode::Preset* presetFor(encode::Format format) const;
    // What a save into `format` is encoded with: the format's value and, for a clip (the list's
    // save, "Export Clip"), the rate and channels of the preset that shapes it.
    encode::Settings settingsFor(encode::Format format, bool clip) const;

    // Whether a clip keeps its song's own frames where it can (the output frame's box).
    bool keepsSound() const { return keepsSound_; }
    void setKeepsSound(bool keep) { keepsSound_ = keep; }

    // The same format, preset, value of every format and keeping.
    friend bool operator==(const OutputChoice& a, const OutputChoice& b);

private:
    void dropPresetUnlessMatching();

    encode::Format format_ = encode::Format::Mp3;
    std::map<encode::Format, int> values_;
    const encode::Preset* preset_ = nullptr;
    bool keepsSound_ = true;
};

// The format's short name in the window's captions and messages: "MP3", "M4R", "Ogg", "FLAC".
QString formatWord(encode::Format format);
// A value of the format's setting in words: "256 kbit/s", "quality 6", "level 5".
QString settingText(encode::Format format, int value);

// The filters of an encoded save dialog: `chosen` first, then the other written formats.
QString encodedSaveFilter(encode::Format chosen);
// The format a save into `target` writes: the one its extension names, else `chosen`.
encode::Format targetFormat(const QString& target, encode::Format chosen);
// Whether `target` names a WAV file: such a save writes 16-bit PCM, never encoded data.
bool isWavTarget(const QString& target);

} // namespace quaverly
