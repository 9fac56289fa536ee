#pragma once
// What the settings do: the output frame (preset, format, setting, the MP3 bit-rate options),
// the output folder, "New Folder" and "Save Setting", and the saved settings read back at start.
// The bit rate, the output choice and the output folder are fields of the window that every
// subsystem reads; these handlers are the only writers. The bit rate is the output choice's MP3
// value, kept apart for config.ini and the MP3 saves.
//
// Threads: UI thread only.

#include <QObject>
#include <QString>

namespace quaverly {

class AudioEditPanel;
class Dialogs;
class OutputChoice;
class SettingsPanel;

// What the window lends the settings.
struct SettingsServices {
    Dialogs* dialogs = nullptr;
    QString settingsPath;           // the settings file
    int* outBitRate = nullptr;      // the window's OutBitRate
    OutputChoice* output = nullptr; // the window's Output
    QString* baseFolder = nullptr;  // the window's BaseFolder
};

class SettingsHandlers final : public QObject {
    Q_OBJECT
public:
    // outputs: the panel whose output frame chooses the bit rate, format and preset.
    SettingsHandlers(SettingsPanel& panel, AudioEditPanel& outputs, SettingsServices services,
                     QObject* parent = nullptr);

    // Start-up: the output folder is the user's home, or where valid saved settings put it,
    // and so is the bit rate; the output choice is outputs.ini's. A missing or damaged file
    // changes nothing of what it holds.
    void loadSaved();

    void pickBitRate(int kbps);
    // A preset (its id; empty: none), a format, the chosen format's value.
    void CboPreset_Click(const QString& id);
    void CboFormat_Click(int format);
    void CboSetting_Click(int value);
    void Dir1_Change(const QString& path);
    void CmdFolder_Click();
    // Writes config.ini, then outputs.ini.
    void CmdSaveSetting_Click();

signals:
    // The output choice has changed.
    void outputChanged();

private:
    // The choice is in place: the frame shows it, the bit rate follows, the others hear of it.
    void applyOutput();

    SettingsPanel& panel_;
    AudioEditPanel& outputs_;
    SettingsServices s_;
};

} // namespace quaverly
