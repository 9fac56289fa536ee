#include "app/AboutPanel.h"

#include "ui/Icons.h"
#include "ui/Widgets.h"

namespace quaverly {

AboutPanel::AboutPanel(QWidget* parent) : QGroupBox(tr("About"), parent) {
    setObjectName(QStringLiteral("FrameAbout"));

    picIcon = named(new QLabel(this), "picIcon");
    picIcon->setGeometry(20, 32, 64, 64);
    picIcon->setPixmap(appIcon(u":/icons/logo").pixmap(QSize(64, 64)));

    lblTitle = named(new QLabel(tr("Application Title"), this), "lblTitle");
    lblTitle->setGeometry(100, 36, 275, 30);
    QFont title = lblTitle->font();
    title.setPointSizeF(title.pointSizeF() * 1.6);
    title.setBold(true);
    lblTitle->setFont(title);

    lblVersion = named(new QLabel(tr("Version"), this), "lblVersion");
    lblVersion->setGeometry(100, 70, 275, 20);

    lblDescription = named(new QLabel(tr("App Description"), this), "lblDescription");
    lblDescription->setGeometry(20, 110, 355, 110);
    lblDescription->setWordWrap(true);
    lblDescription->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label7 = named(new QLabel(this), "Label7");
    Label7->setGeometry(20, 230, 355, 38);
    Label7->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label7->setTextInteractionFlags(Qt::TextSelectableByMouse);
}

} // namespace quaverly
