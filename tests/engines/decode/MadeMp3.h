#pragma once
// MP3 files made at run time with lame and ffmpeg, in the odd ways real files come: any rate from
// 8 to 48 kHz, mono or stereo, CBR or VBR, with or without a Xing/LAME/Info tag, a tag whose
// counts are off, cut short, with ID3v2/ID3v1/APEv2 tags, glued, damaged, a few frames long.

#include "DecodeTestUtil.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>

namespace made_mp3 {

using decode_test::readAll;
using decode_test::writeAll;
using quaverly::test::runPeer;

enum class Coder {
    LameCbr,
    LameVbr,
    LameCbrNoTag,
    LameVbrNoTag,
    LameCrc,        // every frame with a CRC
    LameFreeFormat, // bit rate index 0
    FfmpegCbr,
    FfmpegVbrNoXing,
    FfmpegLayer2,
};
enum class Change {
    None,
    TagMoreFrames,  // the Xing/Info tag announces more frames than the stream has
    TagFewerFrames, // ... fewer
    TagBytesOff,    // its byte count is wrong
    CutShort,       // the file ends inside a frame, well before the tag's end
    Id3v2,          // a tag of a given size before the stream
    Id3v1,          // "TAG" and 125 bytes after it
    Ape,            // an APEv2 tag (items and footer) after it
    AllTags,        // ID3v2 before, APEv2 and ID3v1 after
    Glued,          // the file twice, one copy after the other, tags and all
    JunkInside,     // a false frame header and junk between two frames, halfway
    Damaged,        // bytes of frames a third of the way in overwritten
};

struct Made {
    const char* name;
    int rate;
    int channels;
    Coder coder;
    Change change = Change::None;
    int samples = 0; // 0: 0.4 s
};

inline std::ostream& operator<<(std::ostream& os, const Made& m) {
    return os << m.name;
}

// A sound that keeps the encoder busy: two tones and some noise, different on each side.
inline bool makeSource(const Made& m, const QString& wav) {
    const int samples = m.samples ? m.samples : m.rate * 2 / 5;
    const QString left = "0.4*sin(2*PI*440*t)+0.2*sin(2*PI*1500*t*t)+0.05*(random(0)-0.5)";
    const QString right = "0.3*sin(2*PI*660*t)+0.1*(random(1)-0.5)";
    const QString expr = m.channels == 1 ? left : left + "|" + right;
    return runPeer("ffmpeg",
                   {"-v", "error", "-y", "-f", "lavfi", "-i",
                    QString("aevalsrc=%1:s=%2:n=%3").arg(expr).arg(m.rate).arg(samples), "-t",
                    QString::number(double(samples) / m.rate, 'f', 6), "-c:a", "pcm_s16le", wav})
        .ok();
}

inline bool encode(const Made& m, const QString& wav, const QString& mp3) {
    const QStringList lame{"--quiet", "-m", m.channels == 1 ? "m" : "j", "--resample",
                           QString::number(m.rate / 1000.0)};
    const QStringList ffmpeg{"-v", "error", "-y", "-i", wav};
    QString program = "lame";
    QStringList args;
    switch (m.coder) {
    case Coder::LameCbr:
        args = lame + QStringList{"-b", "64"};
        break;
    case Coder::LameVbr:
        args = lame + QStringList{"-V", "4"};
        break;
    case Coder::LameCbrNoTag:
        args = lame + QStringList{"-t", "-b", "64"};
        break;
    case Coder::LameVbrNoTag:
        args = lame + QStringList{"-t", "-V", "4"};
        break;
    case Coder::LameCrc:
        args = lame + QStringList{"-p", "-V", "4"};
        break;
    case Coder::LameFreeFormat:
        args = lame + QStringList{"--freeformat", "-b", "400"};
        break;
    case Coder::FfmpegCbr:
        program = "ffmpeg";
        args = ffmpeg + QStringList{"-c:a", "libmp3lame", "-b:a", "64k"};
        break;
    case Coder::FfmpegVbrNoXing:
        program = "ffmpeg";
        args = ffmpeg + QStringList{"-c:a", "libmp3lame", "-q:a", "5", "-write_xing", "0"};
        break;
    case Coder::FfmpegLayer2:
        program = "ffmpeg";
        args = ffmpeg + QStringList{"-c:a", "mp2", "-b:a", "64k", "-f", "mp2"};
        break;
    }
    if (program == "lame")
        args << wav;
    return runPeer(program, args << mp3).ok();
}

// Adds `delta` to a field of the Xing/Info tag: 0 the frame count, 1 the byte count.
inline bool patchTag(QByteArray& b, int field, int delta) {
    qsizetype at = b.indexOf("Xing");
    if (at < 0 || at > 200)
        at = b.indexOf("Info");
    if (at < 0 || at > 200)
        return false;
    const std::uint32_t flags = static_cast<std::uint8_t>(b[at + 7]);
    if (!(flags & (1u << field)))
        return false;
    const qsizetype p = at + 8 + (field == 1 && (flags & 1) ? 4 : 0);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = (v << 8) | static_cast<std::uint8_t>(b[p + i]);
    v = static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t(v) + delta));
    for (int i = 3; i >= 0; --i, v >>= 8)
        b[p + i] = static_cast<char>(v & 0xFF);
    return true;
}

inline QByteArray id3v2(int size) {
    QByteArray t("ID3\x03\x00\x00", 6);
    for (int shift = 21; shift >= 0; shift -= 7)
        t += static_cast<char>((size >> shift) & 0x7F);
    const QByteArray title = QByteArray("\x00", 1) + "A song title";
    t += "TIT2" + QByteArray("\x00\x00\x00", 3) + char(title.size()) + QByteArray(2, '\0') + title;
    return t + QByteArray(10 + size - t.size(), '\0'); // padding
}

inline QByteArray id3v1() {
    QByteArray t = "TAG" + QByteArray("A song title").leftJustified(30, '\0');
    return t.leftJustified(128, '\x01');
}

inline QByteArray apeV2() {
    auto le32 = [](std::uint32_t v) {
        QByteArray b(4, '\0');
        for (int i = 0; i < 4; ++i, v >>= 8)
            b[i] = static_cast<char>(v & 0xFF);
        return b;
    };
    const QByteArray value = "A song title";
    const QByteArray item = le32(value.size()) + le32(0) + "Title" + QByteArray(1, '\0') + value;
    return item + "APETAGEX" + le32(2000) + le32(item.size() + 32) + le32(1) + le32(0) +
           QByteArray(8, '\0');
}

// Makes the case's file; false (with a failure added) when the tools or the recipe fail.
inline bool make(const Made& m, const QString& dir, QString* path) {
    const QString wav = dir + "/source.wav", mp3 = dir + "/made.mp3";
    if (!makeSource(m, wav) || !encode(m, wav, mp3)) {
        ADD_FAILURE() << "could not make " << m.name;
        return false;
    }
    QByteArray b = readAll(mp3);
    bool ok = true;
    switch (m.change) {
    case Change::None:
        break;
    case Change::TagMoreFrames:
        ok = patchTag(b, 0, 10);
        break;
    case Change::TagFewerFrames:
        ok = patchTag(b, 0, -5);
        break;
    case Change::TagBytesOff:
        ok = patchTag(b, 1, 5000);
        break;
    case Change::CutShort:
        b.truncate(b.size() * 3 / 5);
        break;
    case Change::Id3v2:
        b = id3v2(1000) + b;
        break;
    case Change::Id3v1:
        b += id3v1();
        break;
    case Change::Ape:
        b += apeV2();
        break;
    case Change::AllTags:
        b = id3v2(300) + b + apeV2() + id3v1();
        break;
    case Change::Glued:
        b += b;
        break;
    case Change::JunkInside:
        b.insert(b.size() / 2, QByteArray::fromHex("fffb9044") + QByteArray(600, '\x5a'));
        break;
    case Change::Damaged:
        for (qsizetype i = b.size() / 3; i < b.size() / 3 + 40; ++i)
            b[i] = static_cast<char>(b[i] ^ 0x5A);
        break;
    }
    if (!ok) {
        ADD_FAILURE() << m.name << ": no Xing/Info tag field to change";
        return false;
    }
    *path = dir + "/" + m.name + ".mp3";
    writeAll(*path, b);
    return true;
}

} // namespace made_mp3
