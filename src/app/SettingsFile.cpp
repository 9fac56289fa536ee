#include "app/SettingsFile.h"

#include "engines/util/AtomicFile.h"
#include "engines/util/UserFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace quaverly {

namespace {
// The settings folder under the user's configuration base, named after the maker.
constexpr char kSettingsFolderName[] = "velmarise";
// A real settings file is a few hundred bytes; anything far larger is not ours.
constexpr qint64 kMaxSettingsSize = 64 * 1024;
} // namespace

bool isOfferedBitRate(int kbps) {
    return kbps == 56 || kbps == 96 || kbps == 128 || kbps == 192 || kbps == 256;
}

QString defaultSettingsPath() {
    return userConfigBase() + u'/' + QLatin1String(kSettingsFolderName) +
           QStringLiteral("/config.ini");
}

QByteArray formatSettings(const Settings& settings) {
    return QByteArray::number(settings.outBitRate) + "\r\n" +
           QDir::toNativeSeparators(settings.baseFolder).toUtf8() + "\r\n";
}

std::optional<Settings> readSettings(const QString& path) {
    const std::optional<QByteArray> content = readSettingsFile(path);
    if (!content) {
        return std::nullopt;
    }
    QList<QByteArray> lines = content->split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast(); // the terminator of the last line
    }
    if (lines.size() != 2) {
        return std::nullopt;
    }
    for (QByteArray& line : lines) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
    }
    bool ok = false;
    const int kbps = lines[0].trimmed().toInt(&ok);
    if (!ok || !isOfferedBitRate(kbps)) {
        return std::nullopt;
    }
    const QString folder = QDir::fromNativeSeparators(QString::fromUtf8(lines[1]));
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return std::nullopt;
    }
    return Settings{kbps, folder};
}

Status writeSettings(const QString& path, const Settings& settings) {
    return writeSettingsFile(path, formatSettings(settings));
}

Status writeSettingsFile(const QString& path, const QByteArray& content) {
    // The sentences name the file themselves: the Error names none.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Error({}, QObject::tr("The folder %1 could not be created.")
                             .arg(QDir::toNativeSeparators(folder)));
    AtomicFile file(path);
    if (Status opened = file.open(); !opened)
        return Error({}, QObject::tr("%1 could not be opened for writing: %2")
                             .arg(QDir::toNativeSeparators(path), opened.error().cause()));
    Status written = file.write(content.constData(), content.size());
    if (written)
        written = file.commit();
    if (!written)
        return Error({}, QObject::tr("%1 could not be written: %2")
                             .arg(QDir::toNativeSeparators(path), written.error().cause()));
    return {};
}

std::optional<QByteArray> readSettingsFile(const QString& path) {
    QFile file(path);
    if (file.size() > kMaxSettingsSize || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(kMaxSettingsSize + 1);
}

} // namespace quaverly
