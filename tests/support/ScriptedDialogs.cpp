#include "support/ScriptedDialogs.h"

namespace quaverly {

QList<ScriptedDialogs::Asked> ScriptedDialogs::asked(Kind kind) const {
    QList<Asked> result;
    for (const Asked& a : asked_) {
        if (a.kind == kind) {
            result.append(a);
        }
    }
    return result;
}

QStringList ScriptedDialogs::messageTexts() const {
    QStringList texts;
    for (const Asked& a : asked(Kind::Message))
        texts << a.text;
    return texts;
}

bool ScriptedDialogs::allAnswered() const {
    return files_.isEmpty() && questions_.isEmpty() && choices_.isEmpty() && inputs_.isEmpty();
}

void ScriptedDialogs::clear() {
    files_.clear();
    questions_.clear();
    choices_.clear();
    inputs_.clear();
    asked_.clear();
    unexpected_ = 0;
}

QString ScriptedDialogs::nextFile() {
    // A list queued for the several-files dialog is no answer for a one-file dialog.
    if (files_.isEmpty() || files_.head().size() != 1) {
        ++unexpected_;
        if (!files_.isEmpty())
            files_.dequeue();
        return QString();
    }
    return files_.dequeue().constFirst();
}

QString ScriptedDialogs::openFile(const FileRequest& request) {
    asked_.append({Kind::OpenFile, request.title, QString(), Icon::Information, request, {}, {}});
    return nextFile();
}

QString ScriptedDialogs::saveFile(const FileRequest& request) {
    asked_.append({Kind::SaveFile, request.title, QString(), Icon::Information, request, {}, {}});
    return nextFile();
}

QStringList ScriptedDialogs::openFiles(const FileRequest& request) {
    asked_.append({Kind::OpenFiles, request.title, QString(), Icon::Information, request, {}, {}});
    if (files_.isEmpty()) {
        ++unexpected_;
        return {};
    }
    QStringList files = files_.dequeue();
    files.removeAll(QString()); // queueFile("") cancels
    return files;
}

void ScriptedDialogs::message(const QString& title, const QString& text, Icon icon) {
    asked_.append({Kind::Message, title, text, icon, {}, {}, {}});
}

bool ScriptedDialogs::question(const QString& title, const QString& text) {
    asked_.append({Kind::Question, title, text, Icon::Information, {}, {}, {}});
    if (questions_.isEmpty()) {
        ++unexpected_;
        return false;
    }
    return questions_.dequeue();
}

int ScriptedDialogs::choose(const QString& title, const QString& text, const QStringList& choices) {
    asked_.append({Kind::Choice, title, text, Icon::Information, {}, {}, choices});
    if (choices_.isEmpty()) {
        ++unexpected_;
        return -1;
    }
    return choices_.dequeue();
}

std::optional<QString> ScriptedDialogs::input(const QString& title, const QString& prompt,
                                              const QString& text) {
    asked_.append({Kind::Input, title, prompt, Icon::Information, {}, text, {}});
    if (inputs_.isEmpty()) {
        ++unexpected_;
        return std::nullopt;
    }
    return inputs_.dequeue();
}

} // namespace quaverly
