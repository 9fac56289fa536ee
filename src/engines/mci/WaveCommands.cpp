#include "engines/mci/WaveCommands.h"

#include "engines/mci/MciErrors.h"
#include "engines/mci/MciTime.h"
#include "engines/mci/MciWav.h"
#include "engines/util/AtomicFile.h"
#include "engines/wav/WavHeader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

namespace quaverly {
namespace {

// Blocks of this size move the kept sound from the source to the saved file: large enough that a
// save of minutes of sound takes a handful of reads and writes.
constexpr qint64 kCopyBlock = 1 << 20;

// A stretch of the source file's bytes that is still part of the sound.
struct ByteRange {
    std::uint64_t offset = 0; // absolute offset in the source file
    std::uint64_t size = 0;
};

bool isBlank(QChar c) {
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\r') ||
           c == QLatin1Char('\n');
}

// Splits a command text into words at runs of blanks; "..." makes one word of what is between
// the quotes, where "" is one quote. Fails only on a quote that is never closed.
std::optional<QStringList> splitWords(const QString& text) {
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        while (i < n && isBlank(text[i]))
            ++i;
        if (i == n)
            break;
        if (text[i] == QLatin1Char('"')) {
            // Two quotes in a row inside the quotes stand for one (a path may hold one).
            QString word;
            for (qsizetype from = i + 1;;) {
                const qsizetype close = text.indexOf(QLatin1Char('"'), from);
                if (close < 0)
                    return std::nullopt;
                word += QStringView(text).sliced(from, close - from);
                if (close + 1 < n && text[close + 1] == QLatin1Char('"')) {
                    word += QLatin1Char('"');
                    from = close + 2;
                    continue;
                }
                i = close + 1;
                break;
            }
            words << word;
        } else {
            const qsizetype start = i;
            while (i < n && !isBlank(text[i]) && text[i] != QLatin1Char('"'))
                ++i;
            words << text.mid(start, i - start);
        }
    }
    return words;
}

bool is(const QString& word, const char* keyword) {
    return word.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
}

// A plain decimal integer: digits only (no sign, no blanks, no grouping), within 64 bits.
std::optional<std::uint64_t> parseMs(const QString& word) {
    if (word.isEmpty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : word) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c.unicode() - u'0');
        if (value > (UINT64_MAX - digit) / 10u)
            return std::nullopt;
        value = value * 10u + digit;
    }
    return value;
}

// True when both name one existing file, whatever the spelling of the paths or links between.
bool sameFile(const QFileInfo& a, const QString& b) {
    const QFileInfo other(b);
    return a.exists() && other.exists() && a == other;
}

} // namespace

// One open file: its layout, its read-only handle and what is left of its sound.
struct WaveCommands::Device {
    QString alias;
    QString path;
    WavLayout layout;
    QFile file; // read-only, open from "open" to "close"
    std::vector<ByteRange> kept;

    std::uint64_t bytes() const {
        std::uint64_t total = 0;
        for (const auto& r : kept)
            total += r.size;
        return total;
    }
    std::uint64_t frames() const { return bytes() / layout.blockAlign; }
    std::uint64_t lengthMs() const { return mcitime::framesToMs(frames(), layout.sampleRate); }

    // The frame a millisecond position of the current sound stands for; the length itself (and
    // anything past it) is the end.
    std::uint64_t frameAt(std::uint64_t ms) const {
        const auto total = frames();
        if (ms >= lengthMs())
            return total;
        return std::min(mcitime::msToFrames(ms, layout.sampleRate).value_or(total), total);
    }

    // Removes the frames [first, last) of the current sound.
    void removeFrames(std::uint64_t first, std::uint64_t last) {
        const std::uint64_t cutFrom = first * layout.blockAlign;
        const std::uint64_t cutTo = last * layout.blockAlign;
        std::vector<ByteRange> next;
        next.reserve(kept.size() + 1);
        std::uint64_t at = 0; // offset of r within the current sound
        for (const auto& r : kept) {
            const std::uint64_t begin = at, end = at + r.size;
            at = end;
            if (end <= cutFrom || begin >= cutTo) {
                next.push_back(r);
                continue;
            }
            if (begin < cutFrom)
                next.push_back({r.offset, cutFrom - begin});
            if (end > cutTo)
                next.push_back({r.offset + (cutTo - begin), end - cutTo});
        }
        kept = std::move(next);
    }
};

WaveCommands::WaveCommands() = default;
WaveCommands::~WaveCommands() = default;

QStringList WaveCommands::openAliases() const {
    QStringList out;
    for (const auto& entry : devices_)
        out << entry.first;
    return out;
}

int WaveCommands::fail(int code, const QString& detail) {
    lastCode_ = code;
    lastError_ =
        detail.isEmpty() ? mcierr::text(code) : mcierr::text(code) + QStringLiteral(": ") + detail;
    return code;
}

WaveCommands::Device* WaveCommands::find(const QString& alias) {
    const auto it = devices_.find(alias.toLower());
    return it == devices_.end() ? nullptr : it->second.get();
}

int WaveCommands::send(const QString& commandText) {
    log_ << commandText;
    lastCode_ = 0;
    lastError_.clear();
    const auto words = splitWords(commandText);
    if (!words)
        return fail(mcierr::kNoClosingQuote, commandText);
    if (words->isEmpty())
        return fail(mcierr::kMissingCommandString, {});
    const QString& verb = words->front();
    try {
        if (is(verb, "open"))
            return doOpen(*words);
        if (is(verb, "delete"))
            return doDelete(*words);
        if (is(verb, "save"))
            return doSave(*words);
        if (is(verb, "close"))
            return doClose(*words);
    } catch (const std::bad_alloc&) {
        return fail(mcierr::kOutOfMemory, {});
    }
    return fail(mcierr::kUnrecognizedCommand, verb);
}

// open PATH type waveaudio alias NAME [wait]
int WaveCommands::doOpen(const QStringList& words) {
    if (words.size() < 2 || words[1].isEmpty())
        return fail(mcierr::kFilenameRequired, {});
    const QString path = words[1];
    std::optional<QString> type, alias;
    for (qsizetype i = 2; i < words.size(); ++i) {
        if (is(words[i], "wait"))
            continue;
        std::optional<QString>* slot = is(words[i], "type")    ? &type
                                       : is(words[i], "alias") ? &alias
                                                               : nullptr;
        if (!slot)
            return fail(mcierr::kUnrecognizedKeyword, words[i]);
        if (*slot)
            return fail(mcierr::kDuplicateFlags, words[i]);
        if (i + 1 >= words.size() || words[i + 1].isEmpty())
            return fail(mcierr::kMissingParameter, words[i]);
        *slot = words[++i];
    }
    if (!type)
        return fail(mcierr::kDeviceTypeRequired, {});
    if (!is(*type, "waveaudio"))
        return fail(mcierr::kInvalidDeviceName, *type);
    if (!alias)
        return fail(mcierr::kMissingParameter, QStringLiteral("alias"));
    if (is(*alias, "all"))
        return fail(mcierr::kInvalidDeviceName, *alias);
    if (find(*alias))
        return fail(mcierr::kDuplicateAlias, *alias);

    const QFileInfo info(path);
    if (!info.exists())
        return fail(mcierr::kFileNotFound, path);
    if (!info.isFile())
        return fail(mcierr::kInvalidFile, path + QStringLiteral(" is not a file"));

    auto dev = std::make_unique<Device>();
    dev->alias = *alias;
    dev->path = path;
    dev->file.setFileName(path);
    if (!dev->file.open(QIODevice::ReadOnly))
        return fail(mcierr::kFileRead, path + QStringLiteral(": ") + dev->file.errorString());
    QString why;
    const auto layout = probeWav(dev->file, &why);
    if (!layout)
        return fail(dev->file.error() == QFileDevice::ReadError ? mcierr::kFileRead
                                                                : mcierr::kInvalidFile,
                    path + QStringLiteral(": ") + why);
    if (!mciwav::isPlainPcm(*layout))
        return fail(mcierr::kInvalidFile, path + QStringLiteral(": format %1, %2 bits, %3 channels")
                                                     .arg(layout->formatTag)
                                                     .arg(layout->bitsPerSample)
                                                     .arg(layout->channels));
    dev->layout = *layout;
    if (layout->dataSize > 0)
        dev->kept.push_back({layout->dataOffset, layout->dataSize});
    devices_.emplace(alias->toLower(), std::move(dev));
    return 0;
}

// delete NAME [from A] [to B] [wait]
int WaveCommands::doDelete(const QStringList& words) {
    if (words.size() < 2)
        return fail(mcierr::kMissingParameter, QStringLiteral("device name"));
    Device* dev = find(words[1]);
    if (!dev)
        return fail(mcierr::kInvalidDeviceName, words[1]);
    std::optional<std::uint64_t> from, to;
    for (qsizetype i = 2; i < words.size(); ++i) {
        if (is(words[i], "wait"))
            continue;
        std::optional<std::uint64_t>* slot = is(words[i], "from") ? &from
                                             : is(words[i], "to") ? &to
                                                                  : nullptr;
        if (!slot)
            return fail(mcierr::kUnrecognizedKeyword, words[i]);
        if (*slot)
            return fail(mcierr::kDuplicateFlags, words[i]);
        if (i + 1 >= words.size())
            return fail(mcierr::kMissingParameter, words[i]);
        const auto value = parseMs(words[++i]);
        if (!value)
            return fail(mcierr::kBadInteger, words[i]);
        *slot = value;
    }
    const std::uint64_t length = dev->lengthMs();
    const std::uint64_t a = from.value_or(0);
    const std::uint64_t b = to.value_or(length);
    if (a > b)
        return fail(mcierr::kOutOfRange, QStringLiteral("from %1 is after to %2").arg(a).arg(b));
    if (b > length)
        return fail(mcierr::kOutOfRange,
                    QStringLiteral("%1 ms is past the end (%2 ms)").arg(b).arg(length));
    dev->removeFrames(dev->frameAt(a), dev->frameAt(b));
    return 0;
}

// save NAME PATH [wait]
int WaveCommands::doSave(const QStringList& words) {
    if (words.size() < 2)
        return fail(mcierr::kMissingParameter, QStringLiteral("device name"));
    Device* dev = find(words[1]);
    if (!dev)
        return fail(mcierr::kInvalidDeviceName, words[1]);
    if (words.size() < 3 || words[2].isEmpty())
        return fail(mcierr::kFilenameRequired, {});
    const QString target = words[2];
    for (qsizetype i = 3; i < words.size(); ++i)
        if (!is(words[i], "wait"))
            return fail(mcierr::kUnrecognizedKeyword, words[i]);

    const std::uint64_t total = dev->bytes();
    if (total > WavHeader::kMaxDataSize)
        return fail(mcierr::kFileNotSaved,
                    QStringLiteral("%1 bytes of sound would pass the 4 GiB limit of a WAV file")
                        .arg(total));
    const auto& l = dev->layout;
    const auto header =
        WavHeader::pcm(l.channels, l.sampleRate, l.bitsPerSample, static_cast<std::uint32_t>(total))
            .toBytes();

    // The target may be a file that a device holds open. The saving device's own (the editor
    // cuts a working copy in place) is let go just before the rename, which an open file would
    // block on Windows, and read again afterwards. Another device's would lose its sound under
    // it, so that save is refused.
    const QFileInfo targetInfo(target);
    for (const auto& entry : devices_)
        if (entry.second.get() != dev && sameFile(targetInfo, entry.second->path))
            return fail(mcierr::kFileNotSaved,
                        QStringLiteral("%1 is open as %2").arg(target, entry.second->alias));
    const bool ownFile = sameFile(targetInfo, dev->path);

    AtomicFile out(target);
    QString why;
    if (!out.open(&why))
        return fail(mcierr::kFileNotSaved, why);
    if (!out.write(reinterpret_cast<const char*>(header.data()), qint64(header.size()), &why))
        return fail(mcierr::kFileWrite, why);

    std::vector<char> block(static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(total, 1), kCopyBlock)));
    for (const auto& r : dev->kept) {
        if (!dev->file.seek(static_cast<qint64>(r.offset)))
            return fail(mcierr::kFileRead,
                        dev->path + QStringLiteral(": ") + dev->file.errorString());
        std::uint64_t left = r.size;
        while (left > 0) {
            const auto want = static_cast<qint64>(std::min<std::uint64_t>(left, block.size()));
            const qint64 got = dev->file.read(block.data(), want);
            if (got != want)
                return fail(mcierr::kFileRead,
                            dev->path + QStringLiteral(": ") +
                                (got < 0 ? dev->file.errorString()
                                         : QStringLiteral("the file is shorter than when opened")));
            if (!out.write(block.data(), want, &why))
                return fail(mcierr::kFileWrite, why);
            left -= static_cast<std::uint64_t>(want);
        }
    }
    if (!ownFile) {
        if (!out.commit(&why))
            return fail(mcierr::kFileNotSaved, why);
        return 0;
    }

    dev->file.close();
    const bool saved = out.commit(&why);
    // After a failed save the old file is still there, with the device's ranges in it.
    if (!dev->file.open(QIODevice::ReadOnly)) {
        const QString reopen =
            dev->path + QStringLiteral(" cannot be read again: ") + dev->file.errorString();
        if (!saved)
            return fail(mcierr::kFileNotSaved, why + QStringLiteral("; ") + reopen);
        // The sound is saved, but the device has lost its file: later saves fail to read.
        return fail(mcierr::kFileRead, reopen);
    }
    if (!saved)
        return fail(mcierr::kFileNotSaved, why);
    // The device's sound is now the saved file's, all of it behind the 44-byte header.
    dev->layout.dataOffset = WavHeader::kSize;
    dev->layout.dataSize = total;
    dev->layout.fileSize = WavHeader::kSize + total;
    dev->layout.canonical = true;
    dev->kept.clear();
    if (total > 0)
        dev->kept.push_back({WavHeader::kSize, total});
    return 0;
}

// close NAME | close all [wait]
int WaveCommands::doClose(const QStringList& words) {
    if (words.size() < 2)
        return fail(mcierr::kMissingParameter, QStringLiteral("device name"));
    for (qsizetype i = 2; i < words.size(); ++i)
        if (!is(words[i], "wait"))
            return fail(mcierr::kUnrecognizedKeyword, words[i]);
    if (is(words[1], "all")) {
        devices_.clear();
        return 0;
    }
    const auto it = devices_.find(words[1].toLower());
    if (it == devices_.end())
        return fail(mcierr::kInvalidDeviceName, words[1]);
    devices_.erase(it);
    return 0;
}

} // namespace quaverly
