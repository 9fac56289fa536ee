#pragma once
// Text colours that read on any desktop theme. Every text takes its colour from the palette's
// roles; a dimmed text (a hint, a scale, the detail beside a song's name) is mixed from the
// palette's text and background colours and kept at a contrast of at least 4.5:1 on that
// background (WCAG's level for body text).
//
// A desktop's palette may leave roles too faint to read: Qt 6.4 keeps the placeholder text at
// its default, black at half strength, whatever the desktop's colours (on a dark scheme it is
// black on black), and some schemes' disabled texts are barely there. readablePalette() moves
// such roles towards the enabled text's colour as far as they need; keepPaletteReadable() does
// that to the application's palette at the start and after every change of it.
//
// Threads: UI thread only.

#include <QColor>
#include <QPalette>

class QLabel;

namespace quaverly {

inline constexpr double kReadableContrast = 4.5;

// The contrast ratio (1 to 21) of `ink`, laid over `paper` as its alpha says, against `paper`.
double contrastRatio(const QColor& ink, const QColor& paper);

// `ink` unchanged when it reads at kReadableContrast on `paper`; else `ink` laid over `paper`
// and moved towards `strong` as little as makes it read (all the way when even `strong` does
// not).
QColor readableOn(const QColor& ink, const QColor& paper, const QColor& strong);

// A dimmed text on the `paper` role: the `text` role a third of the way towards `paper`, less
// where that would not read. In the palette's current colour group.
QColor dimmedText(const QPalette& palette, QPalette::ColorRole text = QPalette::WindowText,
                  QPalette::ColorRole paper = QPalette::Window);

// A warning text on the `paper` role (a length past its limit): red, moved towards the `text`
// role as far as it needs to read.
QColor alertText(const QPalette& palette, QPalette::ColorRole text = QPalette::WindowText,
                 QPalette::ColorRole paper = QPalette::Window);

// `palette` with its placeholder text readable on the fields and buttons, and its disabled
// texts readable on their backgrounds; a role that reads already is left as it is.
QPalette readablePalette(QPalette palette);

// Mends the application's palette (readablePalette) now and after every change of it, whether
// the desktop or the program changed it.
void keepPaletteReadable();

// Shows `label`'s text dimmed (dimmedText), also after the palette changes.
void dimText(QLabel* label);

// A dark desktop palette as Qt 6.4 reads one from the desktop (KDE's Breeze Dark colour
// scheme): every role the scheme gives, and the placeholder text left at Qt's default. The
// screenshots and the tests take it for "a dark theme".
QPalette darkDesktopPalette();

} // namespace quaverly
