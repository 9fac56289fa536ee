// The toolbar: switching panels, filling the About panel, and "Exit".
#include "app/Frmmain.h"

#include "app/Version.h"

namespace quaverly {

namespace {
constexpr char kSupportAddress[] = "support@velmarise.example";
} // namespace

void Frmmain::Toolbar1_ButtonClick(const QString& key) {
    endSoundActivity(SoundEnd::PanelSwitch);
    if (key == QLatin1String("Wav")) {
        showPanel(Framewav);
    } else if (key == QLatin1String("Rec")) {
        showPanel(FrameRec);
        recorder->initrec();
    } else if (key == QLatin1String("Convert")) {
        showPanel(FrameConvert);
    } else if (key == QLatin1String("Setting")) {
        showPanel(FrameSetting);
    } else if (key == QLatin1String("Help")) {
        showPanel(FrameAbout);
        fillAbout();
    } else if (key == QLatin1String("Exit")) {
        close(); // runs the shutdown through closeEvent, like closing the window
    }
}

void Frmmain::showPanel(QWidget* panel) {
    // In this order; the inner frames of the Audio Edit panel keep their state.
    for (QWidget* p : std::initializer_list<QWidget*>{Framewav, FrameRec, FrameConvert,
                                                      FrameSetting, FrameAbout}) {
        p->setVisible(p == panel);
    }
}

void Frmmain::fillAbout() {
    FrameAbout->lblVersion->setText(
        tr("Version %1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch));
    FrameAbout->lblTitle->setText(QLatin1String(kApplicationTitle));
    FrameAbout->lblDescription->setText(
        QStringLiteral("velmarise MP3 Quaverly Editor can Crop and Convert You Favorite MP3, Wav "
                       "File, Also can Record Your Own Sound Form Your computer Soundcard, You "
                       "can cut or trim different parts of different songs form different "
                       "format and merge it into one song, and make the sounds of your phone "
                       "in your own style."));
    FrameAbout->Label7->setText(QStringLiteral("Support :\r\n") + QLatin1String(kSupportAddress));
}

} // namespace quaverly
