#pragma once
// Dialogs for tests: each call takes the next answer the test queued for its kind and records
// what was asked. With no answer queued a file dialog is cancelled, a question gets No, a choice
// is closed without one and an input box is cancelled, and the call counts as unexpected.
// File answers share one queue: queueFile answers any file dialog (the several-files one with
// that one file); a list of several files from queueFiles answers only the several-files one.
//
// Threads: UI thread only.

#include "ui/Dialogs.h"

#include <QList>
#include <QQueue>

namespace quaverly {

class ScriptedDialogs final : public Dialogs {
public:
    enum class Kind { OpenFile, SaveFile, Message, Question, Choice, Input, OpenFiles };

    struct Asked {
        Kind kind;
        QString title;
        QString text; // message text, question, input prompt
        Icon icon = Icon::Information;
        FileRequest file;    // file dialogs
        QString defaultText; // input box
        QStringList choices; // a choice's buttons
    };

    void queueFile(const QString& path) { files_.enqueue({path}); }      // "" cancels
    void queueFiles(const QStringList& paths) { files_.enqueue(paths); } // {} cancels
    void queueQuestion(bool yes) { questions_.enqueue(yes); }
    void queueChoice(int index) { choices_.enqueue(index); } // -1: closed without a choice
    void queueInput(std::optional<QString> answer) { inputs_.enqueue(std::move(answer)); }

    const QList<Asked>& asked() const { return asked_; }
    QList<Asked> asked(Kind kind) const;
    // The texts of the messages shown, in order.
    QStringList messageTexts() const;
    int unexpected() const { return unexpected_; }
    // True when every queued answer was used.
    bool allAnswered() const;
    void clear();

    QString openFile(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QStringList openFiles(const FileRequest& request) override;
    void message(const QString& title, const QString& text, Icon icon) override;
    bool question(const QString& title, const QString& text) override;
    int choose(const QString& title, const QString& text, const QStringList& choices) override;
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& text) override;

private:
    QString nextFile();

    QQueue<QStringList> files_;
    QQueue<bool> questions_;
    QQueue<int> choices_;
    QQueue<std::optional<QString>> inputs_;
    QList<Asked> asked_;
    int unexpected_ = 0;
};

} // namespace quaverly
