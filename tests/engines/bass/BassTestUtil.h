#pragma once
// Helpers shared by the sound layer tests: the real files of the test data.

#include "engines/bass/Bass.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

#include <string>

namespace bass_test {

using namespace quaverly::bass;

inline std::string realFile(const std::string& rel) {
    return std::string(QUAVERLY_TEST_DATA "/real/") + rel;
}

inline QByteArray readAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace bass_test
