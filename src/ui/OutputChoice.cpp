#include "ui/OutputChoice.h"

#include "engines/formats/Formats.h"

#include <QCoreApplication>
#include <QStringList>

namespace quaverly {

using encode::Format;

OutputChoice::OutputChoice() {
    // The MP3 bit rate the window has always started with.
    values_[Format::Mp3] = 256;
}

int OutputChoice::value(Format format) const {
    const auto it = values_.find(format);
    return it != values_.end() ? it->second : formats::info(format).defaultValue;
}

void OutputChoice::setFormat(Format format) {
    format_ = format;
    dropPresetUnlessMatching();
}

void OutputChoice::setValue(Format format, int value) {
    values_[format] = value;
    dropPresetUnlessMatching();
}

void OutputChoice::choosePreset(const encode::Preset* preset) {
    preset_ = preset;
    if (!preset)
        return;
    format_ = preset->settings.format;
    values_[format_] = preset->settings.effectiveValue();
}

void OutputChoice::dropPresetUnlessMatching() {
    if (preset_ && (preset_->settings.format != format_ ||
                    preset_->settings.effectiveValue() != value(format_)))
        preset_ = nullptr;
}

const encode::Preset* OutputChoice::presetFor(Format format) const {
    return preset_ && preset_->settings.format == format ? preset_ : nullptr;
}

encode::Settings OutputChoice::settingsFor(Format format, bool clip) const {
    encode::Settings settings;
    if (const encode::Preset* preset = presetFor(format); preset && clip)
        settings = preset->settings;
    settings.format = format;
    settings.value = value(format);
    return settings;
}

bool operator==(const OutputChoice& a, const OutputChoice& b) {
    if (a.format_ != b.format_ || a.preset_ != b.preset_ || a.keepsSound_ != b.keepsSound_)
        return false;
    for (const formats::FileFormat* f : formats::encoded())
        if (a.value(f->format) != b.value(f->format))
            return false;
    return true;
}

QString formatWord(Format format) {
    return QLatin1String(formats::info(format).word);
}

QString settingText(Format format, int value) {
    const auto words = [value](const char* text) {
        return QCoreApplication::translate("OutputChoice", text).arg(value);
    };
    switch (formats::info(format).setting) {
    case encode::Setting::BitRate:
        return words("%1 kbit/s");
    case encode::Setting::Quality:
        return words("quality %1");
    case encode::Setting::Level:
        return words("level %1");
    }
    return QString::number(value);
}

QString encodedSaveFilter(Format chosen) {
    QStringList filters{formats::dialogFilter(formats::info(chosen))};
    for (const formats::FileFormat* f : formats::encoded())
        if (f->format != chosen)
            filters << formats::dialogFilter(*f);
    return filters.join(QStringLiteral(";;"));
}

Format targetFormat(const QString& target, Format chosen) {
    return formats::formatForPath(target).value_or(chosen);
}

bool isWavTarget(const QString& target) {
    return formats::isWav(target);
}

} // namespace quaverly
