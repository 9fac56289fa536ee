#include "songlist/AudioEditPanel.h"

#include "engines/encoder/Presets.h"
#include "songlist/SongItemDelegate.h"
#include "ui/Icons.h"
#include "ui/OutputChoice.h"
#include "ui/ThemeColours.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace quaverly {

namespace {

// The list's column at the least width: the list, and the arrows beside it.
constexpr int kListLeft = 12;
constexpr int kListTop = 26;
constexpr int kListWidth = 178;
constexpr int kArrowsGap = 6;
constexpr int kArrowWidth = 30;
constexpr int kButtonGap = 5; // between the list's three buttons
// Of the width the panel gains over its least, the list takes two fifths (a long name wants
// it, and so does the waveform in the right-hand column), up to this much.
constexpr int kListMaxGain = 400;
// The right-hand column starts at 3480 twips; "Play Control" at its top is 1455 twips tall.
constexpr int kColumnLeft = px(3480);
constexpr int kColumnLeastWidth = px(6495);
constexpr int kColumnTop = px(360);
constexpr int kPlayerHeight = px(1455);
constexpr int kMargin = 12;          // around the panel's content
constexpr int kBelowList = 119;      // the list's buttons, the hint and the maker's name
constexpr int kOutputHeight = 74;    // the output frame: its title and two rows
constexpr int kKeepHeight = 20;      // under it and the saves: the "keep" box
constexpr int kOutputMaxWidth = 320; // it grows with the column up to this
constexpr int kSaveWidth = 170;      // the list saves
constexpr int kBottomMargin = 10;    // under the output frame
constexpr int kEditFrameSpacing = 6; // between the editor's frame and the output frame

} // namespace

AudioEditPanel::AudioEditPanel(QWidget* parent) : QGroupBox(tr("Audio Edit"), parent) {
    setObjectName(QStringLiteral("Framewav"));

    // Left column: the list, its arrows and buttons, the hint and the maker's name.
    List1 = named(new QListWidget(this), "List1");
    List1->setGeometry(kListLeft, kListTop, kListWidth, 248);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setItemDelegate(new SongItemDelegate(List1));
    // Each row fits the list's width: the song's text gives way to its length and format.
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    CmdUP = named(new QToolButton(this), "CmdUP");
    CmdUP->setGeometry(196, 26, 30, 30);
    CmdUP->setIcon(appIcon(u":/songlist/up"));
    CmdUP->setIconSize(QSize(20, 20));
    CmdDown = named(new QToolButton(this), "CmdDown");
    CmdDown->setGeometry(196, 60, 30, 30);
    CmdDown->setIcon(appIcon(u":/songlist/down"));
    CmdDown->setIconSize(QSize(20, 20));

    CmdAdd = button(this, "CmdAdd", tr("ADD"), QRect(12, 282, 56, 28));
    Cmdremove = button(this, "Cmdremove", tr("Remove"), QRect(73, 282, 56, 28));
    CmdIns = button(this, "CmdIns", tr("Insert"), QRect(134, 282, 56, 28));

    lblListHint = named(new QLabel(this), "Label6");
    lblListHint->setGeometry(12, 318, 214, 36);
    lblListHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblListHint->setWordWrap(true);
    dimText(lblListHint);

    lblMaker = named(new QLabel(this), "Label8");
    lblMaker->setGeometry(12, 362, 214, 20);
    QFont maker = lblMaker->font();
    maker.setItalic(true);
    lblMaker->setFont(maker);
    dimText(lblMaker);

    // "Play Control": left 3480, top 360, 6495 x 1455 twips, its controls as laid out there.
    framePlayControl = named(new QGroupBox(tr("Play Control"), this), "Frame2");
    framePlayControl->setGeometry(px(3480), px(360), px(6495), px(1455));
    chkPlayList = named(new QCheckBox(tr("Play List"), framePlayControl), "Check1");
    chkPlayList->setGeometry(px(240), px(480) - 6, px(1455), px(255) + 8);
    // Its width follows the frame's (layOut).
    lblListPosition = named(new QLabel(framePlayControl), "lblListPosition");
    lblListPosition->setGeometry(px(1440) + 6, px(480) - 6, px(6495) - px(1440) - px(240) - 6,
                                 px(255) + 8);
    lblListPosition->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int y = px(840);
    const QSize size(px(1095), px(495));
    CmdForward =
        button(framePlayControl, "CmdFoward", tr("Previous"), QRect(QPoint(px(240), y), size));
    CmdPause = button(framePlayControl, "CmdPause", tr("Pause"), QRect(QPoint(px(1440), y), size));
    CmdPlay = button(framePlayControl, "CmdPlay", tr("Play"), QRect(QPoint(px(2640), y), size));
    CmdStop = button(framePlayControl, "CmdStop", tr("Stop"), QRect(QPoint(px(3840), y), size));
    CmdNext = button(framePlayControl, "CmdNext", tr("Next"), QRect(QPoint(px(5040), y), size));

    // At the bottom of the column: the two list saves and the output frame.
    CmdSaveWav = button(this, "CmdSaveWav", tr("Save The List to Wav"), {});
    CmdSaveList = button(this, "CmdSaveList", tr("Save The List to MP3"), {});
    outputFrame = new OutputFrame(this);
    chkKeepSound =
        named(new QCheckBox(tr("Keep the song's own sound when it can"), this), "chkKeepSound");
    chkKeepSound->setToolTip(tr("A clip of an MP3, AAC, FLAC or WAV song saved in its own format "
                                "copies the song's frames instead of encoding them again"));
    lblKeepSound = named(new ElidedLabel(this), "lblKeepSound");
    showOutput(OutputChoice());
    nameForScreenReaders();
    layOut();
}

AudioEditPanel::~AudioEditPanel() {
    List1->blockSignals(true);
    List1->model()->blockSignals(true);
    List1->selectionModel()->blockSignals(true);
}

void AudioEditPanel::nameForScreenReaders() {
    setAccessibleNames(staticMetaObject.className(),
                       {
                           {List1, "Song list"},
                           {CmdUP, "Move the song up"},
                           {CmdDown, "Move the song down"},
                           {CmdAdd, "Add songs"},
                           {Cmdremove, "Remove the song"},
                           {CmdIns, "Insert songs above the selected one"},
                           {chkPlayList, "Play the rest of the list"},
                           {CmdForward, "Previous song"},
                           {CmdPause, "Pause"},
                           {CmdPlay, "Play the selected song"},
                           {CmdStop, "Stop"},
                           {CmdNext, "Next song"},
                           {outputFrame, "Output"},
                           {outputFrame->CboPreset, "Output preset"},
                           {outputFrame->CboFormat, "Output format"},
                           {outputFrame->CboSetting, "Format setting"},
                           {chkKeepSound, "Keep the song's own sound when it can"},
                           {lblKeepSound, "What the clip keeps of its song"},
                           {CmdSaveWav, "Save the list as WAV"},
                       });
    for (QAbstractButton* option : outputFrame->bitRateGroup->buttons())
        option->setAccessibleName(tr("%1 kbit/s").arg(outputFrame->bitRateGroup->id(option)));

    // Down the list's column, then down the right-hand one, each row from left to right.
    QList<QWidget*> order{List1,
                          CmdUP,
                          CmdDown,
                          CmdAdd,
                          Cmdremove,
                          CmdIns,
                          chkPlayList,
                          CmdForward,
                          CmdPause,
                          CmdPlay,
                          CmdStop,
                          CmdNext,
                          outputFrame->CboPreset,
                          outputFrame->CboFormat};
    for (QAbstractButton* option : outputFrame->bitRateGroup->buttons())
        order << option;
    order << outputFrame->CboSetting << CmdSaveWav << CmdSaveList << chkKeepSound;
    chainTabOrder(order);
}

void AudioEditPanel::showOutput(const OutputChoice& choice) {
    outputFrame->showChoice(choice);
    const QSignalBlocker quiet(chkKeepSound);
    chkKeepSound->setChecked(choice.keepsSound());
    const encode::Format format = choice.format();
    CmdSaveList->setText(tr("Save The List to %1").arg(formatWord(format)));
    CmdSaveList->setAccessibleName(tr("Save the list as %1").arg(formatWord(format)));
}

void AudioEditPanel::placeEditFrame(QWidget* frame) {
    frame->setParent(this);
    editFrame_ = frame;
    layOut();
}

void AudioEditPanel::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    layOut();
}

void AudioEditPanel::layOut() {
    const int gained = std::max(0, width() - kColumnLeft - kColumnLeastWidth - kMargin);
    const int listGain = std::min(gained * 2 / 5, kListMaxGain);
    const int listWidth = kListWidth + listGain;
    const int listHeight = std::max(height() - kListTop - kBelowList, 120);
    List1->setGeometry(kListLeft, kListTop, listWidth, listHeight);
    const int arrowsLeft = kListLeft + listWidth + kArrowsGap;
    CmdUP->move(arrowsLeft, CmdUP->y());
    CmdDown->move(arrowsLeft, CmdDown->y());
    // The three buttons share the list's width; the hint and the name reach under the arrows.
    const int below = List1->geometry().bottom() + 9;
    const int buttonWidth = (listWidth - 2 * kButtonGap) / 3;
    int left = kListLeft;
    for (QPushButton* b : {CmdAdd, Cmdremove, CmdIns}) {
        b->setGeometry(left, below, buttonWidth, b->height());
        left += buttonWidth + kButtonGap;
    }
    const int textWidth = arrowsLeft + kArrowWidth - kListLeft;
    lblListHint->setGeometry(kListLeft, below + 36, textWidth, lblListHint->height());
    lblMaker->setGeometry(kListLeft, below + 80, textWidth, lblMaker->height());

    const int columnLeft = kColumnLeft + listGain;
    const int columnWidth = std::max(width() - kMargin - columnLeft, kColumnLeastWidth);
    framePlayControl->setGeometry(columnLeft, kColumnTop, columnWidth, kPlayerHeight);
    // The playing song's line reaches the frame's right edge, however wide the frame.
    lblListPosition->resize(columnWidth - lblListPosition->x() - px(240),
                            lblListPosition->height());
    const int outputTop = height() - kBottomMargin - kKeepHeight - kOutputHeight;
    const int saveLeft = columnLeft + columnWidth - kSaveWidth;
    outputFrame->setGeometry(columnLeft, outputTop,
                             std::min(saveLeft - 8 - columnLeft, kOutputMaxWidth), kOutputHeight);
    // The saves beside the frame's two rows, under the line of its title, which the words on the
    // keeping carry on to the column's right; the "keep" box under the frame.
    const int wordsLeft =
        columnLeft + 16 + outputFrame->fontMetrics().horizontalAdvance(outputFrame->title());
    const int wordsHeight = lblKeepSound->fontMetrics().height() + 1;
    lblKeepSound->setGeometry(wordsLeft, outputTop - 1, columnLeft + columnWidth - wordsLeft,
                              wordsHeight);
    CmdSaveWav->setGeometry(saveLeft, outputTop + 15, kSaveWidth, 28);
    CmdSaveList->setGeometry(saveLeft, outputTop + 45, kSaveWidth, 28);
    chkKeepSound->setGeometry(columnLeft + 8, outputTop + kOutputHeight, columnWidth - 8,
                              kKeepHeight);
    if (editFrame_)
        editFrame_->setGeometry(columnLeft, kColumnTop, columnWidth,
                                outputTop - kEditFrameSpacing - kColumnTop);
}

int AudioEditPanel::ListIndex() const {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    return selected.isEmpty() ? -1 : List1->row(selected.constFirst());
}

QListWidgetItem* AudioEditPanel::itemOf(const QString& workingCopy) const {
    for (int i = 0; i < List1->count(); ++i)
        if (List1->item(i)->data(kWorkingCopyRole).toString() == workingCopy)
            return List1->item(i);
    return nullptr;
}

QString AudioEditPanel::workingCopy(int row) const {
    const QListWidgetItem* item = List1->item(row);
    return item ? item->data(kWorkingCopyRole).toString() : QString();
}

} // namespace quaverly
