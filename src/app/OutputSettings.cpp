#include "app/OutputSettings.h"

#include "app/SettingsFile.h"
#include "engines/formats/Formats.h"
#include "ui/OutputChoice.h"

#include <QFileInfo>

#include <algorithm>

namespace quaverly {

namespace {
constexpr char kFormatKey[] = "format";
constexpr char kPresetKey[] = "preset";
constexpr char kKeepKey[] = "keep"; // 0: clips are always re-encoded
} // namespace

QString outputSettingsPath(const QString& settingsPath) {
    return QFileInfo(settingsPath).absolutePath() + QStringLiteral("/outputs.ini");
}

QByteArray formatOutputSettings(const OutputChoice& choice) {
    const auto line = [](const QByteArray& key, const QByteArray& value) {
        return key + '=' + value + '\n';
    };
    QByteArray text = line(kFormatKey, formats::info(choice.format()).extension);
    text += line(kPresetKey, choice.preset() ? choice.preset()->id : "");
    for (const formats::FileFormat* f : formats::encoded()) {
        if (f->format != encode::Format::Mp3)
            text += line(f->extension, QByteArray::number(choice.value(f->format)));
    }
    if (!choice.keepsSound()) // kept where it can unless the file says otherwise
        text += line(kKeepKey, "0");
    return text;
}

bool readOutputSettings(const QString& path, OutputChoice* choice) {
    const std::optional<QByteArray> content = readSettingsFile(path);
    if (!content)
        return false;
    OutputChoice read = *choice;
    read.choosePreset(nullptr);
    const encode::Preset* preset = nullptr;
    for (QByteArray line : content->split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            return false;
        const QByteArray key = line.left(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        const auto format = std::ranges::find_if(formats::encoded(), [&](const auto* f) {
            return key == f->extension && f->format != encode::Format::Mp3;
        });
        bool ok = true;
        if (key == kFormatKey) {
            const auto named = formats::formatForPath(QStringLiteral("x.") + QLatin1String(value));
            ok = named.has_value() && value == formats::info(*named).extension;
            if (ok)
                read.setFormat(*named);
        } else if (key == kKeepKey) {
            ok = value == "0" || value == "1";
            read.setKeepsSound(value == "1");
        } else if (key == kPresetKey) {
            preset = value.isEmpty() ? nullptr : encode::findPreset(QString::fromUtf8(value));
            ok = value.isEmpty() || (preset && value == preset->id);
        } else if (format != formats::encoded().end()) {
            const int v = value.toInt(&ok);
            ok = ok && std::ranges::find((*format)->offered, v) != (*format)->offered.end();
            if (ok)
                read.setValue((*format)->format, v);
        } else {
            ok = false;
        }
        if (!ok)
            return false;
    }
    // A preset stands only with its own format and value.
    if (preset) {
        OutputChoice withPreset = read;
        withPreset.choosePreset(preset);
        if (withPreset.format() == read.format() &&
            withPreset.value(read.format()) == read.value(read.format()))
            read = withPreset;
    }
    *choice = read;
    return true;
}

Status writeOutputSettings(const QString& path, const OutputChoice& choice) {
    return writeSettingsFile(path, formatOutputSettings(choice));
}

} // namespace quaverly
