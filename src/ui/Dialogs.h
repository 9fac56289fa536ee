#pragma once
// The seam between the program and its modal dialogs: file choosers, message boxes, the Yes/No
// question and the input box. The program passes QtDialogs; tests pass ScriptedDialogs, which
// answers from a queue and records what was asked.
//
// Threads: UI thread only.

#include <QString>
#include <QStringList>

#include <optional>

namespace quaverly {

// The program's name: the title of its window and of its messages.
inline constexpr char kApplicationTitle[] = "Quaverly";

class Dialogs {
public:
    enum class Icon { Information, Warning, Critical };

    // What a file dialog picks: each kind opens in the folder last picked in for it (see
    // RememberingDialogs); Other remembers nothing.
    enum class FileKind { Other, Songs, Saves, Recordings };

    struct FileRequest {
        QString title;
        QString folder;        // where the dialog opens (a save: or the file name offered there);
                               // empty: the dialog's own choice
        QString filter;        // Qt style, "Name (*.ext ...)"; ";;" between several
        QString defaultSuffix; // without the dot, e.g. "mp3"; added when the user types none
        FileKind kind = FileKind::Other;
    };

    virtual ~Dialogs() = default;

    // The chosen path, or the empty text when the user cancelled. openFile admits only
    // existing files; saveFile asks before replacing one.
    virtual QString openFile(const FileRequest& request) = 0;
    virtual QString saveFile(const FileRequest& request) = 0;
    // Several existing files at once, in the order the dialog gives them; empty when the user
    // cancelled. Dialogs that offer one file at a time answer it with that one file.
    virtual QStringList openFiles(const FileRequest& request) {
        const QString one = openFile(request);
        return one.isEmpty() ? QStringList() : QStringList{one};
    }

    // A message with an OK button.
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;
    // A message titled with the program's name.
    void tell(const QString& text, Icon icon) {
        message(QLatin1String(kApplicationTitle), text, icon);
    }

    // A question with Yes and No; true for Yes.
    virtual bool question(const QString& title, const QString& text) = 0;

    // A question answered by one of `choices`, buttons from left to right; the index of the
    // one chosen, or -1 when the box was closed without a choice.
    virtual int choose(const QString& title, const QString& text, const QStringList& choices) = 0;

    // An input box; nullopt when cancelled.
    virtual std::optional<QString> input(const QString& title, const QString& prompt,
                                         const QString& text = QString()) = 0;
};

// Dialogs that hand every request to other dialogs: a decorator overrides what it changes.
class ForwardingDialogs : public Dialogs {
public:
    explicit ForwardingDialogs(Dialogs& inner) : inner_(inner) {}

    QString openFile(const FileRequest& request) override { return inner_.openFile(request); }
    QString saveFile(const FileRequest& request) override { return inner_.saveFile(request); }
    QStringList openFiles(const FileRequest& request) override { return inner_.openFiles(request); }
    void message(const QString& title, const QString& text, Icon icon) override {
        inner_.message(title, text, icon);
    }
    bool question(const QString& title, const QString& text) override {
        return inner_.question(title, text);
    }
    int choose(const QString& title, const QString& text, const QStringList& choices) override {
        return inner_.choose(title, text, choices);
    }
    std::optional<QString> input(const QString& title, const QString& prompt,
                                 const QString& text) override {
        return inner_.input(title, prompt, text);
    }

protected:
    Dialogs& inner_;
};

} // namespace quaverly
