#pragma once
// What the settings do: the bit-rate options, the output folder, "New Folder" and "Save
// Setting", and the saved settings read back at start. The bit rate and the output folder are
// fields of the window that every subsystem reads; these handlers are the only writers.
//
// Threads: UI thread only.

#include <QObject>
#include <QString>

namespace quaverly {

class AudioEditPanel;
class Dialogs;
class SettingsPanel;

// What the window lends the settings.
struct SettingsServices {
    Dialogs* dialogs = nullptr;
    QString settingsPath;          // the settings file
    int* outBitRate = nullptr;     // the window's OutBitRate
    QString* baseFolder = nullptr; // the window's BaseFolder
};

class SettingsHandlers final : public QObject {
    Q_OBJECT
public:
    // bitRates: the panel whose options choose the bit rate.
    SettingsHandlers(SettingsPanel& panel, AudioEditPanel& bitRates, SettingsServices services,
                     QObject* parent = nullptr);

    // Start-up: the output folder is the user's home, or where valid saved settings put it,
    // and so is the bit rate. A missing or damaged settings file changes nothing.
    void loadSaved();

    void Option_Click(int kbps);
    void Dir1_Change(const QString& path);
    void CmdFolder_Click();
    void CmdSaveSetting_Click();

private:
    SettingsPanel& panel_;
    AudioEditPanel& bitRates_;
    SettingsServices s_;
};

} // namespace quaverly
