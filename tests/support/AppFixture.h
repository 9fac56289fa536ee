#pragma once
// A test with its own home, cache base and configuration folder, all temporary, so that the
// window's start-up finds exactly what the test put there.
#include "support/QtPrinters.h"
#include "ui/Jobs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace quaverly::test {

// The variables that move the home, configuration and cache bases, each system's own.
#ifdef Q_OS_WIN
inline constexpr char kHomeVariable[] = "USERPROFILE";
inline constexpr char kConfigBaseVariable[] = "APPDATA";
inline constexpr char kCacheBaseVariable[] = "LOCALAPPDATA";
#else
inline constexpr char kHomeVariable[] = "HOME";
inline constexpr char kConfigBaseVariable[] = "XDG_CONFIG_HOME";
inline constexpr char kCacheBaseVariable[] = "XDG_CACHE_HOME";
#endif

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        home = tmp_.filePath(QStringLiteral("home"));
        cacheBase = tmp_.filePath(QStringLiteral("cache"));
        configBase = tmp_.filePath(QStringLiteral("config"));
        for (const QString& d : {home, cacheBase, configBase}) {
            ASSERT_TRUE(QDir().mkpath(d));
        }
        workRoot = cacheBase + QStringLiteral("/velmarise");
        configFile = configBase + QStringLiteral("/velmarise/config.ini");
        setEnv(kHomeVariable, home);
        setEnv("QUAVERLY_WORK_BASE", cacheBase);
        setEnv(kConfigBaseVariable, configBase);
    }

    void TearDown() override {
        for (auto& [name, value] : saved_) {
            if (value.isNull()) {
                qunsetenv(name.constData());
            } else {
                qputenv(name.constData(), value);
            }
        }
    }

    void setEnv(const char* name, const QString& value) {
        saved_.append({QByteArray(name), qgetenv(name)});
        qputenv(name, QFile::encodeName(value));
    }

    QString path(const QString& rel) const { return tmp_.filePath(rel); }

    // The control of the window named `name`; fails the test when there is none.
    template <typename T = QWidget> static T* child(const QObject& window, const char* name) {
        T* c = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    // Clicks the button and waits for the job it started, if any, to end.
    static void click(const QObject& window, const char* name) {
        if (auto* b = child<QAbstractButton>(window, name)) {
            b->click();
            EXPECT_TRUE(jobsSettled(window)) << name << ": its job never ended";
        }
    }
    // True once no job of the window runs (at once when none does), within `ms`.
    static bool jobsSettled(const QObject& window, int ms = 120000) {
        const auto* jobs = window.findChild<Jobs*>();
        return !jobs || QTest::qWaitFor([jobs] { return !jobs->running(); }, ms);
    }
    // True while a busy window is on screen.
    static bool busyShown() {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(), [](const QWidget* w) {
            return w->objectName() == QLatin1String("FrmLoad") && w->isVisible();
        });
    }

    static void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    static QByteArray readFile(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Names of the files (not folders) directly inside folder, hidden ones included.
    static QStringList filesIn(const QString& folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    QString home, cacheBase, configBase, workRoot, configFile;

private:
    QTemporaryDir tmp_;
    QList<std::pair<QByteArray, QByteArray>> saved_;
};

} // namespace quaverly::test
