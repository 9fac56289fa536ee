#include "songlist/AudioEditPanel.h"

#include "ui/Widgets.h"

#include <QIcon>

#include <algorithm>

namespace quaverly {

namespace {

// The right-hand column starts at 3480 twips; "Play Control" at its top is 1455 twips tall.
constexpr int kColumnLeft = px(3480);
constexpr int kColumnTop = px(360);
constexpr int kPlayerHeight = px(1455);
constexpr int kMargin = 12;          // around the panel's content
constexpr int kBelowList = 119;      // the list's buttons, the hint and the maker's name
constexpr int kBitRateHeight = 62;   // the bit rate options
constexpr int kSaveWidth = 170;      // the list saves
constexpr int kBottomMargin = 10;    // under the bit rate options
constexpr int kEditFrameSpacing = 6; // between the editor's frame and the bit rate options

} // namespace

AudioEditPanel::AudioEditPanel(QWidget* parent) : QGroupBox(tr("Audio Edit"), parent) {
    setObjectName(QStringLiteral("Framewav"));

    // Left column: the list, its arrows and buttons, the hint and the maker's name.
    List1 = named(new QListWidget(this), "List1");
    List1->setGeometry(12, 26, 178, 248);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);

    CmdUP = named(new QToolButton(this), "CmdUP");
    CmdUP->setGeometry(196, 26, 30, 30);
    CmdUP->setIcon(QIcon(QStringLiteral(":/songlist/up.svg")));
    CmdUP->setIconSize(QSize(20, 20));
    CmdDown = named(new QToolButton(this), "CmdDown");
    CmdDown->setGeometry(196, 60, 30, 30);
    CmdDown->setIcon(QIcon(QStringLiteral(":/songlist/down.svg")));
    CmdDown->setIconSize(QSize(20, 20));

    CmdAdd = button(this, "CmdAdd", tr("ADD"), QRect(12, 282, 56, 28));
    Cmdremove = button(this, "Cmdremove", tr("Remove"), QRect(73, 282, 56, 28));
    CmdIns = button(this, "CmdIns", tr("Insert"), QRect(134, 282, 56, 28));

    lblListHint = named(new QLabel(this), "Label6");
    lblListHint->setGeometry(12, 318, 214, 36);
    lblListHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette hint = lblListHint->palette();
    hint.setColor(QPalette::WindowText, hint.color(QPalette::PlaceholderText));
    lblListHint->setPalette(hint);

    lblMaker = named(new QLabel(this), "Label8");
    lblMaker->setGeometry(12, 362, 214, 20);
    QFont maker = lblMaker->font();
    maker.setItalic(true);
    lblMaker->setFont(maker);
    lblMaker->setPalette(hint);

    // "Play Control": left 3480, top 360, 6495 x 1455 twips, its controls as laid out there.
    framePlayControl = named(new QGroupBox(tr("Play Control"), this), "Frame2");
    framePlayControl->setGeometry(px(3480), px(360), px(6495), px(1455));
    chkPlayList = named(new QCheckBox(tr("Play List"), framePlayControl), "Check1");
    chkPlayList->setGeometry(px(240), px(480) - 6, px(1455), px(255) + 8);
    const int y = px(840);
    const QSize size(px(1095), px(495));
    CmdFoward =
        button(framePlayControl, "CmdFoward", tr("Foward"), QRect(QPoint(px(240), y), size));
    CmdPause = button(framePlayControl, "CmdPause", tr("Pause"), QRect(QPoint(px(1440), y), size));
    CmdPlay = button(framePlayControl, "CmdPlay", tr("Play"), QRect(QPoint(px(2640), y), size));
    CmdStop = button(framePlayControl, "CmdStop", tr("Stop"), QRect(QPoint(px(3840), y), size));
    CmdNext = button(framePlayControl, "CmdNext", tr("Next"), QRect(QPoint(px(5040), y), size));

    // At the bottom of the column: the bit rate of the MP3 save and the two list saves.
    frameBitRate = named(new QGroupBox(tr("Outpur Bit/s"), this), "Frame6");
    bitRateGroup = new QButtonGroup(this);
    const struct {
        const char* name;
        int kbps;
        QRadioButton** field;
    } options[] = {{"Option1", 56, &optBitRate56},
                   {"Option2", 96, &optBitRate96},
                   {"Option3", 128, &optBitRate128},
                   {"Option4", 256, &optBitRate256}};
    int x = 14;
    for (const auto& o : options) {
        auto* r = named(new QRadioButton(QString::number(o.kbps), frameBitRate), o.name);
        r->setGeometry(x, 26, 56, 24);
        bitRateGroup->addButton(r, o.kbps);
        *o.field = r;
        x += 58;
    }
    optBitRate256->setChecked(true);
    connect(bitRateGroup, &QButtonGroup::idClicked, this, &AudioEditPanel::bitRateChosen);

    CmdSaveWav = button(this, "CmdSaveWav", tr("Save The List to Wav"), {});
    CmdSaveList = button(this, "CmdSaveList", tr("Save The List to MP3"), {});
    layOut();
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
    const int listHeight = std::max(height() - List1->y() - kBelowList, 120);
    List1->resize(List1->width(), listHeight);
    const int below = List1->geometry().bottom() + 9;
    for (QPushButton* b : {CmdAdd, Cmdremove, CmdIns})
        b->move(b->x(), below);
    lblListHint->move(lblListHint->x(), below + 36);
    lblMaker->move(lblMaker->x(), below + 80);

    const int columnWidth = std::max(width() - kMargin - kColumnLeft, px(6495));
    framePlayControl->setGeometry(kColumnLeft, kColumnTop, columnWidth, kPlayerHeight);
    const int bitRateTop = height() - kBottomMargin - kBitRateHeight;
    frameBitRate->setGeometry(kColumnLeft, bitRateTop, 252, kBitRateHeight);
    const int saveLeft = kColumnLeft + columnWidth - kSaveWidth;
    CmdSaveWav->setGeometry(saveLeft, bitRateTop + 4, kSaveWidth, 28);
    CmdSaveList->setGeometry(saveLeft, bitRateTop + 36, kSaveWidth, 28);
    if (editFrame_)
        editFrame_->setGeometry(kColumnLeft, kColumnTop, columnWidth,
                                bitRateTop - kEditFrameSpacing - kColumnTop);
}

int AudioEditPanel::ListIndex() const {
    const QList<QListWidgetItem*> selected = List1->selectedItems();
    return selected.isEmpty() ? -1 : List1->row(selected.constFirst());
}

QString AudioEditPanel::workingCopy(int row) const {
    const QListWidgetItem* item = List1->item(row);
    return item ? item->data(kWorkingCopyRole).toString() : QString();
}

bool AudioEditPanel::checkBitRate(int kbps) {
    QAbstractButton* option = bitRateGroup->button(kbps);
    if (!option) {
        return false;
    }
    option->setChecked(true);
    return true;
}

} // namespace quaverly
