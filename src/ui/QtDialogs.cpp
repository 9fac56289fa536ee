#include "ui/QtDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace quaverly {

namespace {

// The names typed in the dialog's file name box, as paths: one name, or several in quotes
// ("a.mp3" "b.spx"), each in the dialog's folder unless it is a path of its own.
QStringList typedFiles(const QFileDialog& dialog) {
    const auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    const QString text = edit ? edit->text().trimmed() : QString();
    // Between the quotes: every second part of the text split at them.
    const QStringList parts = text.split(u'"');
    QStringList files;
    for (qsizetype i = text.contains(u'"') ? 1 : 0; i < parts.size(); i += 2)
        if (!parts[i].isEmpty())
            files << QDir::cleanPath(dialog.directory().absoluteFilePath(parts[i]));
    return files;
}

// The chosen files; empty when cancelled. AnyFile is the save dialog.
QStringList runFileDialog(QWidget* parent, const Dialogs::FileRequest& request,
                          QFileDialog::FileMode mode) {
    QFileDialog dialog(parent, request.title, request.folder, request.filter);
    const bool save = mode == QFileDialog::AnyFile;
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    if (!request.defaultSuffix.isEmpty()) {
        dialog.setDefaultSuffix(request.defaultSuffix);
        // A name typed without an extension takes the one of the filter chosen last, so that
        // "clip" under "FLAC (*.flac)" saves clip.flac.
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
                static const QRegularExpression firstPattern(QStringLiteral("\\*\\.(\\w+)"));
                const QRegularExpressionMatch m = firstPattern.match(filter);
                if (m.hasMatch())
                    dialog.setDefaultSuffix(m.captured(1));
            });
    }
#ifndef Q_OS_WIN
    // The desktop's own dialogs may match "*.wav" against "SONG.WAV" by case; Qt's own dialog
    // matches extensions without regard to case, as users of audio files expect.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    if (mode != QFileDialog::ExistingFiles)
        return dialog.selectedFiles();
    // Qt's dialog answers with the files selected in its view, which shows only the files the
    // filter matches: names typed beside them of files it hides would be left out without a
    // word. Every name typed is taken, in the order typed, and then whatever else is selected.
    QStringList files = typedFiles(dialog);
    for (const QString& selected : dialog.selectedFiles())
        if (!files.contains(selected))
            files << selected;
    return files;
}

QString firstOf(const QStringList& files) {
    return files.isEmpty() ? QString() : files.constFirst();
}

} // namespace

QString QtDialogs::openFile(const FileRequest& request) {
    return firstOf(runFileDialog(parent_, request, QFileDialog::ExistingFile));
}

QString QtDialogs::saveFile(const FileRequest& request) {
    return firstOf(runFileDialog(parent_, request, QFileDialog::AnyFile));
}

QStringList QtDialogs::openFiles(const FileRequest& request) {
    return runFileDialog(parent_, request, QFileDialog::ExistingFiles);
}

void QtDialogs::message(const QString& title, const QString& text, Icon icon) {
    QMessageBox::Icon qtIcon = QMessageBox::Information;
    switch (icon) {
    case Icon::Information:
        qtIcon = QMessageBox::Information;
        break;
    case Icon::Warning:
        qtIcon = QMessageBox::Warning;
        break;
    case Icon::Critical:
        qtIcon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(qtIcon, title, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::question(const QString& title, const QString& text) {
    return QMessageBox::question(parent_, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

int QtDialogs::choose(const QString& title, const QString& text, const QStringList& choices) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent_);
    QList<QPushButton*> buttons;
    for (const QString& choice : choices)
        buttons << box.addButton(choice, QMessageBox::AcceptRole);
    box.exec();
    return int(buttons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
}

std::optional<QString> QtDialogs::input(const QString& title, const QString& prompt,
                                        const QString& text) {
    bool ok = false;
    QString answer = QInputDialog::getText(parent_, title, prompt, QLineEdit::Normal, text, &ok);
    if (!ok) {
        return std::nullopt;
    }
    return answer;
}

} // namespace quaverly
