#include "ui/OutputFrame.h"

#include "engines/encoder/Presets.h"
#include "engines/encoder/SongEncode.h"
#include "engines/formats/Formats.h"
#include "ui/OutputChoice.h"
#include "ui/Widgets.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace quaverly {

OutputFrame::OutputFrame(QWidget* parent) : QGroupBox(tr("Output"), parent) {
    setObjectName(QStringLiteral("Frame6"));
    CboPreset = named(new QComboBox(this), "CboPreset");
    CboPreset->addItem(tr("None"), QString());
    CboPreset->setItemData(0, tr("Choose the format and its setting yourself"), Qt::ToolTipRole);
    for (const encode::Preset& p : encode::presets()) {
        CboPreset->addItem(tr(p.name), QLatin1String(p.id));
        CboPreset->setItemData(CboPreset->count() - 1, tr(p.note), Qt::ToolTipRole);
    }
    CboPreset->setToolTip(tr("Preset: the format and setting a phone or player takes"));
    CboFormat = named(new QComboBox(this), "CboFormat");
    for (const formats::FileFormat* f : formats::encoded()) {
        CboFormat->addItem(formatWord(f->format), int(f->format));
        CboFormat->setItemData(CboFormat->count() - 1, tr(f->name), Qt::ToolTipRole);
    }
    CboFormat->setToolTip(tr("The format of the encoded saves; a name's extension decides"));
    CboSetting = named(new QComboBox(this), "CboSetting");

    // MP3's bit rates as the options of old, the other formats' values in CboSetting; the two
    // share the second row, one of them shown.
    bitRateGroup = new QButtonGroup(this);
    auto* settingRow = new QHBoxLayout;
    settingRow->setSpacing(2);
    const struct {
        const char* name;
        int kbps;
        QRadioButton** field;
    } options[] = {{"Option1", 56, &optBitRate56},
                   {"Option2", 96, &optBitRate96},
                   {"Option3", 128, &optBitRate128},
                   {"Option5", 192, &optBitRate192},
                   {"Option4", 256, &optBitRate256}};
    for (const auto& o : options) {
        auto* r = named(new QRadioButton(QString::number(o.kbps), this), o.name);
        bitRateGroup->addButton(r, o.kbps);
        settingRow->addWidget(r);
        *o.field = r;
    }
    settingRow->addWidget(CboSetting);
    settingRow->addStretch();
    optBitRate256->setChecked(true);

    auto* choiceRow = new QHBoxLayout;
    choiceRow->addWidget(CboPreset, 2);
    choiceRow->addWidget(CboFormat, 1);
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(8, 2, 8, 4);
    rows->setSpacing(4);
    rows->addLayout(choiceRow);
    rows->addLayout(settingRow);

    connect(bitRateGroup, &QButtonGroup::idClicked, this, &OutputFrame::bitRateChosen);
    connect(CboPreset, &QComboBox::currentIndexChanged, this,
            [this] { emit presetChosen(CboPreset->currentData().toString()); });
    connect(CboFormat, &QComboBox::currentIndexChanged, this,
            [this] { emit formatChosen(CboFormat->currentData().toInt()); });
    connect(CboSetting, &QComboBox::currentIndexChanged, this, [this] {
        if (CboSetting->currentIndex() >= 0)
            emit settingChosen(CboSetting->currentData().toInt());
    });
    showChoice(OutputChoice());
}

void OutputFrame::showChoice(const OutputChoice& choice) {
    const QSignalBlocker quietPreset(CboPreset), quietFormat(CboFormat), quietSetting(CboSetting);
    const encode::Preset* preset = choice.preset();
    CboPreset->setCurrentIndex(
        std::max(0, CboPreset->findData(preset ? QLatin1String(preset->id) : QString())));
    const encode::Format format = choice.format();
    CboFormat->setCurrentIndex(CboFormat->findData(int(format)));
    const int value = choice.value(format);
    const bool mp3 = format == encode::Format::Mp3;
    for (QAbstractButton* option : bitRateGroup->buttons())
        option->setVisible(mp3);
    CboSetting->setVisible(!mp3);
    CboSetting->clear();
    if (mp3) {
        if (QAbstractButton* option = bitRateGroup->button(value))
            option->setChecked(true);
    } else {
        for (const int v : formats::info(format).offered)
            CboSetting->addItem(settingText(format, v), v);
        CboSetting->setCurrentIndex(CboSetting->findData(value));
    }
}

} // namespace quaverly
