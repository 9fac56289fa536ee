// The program's own file dialog: names typed in its file name box all come back, also those of
// files its filter hides from the view.
#include "ui/QtDialogs.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quaverly;

namespace {

TEST(QtDialogsTest, EveryTypedNameIsPickedAlsoOfAFileTheFilterHides) {
    QTemporaryDir dir;
    for (const char* name : {"a.mp3", "b.spx", "c.mp3"}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    // Once the dialog shows its folder (a.mp3 and c.mp3 in the view; b.spx hidden), the names
    // are typed and the dialog accepted; should it never get there, it is closed.
    bool typed = false;
    const QDeadlineTimer deadline(30000);
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (deadline.hasExpired()) {
            dialog->reject();
            return;
        }
        const auto* view = dialog->findChild<QListView*>(QStringLiteral("listView"));
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_TRUE(view && edit);
        if (view->model()->rowCount(view->rootIndex()) < 2)
            return;
        if (!edit->hasFocus()) { // as when the user types there
            dialog->activateWindow();
            edit->setFocus();
            return;
        }
        if (!typed) {
            edit->setText(QStringLiteral("\"c.mp3\" \"b.spx\" \"a.mp3\""));
            typed = true;
            return;
        }
        QMetaObject::invokeMethod(dialog, "accept");
    });
    user.start(10);
    QtDialogs dialogs(nullptr);
    const QStringList picked = dialogs.openFiles(
        {QStringLiteral("Add songs"), dir.path(), QStringLiteral("MP3 (*.mp3)"), QString()});
    EXPECT_TRUE(typed);
    EXPECT_EQ(picked,
              (QStringList{dir.filePath("c.mp3"), dir.filePath("b.spx"), dir.filePath("a.mp3")}));
}

} // namespace
