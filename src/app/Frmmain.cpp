#include "app/Frmmain.h"

#include "app/KeepSoundHint.h"
#include "app/SettingsFile.h"
#include "editor/WaveformView.h"
#include "ui/Icons.h"
#include "ui/Widgets.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QTimer>
#include <QWindow>

namespace quaverly {

Frmmain::Frmmain(Dialogs& dialogs, QWidget* parent, const QString& settingsPath)
    : QWidget(parent), settingsPath_(settingsPath.isEmpty() ? defaultSettingsPath() : settingsPath),
      dialogs_(dialogs, QFileInfo(settingsPath_).absolutePath() + QStringLiteral("/folders.ini")),
      busy_(this) {
    setObjectName(QStringLiteral("Frmmain"));
    setWindowTitle(tr("%1 by %2").arg(QLatin1String(kApplicationTitle), QLatin1String(kMakerName)));
    fitToScreen();
    resize(minimumSize());
    const auto device = audio::defaultBackend();
    editorPlayer = new WavPlayer(device, this);
    editorPlayer->setObjectName(QStringLiteral("MMCEdit"));
    listPlayer = new WavPlayer(device, this);
    listPlayer->setObjectName(QStringLiteral("MMCPlayList"));
    jobs_ = new Jobs(*this, busy_, this);
    encodings_ = new Encodings(dialogs_, busy_, *jobs_, *editorPlayer, *listPlayer, this);
    buildToolbar();
    buildPanels();
    connectSubsystems();
    Form_Load();
    restoreWindowState();
    layOutPanels();
    // The busy window takes tens of milliseconds to build: built once the window is up, so that
    // the first job does not spend them on the window thread.
    QTimer::singleShot(0, this, [this] { busy_.window(); });
}

Frmmain::~Frmmain() {
    // A window destroyed without being closed still leaves no work files behind; the
    // WorkFolder does that quietly when it goes.
}

void Frmmain::buildToolbar() {
    static const char* const images[] = {"open",     "record", "save", "convert",
                                         "settings", "about",  "logo", "exit"};
    for (const char* name : images) {
        ImageList1.append(appIcon(QStringLiteral(":/icons/%1").arg(QLatin1String(name))));
    }
    setWindowIcon(ImageList1.at(6));

    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setMovable(false);
    Toolbar1->setFloatable(false);
    Toolbar1->setIconSize(QSize(32, 32));
    Toolbar1->setToolButtonStyle(Qt::ToolButtonIconOnly);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    toolbarRule_ = rule;
}

void Frmmain::buildPanels() {
    // The panels lie on a host as large as the client area below the toolbar, never smaller than
    // their least layout: on a screen smaller than that, they scroll.
    panelArea_ = named(new QScrollArea(this), "panelArea");
    panelArea_->setFrameShape(QFrame::NoFrame);
    panelArea_->setWidgetResizable(true);
    // Not a stop of its own for Tab; it scrolls to the control that Tab brings the focus to.
    panelArea_->setFocusPolicy(Qt::NoFocus);
    auto* host = named(new QWidget, "panelHost");
    host->setMinimumSize(kClientWidth, kClientHeight - kPanelTop);
    host->installEventFilter(this);
    panelArea_->setWidget(host);

    songListPanel = new AudioEditPanel(host);
    editorFrame = new EditSongFrame;
    songListPanel->placeEditFrame(editorFrame);

    recorderPanel = new RecorderPanel(host);
    convertPanel = new ConvertPanel(host);
    settingsPanel = new SettingsPanel(host);
    aboutPanel = new AboutPanel(host);
}

void Frmmain::layOutPanels() {
    Toolbar1->setGeometry(0, 0, width(), kPanelTop - 4);
    toolbarRule_->setGeometry(0, kPanelTop - 4, width(), 2);
    panelArea_->setGeometry(0, kPanelTop, width(), height() - kPanelTop);
    const QWidget* host = panelArea_->widget();
    const int w = host->width();
    // The Audio Edit panel takes the whole host.
    songListPanel->setGeometry(px(120), 0, w - px(120) - 6, host->height() - 8);
    // The others keep their size and their place at the least size, and stay centred.
    const int shift = (w - kClientWidth) / 2;
    const struct {
        QWidget* panel;
        QRect atLeast;
    } panels[] = {
        // As wide as the settings panel, as tall as its controls need.
        {recorderPanel, QRect(px(1200), 0, px(8895), 236)},
        {convertPanel, QRect(px(1080), 0, px(9135), px(4815))},
        {settingsPanel, QRect(px(1200), 0, px(8895), px(4815))},
        {aboutPanel, QRect(px(2520), 0, px(5895), px(4215))},
    };
    for (const auto& p : panels)
        p.panel->setGeometry(p.atLeast.translated(shift, 0));
}

bool Frmmain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panelArea_->widget() && event->type() == QEvent::Resize)
        layOutPanels();
    return QWidget::eventFilter(watched, event);
}

void Frmmain::fitToScreen() {
    // The least size is the layout's, or what the screen has room for when that is less (at
    // 200 % on a small screen, say): the window never asks for more than the screen.
    QSize room(kClientWidth, kClientHeight);
    if (const QScreen* s = screen()) {
        const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        room = s->availableSize().shrunkBy(frame);
        connect(s, &QScreen::availableGeometryChanged, this, &Frmmain::fitToScreen,
                Qt::UniqueConnection);
    }
    setMinimumSize(QSize(kClientWidth, kClientHeight).boundedTo(room));
}

void Frmmain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (windowHandle())
        connect(windowHandle(), &QWindow::screenChanged, this, &Frmmain::fitToScreen,
                Qt::UniqueConnection);
    fitToScreen();
}

QString Frmmain::windowStatePath() const {
    return QFileInfo(settingsPath_).absolutePath() + QStringLiteral("/window.ini");
}

void Frmmain::restoreWindowState() {
    const QSettings saved(windowStatePath(), QSettings::IniFormat);
    QSize size = saved.value(QStringLiteral("window/size")).toSize();
    if (size.isValid()) {
        // A size kept on a larger screen shrinks to this one, never below the least size.
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            size = size.boundedTo(screen->availableSize());
        resize(size.expandedTo(minimumSize()));
    }
    if (saved.value(QStringLiteral("window/maximized")).toBool())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void Frmmain::saveWindowState() const {
    QSettings saved(windowStatePath(), QSettings::IniFormat);
    const bool maximized = isMaximized();
    // A maximised window keeps the size it had before, to go back to.
    const QSize size = maximized ? normalGeometry().size() : this->size();
    if (size.isValid() && !size.isEmpty())
        saved.setValue(QStringLiteral("window/size"), size);
    saved.setValue(QStringLiteral("window/maximized"), maximized);
}

void Frmmain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layOutPanels();
}

WindowServices Frmmain::windowServices() {
    WindowServices s;
    s.window = this;
    s.dialogs = &dialogs_;
    s.busy = &busy_;
    s.jobs = jobs_;
    s.encodings = encodings_;
    s.workPath = [this] { return workPath(); };
    s.baseFolder = [this] { return BaseFolder; };
    s.output = [this] { return Output; };
    s.editorPlayer = editorPlayer;
    s.listPlayer = listPlayer;
    return s;
}

void Frmmain::connectSubsystems() {
    settings =
        new SettingsHandlers(*settingsPanel, *songListPanel,
                             {&dialogs_, settingsPath_, &OutBitRate, &Output, &BaseFolder}, this);
    songList = new SongListHandlers(*songListPanel, lent<SongListServices>(), this);
    auto playback = lent<ListPlaybackServices>();
    playback.PlayIndex = &PlayIndex;
    playback.ListMode = &ListMode;
    listPlayback = new ListPlaybackHandlers(*songListPanel, std::move(playback), this);
    connect(songList, &SongListHandlers::songsRenumbered, listPlayback,
            &ListPlaybackHandlers::followRows);
    buildEditor();
    buildConverter();
    recorder = new RecorderHandlers(*recorderPanel, lent<RecorderServices>(), this);
}

void Frmmain::buildEditor() {
    auto edit = lent<EditorServices>();
    edit.ListMode = &ListMode;
    edit.MarkIn = &MarkIn;
    edit.MarkOut = &MarkOut;
    edit.selectedCopy = [this] { return songListPanel->workingCopy(songListPanel->ListIndex()); };
    const auto selected = [this](int role) {
        const QListWidgetItem* item = songListPanel->List1->item(songListPanel->ListIndex());
        return item ? item->data(role).toString() : QString();
    };
    edit.selectedName = [selected] { return selected(Qt::DisplayRole); };
    edit.selectedSource = [selected] { return selected(AudioEditPanel::kSourceRole); };
    edit.selectedTitle = [selected] { return selected(AudioEditPanel::kTitleRole); };
    edit.hideListPlayer = [this] { listPlayback->giveWayToEditor(); };
    // Each song's last cut can be undone until the song leaves the list or the program ends.
    edit.history = &cutHistory_;
    edit.undoCut = [this](const QString& copy) { return cutHistory_.undo(copy); };
    // What each working copy holds of its song's file, for clips that keep the file's frames.
    const auto itemData = [this](const QString& copy, int role) {
        const QListWidgetItem* item = songListPanel->itemOf(copy);
        return item ? item->data(role) : QVariant();
    };
    edit.originOf = [itemData](const QString& copy) {
        return itemData(copy, AudioEditPanel::kOriginRole).value<SongOrigin>();
    };
    edit.setOrigin = [this](const QString& copy, const SongOrigin& origin) {
        if (QListWidgetItem* item = songListPanel->itemOf(copy))
            item->setData(AudioEditPanel::kOriginRole, QVariant::fromValue(origin));
    };
    edit.formatOf = [itemData](const QString& copy) {
        return itemData(copy, AudioEditPanel::kFormatRole).toString();
    };
    editor = new EditorHandlers(*editorFrame, std::move(edit), this);
    buildKeepHint();
    editor->attachWaveform(new WaveformView);

    connect(songList, &SongListHandlers::songRemoved, this,
            [this](const QString& copy) { cutHistory_.forget(copy); });
    connect(songListPanel->List1, &QListWidget::itemDoubleClicked, editor,
            &EditorHandlers::List1_DblClick);
    connect(songList, &SongListHandlers::editorReset, editor, &EditorHandlers::reset);
    connect(songList, &SongListHandlers::releaseRequested, editor,
            &EditorHandlers::releaseRequested);
    connect(songList, &SongListHandlers::releaseEnded, editor, &EditorHandlers::releaseEnded);
    connect(songList, &SongListHandlers::editRequested, editor, &EditorHandlers::List1_DblClick);
    // A list too long for its preset: its song opens in the editor, marked to the length.
    connect(songList, &SongListHandlers::shortenRequested, this, [this](int row, qint64 outMs) {
        songListPanel->List1->setCurrentRow(row);
        editor->List1_DblClick();
        editor->markFirst(outMs);
    });
}

void Frmmain::buildKeepHint() {
    // The clip in hand: the song open in the editor, else the song of a list of one.
    const auto clipInHand = [this]() -> std::optional<KeepSoundHint::Clip> {
        const QString edited = editor->songInEditor();
        QListWidget& list = *songListPanel->List1;
        const QListWidgetItem* item = !edited.isEmpty()   ? songListPanel->itemOf(edited)
                                      : list.count() == 1 ? list.item(0)
                                                          : nullptr;
        if (!item)
            return std::nullopt;
        return KeepSoundHint::Clip{item->data(AudioEditPanel::kOriginRole).value<SongOrigin>(),
                                   item->data(AudioEditPanel::kFormatRole).toString(),
                                   !edited.isEmpty() && editor->effectsSet()};
    };
    auto* hint = new KeepSoundHint(
        *songListPanel->lblKeepSound, clipInHand, [this] { return Output; }, this);
    const auto refresh = [hint] { hint->refresh(); };
    connect(settings, &SettingsHandlers::outputChanged, hint, refresh);
    connect(editor, &EditorHandlers::songOpened, hint, refresh);
    connect(editor, &EditorHandlers::songClosed, hint, refresh);
    connect(editor, &EditorHandlers::songChanged, hint, refresh);
    connect(editorFrame->spnFadeIn, &QSpinBox::valueChanged, hint, refresh);
    connect(editorFrame->spnFadeOut, &QSpinBox::valueChanged, hint, refresh);
    connect(editorFrame->cmbNormalise, &QComboBox::currentIndexChanged, hint, refresh);
    const QAbstractItemModel* rows = songListPanel->List1->model();
    connect(rows, &QAbstractItemModel::rowsInserted, hint, refresh);
    connect(rows, &QAbstractItemModel::rowsRemoved, hint, refresh);
}

void Frmmain::buildConverter() {
    auto convert = lent<ConvertServices>();
    // A song converted to WAV joins the song list like an added one, with a working copy of its
    // own; a song to encode that must be decoded first is decoded as an added one, unlisted.
    convert.copySong = [this](const QString& source, bool listing, const QString& words, auto after,
                              auto done) {
        songList->copySong(source, listing, words, std::move(after), std::move(done));
    };
    converter = new ConvertHandlers(*convertPanel, std::move(convert), this);
    connect(settings, &SettingsHandlers::outputChanged, converter, &ConvertHandlers::showTarget);
}

void Frmmain::Form_Load() {
    // 1. The output folder starts at the user's home, or where the saved settings put it.
    settings->loadSaved();

    // 2-3. This instance's working folder, created when missing and emptied of files.
    if (const Status opened = work_.open(); !opened) {
        dialogs_.tell(
            tr("The working folder could not be prepared: %1.\n\nAdding songs, converting and "
               "recording need it and will fail until it can be created.")
                .arg(opened.error().text()),
            Dialogs::Icon::Warning);
    }

    // 4. The toolbar's six buttons, in their order, with their images.
    const struct {
        const char* key;
        int image; // 1-based, in ImageList1
        QKeySequence shortcut;
    } buttons[] = {
        {"Wav", 1, QKeySequence(Qt::CTRL | Qt::Key_1)},
        {"Rec", 2, QKeySequence(Qt::CTRL | Qt::Key_2)},
        {"Convert", 4, QKeySequence(Qt::CTRL | Qt::Key_3)},
        {"Setting", 5, QKeySequence(Qt::CTRL | Qt::Key_4)},
        {"Help", 6, QKeySequence(QKeySequence::HelpContents)},
        {"Exit", 8, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    for (const auto& b : buttons) {
        const QString key = QString::fromLatin1(b.key);
        QAction* action = Toolbar1->addAction(ImageList1.at(b.image - 1), key);
        action->setObjectName(key);
        action->setShortcut(b.shortcut);
        connect(action, &QAction::triggered, this, [this, key] { Toolbar1_ButtonClick(key); });
    }

    // 5. Tool tips.
    setToolTips();

    // 6. The hint under the song list.
    songListPanel->lblListHint->setText(QStringLiteral("Click to select, double click to edit"));
    songListPanel->lblMaker->setText(QLatin1String(kMakerName));

    // 7. Nothing to play or edit yet.
    for (QPushButton* b : songListPanel->playerButtons())
        b->setEnabled(false);
    editor->reset(false);

    // 8. The Audio Edit panel first, without its player and editor frames.
    showPanel(songListPanel);
    songListPanel->framePlayControl->setVisible(false);
    editorFrame->setVisible(false);
}

void Frmmain::setToolTips() {
    const struct {
        const char* key;
        const char* tip;
    } toolbar[] = {{"Wav", "Open Song"},    {"Rec", "Voice Recorder"}, {"Convert", "Convert"},
                   {"Setting", "Settings"}, {"Help", "About"},         {"Exit", "Exit"}};
    for (const auto& t : toolbar) {
        if (QAction* action = toolbarAction(QString::fromLatin1(t.key))) {
            action->setToolTip(tr(t.tip));
            action->setText(tr(t.tip));
            if (QWidget* button = Toolbar1->widgetForAction(action))
                button->setAccessibleName(tr(t.tip));
        }
    }
    const struct {
        QWidget* control;
        const char* tip;
    } buttons[] = {
        {songListPanel->CmdForward, "Previous song"},
        {songListPanel->CmdPause, "Pause"},
        {songListPanel->CmdPlay, "Play"},
        {songListPanel->CmdStop, "Stop"},
        {songListPanel->CmdNext, "Next song"},
        {songListPanel->CmdAdd, "Add New"},
        {editorFrame->CmdEditPlay, "Play"},
        {editorFrame->CmdEditStop, "Stop"},
        {songListPanel->Cmdremove, "Remove from list"},
        {songListPanel->CmdUP, "Move UP"},
        {songListPanel->CmdDown, "Move Down"},
    };
    for (const auto& b : buttons) {
        b.control->setToolTip(tr(b.tip));
    }
}

QAction* Frmmain::toolbarAction(const QString& key) const {
    for (QAction* action : Toolbar1->actions()) {
        if (action->objectName() == key) {
            return action;
        }
    }
    return nullptr;
}

void Frmmain::endSoundActivity(SoundEnd why) {
    // Every toolbar click and the shutdown pass through here before anything else, so that no
    // sound keeps running and no player holds a working copy open while files are touched.
    // In this order:
    //   1. the recorder ends a running recording (no block arrives after) and a play of its take,
    //      then lets the take and its capture device go;
    //   2. PanelSwitch: the editor's player stops (it keeps its song open) and the list
    //      player closes.
    //      Shutdown: both players stop, then both close, so that no file stays open.
    recorder->releaseTake();
    if (why == SoundEnd::PanelSwitch) {
        editorPlayer->stop();
        listPlayer->close();
        return;
    }
    editorPlayer->stop();
    listPlayer->stop();
    editorPlayer->close();
    listPlayer->close();
}

void Frmmain::closeEvent(QCloseEvent* event) {
    // A file still being saved (an encoding or any other job) is the user's work: it is stopped
    // only on the user's word.
    if (!unloaded_ && jobs_->running()) {
        const int choice = dialogs_.choose(
            QLatin1String(kApplicationTitle),
            tr("A file is still being saved.\n\nWait: it goes on, and the program stays "
               "open.\nStop and Quit: it is stopped and not kept; a file it would have replaced "
               "stays as it was."),
            {tr("Wait"), tr("Stop and Quit")});
        if (choice != 1) {
            event->ignore();
            return;
        }
        // The job notices within one block; its completion says nothing of a cancel.
        jobs_->cancel();
        jobs_->waitForDone();
    } else if (!unloaded_ && !recorder->mayLetTakeGo()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void Frmmain::Form_Unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    saveWindowState();
    endSoundActivity(SoundEnd::Shutdown);
    busy_.hide();
    // Every file of the working folder goes; sub-folders stay, and so does the folder.
    work_.close();
    emit quitRequested();
}

} // namespace quaverly
