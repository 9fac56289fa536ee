#pragma once
// Tables that map codes to what they mean: a library's error codes to readable causes, a device's
// kinds to ours. Each row pairs one code with its meaning; a code no row has is the caller's.
#include <QString>

#include <cstddef>
#include <optional>
#include <utility>

namespace quaverly {

// What the row with `code` says, or nothing when no row has it.
template <typename Code, typename Meaning, std::size_t N, typename Key>
constexpr std::optional<Meaning> lookUp(const std::pair<Code, Meaning> (&rows)[N],
                                        const Key& code) {
    for (const auto& row : rows)
        if (row.first == code)
            return row.second;
    return std::nullopt;
}

// The text of `code`, or `otherwise` with the code in place of its %1.
template <typename Code, std::size_t N, typename Key>
QString codeText(const std::pair<Code, const char*> (&rows)[N], const Key& code,
                 const char* otherwise) {
    if (const auto text = lookUp(rows, code))
        return QString::fromUtf8(*text);
    return QString::fromUtf8(otherwise).arg(code);
}

} // namespace quaverly
