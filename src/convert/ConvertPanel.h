#pragma once
// The convert panel FrameConvert ("Convert Songs"): a song of any kind read to WAV (Frame4) and
// one to MP3 or another written format (Frame5), each with a source and a target path and its
// convert button.
//
// Widgets only: what the buttons do lives apart from this file.
// Threads: UI thread only.

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

namespace quaverly {

class ConvertPanel final : public QGroupBox {
    Q_OBJECT
public:
    explicit ConvertPanel(QWidget* parent = nullptr);

    QGroupBox* Frame4; // "Any song -> WAV"
    QLineEdit* txtopenmp3;
    QPushButton* CmdopenMp3;
    QLineEdit* txtsavewav;
    QPushButton* CmdSavewav2;
    QPushButton* CmdconvertWav;

    QGroupBox* Frame5; // "Any song -> MP3, ...": to any written format
    QLineEdit* txtopenwav;
    QPushButton* Cmdopenwav;
    QLineEdit* txtsavemp3;
    QPushButton* CmdSaveMP3;
    QPushButton* CmdConvertMP3;
};

} // namespace quaverly
