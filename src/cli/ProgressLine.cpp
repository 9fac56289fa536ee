#include "cli/ProgressLine.h"

#include "cli/Console.h"
#include "engines/util/TimeLeft.h"

#include <algorithm>

namespace quaverly::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRedraw = std::chrono::milliseconds(100);
constexpr int kMinWidth = 40; // narrower terminals wrap the line whatever it holds

// "0:07", "12:34", "1:02:03"
QString clockText(long long seconds) {
    const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    return h > 0 ? QStringLiteral("%1:%2:%3")
                       .arg(h)
                       .arg(m, 2, 10, QLatin1Char('0'))
                       .arg(s, 2, 10, QLatin1Char('0'))
                 : QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

// `text` in at most `room` characters.
QString fitted(const QString& text, int room) {
    if (text.size() <= room)
        return text;
    return room > 3 ? text.left(room - 3) + QStringLiteral("...") : text.left(std::max(room, 0));
}

} // namespace

QString progressText(const QString& label, std::uint64_t done, std::uint64_t total, double elapsed,
                     int columns) {
    const int width = std::max(columns, kMinWidth) - 1;
    if (total == 0)
        return fitted(label, width - 3) + QStringLiteral("...");
    // Whole percents, counted rather than multiplied out, so that 99 % is never shown as 98.
    const int percent = int(std::min<std::uint64_t>(done * 100 / total, 99));
    QString tail = QStringLiteral(" %1%").arg(percent, 3);
    if (const auto left = secondsLeft(std::min(double(done) / double(total), 0.99), elapsed))
        tail += QStringLiteral("  %1 left").arg(clockText(*left));
    const int barWidth = width >= 60 ? 20 : 10;
    const int filled = percent * barWidth / 100;
    const QString bar = QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                        QString(barWidth - filled, QLatin1Char('-')) + QLatin1Char(']');
    return fitted(label, width - int(bar.size() + tail.size())) + bar + tail;
}

ProgressLine::ProgressLine(const Io& io, QString label, bool measured)
    : io_(io), label_(std::move(label)), measured_(measured) {
    if (!io_.progress)
        return;
    columns_ = terminalColumns(io_.err);
    start_ = drawn_ = Clock::now();
    draw(progressText(label_, 0, measured ? 1 : 0, 0, columns_));
}

ProgressLine::~ProgressLine() {
    if (shown_.isEmpty())
        return;
    std::fputs("\r\033[K", io_.err);
    std::fflush(io_.err);
}

void ProgressLine::update(std::uint64_t done, std::uint64_t total) {
    if (!io_.progress)
        return;
    const auto now = Clock::now();
    if (now - drawn_ < kRedraw)
        return;
    drawn_ = now;
    if (total == 0 && measured_)
        total = 1; // its measure is still to come: the bar stays at 0 % meanwhile
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    if (const QString text = progressText(label_, done, total, elapsed, columns_); text != shown_)
        draw(text);
}

void ProgressLine::draw(const QString& text) {
    shown_ = text;
    std::fprintf(io_.err, "\r%s\033[K", consoleBytes(text).constData());
    std::fflush(io_.err);
}

} // namespace quaverly::cli
