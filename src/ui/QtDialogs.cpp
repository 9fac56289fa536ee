#include "ui/QtDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace quaverly {

namespace {

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
    return dialog.selectedFiles();
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
