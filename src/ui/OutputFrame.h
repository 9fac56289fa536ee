#pragma once
// The output frame "Output": the preset, the format and that format's setting of the window's
// encoded saves (the list's, the clip editor's, the converter's and the recorder's). MP3's bit
// rates are options, the other formats' values a list; one of the two is shown.
//
// Widgets only: the settings react to its signals and show the choice back with showChoice().
// Threads: UI thread only.

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QRadioButton>

namespace quaverly {

class OutputChoice;

class OutputFrame final : public QGroupBox {
    Q_OBJECT
public:
    // objectName "Frame6"; its MP3 options keep their historic names, optBitRate56 to
    // optBitRate256 "Option1" to "Option4" and optBitRate192 "Option5": tests find them by it.
    explicit OutputFrame(QWidget* parent = nullptr);

    // Shows `choice` (without announcing it as the user's): the preset, the format, and its
    // setting.
    void showChoice(const OutputChoice& choice);

    QComboBox* CboPreset;  // "None", then the presets; item data: the preset's id
    QComboBox* CboFormat;  // item data: encode::Format as int
    QComboBox* CboSetting; // the chosen format's values but MP3's; item data: the value
    QRadioButton* optBitRate56;
    QRadioButton* optBitRate96;
    QRadioButton* optBitRate128;
    QRadioButton* optBitRate192;
    QRadioButton* optBitRate256;
    QButtonGroup* bitRateGroup; // ids are the bit rates

signals:
    // The user picked the option of kbps.
    void bitRateChosen(int kbps);
    // The user picked a preset (its id; empty for "None"), a format (encode::Format as int), or
    // a value of the chosen format's setting.
    void presetChosen(const QString& id);
    void formatChosen(int format);
    void settingChosen(int value);
};

} // namespace quaverly
