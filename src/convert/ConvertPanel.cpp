#include "convert/ConvertPanel.h"

#include "ui/Widgets.h"

#include <QLabel>

namespace quaverly {

namespace {

// One conversion: a caption and path box with its "..." chooser for the source, the same for
// the target, and the convert button at the bottom right.
struct Row {
    QLineEdit* text;
    QPushButton* chooser;
};

// `what` names the box for a screen reader ("Song to convert to WAV"); its chooser is "Choose"
// that, also its tool tip.
Row pathRow(QGroupBox* frame, int y, const QString& caption, const char* textName,
            const char* chooserName, const QString& placeholder, const QString& what) {
    auto* label = new QLabel(caption, frame);
    label->setGeometry(14, y, 80, 26);
    auto* text = named(new QLineEdit(frame), textName);
    text->setGeometry(96, y, 420, 26);
    text->setPlaceholderText(placeholder);
    text->setAccessibleName(what);
    label->setBuddy(text);
    auto* chooser = named(new QPushButton(QStringLiteral("..."), frame), chooserName);
    chooser->setGeometry(522, y, 44, 26);
    const QString choose = ConvertPanel::tr("Choose the %1").arg(what.toLower());
    chooser->setAccessibleName(choose);
    chooser->setToolTip(choose);
    return {text, chooser};
}

} // namespace

ConvertPanel::ConvertPanel(QWidget* parent) : QGroupBox(tr("Convert Songs"), parent) {
    setObjectName(QStringLiteral("FrameConvert"));

    frameToWav = named(new QGroupBox(tr("Any song -> WAV"), this), "Frame4");
    frameToWav->setGeometry(14, 28, 581, 136);
    frameEncode =
        named(new QGroupBox(tr("Any song -> MP3, M4A/M4R, Ogg, Opus, FLAC"), this), "Frame5");
    frameEncode->setGeometry(14, 174, 581, 136);

    // Each frame's source row, then its target row, before its convert button.
    const struct {
        QGroupBox* frame;
        int y;
        QString caption;
        const char* textName;
        const char* chooserName;
        QString placeholder;
        QString what;
        QLineEdit*& text;
        QPushButton*& chooser;
    } rows[] = {
        {frameToWav, 28, tr("Song file:"), "txtopenmp3", "CmdopenMp3",
         tr("The song to convert: MP3, FLAC, M4A, Ogg, WAV, ..."), tr("Song to convert to WAV"),
         txtWavSource, CmdopenMp3},
        {frameToWav, 62, tr("Save as:"), "txtsavewav", "CmdSavewav2", tr("The WAV file to write"),
         tr("WAV file to save"), txtsavewav, CmdSavewav2},
        {frameEncode, 28, tr("Song file:"), "txtopenwav", "Cmdopenwav",
         tr("The song to convert: WAV, FLAC, M4A, Ogg, MP3, ..."), tr("Song to encode"),
         txtEncodeSource, Cmdopenwav},
        {frameEncode, 62, tr("Save as:"), "txtsavemp3", "CmdSaveMP3",
         tr("The file to write: MP3, M4R, M4A, Ogg, Opus, FLAC"), tr("File to save"),
         txtEncodeTarget, CmdSaveMP3},
    };
    for (const auto& row : rows) {
        const Row made = pathRow(row.frame, row.y, row.caption, row.textName, row.chooserName,
                                 row.placeholder, row.what);
        row.text = made.text;
        row.chooser = made.chooser;
    }
    CmdconvertWav = named(new QPushButton(tr("Convert to Wav"), frameToWav), "CmdconvertWav");
    CmdconvertWav->setGeometry(416, 98, 150, 28);
    CmdconvertWav->setAccessibleName(tr("Convert to WAV"));

    CmdConvertMP3 = named(new QPushButton(tr("Convert to MP3"), frameEncode), "CmdConvertMP3");
    CmdConvertMP3->setGeometry(416, 98, 150, 28);
    CmdConvertMP3->setAccessibleName(CmdConvertMP3->text());

    // Top to bottom, each box before its chooser, each conversion ending on its button.
    chainTabOrder({txtWavSource, CmdopenMp3, txtsavewav, CmdSavewav2, CmdconvertWav,
                   txtEncodeSource, Cmdopenwav, txtEncodeTarget, CmdSaveMP3, CmdConvertMP3});
}

} // namespace quaverly
