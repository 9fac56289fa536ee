#pragma once
// The system's own words for a Windows error code (GetLastError()), for the cause of an Error.
// Windows only.

#include <QString>

#include <windows.h>

namespace quaverly {

inline QString windowsErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString said = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    LocalFree(text);
    // The system's sentences end with a full stop; the program's causes do not.
    if (said.endsWith(u'.'))
        said.chop(1);
    if (said.isEmpty())
        said = QStringLiteral("system error %1").arg(code);
    return said;
}

} // namespace quaverly
