#pragma once
// The clip editor's frame "Edit Song" (objectName "Frame3"): the area kept for the song's waveform,
// the position slider with the play position, Play and Stop, the previews of the selection and of
// the stretch around each mark, the two marks, each in a field that takes a typed time, "Snap to
// zero crossing", the clip's length against a limit, "Done", "Export Clip…", and the editor's
// keys. Times are shown as TimeText.h has them.
//
// Widgets only: what the buttons and keys do lives apart from this file. The frame grows with
// the window; the waveform area takes what it gains in height.
// Threads: UI thread only.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

namespace quaverly {

class EditSongFrame final : public QGroupBox {
    Q_OBJECT
public:
    explicit EditSongFrame(QWidget* parent = nullptr);

    // Puts `view` (the song's waveform) in the waveform area in place of the hint, or of the
    // view put there before, which is deleted; the frame owns it, and gives it the keys as its
    // tool tip when it has none. Null brings the hint back.
    void setWaveformView(QWidget* view);

    // Adds a line to the keys hint shown while the waveform area holds no view.
    void addKeyHint(const QString& line);

    // The waveform area: an empty widget with a layout, at least kWaveMinHeight tall; it gives
    // up some of its height while the line under "Done" says something. The line under the
    // marks keeps its room throughout.
    static constexpr int kWaveMinHeight = 60;
    QWidget* waveHost;
    QLabel* lblWaveHint; // the keys of the editor, muted, until a view takes the area

    QSlider* SliderEdit;
    QLabel* Lbltotal; // the play position
    QPushButton* CmdEditPlay;
    QPushButton* CmdEditStop;
    QPushButton* CmdPlaySel; // plays from the In mark to the Out mark
    QCheckBox* chkLoop;      // ... again and again
    QPushButton* CmdPlayIn;  // the two seconds around the In mark
    QPushButton* CmdPlayOut; // ... around the Out mark
    QLabel* Lblin;           // the captions "In" and "Out" of the mark fields
    QLineEdit* txtMarkIn;
    QPushButton* CmdMarkin;
    QLabel* Lblout;
    QLineEdit* txtMarkOut;
    QPushButton* CmdMarkOut;
    QLabel* lblClipLength;
    QLabel* lblTarget;    // "Limit:", the caption of cmbTarget
    QComboBox* cmbTarget; // the limit the clip's length is held against; item data: ms, 0 for none
    QCheckBox* chkSnap;
    QPushButton* CmdEditDone;

    // What "Done" also does to the clip: fades at its ends (ms, 0 for none) and normalising to a
    // peak level (dBFS) or a loudness (LUFS); all off at first, so that "Done" only cuts.
    QSpinBox* spnFadeIn;
    QSpinBox* spnFadeOut;
    QComboBox* cmbNormalise; // item data: ClipEffects::Normalise as an int
    QDoubleSpinBox* spnNormTarget;
    QPushButton* CmdUndoCut; // puts the song back as it was before its last cut
    QPushButton* CmdExport;  // "Export Clip…": the marked stretch, in the chosen format
    QLabel* lblDoneResult;   // what the last "Done" did to the clip's level; see setDoneResult
    QLabel* lblFadeIn;       // the fades' captions
    QLabel* lblFadeOut;
    // Why the marks cannot be cut ("Out must be after In"); see setMarkError.
    QLabel* lblMarkError;

    // Show `text` in lblDoneResult / lblMarkError, which are hidden while they have none
    // (lblMarkError keeps its room).
    void setDoneResult(const QString& text);
    void setMarkError(const QString& text);

    // The editor's keys, active while the focus is in the frame.
    QAction* actPlayStop;     // Space
    QAction* actMarkIn;       // I: the In mark at the play position
    QAction* actMarkOut;      // O
    QAction* actGoIn;         // Home: the play position to the In mark
    QAction* actGoOut;        // End
    QAction* actInEarlier;    // , and .: the In mark 10 ms earlier or later
    QAction* actInLater;      //
    QAction* actInEarlier1s;  // < and >: ... one second
    QAction* actInLater1s;    //
    QAction* actOutEarlier;   // [ and ]: the Out mark 10 ms earlier or later
    QAction* actOutLater;     //
    QAction* actOutEarlier1s; // { and }: ... one second
    QAction* actOutLater1s;   //
    QList<QAction*> keyActions() const;

    // Adds a key action to the frame, named, with its keys, active while the focus is inside.
    QAction* addKey(const char* name, const QString& text, const QKeySequence& keys);

private:
    // The constructor's steps, in this order: each group of controls, the layout that places
    // them, the keys, then the hint and the tool tips.
    void buildWaveArea();
    void buildPlayControls(); // the slider, Play and Stop, the previews
    void buildMarkControls();
    void buildClipControls(); // the clip's length, "Done" and its effects, "Undo Cut"
    void layOutControls();
    void buildKeys();
    void describeControls();
    void nameForScreenReaders(); // accessible names and the tab order

    QPointer<QWidget> view_;
};

} // namespace quaverly
