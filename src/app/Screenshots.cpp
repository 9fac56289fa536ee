#include "app/Screenshots.h"

#include "app/Frmmain.h"
#include "ui/Jobs.h"
#include "ui/ThemeColours.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QProcess>
#include <QStyleFactory>
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

bool saveScreenshots(Frmmain& window, const QString& folder, const QString& tag) {
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
        const QString name = QStringLiteral("%1-%2%3.png")
                                 .arg(n++, 2, 10, QLatin1Char('0'))
                                 .arg(QLatin1String(key), tag);
        ok = window.grab().save(dir.filePath(name), "PNG") && ok;
    }
    // The Audio Edit panel as a click on a song leaves it ("Play Control") and as a double
    // click leaves it ("Edit Song"); the program ends after the pictures, so nothing is undone.
    window.toolbarAction(QStringLiteral("Wav"))->trigger();
    for (QWidget* frame : {static_cast<QWidget*>(window.songListPanel->framePlayControl),
                           static_cast<QWidget*>(window.editorFrame)}) {
        window.songListPanel->framePlayControl->setVisible(frame ==
                                                           window.songListPanel->framePlayControl);
        window.editorFrame->setVisible(frame == window.editorFrame);
        // With a song in the list the editor shows it, waveform and all, with a selection.
        QListWidget* list = window.songListPanel->List1;
        if (frame == window.editorFrame && list->count() > 0) {
            list->setCurrentRow(0);
            emit list->itemDoubleClicked(list->item(0));
            window.editor->setMarkIn(window.editor->grid().lengthMs() / 4);
            window.editor->setMarkOut(window.editor->grid().lengthMs() / 2);
            settle(400); // the peaks are read in the background
        }
        settle(100);
        const QString name = QStringLiteral("%1-Wav-%2%3.png")
                                 .arg(n++, 2, 10, QLatin1Char('0'))
                                 .arg(frame->objectName(), tag);
        ok = window.grab().save(dir.filePath(name), "PNG") && ok;
    }
    // The editor again, the output frame set for an iPhone ringtone (the README's picture).
    QComboBox* presets = window.songListPanel->outputFrame->CboPreset;
    presets->setCurrentIndex(presets->findData(QStringLiteral("iphone-ringtone")));
    settle(100);
    ok =
        window.grab().save(
            dir.filePath(
                QStringLiteral("%1-Wav-ringtone%2.png").arg(n++, 2, 10, QLatin1Char('0')).arg(tag)),
            "PNG") &&
        ok;

    // The same in a roomier window, as a user sizes it: the list and the waveform take the width.
    const QSize least = window.size();
    window.resize(1024, 640);
    settle(400); // the waveform is drawn again for its new width
    ok = window.grab().save(dir.filePath(QStringLiteral("%1-Wav-ringtone-wide%2.png")
                                             .arg(n++, 2, 10, QLatin1Char('0'))
                                             .arg(tag)),
                            "PNG") &&
         ok;
    window.resize(least);

    // The busy window as a job shows it: its words, how far it got, the time left and Cancel.
    window.busyWindow().showJob(QStringLiteral("Saving the list to MP3"), [] {});
    window.busyWindow().setProgress(420, QStringLiteral("About 12 s left"));
    settle(1300);
    ok = window.busyWindow().window().grab().save(dir.filePath(
             QStringLiteral("%1-busy%2.png").arg(n, 2, 10, QLatin1Char('0')).arg(tag))) &&
         ok;
    window.busyWindow().hide();
    window.close();
    return ok;
}

int takeScreenshots(Dialogs& dialogs, const QString& program, const QStringList& songs,
                    const QString& folder, bool secondScale) {
    const QString scale = secondScale ? QStringLiteral("@2x") : QString();
    bool ok = true;
    for (const bool dark : {false, true}) {
        if (dark) {
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(darkDesktopPalette());
        }
        Frmmain window(dialogs);
        window.show();
        // The whole layout, also where the screen is smaller than it (200 % on the offscreen
        // platform's screen), when the window would scroll it.
        window.resize(Frmmain::kClientWidth, Frmmain::kClientHeight);
        window.songList->addFiles(songs);
        window.jobs().waitForDone(); // the songs are listed as the adding job ends
        ok = saveScreenshots(window, folder,
                             (dark ? QStringLiteral("-dark") : QStringLiteral("-light")) + scale) &&
             ok;
    }
    if (!secondScale) {
        // Qt scales a whole program only from its start: the 200 % pictures take a run of their
        // own.
        QProcess twice;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
        twice.setProcessEnvironment(env);
        twice.setProcessChannelMode(QProcess::ForwardedChannels);
        twice.start(program, QStringList{QStringLiteral("--screenshots"), folder,
                                         QStringLiteral("--screenshots-at-2x")} +
                                 songs);
        ok = twice.waitForFinished(-1) && twice.exitStatus() == QProcess::NormalExit &&
             twice.exitCode() == 0 && ok;
    }
    return ok ? 0 : 1;
}

} // namespace quaverly
