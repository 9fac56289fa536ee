// Every icon the program shows loads, sharp at the size it is shown at on a normal screen and on
// one scaled to 200 %. With QUAVERLY_PNG_ICONS the build rendered each at one, two and three times
// that size: a size in the build that differs from the one shown would leave it blurred.
#include "ui/Icons.h"
#include "support/QtPrinters.h"

#include <QPixmap>
#include <gtest/gtest.h>

using namespace quaverly;

namespace {

const struct {
    const char16_t* base;
    int size; // as shown, in pixels at 100 %
} kIcons[] = {
    {u":/icons/open", 32},    {u":/icons/record", 32},   {u":/icons/save", 32},
    {u":/icons/convert", 32}, {u":/icons/settings", 32}, {u":/icons/about", 32},
    {u":/icons/exit", 32},    {u":/icons/logo", 64},     {u":/busy/busy1", 48},
    {u":/busy/busy2", 48},    {u":/busy/busy3", 48},     {u":/songlist/up", 20},
    {u":/songlist/down", 20}, {u":/songlist/play", 16},  {u":/songlist/pen", 16},
};

TEST(Icons, EveryIconLoadsAtItsSizes) {
    for (const auto& icon : kIcons) {
        const QString base = QString::fromUtf16(icon.base);
        SCOPED_TRACE(base.toStdString());
        const QIcon loaded = appIcon(base);
        ASSERT_FALSE(loaded.isNull());
        const QSize shown(icon.size, icon.size);
        for (const qreal scale : {1.0, 2.0}) {
            const QPixmap pixmap = loaded.pixmap(shown, scale);
            ASSERT_FALSE(pixmap.isNull()) << "at " << scale;
            EXPECT_EQ(pixmap.size(), shown * scale) << "at " << scale;
        }
#ifdef QUAVERLY_PNG_ICONS
        const QList<QSize> rendered = {shown, shown * 2, shown * 3};
        EXPECT_EQ(loaded.availableSizes(), rendered);
#endif
    }
}

} // namespace
