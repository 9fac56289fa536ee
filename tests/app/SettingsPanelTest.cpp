#include "app/Frmmain.h"
#include "support/ScriptedDialogs.h"

#include "support/AppFixture.h"

#include <QAbstractButton>
#include <QStorageInfo>

using namespace quaverly;
using Kind = ScriptedDialogs::Kind;

namespace {

class SettingsTest : public test::AppFixture {
protected:
    std::unique_ptr<Frmmain> start() {
        auto w = std::make_unique<Frmmain>(dialogs);
        w->show();
        w->toolbarAction(QStringLiteral("Setting"))->trigger();
        return w;
    }

    static QByteArray lines(int kbps, const QString& folder) {
        return QByteArray::number(kbps) + "\r\n" + QDir::toNativeSeparators(folder).toUtf8() +
               "\r\n";
    }

    ScriptedDialogs dialogs;
};

TEST_F(SettingsTest, SaveSettingWritesTheBitRateAndFolderAndIsReadBack) {
    QDir().mkpath(home + "/Music");
    {
        auto w = start();
        click(*w, "CmdSaveSetting");
        EXPECT_EQ(readFile(configFile), lines(256, home));

        click(*w, "Option1");
        EXPECT_EQ(w->OutBitRate, 56);
        ASSERT_TRUE(w->settingsPanel->setFolder(home + "/Music"));
        EXPECT_EQ(w->BaseFolder, home + "/Music");
        click(*w, "CmdSaveSetting");
        click(*w, "CmdSaveSetting");
        EXPECT_EQ(readFile(configFile), lines(56, home + "/Music")); // replaced, not appended
        EXPECT_TRUE(dialogs.asked().isEmpty());
    }
    // The next start applies them.
    auto w = start();
    EXPECT_EQ(w->OutBitRate, 56);
    EXPECT_TRUE(w->findChild<QAbstractButton*>("Option1")->isChecked());
    EXPECT_FALSE(w->findChild<QAbstractButton*>("Option4")->isChecked());
    EXPECT_EQ(w->BaseFolder, home + "/Music");
    EXPECT_EQ(w->settingsPanel->folder(), home + "/Music");

    click(*w, "Option3");
    EXPECT_EQ(w->OutBitRate, 128);
}

TEST_F(SettingsTest, ADamagedFileGivesTheDefaults) {
    for (const QByteArray& content :
         {QByteArray("999\r\n") + home.toUtf8() + "\r\n", QByteArray("128\r\n/no/such\r\n"),
          QByteArray("garbage"), QByteArray()}) {
        writeFile(configFile, content);
        auto w = start();
        EXPECT_EQ(w->OutBitRate, 256) << content.constData();
        EXPECT_TRUE(w->findChild<QAbstractButton*>("Option4")->isChecked());
        EXPECT_EQ(w->BaseFolder, home) << content.constData();
    }
    EXPECT_TRUE(dialogs.asked().isEmpty());
}

TEST_F(SettingsTest, AFailedSaveIsReportedAndChangesNothing) {
    writeFile(path(QStringLiteral("config-is-a-file")), "x");
    setEnv(test::kConfigBaseVariable, path(QStringLiteral("config-is-a-file")));
    auto w = start();
    click(*w, "Option2");
    click(*w, "CmdSaveSetting");
    const auto messages = dialogs.asked(Kind::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].icon, Dialogs::Icon::Critical);
    EXPECT_EQ(messages[0].title, "Quaverly");
    EXPECT_TRUE(messages[0].text.contains(QLatin1String("config-is-a-file")));
    EXPECT_EQ(w->OutBitRate, 96);
    EXPECT_EQ(w->BaseFolder, home);
}

TEST_F(SettingsTest, NewFolder) {
    QDir().mkpath(home + "/Music/Existing");
    const QString longName(300, u'x');
    const struct {
        std::optional<QString> answer;
        const char* created; // relative to Music; nullptr: nothing
        bool message;        // a message explains why nothing was created (a cancel needs none)
    } cases[] = {
        {QStringLiteral("Clips"), "Clips", false},
        {QStringLiteral("  Ring tones "), "Ring tones", false},
        {std::nullopt, nullptr, false},         // cancelled
        {QString(), nullptr, true},             // empty
        {QStringLiteral("   "), nullptr, true}, // blanks only
        {QStringLiteral("Existing"), nullptr, true},
        {QStringLiteral("a/b"), nullptr, true},
        {QStringLiteral(".."), nullptr, true},
        {longName, nullptr, true},
    };
    for (const auto& c : cases) {
        auto w = start();
        ASSERT_TRUE(w->settingsPanel->setFolder(home + "/Music"));
        const QStringList before =
            QDir(home + "/Music").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        dialogs.clear();
        dialogs.queueInput(c.answer);
        click(*w, "CmdFolder");

        const auto inputs = dialogs.asked(Kind::Input);
        ASSERT_EQ(inputs.size(), 1);
        EXPECT_EQ(inputs[0].title, "Create New Folder");
        EXPECT_EQ(inputs[0].text, "New Folder Name");
        EXPECT_TRUE(inputs[0].defaultText.isEmpty());
        EXPECT_EQ(dialogs.asked(Kind::Message).size(), c.message ? 1 : 0);

        const QString label = c.answer.value_or(QStringLiteral("<cancel>"));
        if (c.created) {
            const QString made = home + "/Music/" + QString::fromLatin1(c.created);
            EXPECT_TRUE(QFileInfo(made).isDir()) << qPrintable(label);
            EXPECT_EQ(w->settingsPanel->folder(), made);
            EXPECT_EQ(w->BaseFolder, made);
            QDir(made).removeRecursively();
        } else {
            EXPECT_EQ(QDir(home + "/Music").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                      before)
                << qPrintable(label);
            EXPECT_EQ(w->BaseFolder, home + "/Music") << qPrintable(label);
        }
    }
}

TEST_F(SettingsTest, NewFolderInAFolderThatWentAwayIsReported) {
    QDir().mkpath(home + "/Gone");
    auto w = start();
    ASSERT_TRUE(w->settingsPanel->setFolder(home + "/Gone"));
    ASSERT_TRUE(QDir(home + "/Gone").removeRecursively());
    if (QFileInfo::exists(home + "/Gone"))
        GTEST_SKIP() << "the system removes a folder only once the window stops watching it";
    dialogs.queueInput(QStringLiteral("Clips"));
    click(*w, "CmdFolder");
    const auto messages = dialogs.asked(Kind::Message);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].text.contains(QLatin1String("could not be created")));
    EXPECT_FALSE(QFileInfo::exists(home + "/Gone/Clips"));
    EXPECT_EQ(w->BaseFolder, home + "/Gone");
}

TEST_F(SettingsTest, WithoutAFolderToStartFromNothingIsCreated) {
    setEnv(test::kHomeVariable, path(QStringLiteral("no-such-home")));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(path(QString()));
    auto w = start();
    EXPECT_TRUE(w->settingsPanel->folder().isEmpty());
    dialogs.queueInput(QStringLiteral("Clips"));
    click(*w, "CmdFolder");
    QDir::setCurrent(cwd);
    EXPECT_EQ(dialogs.asked(Kind::Message).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Clips"))));
}

TEST_F(SettingsTest, DriveListShowsVolumesAndAnUnreadyDriveLeavesTheFolder) {
    auto w = start();
    QComboBox* drives = w->settingsPanel->Drive1;
    ASSERT_GT(drives->count(), 0);
    EXPECT_EQ(drives->currentData().toString(), QStorageInfo(home).rootPath());

    drives->addItem(QStringLiteral("/media/empty-drive"), QStringLiteral("/media/empty-drive"));
    const int unready = drives->count() - 1;
    drives->setCurrentIndex(unready);
    emit drives->activated(unready);
    EXPECT_EQ(w->BaseFolder, home);
    EXPECT_EQ(drives->currentIndex(), unready); // the drive list shows the chosen drive

    // Choosing the home's drive again returns to the folder last shown on it.
    const int homeDrive = drives->findData(QStorageInfo(home).rootPath());
    drives->setCurrentIndex(homeDrive);
    emit drives->activated(homeDrive);
    EXPECT_EQ(w->BaseFolder, home);
}

} // namespace
