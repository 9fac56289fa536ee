#pragma once
// The busy window BusyWidget: a small frameless window with a strip of pictures that fills up from
// left to right and starts over, and a line of text below it that says what is going on.
// Callers show it while long work runs and hide it after. For a job (see Jobs) it also shows a
// progress bar with the percent, the time left once it can be told, and a Cancel button.
//
// BusyWindow is the holder that callers use: it creates BusyWidget on first use and keeps it,
// hidden or shown, until the holder goes, so the text stays what the last caller set.
//
// Threads: UI thread only.

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>

namespace quaverly {

class BusyWidget final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPictures = 6;
    static constexpr int kTickMs = 500;

    BusyWidget();

    // One step of the strip: the lowest hidden picture appears; when that makes the last
    // picture visible, the strip starts over with picture 0 alone. stripTimer calls it while the
    // window shows.
    void stepStrip();

    QLabel* Label1 = nullptr;
    QTimer* stripTimer = nullptr;
    // The job's part, shown only while a job runs.
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* LabelTimeLeft = nullptr;
    QPushButton* CmdCancel = nullptr;

    // Shows or hides the job's part; the window grows or shrinks by its height.
    void showJobPart(bool shown);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Picture1(0) to Picture1(5), so named; 0, 2 and 4 show one image, 1 and 3 a second, 5 a
    // third.
    std::array<QLabel*, kPictures> pictures_{};
};

class BusyWindow {
public:
    // anchor: the window the busy window is centred over whenever it appears, and while it shows
    // (when the anchor moves or changes its size).
    explicit BusyWindow(QWidget* anchor = nullptr);
    ~BusyWindow();
    BusyWindow(const BusyWindow&) = delete;
    BusyWindow& operator=(const BusyWindow&) = delete;

    // Sets the text and shows the window modeless; the caller goes on at once. Showing it while
    // it is shown only changes the text.
    void show(const QString& text);
    void setText(const QString& text);
    void hide();

    // Shows the window for a job: `text`, the progress bar at 0 and Cancel, which calls
    // `cancel` (once; the button then says the job is being cancelled).
    void showJob(const QString& text, std::function<void()> cancel);
    // The job's progress in thousandths, and the time left in words (empty while unknown).
    void setProgress(int permille, const QString& timeLeft);

    // The window, created on first use.
    BusyWidget& window();

private:
    // Centres the window on the anchor when that is shown, else on the screen.
    void centre();
    // Centres the window and shows it.
    void place();

    QPointer<QWidget> anchor_;
    std::unique_ptr<BusyWidget> window_;
    std::function<void()> cancel_;
};

} // namespace quaverly
