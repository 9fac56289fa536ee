#pragma once
// Where the tests find the tree's files and the command line they run. Only the build knows these
// folders, and they differ from clone to clone: they are compiled into one file (TestPaths.cpp),
// so that every other test file compiles alike wherever the tree lies and the compiler cache
// serves it to a fresh clone.

#include <QString>

namespace quaverly::test {

QString dataPath(const char* relative = ""); // tests/data, then `relative` ("/real/...")
QString sourcePath(const char* relative);    // the source tree, then `relative` ("/scripts/...")
QString cliPath();                           // the quaverly-cli the build made

} // namespace quaverly::test
