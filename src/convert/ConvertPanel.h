#pragma once
// The convert panel convertPanel ("Convert Songs"): a song of any kind read to WAV (frameToWav) and
// one to MP3 or another written format (frameEncode), each with a source and a target path and its
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

    QGroupBox* frameToWav; // "Any song -> WAV"
    QLineEdit* txtWavSource;
    QPushButton* CmdopenMp3;
    QLineEdit* txtsavewav;
    QPushButton* CmdSavewav2;
    QPushButton* CmdconvertWav;

    QGroupBox* frameEncode; // "Any song -> MP3, ...": to any written format
    QLineEdit* txtEncodeSource;
    QPushButton* Cmdopenwav;
    QLineEdit* txtEncodeTarget;
    QPushButton* CmdSaveMP3;
    QPushButton* CmdConvertMP3;
};

} // namespace quaverly
