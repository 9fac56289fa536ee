#include "app/Screenshots.h"

#include "app/Frmmain.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

namespace quaverly {

namespace {

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

} // namespace

bool saveScreenshots(Frmmain& window, const QString& folder) {
    if (!QDir().mkpath(folder)) {
        return false;
    }
    const QDir dir(folder);
    bool ok = true;
    // A message that a panel shows on the way (no sound server, say) is closed, so that the
    // pictures go on being taken.
    QTimer closeMessages;
    QObject::connect(&closeMessages, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    closeMessages.start(500);
    settle(300);
    int n = 1;
    for (const char* key : {"Wav", "Rec", "Convert", "Setting", "Help"}) {
        window.toolbarAction(QString::fromLatin1(key))->trigger();
        settle(300); // the folder view fills in the background
        const QString name =
            QStringLiteral("%1-%2.png").arg(n++, 2, 10, QLatin1Char('0')).arg(QLatin1String(key));
        ok = window.grab().save(dir.filePath(name), "PNG") && ok;
    }
    // The Audio Edit panel as a click on a song leaves it ("Play Control") and as a double
    // click leaves it ("Edit Song"); the program ends after the pictures, so nothing is undone.
    window.toolbarAction(QStringLiteral("Wav"))->trigger();
    for (QWidget* frame : {static_cast<QWidget*>(window.Framewav->framePlayControl),
                           static_cast<QWidget*>(window.frameEditSong)}) {
        window.Framewav->framePlayControl->setVisible(frame == window.Framewav->framePlayControl);
        window.frameEditSong->setVisible(frame == window.frameEditSong);
        // With a song in the list the editor shows it, waveform and all, with a selection.
        QListWidget* list = window.Framewav->List1;
        if (frame == window.frameEditSong && list->count() > 0) {
            list->setCurrentRow(0);
            emit list->itemDoubleClicked(list->item(0));
            window.editor->setMarkIn(window.editor->grid().lengthMs() / 4);
            window.editor->setMarkOut(window.editor->grid().lengthMs() / 2);
            settle(400); // the peaks are read in the background
        }
        settle(100);
        const QString name = QStringLiteral("%1-Wav-%2.png")
                                 .arg(n++, 2, 10, QLatin1Char('0'))
                                 .arg(frame->objectName());
        ok = window.grab().save(dir.filePath(name), "PNG") && ok;
    }
    // The editor again, the output frame set for an iPhone ringtone (the README's picture).
    QComboBox* presets = window.Framewav->CboPreset;
    presets->setCurrentIndex(presets->findData(QStringLiteral("iphone-ringtone")));
    settle(100);
    ok = window.grab().save(
             dir.filePath(QStringLiteral("%1-Wav-ringtone.png").arg(n++, 2, 10, QLatin1Char('0'))),
             "PNG") &&
         ok;

    window.busyWindow().show(QStringLiteral("Loading.........."));
    settle(1300);
    ok = window.busyWindow().window().grab().save(
             dir.filePath(QStringLiteral("%1-busy.png").arg(n, 2, 10, QLatin1Char('0')))) &&
         ok;
    window.busyWindow().hide();
    window.close();
    return ok;
}

} // namespace quaverly
