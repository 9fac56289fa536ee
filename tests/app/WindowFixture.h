#pragma once
// A test of the main window, shown, with its scripted dialogs, in the temporary home of
// AppFixture.
#include "app/Frmmain.h"
#include "songlist/AudioEditPanel.h"
#include "support/AppFixture.h"
#include "support/ScriptedDialogs.h"

#include <QListWidget>

#include <memory>

namespace quaverly::test {

class WindowFixture : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        w = std::make_unique<Frmmain>(dialogs);
        w->show();
        list = w->songListPanel->List1;
    }

    ScriptedDialogs dialogs;
    std::unique_ptr<Frmmain> w;
    QListWidget* list = nullptr;
};

} // namespace quaverly::test
