#include "ui/BusyWindow.h"

#include "ui/Icons.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHideEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>
#include <utility>

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
constexpr int kJobHeight = 58; // the job's part below the text

// Keeps the busy window centred on its anchor while it is shown: the anchor may be placed by the
// window manager only after the busy window first showed (the first job at the start-up), and
// may be moved, resized or maximised while it shows.
class AnchorWatch final : public QObject {
public:
    AnchorWatch(QWidget* anchor, std::function<void()> recentre)
        : QObject(nullptr), recentre_(std::move(recentre)) {
        anchor->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::WindowStateChange:
            recentre_();
            break;
        default:
            break;
        }
        return false;
    }

private:
    std::function<void()> recentre_;
};

QPixmap busyImage(int index) {
    static const char16_t* const images[] = {u":/busy/busy1", u":/busy/busy2", u":/busy/busy3"};
    return appIcon(images[index]).pixmap(QSize(48, 48));
}

} // namespace

BusyWidget::BusyWidget()
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

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setFormat(QStringLiteral("%p %"));
    ProgressBar1->setGeometry(8, kHeight, kWidth - 16, 20);
    LabelTimeLeft = new QLabel(this);
    LabelTimeLeft->setObjectName(QStringLiteral("LabelTimeLeft"));
    LabelTimeLeft->setGeometry(8, kHeight + 26, kWidth - 100, 24);
    CmdCancel = new QPushButton(tr("Cancel"), this);
    CmdCancel->setObjectName(QStringLiteral("CmdCancel"));
    CmdCancel->setGeometry(kWidth - 88, kHeight + 26, 80, 26);
    CmdCancel->setAccessibleName(tr("Cancel the work"));
    ProgressBar1->setAccessibleName(tr("Progress"));
    showJobPart(false);

    stripTimer = new QTimer(this);
    stripTimer->setObjectName(QStringLiteral("Timer1"));
    stripTimer->setInterval(kTickMs);
    connect(stripTimer, &QTimer::timeout, this, &BusyWidget::stepStrip);
}

void BusyWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    stripTimer->start();
}

void BusyWidget::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    stripTimer->stop();
}

void BusyWidget::stepStrip() {
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

void BusyWidget::showJobPart(bool shown) {
    for (QWidget* part : {static_cast<QWidget*>(ProgressBar1), static_cast<QWidget*>(LabelTimeLeft),
                          static_cast<QWidget*>(CmdCancel)})
        part->setVisible(shown);
    setFixedSize(kWidth, shown ? kHeight + kJobHeight : kHeight);
}

void BusyWidget::paintEvent(QPaintEvent* event) {
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

BusyWidget& BusyWindow::window() {
    if (!window_) {
        window_ = std::make_unique<BusyWidget>();
        if (anchor_) {
            // A child of the busy window: it goes with it, and stops watching then.
            auto* watch = new AnchorWatch(anchor_, [this] {
                if (window_->isVisible())
                    centre();
            });
            watch->setParent(window_.get());
        }
    }
    return *window_;
}

void BusyWindow::setText(const QString& text) {
    window().Label1->setText(text);
}

void BusyWindow::show(const QString& text) {
    BusyWidget& w = window();
    w.Label1->setText(text);
    if (w.isVisible())
        return;
    w.showJobPart(false);
    place();
}

void BusyWindow::showJob(const QString& text, std::function<void()> cancel) {
    BusyWidget& w = window();
    w.Label1->setText(text);
    cancel_ = std::move(cancel);
    w.ProgressBar1->setValue(0);
    w.LabelTimeLeft->clear();
    w.CmdCancel->setEnabled(true);
    w.CmdCancel->setText(BusyWidget::tr("Cancel"));
    QObject::disconnect(w.CmdCancel, nullptr, nullptr, nullptr);
    QObject::connect(w.CmdCancel, &QPushButton::clicked, w.CmdCancel, [this] {
        window().CmdCancel->setEnabled(false);
        window().CmdCancel->setText(BusyWidget::tr("Cancelling"));
        if (auto handler = std::exchange(cancel_, nullptr))
            handler();
    });
    const bool wasJob = w.ProgressBar1->isVisible();
    w.showJobPart(true);
    if (!w.isVisible() || !wasJob)
        place();
}

void BusyWindow::setProgress(int permille, const QString& timeLeft) {
    BusyWidget& w = window();
    w.ProgressBar1->setValue(std::clamp(permille, 0, 1000));
    w.LabelTimeLeft->setText(timeLeft);
}

void BusyWindow::centre() {
    BusyWidget& w = window();
    QRect area;
    if (anchor_ && anchor_->isVisible()) {
        area = anchor_->frameGeometry();
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid()) {
        w.move(area.center() - QPoint(w.width() / 2, w.height() / 2));
    }
}

void BusyWindow::place() {
    BusyWidget& w = window();
    centre();
    w.show();
    w.raise();
}

void BusyWindow::hide() {
    cancel_ = nullptr;
    if (window_) {
        window_->hide();
        window_->showJobPart(false);
    }
}

} // namespace quaverly
