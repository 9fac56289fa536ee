#include "editor/EditSongFrame.h"

#include "ui/Widgets.h"

#include <QProxyStyle>

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

QLabel* timeLabel(QWidget* parent, const char* name, const QRect& r) {
    auto* l = named(new QLabel(QStringLiteral("00:00:00"), parent), name);
    l->setGeometry(r);
    l->setAlignment(Qt::AlignCenter);
    return l;
}

} // namespace

EditSongFrame::EditSongFrame(QWidget* parent) : QGroupBox(tr("Edit Song"), parent) {
    setObjectName(QStringLiteral("Frame3"));
    resize(px(6495), px(1935));

    SliderEdit = named(new QSlider(Qt::Horizontal, this), "SliderEdit");
    // 5415 twips wide in the layout; kept clear of the time display at its right.
    SliderEdit->setGeometry(twips(120, 360, 5175, 495));
    SliderEdit->setRange(0, 0);
    auto* style = new JumpToClickStyle;
    style->setParent(SliderEdit);
    SliderEdit->setStyle(style);
    Lbltotal = timeLabel(this, "Lbltotal", twips(5400, 360, 975, 495));

    CmdEditPlay = button(this, "CmdEditPlay", tr("Play"), twips(2040, 960, 735, 495));
    CmdEditStop = button(this, "CmdEditStop", tr("Stop"), twips(3000, 960, 735, 495));

    Lblin = timeLabel(this, "Lblin", twips(360, 1080, 1455, 255));
    CmdMarkin = button(this, "CmdMarkin", tr("Mark In"), twips(360, 1440, 1455, 375));
    Lblout = timeLabel(this, "Lblout", twips(3840, 1080, 1455, 255));
    CmdMarkOut = button(this, "CmdMarkOut", tr("Mark Out"), twips(3840, 1440, 1455, 375));
    CmdEditDone = button(this, "CmdEditDone", tr("Done"), twips(5400, 1440, 975, 375));
}

} // namespace quaverly
