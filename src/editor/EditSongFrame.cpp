#include "editor/EditSongFrame.h"

#include "ui/ThemeColours.h"
#include "ui/Widgets.h"

#include "editor/ClipEffects.h"
#include "editor/TimeText.h"

#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QProxyStyle>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace quaverly {

namespace {

// A click on the slider's groove puts the handle there, as in every media player, rather than
// moving it one page towards the click.
class JumpToClickStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons)
            return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The play position: wide enough for any, so that nothing moves as it changes.
QLabel* positionLabel(QWidget* parent, const char* name) {
    auto* l = named(new QLabel(positionText(0), parent), name);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("0:00:00.000")) + 6);
    return l;
}

// A button at least `minWidth` wide (the layout of old), and wide enough for its caption with
// some room around it; below the style's own wish, so that the least window holds them all.
QPushButton* push(QWidget* parent, const char* name, const QString& caption, int minWidth) {
    auto* b = named(new QPushButton(caption, parent), name);
    b->setMinimumWidth(std::max(minWidth, b->fontMetrics().horizontalAdvance(caption) + 20));
    return b;
}

QLineEdit* markField(QWidget* parent, const char* name) {
    auto* f = named(new QLineEdit(positionText(0), parent), name);
    f->setAlignment(Qt::AlignRight);
    f->setMaxLength(16);
    // Room for "h:mm:ss.mmm" and the frame.
    f->setFixedWidth(f->fontMetrics().horizontalAdvance(QStringLiteral("0:00:00.0000")) + 12);
    // As tall with the border of a text that cannot be taken as without it.
    f->setFixedHeight(f->sizeHint().height());
    return f;
}

} // namespace

EditSongFrame::EditSongFrame(QWidget* parent) : QGroupBox(tr("Edit Song"), parent) {
    // The frame's historic name, by which tests find it.
    setObjectName(QStringLiteral("Frame3"));
    // A click anywhere in the frame gives it the focus, and with it the editor's keys.
    setFocusPolicy(Qt::ClickFocus);
    // The controls are made in the order the focus moves through them.
    buildWaveArea();
    buildPlayControls();
    buildMarkControls();
    buildClipControls();
    layOutControls();
    buildKeys();
    describeControls();
}

void EditSongFrame::buildWaveArea() {
    waveHost = named(new QWidget(this), "waveHost");
    waveHost->setMinimumHeight(kWaveMinHeight);
    waveHost->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* waveLayout = new QVBoxLayout(waveHost);
    waveLayout->setContentsMargins(0, 0, 0, 0);
    lblWaveHint = named(new QLabel(waveHost), "lblWaveHint");
    lblWaveHint->setAlignment(Qt::AlignCenter);
    lblWaveHint->setWordWrap(true);
    lblWaveHint->setFrameShape(QFrame::StyledPanel);
    dimText(lblWaveHint);
    waveLayout->addWidget(lblWaveHint);
}

void EditSongFrame::buildPlayControls() {
    SliderEdit = named(new QSlider(Qt::Horizontal, this), "SliderEdit");
    SliderEdit->setRange(0, 0);
    auto* style = new JumpToClickStyle;
    style->setParent(SliderEdit);
    SliderEdit->setStyle(style);
    Lbltotal = positionLabel(this, "Lbltotal");

    CmdEditPlay = push(this, "CmdEditPlay", tr("Play"), px(735));
    CmdEditStop = push(this, "CmdEditStop", tr("Stop"), px(735));
    CmdPlaySel = push(this, "CmdPlaySel", tr("Play Selection"), 0);
    chkLoop = named(new QCheckBox(tr("Loop"), this), "chkLoop");
    CmdPlayIn = push(this, "CmdPlayIn", tr("Around In"), 0);
    CmdPlayOut = push(this, "CmdPlayOut", tr("Around Out"), 0);
}

void EditSongFrame::buildMarkControls() {
    Lblin = named(new QLabel(tr("In"), this), "Lblin");
    txtMarkIn = markField(this, "txtMarkIn");
    Lblin->setBuddy(txtMarkIn);
    CmdMarkin = push(this, "CmdMarkin", tr("Mark In"), px(1095));
    Lblout = named(new QLabel(tr("Out"), this), "Lblout");
    txtMarkOut = markField(this, "txtMarkOut");
    Lblout->setBuddy(txtMarkOut);
    CmdMarkOut = push(this, "CmdMarkOut", tr("Mark Out"), px(1095));
}

void EditSongFrame::buildClipControls() {
    lblClipLength = named(new QLabel(this), "lblClipLength");
    lblClipLength->setMinimumWidth(lblClipLength->fontMetrics().horizontalAdvance(
                                       tr("Clip %1").arg(QStringLiteral("00:00.0"))) +
                                   8);
    cmbTarget = named(new QComboBox(this), "cmbTarget");
    cmbTarget->addItem(tr("none"), qint64(0));
    cmbTarget->addItem(clockSeconds(30), qint64(30000));
    cmbTarget->addItem(tr("%1 (ringtone)").arg(clockSeconds(40)), qint64(40000));
    lblTarget = named(new QLabel(tr("Limit:"), this), "lblTarget");
    lblTarget->setBuddy(cmbTarget);
    chkSnap = named(new QCheckBox(tr("Snap to zero crossing"), this), "chkSnap");
    CmdEditDone = push(this, "CmdEditDone", tr("Done"), px(975));
    CmdUndoCut = push(this, "CmdUndoCut", tr("Undo Cut"), 0);
    CmdUndoCut->setEnabled(false);
    CmdExport = push(this, "CmdExport", tr("Export Clip…"), 0);
    CmdExport->setEnabled(false);

    const auto fade = [this](const char* name) {
        auto* f = named(new QSpinBox(this), name);
        f->setRange(0, 60000);
        f->setSingleStep(100);
        f->setSuffix(tr(" ms"));
        f->setSpecialValueText(tr("none"));
        // Narrower than it asks at the least window size, for the level's choice beside it.
        f->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        return f;
    };
    spnFadeIn = fade("spnFadeIn");
    spnFadeOut = fade("spnFadeOut");
    cmbNormalise = named(new QComboBox(this), "cmbNormalise");
    cmbNormalise->addItem(tr("Level as it is"), int(ClipEffects::Normalise::Off));
    cmbNormalise->addItem(tr("Peak level (dBFS)"), int(ClipEffects::Normalise::Peak));
    cmbNormalise->addItem(tr("Loudness (LUFS)"), int(ClipEffects::Normalise::Loudness));
    cmbNormalise->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    spnNormTarget = named(new QDoubleSpinBox(this), "spnNormTarget");
    spnNormTarget->setDecimals(1);
    spnNormTarget->setSingleStep(0.5);
    spnNormTarget->setEnabled(false);
    // Each kind of normalising starts from its usual target: -1 dBFS, or -14 LUFS (what
    // streaming services play at).
    connect(cmbNormalise, &QComboBox::currentIndexChanged, this, [this] {
        const auto kind = ClipEffects::Normalise(cmbNormalise->currentData().toInt());
        spnNormTarget->setEnabled(kind != ClipEffects::Normalise::Off);
        if (kind == ClipEffects::Normalise::Peak) {
            spnNormTarget->setRange(-60.0, 0.0);
            spnNormTarget->setValue(ClipEffects{}.peakDbfs);
        } else if (kind == ClipEffects::Normalise::Loudness) {
            spnNormTarget->setRange(-70.0, 0.0);
            spnNormTarget->setValue(ClipEffects{}.loudnessLufs);
        }
    });
    lblFadeIn = named(new QLabel(tr("Fade in"), this), "lblFadeIn");
    lblFadeIn->setBuddy(spnFadeIn);
    lblFadeOut = named(new QLabel(tr("out"), this), "lblFadeOut");
    lblFadeOut->setBuddy(spnFadeOut);
    // Long results wrap onto a second line rather than being cut off; both lines are hidden
    // while there is nothing to say.
    lblDoneResult = named(new QLabel(this), "lblDoneResult");
    lblDoneResult->setWordWrap(true);
    lblDoneResult->setVisible(false);
    // The mark's line keeps its room while it says nothing, so that nothing below it moves as
    // a message comes and goes while the user types; one line, which every message fits.
    lblMarkError = named(new QLabel(this), "lblMarkError");
    lblMarkError->setMinimumHeight(lblMarkError->fontMetrics().lineSpacing());
    QSizePolicy kept = lblMarkError->sizePolicy();
    kept.setRetainSizeWhenHidden(true);
    lblMarkError->setSizePolicy(kept);
    lblMarkError->setVisible(false);
}

void EditSongFrame::layOutControls() {
    // The waveform on top takes what the frame gains; below it the slider, the previews with
    // the options, a row for each mark, and the clip's length against its target with "Done".
    auto* slider = new QHBoxLayout;
    slider->addWidget(SliderEdit, 1);
    slider->addWidget(Lbltotal);

    auto* play = new QHBoxLayout;
    for (QWidget* w :
         std::initializer_list<QWidget*>{CmdEditPlay, CmdEditStop, CmdPlaySel, chkLoop})
        play->addWidget(w);
    play->addStretch(1);
    play->addWidget(chkSnap);

    auto* marks = new QGridLayout;
    marks->setHorizontalSpacing(6);
    marks->setVerticalSpacing(4);
    const struct {
        QLabel* time;
        QLineEdit* field;
        QPushButton* mark;
        QPushButton* around;
    } rows[] = {{Lblin, txtMarkIn, CmdMarkin, CmdPlayIn},
                {Lblout, txtMarkOut, CmdMarkOut, CmdPlayOut}};
    for (int r = 0; r < 2; ++r) {
        marks->addWidget(rows[r].time, r, 0);
        marks->addWidget(rows[r].field, r, 1);
        marks->addWidget(rows[r].mark, r, 2);
        marks->addWidget(rows[r].around, r, 3);
    }
    marks->setColumnStretch(4, 1);
    // Beside the Out mark, over "Done": the clip goes out as it stands.
    marks->addWidget(CmdExport, 1, 5);
    // Why the typed marks cannot be cut, under them while it holds.
    marks->addWidget(lblMarkError, 2, 0, 1, 6);

    auto* effects = new QHBoxLayout;
    effects->addWidget(lblFadeIn);
    effects->addWidget(spnFadeIn);
    effects->addWidget(lblFadeOut);
    effects->addWidget(spnFadeOut);
    effects->addSpacing(8);
    effects->addWidget(cmbNormalise);
    effects->addWidget(spnNormTarget);
    effects->addStretch(1);

    auto* clip = new QHBoxLayout;
    clip->addWidget(lblClipLength);
    clip->addSpacing(8);
    clip->addWidget(lblTarget);
    clip->addWidget(cmbTarget);
    clip->addStretch(1);
    clip->addWidget(CmdUndoCut);
    clip->addWidget(CmdEditDone);

    auto* all = new QVBoxLayout(this);
    all->setContentsMargins(8, 6, 8, 6);
    all->setSpacing(4);
    all->addWidget(waveHost, 1);
    all->addLayout(slider);
    all->addLayout(play);
    all->addLayout(marks);
    all->addLayout(effects);
    all->addLayout(clip);
    all->addWidget(lblDoneResult);
}

void EditSongFrame::buildKeys() {
    actPlayStop = addKey("actPlayStop", tr("Play / Stop"), QKeySequence(Qt::Key_Space));
    actMarkIn = addKey("actMarkIn", tr("In mark at the play position"), QKeySequence(Qt::Key_I));
    actMarkOut = addKey("actMarkOut", tr("Out mark at the play position"), QKeySequence(Qt::Key_O));
    actGoIn = addKey("actGoIn", tr("Go to the In mark"), QKeySequence(Qt::Key_Home));
    actGoOut = addKey("actGoOut", tr("Go to the Out mark"), QKeySequence(Qt::Key_End));
    actInEarlier = addKey("actInEarlier", tr("In mark 10 ms earlier"), QKeySequence(Qt::Key_Comma));
    actInLater = addKey("actInLater", tr("In mark 10 ms later"), QKeySequence(Qt::Key_Period));
    actInEarlier1s =
        addKey("actInEarlier1s", tr("In mark 1 s earlier"), QKeySequence(Qt::Key_Less));
    actInLater1s = addKey("actInLater1s", tr("In mark 1 s later"), QKeySequence(Qt::Key_Greater));
    actOutEarlier =
        addKey("actOutEarlier", tr("Out mark 10 ms earlier"), QKeySequence(Qt::Key_BracketLeft));
    actOutLater =
        addKey("actOutLater", tr("Out mark 10 ms later"), QKeySequence(Qt::Key_BracketRight));
    actOutEarlier1s =
        addKey("actOutEarlier1s", tr("Out mark 1 s earlier"), QKeySequence(Qt::Key_BraceLeft));
    actOutLater1s =
        addKey("actOutLater1s", tr("Out mark 1 s later"), QKeySequence(Qt::Key_BraceRight));
}

void EditSongFrame::describeControls() {
    lblWaveHint->setText(tr("Space   play / stop\n"
                            "I   O   set the In / Out mark at the play position\n"
                            "Home   End   go to the In / Out mark\n"
                            ",   .   move the In mark by 10 ms   (<   >   by 1 s)\n"
                            "[   ]   move the Out mark by 10 ms   ({   }   by 1 s)"));
    CmdPlaySel->setToolTip(tr("Play from the In mark to the Out mark (Space stops)"));
    chkLoop->setToolTip(tr("Play the selection again and again"));
    CmdPlayIn->setToolTip(tr("Play one second before to one second after the In mark"));
    CmdPlayOut->setToolTip(tr("Play one second before to one second after the Out mark"));
    chkSnap->setToolTip(tr("Move every mark you set to the nearest zero crossing within 10 ms, "
                           "so that the clip starts and ends without a click"));
    cmbTarget->setToolTip(tr("The longest the clip should be: its length turns red past it"));
    spnFadeIn->setToolTip(tr("\"Done\" fades the clip in from silence over this time"));
    spnFadeOut->setToolTip(tr("\"Done\" fades the clip out to silence over this time"));
    cmbNormalise->setToolTip(tr("\"Done\" brings the clip's loudest sample to a level, or its "
                                "loudness (EBU R128) to a target, without letting it clip"));
    CmdUndoCut->setToolTip(tr("Put the song back as it was before its last cut (Ctrl+Z)"));
    CmdExport->setToolTip(tr("Save the stretch between the marks, with the fades and the level "
                             "set here, in the output frame's format and preset; the song stays "
                             "as it is"));
    nameForScreenReaders();
}

void EditSongFrame::nameForScreenReaders() {
    setAccessibleNames(staticMetaObject.className(),
                       {
                           {lblWaveHint, QT_TR_NOOP("Editor keys")},
                           {SliderEdit, QT_TR_NOOP("Play position")},
                           {Lbltotal, QT_TR_NOOP("Play position time")},
                           {CmdEditPlay, QT_TR_NOOP("Play")},
                           {CmdEditStop, QT_TR_NOOP("Stop")},
                           {CmdPlaySel, QT_TR_NOOP("Play Selection")},
                           {chkLoop, QT_TR_NOOP("Loop the selection")},
                           {chkSnap, QT_TR_NOOP("Snap marks to zero crossings")},
                           {Lblin, QT_TR_NOOP("In")},
                           {txtMarkIn, QT_TR_NOOP("Mark In time")},
                           {CmdMarkin, QT_TR_NOOP("Mark In at the play position")},
                           {CmdPlayIn, QT_TR_NOOP("Play around Mark In")},
                           {Lblout, QT_TR_NOOP("Out")},
                           {txtMarkOut, QT_TR_NOOP("Mark Out time")},
                           {CmdMarkOut, QT_TR_NOOP("Mark Out at the play position")},
                           {CmdPlayOut, QT_TR_NOOP("Play around Mark Out")},
                           {lblMarkError, QT_TR_NOOP("Mark error")},
                           {CmdExport, QT_TR_NOOP("Export Clip")},
                           {lblFadeIn, QT_TR_NOOP("Fade in")},
                           {spnFadeIn, QT_TR_NOOP("Fade in length")},
                           {lblFadeOut, QT_TR_NOOP("Fade out")},
                           {spnFadeOut, QT_TR_NOOP("Fade out length")},
                           {cmbNormalise, QT_TR_NOOP("Normalise level")},
                           {spnNormTarget, QT_TR_NOOP("Level target")},
                           {lblClipLength, QT_TR_NOOP("Clip length")},
                           {lblTarget, QT_TR_NOOP("Limit")},
                           {cmbTarget, QT_TR_NOOP("Clip length limit")},
                           {CmdUndoCut, QT_TR_NOOP("Undo Cut")},
                           {CmdEditDone, QT_TR_NOOP("Done: cut the song to the marks")},
                           {lblDoneResult, QT_TR_NOOP("Result of Done")},
                       });
    // The focus moves as the eye reads: playing, the marks row by row, the effects, "Done".
    chainTabOrder({SliderEdit,   CmdEditPlay,   CmdEditStop, CmdPlaySel, chkLoop,
                   chkSnap,      txtMarkIn,     CmdMarkin,   CmdPlayIn,  txtMarkOut,
                   CmdMarkOut,   CmdPlayOut,    CmdExport,   spnFadeIn,  spnFadeOut,
                   cmbNormalise, spnNormTarget, cmbTarget,   CmdUndoCut, CmdEditDone});
}

void EditSongFrame::setDoneResult(const QString& text) {
    lblDoneResult->setText(text);
    lblDoneResult->setVisible(!text.isEmpty());
}

void EditSongFrame::setMarkError(const QString& text) {
    lblMarkError->setText(text);
    lblMarkError->setVisible(!text.isEmpty());
}

QAction* EditSongFrame::addKey(const char* name, const QString& text, const QKeySequence& keys) {
    auto* a = named(new QAction(text, this), name);
    a->setShortcut(keys);
    a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(a);
    return a;
}

QList<QAction*> EditSongFrame::keyActions() const {
    return {actPlayStop,  actMarkIn,       actMarkOut,     actGoIn,      actGoOut,
            actInEarlier, actInLater,      actInEarlier1s, actInLater1s, actOutEarlier,
            actOutLater,  actOutEarlier1s, actOutLater1s};
}

void EditSongFrame::addKeyHint(const QString& line) {
    lblWaveHint->setText(lblWaveHint->text() + QLatin1Char('\n') + line);
}

void EditSongFrame::setWaveformView(QWidget* view) {
    if (view_ == view)
        return;
    delete view_;
    view_ = view;
    if (view_) {
        // The keys stay at hand in the view's tool tip.
        if (view_->toolTip().isEmpty())
            view_->setToolTip(lblWaveHint->text());
        view_->setParent(waveHost);
        waveHost->layout()->addWidget(view_);
        view_->show();
    }
    lblWaveHint->setVisible(!view_);
}

} // namespace quaverly
