#pragma once
// The dialogs of the program, built on Qt's file dialog, message box and input dialog.
//
// Threads: UI thread only.

#include "ui/Dialogs.h"

#include <QPointer>
#include <QWidget>

namespace quaverly {

class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parentWindow = nullptr) : parent_(parentWindow) {}

    // The window the dialogs are centred on and modal to.
    void setParentWindow(QWidget* window) { parent_ = window; }

    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QStringList openFiles(const FileRequest& request) override;
    void message(const QString& title, const QString& text, Icon icon) override;
    bool question(const QString& title, const QString& text) override;
    int choose(const QString& title, const QString& text, const QStringList& choices) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& text) override;

private:
    QPointer<QWidget> parent_;
};

} // namespace quaverly
