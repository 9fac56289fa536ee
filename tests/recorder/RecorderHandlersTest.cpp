// The recorder's handlers on a panel of their own, on the virtual device's line-in: a take that
// ends early tells the user why and stays playable and savable.
#include "recorder/RecorderHandlers.h"
#include "engines/audio/VirtualBackend.h"
#include "recorder/RecorderPanel.h"
#include "support/QtPrinters.h"
#include "support/ScriptedDialogs.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace quaverly;
using audio::VirtualBackend;

namespace {

TEST(RecorderHandlers, SayWhyATakeEndedAndKeepItSavable) {
    const struct {
        TakeRecorder::Options options;
        const char* message;
    } cases[] = {
        {{[](void* p, std::size_t n) { return p ? nullptr : std::realloc(p, n); },
          WavHeader::kMaxDataSize},
         "Out of memory!\r\n\r\nerror code: 1"},
        {{&std::realloc, 7056},
         "The take has reached the largest size a WAV file can hold (4 GiB), so the recording "
         "has stopped. What was recorded is kept."},
    };
    for (const auto& c : cases) {
        ScriptedDialogs dialogs;
        RecorderPanel panel;
        RecorderServices services;
        services.dialogs = &dialogs;
        services.engine = c.options;
        RecorderHandlers handlers(panel, services);
        handlers.initrec();
        panel.cmbInput->setCurrentIndex(VirtualBackend::kLineIn);
        panel.btnRecord->click();
        ASSERT_EQ(panel.btnRecord->text(), "Stop");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogs.messageTexts().isEmpty(); }, 20000));
        EXPECT_EQ(dialogs.messageTexts(), QStringList{QString::fromLatin1(c.message)});
        EXPECT_EQ(panel.btnRecord->text(), "Record");
        EXPECT_TRUE(panel.btnPlay->isEnabled());
        EXPECT_TRUE(panel.btnSave->isEnabled());
        EXPECT_GT(handlers.engine().take().dataBytes(), 0u);
        handlers.releaseTake();
        EXPECT_FALSE(handlers.engine().take().exists());
    }
}

} // namespace
