// Every text of every panel reads at 4.5:1 or more against what it is drawn on, in a light and
// in a dark desktop theme. The texts are caught as they are painted (DrawnTexts.h), so that what
// the program paints itself is checked as much as the widgets; the background under each one is
// read from the window's picture around it.
#include "app/Frmmain.h"
#include "editor/WaveformView.h"
#include "support/AppFixture.h"
#include "support/DrawnTexts.h"
#include "support/ScriptedDialogs.h"
#include "support/TestAudio.h"
#include "support/Waits.h"
#include "ui/ThemeColours.h"

#include <QApplication>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

using namespace quaverly;

namespace {

// The colour `ink` is drawn on within `r` of `picture`: the commonest there, not counting the
// glyphs' cores (within a step of `ink`). A text drawn in its background's very colour has no
// other: then that.
QColor under(const QImage& picture, const QRect& r, const QColor& ink) {
    std::map<QRgb, int> counts;
    const QRgb solid = ink.rgb();
    const auto near = [solid](QRgb c) {
        return std::abs(qRed(c) - qRed(solid)) + std::abs(qGreen(c) - qGreen(solid)) +
                   std::abs(qBlue(c) - qBlue(solid)) <=
               6;
    };
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (picture.rect().contains(x, y) && !near(picture.pixel(x, y)))
                ++counts[picture.pixel(x, y)];
    if (counts.empty())
        return QColor(solid);
    return QColor(std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                      return a.second < b.second;
                  })->first);
}

// Each text of `w` as it shows now whose contrast on its background is below 4.5:1; on the
// selection, below the palette's own selected text where that is less (the desktop's choice).
QStringList faintTexts(QWidget& w) {
    const std::vector<test::DrawnText> texts = test::drawnTexts(w);
    const QImage picture = w.grab().toImage();
    const QPalette& p = w.palette();
    const double selected =
        contrastRatio(p.color(QPalette::HighlightedText), p.color(QPalette::Highlight));
    QStringList faint;
    for (const test::DrawnText& t : texts) {
        const QColor paper = under(picture, t.rect, t.ink);
        const double need =
            paper == p.color(QPalette::Highlight) ? std::min(kReadableContrast, selected) : 4.5;
        const double ratio = contrastRatio(t.ink, paper);
        if (ratio < need - 0.01)
            faint << QStringLiteral("\"%1\" %2 on %3: %4")
                         .arg(t.text, t.ink.name(QColor::HexArgb), paper.name())
                         .arg(ratio, 0, 'f', 2);
    }
    return faint;
}

class ThemeContrast : public test::AppFixture {
protected:
    ScriptedDialogs dialogs;
};

TEST_F(ThemeContrast, EveryTextOfEveryPanelReadsInALightAndADarkTheme) {
    // As the program starts: the desktop's palette, kept readable.
    keepPaletteReadable();
    const QPalette light = QApplication::palette();
    const QString songs[] = {path("A song whose name is far too long for the list to show.wav"),
                             path("short.wav")};
    for (const QString& song : songs)
        ASSERT_TRUE(test::writeWav16(song, 2, 8000, test::staircase(16000, 2)));
    const struct {
        const char* name;
        QPalette palette;
    } themes[] = {{"light", light}, {"dark", darkDesktopPalette()}};
    for (const auto& theme : themes) {
        QApplication::setPalette(theme.palette);
        Frmmain w(dialogs);
        w.show();
        w.songList->addFiles({songs[0], songs[1]});
        ASSERT_TRUE(jobsSettled(w));
        ASSERT_EQ(w.songListPanel->List1->count(), 2);
        w.songListPanel->List1->setCurrentRow(0);
        emit w.songListPanel->List1->itemDoubleClicked(w.songListPanel->List1->item(0));
        w.editor->setMarkIn(500);
        w.editor->setMarkOut(1500);
        const auto* view = w.editorFrame->findChild<WaveformView*>();
        ASSERT_TRUE(QTest::qWaitFor([view] { return view->song().has_value(); }, 10000));
        for (const char* panel : {"Rec", "Convert", "Setting", "Help", "Wav"}) {
            w.toolbarAction(QString::fromLatin1(panel))->trigger();
            ASSERT_TRUE(test::roundTrip());
            EXPECT_EQ(faintTexts(w), QStringList()) << theme.name << ", " << panel;
        }
        BusyWindow& busy = w.busyWindow();
        busy.showJob(QStringLiteral("Saving the list to MP3"), [] {});
        busy.setProgress(420, QStringLiteral("About 12 s left"));
        ASSERT_TRUE(test::roundTrip());
        EXPECT_EQ(faintTexts(busy.window()), QStringList()) << theme.name << ", busy window";
        busy.hide();
    }
    QApplication::setPalette(light);
}

} // namespace
