#include "support/TestPaths.h"

namespace quaverly::test {

QString dataPath(const char* relative) {
    return QStringLiteral(QUAVERLY_TEST_DATA) + QString::fromUtf8(relative);
}

QString sourcePath(const char* relative) {
    return QStringLiteral(QUAVERLY_SOURCE_DIR) + QString::fromUtf8(relative);
}

QString cliPath() {
    return QStringLiteral(QUAVERLY_CLI_PATH);
}

} // namespace quaverly::test
