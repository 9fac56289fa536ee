#include "ui/BusyWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace quaverly {

namespace {

// The strip as laid out: six 49 px cells, 48 px apart, in a window of 239 px, so the fifth
// picture is cut by two pixels (its image keeps a clear margin there) and the sixth lies
// outside. The window is taller than the strip so that the status text can be read.
constexpr int kWidth = 239;
constexpr int kCell = 49;
constexpr int kStep = 48;
constexpr int kStripHeight = 50;
constexpr int kHeight = 78;

QPixmap busyImage(int index) {
    static const char* const files[] = {":/busy/busy1.svg", ":/busy/busy2.svg", ":/busy/busy3.svg"};
    return QIcon(QString::fromLatin1(files[index])).pixmap(QSize(48, 48));
}

} // namespace

FrmLoad::FrmLoad()
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("FrmLoad"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(kWidth, kHeight);

    const QPixmap images[] = {busyImage(0), busyImage(1), busyImage(2)};
    for (int i = 0; i < kPictures; ++i) {
        auto* pic = new QLabel(this);
        pic->setObjectName(QStringLiteral("Picture1(%1)").arg(i));
        pic->setGeometry(i * kStep, 0, kCell, kCell);
        pic->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        pic->setPixmap(images[i == 5 ? 2 : i % 2]);
        pic->setVisible(i == 0); // the strip starts with its first picture
        pictures_[static_cast<std::size_t>(i)] = pic;
    }

    Label1 = new QLabel(QStringLiteral("Loading.........."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(4, kStripHeight + 2, kWidth - 8, kHeight - kStripHeight - 6);
    Label1->setAlignment(Qt::AlignCenter);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kTickMs);
    connect(Timer1, &QTimer::timeout, this, &FrmLoad::Timer1_Timer);
    Timer1->start();
}

void FrmLoad::Timer1_Timer() {
    for (QLabel* pic : pictures_) {
        if (pic->isHidden()) {
            pic->setVisible(true);
            break;
        }
    }
    if (!pictures_[kPictures - 1]->isHidden()) {
        for (QLabel* pic : pictures_) {
            pic->setVisible(false);
        }
        pictures_[0]->setVisible(true);
    }
}

void FrmLoad::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Midlight));
    p.drawLine(1, kStripHeight, width() - 2, kStripHeight);
}

BusyWindow::BusyWindow(QWidget* anchor) : anchor_(anchor) {}

BusyWindow::~BusyWindow() = default;

FrmLoad& BusyWindow::window() {
    if (!window_) {
        window_ = std::make_unique<FrmLoad>();
    }
    return *window_;
}

void BusyWindow::setText(const QString& text) {
    window().Label1->setText(text);
}

void BusyWindow::show(const QString& text) {
    FrmLoad& w = window();
    w.Label1->setText(text);
    if (w.isVisible()) {
        return;
    }
    QRect area;
    if (anchor_ && anchor_->isVisible()) {
        area = anchor_->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        w.move(area.center() - QPoint(w.width() / 2, w.height() / 2));
    }
    w.show();
    w.raise();
}

void BusyWindow::hide() {
    if (window_) {
        window_->hide();
    }
}

} // namespace quaverly
