#pragma once
// The main window: the toolbar Toolbar1 over five panels of which one is shown at a time, the
// fields that the subsystems share, the working folder of this instance, the busy window and
// the dialogs. Constructing it runs the start-up; closing it (or "Exit") runs the shutdown and
// then emits quitRequested, which the program connects to the application's quit. While an
// encoding runs, closing asks first: wait for it (the window stays), or stop it and quit.
//
// The window can be made larger than its least size; the Audio Edit panel and the clip editor's
// frame in it grow with it, the other panels keep their size, centred. Its least size is the
// panels' least layout, or the screen's available size where that is smaller (200 % on a small
// screen): the panels then scroll in the area below the toolbar. Its size and whether it
// was maximised are kept in window.ini beside the settings file, written at the shutdown and
// read at the start-up. Beside it, folders.ini keeps the folder each kind of file dialog was last
// picked in: every dialog of the window goes through RememberingDialogs.
//
// Threads: UI thread only.

#include "app/AboutPanel.h"
#include "app/SettingsHandlers.h"
#include "app/SettingsPanel.h"
#include "convert/ConvertHandlers.h"
#include "convert/ConvertPanel.h"
#include "editor/CutHistory.h"
#include "editor/EditSongFrame.h"
#include "editor/EditorHandlers.h"
#include "engines/player/WavPlayer.h"
#include "recorder/RecorderHandlers.h"
#include "recorder/RecorderPanel.h"
#include "songlist/AudioEditPanel.h"
#include "songlist/ListPlaybackHandlers.h"
#include "songlist/SongListHandlers.h"
#include "ui/BusyWindow.h"
#include "ui/Dialogs.h"
#include "ui/Encodings.h"
#include "ui/Jobs.h"
#include "ui/OutputChoice.h"
#include "ui/RememberedFolders.h"
#include "ui/WorkFolder.h"

#include <QIcon>
#include <QList>
#include <QScrollArea>
#include <QToolBar>
#include <QWidget>

namespace quaverly {

inline constexpr char kMakerName[] = "velmarise";

class Frmmain final : public QWidget {
    Q_OBJECT
public:
    // The least client area (and the first one), in pixels, and where the panels begin below
    // the toolbar.
    static constexpr int kClientWidth = 719;
    static constexpr int kClientHeight = 476;
    static constexpr int kPanelTop = 48;

    // Runs the start-up. settingsPath: the settings file; by default defaultSettingsPath().
    explicit Frmmain(Dialogs& dialogs, QWidget* parent = nullptr,
                     const QString& settingsPath = QString());
    ~Frmmain() override;

    // --- Fields shared by the subsystems ---
    int OutBitRate = 256; // kbit/s of the MP3 saves: 56, 96, 128, 192 or 256
    OutputChoice Output;  // the output frame: format, each format's setting, preset
    QString BaseFolder;   // the output folder: always the folder list's path
    QString ListMode;     // "Edit" while a song is open in the clip editor
    qint64 MarkIn = 0;    // ms
    qint64 MarkOut = 0;   // ms
    int PlayIndex = 0;    // the song the list player starts next

    // This instance's working folder (see WorkFolder): every work file goes in there.
    QString workPath() const { return work_.path(); }

    BusyWindow& busyWindow() { return busy_; }
    // Every encoding, with its completion handling.
    Encodings& encodings() { return *encodings_; }
    Jobs& jobs() { return *jobs_; }

    // --- Controls ---
    QToolBar* Toolbar1;
    QList<QIcon> ImageList1; // the eight toolbar images
    AudioEditPanel* songListPanel;
    EditSongFrame* editorFrame; // inside songListPanel; objectName "Frame3", its historic name
    RecorderPanel* recorderPanel;
    ConvertPanel* convertPanel;
    SettingsPanel* settingsPanel;
    AboutPanel* aboutPanel;

    // What the settings do.
    SettingsHandlers* settings;
    // What the song list's buttons do.
    SongListHandlers* songList;
    // List playback in "Play Control".
    ListPlaybackHandlers* listPlayback;
    // The clip editor in "Edit Song".
    EditorHandlers* editor;
    // What the convert panel's buttons do.
    ConvertHandlers* converter;
    // The voice recorder.
    RecorderHandlers* recorder;

    // The two invisible players: the clip editor's and the list player's.
    WavPlayer* editorPlayer;
    WavPlayer* listPlayer;

    // The toolbar's action for key ("Wav", "Rec", "Convert", "Setting", "Help", "Exit").
    QAction* toolbarAction(const QString& key) const;

    // Acts on a toolbar key: ends the sound activity, then shows the key's panel, or closes the
    // window for "Exit" (the shutdown ends it then). Unknown keys only end the sound activity.
    // A take the recorder has not saved is asked about first (Save, Discard, Cancel); only
    // Discard goes on.
    void Toolbar1_ButtonClick(const QString& key);

    // Sets the tool tips of the toolbar and of the list, player and editor buttons.
    void setToolTips();

signals:
    // The shutdown has run: the program should end now.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Lays the panels out again when their host changes its size.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class SoundEnd { PanelSwitch, Shutdown };

    void buildToolbar();
    void buildPanels();
    // What the window lends every subsystem, as it is now; lent<S>() as a subsystem's services
    // S, its own members left for the caller to set.
    WindowServices windowServices();
    template <typename S> S lent() {
        S s;
        static_cast<WindowServices&>(s) = windowServices();
        return s;
    }
    // Builds each subsystem's handlers and connects them to the others.
    void connectSubsystems();
    void buildEditor();
    // The words under the output frame on what the clip in hand keeps of its song.
    void buildKeepHint();
    void buildConverter();
    void Form_Load();
    void Form_Unload();
    void endSoundActivity(SoundEnd why);
    void showPanel(QWidget* panel);
    void fillAbout();
    // Places the toolbar, the panels' scroll area and the panels as they are now.
    void layOutPanels();
    // Sets the least size: the layout's, within the screen's available size.
    void fitToScreen();
    // window.ini in the settings file's folder: the window's size and maximised state.
    QString windowStatePath() const;
    void restoreWindowState();
    void saveWindowState() const;

    QString settingsPath_;
    RememberingDialogs dialogs_;
    WorkFolder work_;
    BusyWindow busy_;
    CutHistory cutHistory_;
    Encodings* encodings_ = nullptr;
    Jobs* jobs_ = nullptr;
    QWidget* toolbarRule_ = nullptr;
    QScrollArea* panelArea_ = nullptr; // objectName "panelArea", below the toolbar
    bool unloaded_ = false;
};

} // namespace quaverly
