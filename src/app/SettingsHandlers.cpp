// The settings: the bit-rate options, the output folder, "New Folder" and "Save Setting".
#include "app/Frmmain.h"

#include "app/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace quaverly {

namespace {

std::filesystem::path toFsPath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// Why name cannot be a folder name here, or the empty text when it can.
QString folderNameProblem(const QString& name) {
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        return QObject::tr("it names a folder that is already there");
    }
#ifdef Q_OS_WIN
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
#else
    static const QString forbidden = QStringLiteral("/");
#endif
    for (const QChar c : name) {
        if (forbidden.contains(c)) {
            return QObject::tr("a folder name cannot hold the character \"%1\"").arg(c);
        }
        if (c.unicode() < 0x20) {
            return QObject::tr("a folder name cannot hold control characters");
        }
    }
    if (QFile::encodeName(name).size() > 255) {
        return QObject::tr("the name is too long");
    }
    return QString();
}

} // namespace

void Frmmain::Option_Click(int kbps) {
    OutBitRate = kbps;
}

void Frmmain::Dir1_Change(const QString& path) {
    BaseFolder = path;
}

void Frmmain::CmdFolder_Click() {
    const QString parent = FrameSetting->folder();
    if (parent.isEmpty()) {
        // Never create a folder relative to wherever the program was started.
        dialogs_.tell(tr("No folder was created: choose the folder to create it in first."),
                      Dialogs::Icon::Warning);
        return;
    }
    const auto answer =
        dialogs_.input(QStringLiteral("Create New Folder "), QStringLiteral("New Folder Name"));
    if (!answer) {
        dialogs_.tell(tr("No folder was created."), Dialogs::Icon::Information);
        return;
    }
    // Blanks around a name are nearly always a slip of the keyboard.
    const QString name = answer->trimmed();
    if (name.isEmpty()) {
        dialogs_.tell(tr("No folder was created: the name was empty."), Dialogs::Icon::Warning);
        return;
    }
    if (const QString problem = folderNameProblem(name); !problem.isEmpty()) {
        dialogs_.tell(tr("No folder was created: \"%1\" cannot be used, %2.").arg(name, problem),
                      Dialogs::Icon::Warning);
        return;
    }
    const QString path = QDir(parent).filePath(name);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        dialogs_.tell(tr("No folder was created: \"%1\" already exists in %2.")
                          .arg(name, QDir::toNativeSeparators(parent)),
                      Dialogs::Icon::Warning);
        return;
    }
    std::error_code error;
    if (!std::filesystem::create_directory(toFsPath(path), error) || error) {
        dialogs_.tell(
            tr("The folder \"%1\" could not be created in %2: %3.")
                .arg(name, QDir::toNativeSeparators(parent),
                     QString::fromLocal8Bit(error ? error.message() : std::string("unknown"))),
            Dialogs::Icon::Warning);
        return;
    }
    FrameSetting->setFolder(path);
}

void Frmmain::CmdSaveSetting_Click() {
    QString error;
    if (!writeSettings(settingsPath_, Settings{OutBitRate, BaseFolder}, &error)) {
        dialogs_.tell(tr("The settings were not saved.\n\n%1").arg(error), Dialogs::Icon::Critical);
    }
}

} // namespace quaverly
