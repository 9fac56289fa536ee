// The settings: the output frame, the output folder, "New Folder" and "Save Setting".
#include "app/SettingsHandlers.h"

#include "app/OutputSettings.h"
#include "app/SettingsFile.h"
#include "app/SettingsPanel.h"
#include "engines/util/UserFolders.h"
#include "songlist/AudioEditPanel.h"
#include "ui/Dialogs.h"
#include "ui/OutputChoice.h"

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

SettingsHandlers::SettingsHandlers(SettingsPanel& panel, AudioEditPanel& outputs,
                                   SettingsServices services, QObject* parent)
    : QObject(parent), panel_(panel), outputs_(outputs), s_(std::move(services)) {
    connect(outputs_.outputFrame, &OutputFrame::bitRateChosen, this,
            &SettingsHandlers::pickBitRate);
    connect(outputs_.outputFrame, &OutputFrame::presetChosen, this,
            &SettingsHandlers::CboPreset_Click);
    connect(outputs_.outputFrame, &OutputFrame::formatChosen, this,
            &SettingsHandlers::CboFormat_Click);
    connect(outputs_.outputFrame, &OutputFrame::settingChosen, this,
            &SettingsHandlers::CboSetting_Click);
    connect(outputs_.chkKeepSound, &QCheckBox::toggled, this, [this](bool keep) {
        s_.output->setKeepsSound(keep);
        applyOutput();
    });
    connect(&panel_, &SettingsPanel::folderChanged, this, &SettingsHandlers::Dir1_Change);
    connect(panel_.CmdFolder, &QPushButton::clicked, this, &SettingsHandlers::CmdFolder_Click);
    connect(panel_.CmdSaveSetting, &QPushButton::clicked, this,
            &SettingsHandlers::CmdSaveSetting_Click);
}

void SettingsHandlers::loadSaved() {
    *s_.baseFolder = userHome();
    panel_.setFolder(*s_.baseFolder);
    if (const auto saved = readSettings(s_.settingsPath)) {
        if (panel_.setFolder(saved->baseFolder)) {
            *s_.baseFolder = panel_.folder();
        }
        *s_.outBitRate = saved->outBitRate;
    }
    s_.output->setValue(encode::Format::Mp3, *s_.outBitRate);
    readOutputSettings(outputSettingsPath(s_.settingsPath), s_.output);
    applyOutput();
}

void SettingsHandlers::applyOutput() {
    *s_.outBitRate = s_.output->value(encode::Format::Mp3);
    outputs_.showOutput(*s_.output);
    emit outputChanged();
}

void SettingsHandlers::pickBitRate(int kbps) {
    s_.output->setValue(encode::Format::Mp3, kbps);
    applyOutput();
}

void SettingsHandlers::CboPreset_Click(const QString& id) {
    s_.output->choosePreset(id.isEmpty() ? nullptr : encode::findPreset(id));
    applyOutput();
}

void SettingsHandlers::CboFormat_Click(int format) {
    s_.output->setFormat(encode::Format(format));
    applyOutput();
}

void SettingsHandlers::CboSetting_Click(int value) {
    s_.output->setValue(s_.output->format(), value);
    applyOutput();
}

void SettingsHandlers::Dir1_Change(const QString& path) {
    *s_.baseFolder = path;
}

void SettingsHandlers::CmdFolder_Click() {
    const QString parent = panel_.folder();
    if (parent.isEmpty()) {
        // Never create a folder relative to wherever the program was started.
        s_.dialogs->tell(tr("No folder was created: choose the folder to create it in first."),
                         Dialogs::Icon::Warning);
        return;
    }
    const auto answer = s_.dialogs->input(tr("Create New Folder"), tr("New Folder Name"));
    if (!answer)
        return; // the user changed their mind: nothing to say
    // Blanks around a name are nearly always a slip of the keyboard.
    const QString name = answer->trimmed();
    if (name.isEmpty()) {
        s_.dialogs->tell(tr("No folder was created: the name was empty."), Dialogs::Icon::Warning);
        return;
    }
    if (const QString problem = folderNameProblem(name); !problem.isEmpty()) {
        s_.dialogs->tell(tr("No folder was created: \"%1\" cannot be used, %2.").arg(name, problem),
                         Dialogs::Icon::Warning);
        return;
    }
    const QString path = QDir(parent).filePath(name);
    if (QFileInfo::exists(path) || QFileInfo(path).isSymLink()) {
        s_.dialogs->tell(tr("No folder was created: \"%1\" already exists in %2.")
                             .arg(name, QDir::toNativeSeparators(parent)),
                         Dialogs::Icon::Warning);
        return;
    }
    std::error_code error;
    if (!std::filesystem::create_directory(toFsPath(path), error) || error) {
        s_.dialogs->tell(
            tr("The folder \"%1\" could not be created in %2: %3.")
                .arg(name, QDir::toNativeSeparators(parent),
                     QString::fromLocal8Bit(error ? error.message() : std::string("unknown"))),
            Dialogs::Icon::Warning);
        return;
    }
    panel_.setFolder(path);
}

void SettingsHandlers::CmdSaveSetting_Click() {
    Status saved = writeSettings(s_.settingsPath, Settings{*s_.outBitRate, *s_.baseFolder});
    if (saved)
        saved = writeOutputSettings(outputSettingsPath(s_.settingsPath), *s_.output);
    if (!saved)
        s_.dialogs->tell(tr("The settings were not saved.\n\n%1").arg(saved.error().text()),
                         Dialogs::Icon::Critical);
}

} // namespace quaverly
