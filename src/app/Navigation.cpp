// The toolbar: switching panels, filling the About panel, and "Exit".
#include "app/Frmmain.h"

#include "app/Version.h"

namespace quaverly {

namespace {
constexpr char kSupportAddress[] = "support@velmarise.example";
} // namespace

void Frmmain::Toolbar1_ButtonClick(const QString& key) {
    if (key == QLatin1String("Exit")) {
        close(); // runs the shutdown through closeEvent, like closing the window
        return;
    }
    // A take not saved is the user's work: it goes only on the user's word.
    if (!recorder->mayLetTakeGo())
        return;
    endSoundActivity(SoundEnd::PanelSwitch);
    if (key == QLatin1String("Wav")) {
        showPanel(songListPanel);
    } else if (key == QLatin1String("Rec")) {
        showPanel(recorderPanel);
        recorder->initrec();
    } else if (key == QLatin1String("Convert")) {
        showPanel(convertPanel);
    } else if (key == QLatin1String("Setting")) {
        showPanel(settingsPanel);
    } else if (key == QLatin1String("Help")) {
        showPanel(aboutPanel);
        fillAbout();
    }
}

void Frmmain::showPanel(QWidget* panel) {
    // In this order; the inner frames of the Audio Edit panel keep their state.
    for (QWidget* p : std::initializer_list<QWidget*>{songListPanel, recorderPanel, convertPanel,
                                                      settingsPanel, aboutPanel}) {
        p->setVisible(p == panel);
    }
}

void Frmmain::fillAbout() {
    aboutPanel->lblVersion->setText(
        tr("Version %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch));
    aboutPanel->lblTitle->setText(QLatin1String(kApplicationTitle));
    aboutPanel->lblDescription->setText(
        tr("velmarise MP3 Quaverly Editor crops and converts your favourite MP3 and WAV files, "
           "and records your own sound from your computer's sound card. You can cut or trim "
           "parts of songs of different formats, join them into one song, and make your "
           "phone's sounds in your own style."));
    aboutPanel->Label7->setText(tr("Support:\n%1").arg(QLatin1String(kSupportAddress)));
}

} // namespace quaverly
