#include "ui/PathHelpers.h"

#include <QDir>
#include <QFileInfo>

namespace quaverly {

bool isPathSeparator(QChar c) {
#ifdef Q_OS_WIN
    return c == u'/' || c == u'\\';
#else
    return c == u'/';
#endif
}

namespace {

qsizetype lastSeparator(const QString& path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (isPathSeparator(path.at(i))) {
            return i;
        }
    }
    return -1;
}

bool isOrdinaryFile(const QFileInfo& info) {
    return info.isFile() && !info.isHidden();
}

} // namespace

bool FileExists(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    // A name that really exists wins over reading its "*" or "?" as wildcards.
    if (isOrdinaryFile(QFileInfo(path))) {
        return true;
    }
    const qsizetype sep = lastSeparator(path);
    const QString name = path.mid(sep + 1);
    if (name.isEmpty() || !(name.contains(u'*') || name.contains(u'?'))) {
        return false;
    }
    // Only "*" and "?" are wildcards; "[" is an ordinary character in a file name.
    QString escaped = name;
    escaped.replace(u'[', QStringLiteral("[[]"));
    const QString folder = sep < 0 ? QStringLiteral(".") : path.left(sep + 1);
    QDir dir(folder);
    if (!dir.exists()) {
        return false;
    }
    QDir::Filters filters = QDir::Files; // no QDir::Hidden, no QDir::System
#ifndef Q_OS_WIN
    filters |= QDir::CaseSensitive; // names on this platform are case-sensitive
#endif
    const QFileInfoList matches = dir.entryInfoList({escaped}, filters);
    for (const QFileInfo& match : matches) {
        if (isOrdinaryFile(match)) {
            return true;
        }
    }
    return false;
}

QString RPP(const QString& folder) {
    if (!folder.isEmpty() && isPathSeparator(folder.back())) {
        return folder;
    }
#ifdef Q_OS_WIN
    // Keep the style of the path: "C:\Music" gets "\", "C:/Music" gets "/".
    const QChar sep = folder.contains(u'\\') || !folder.contains(u'/') ? u'\\' : u'/';
#else
    const QChar sep = u'/';
#endif
    return folder + sep;
}

QString GetFileName(const QString& path) {
    return path.mid(lastSeparator(path) + 1);
}

} // namespace quaverly
