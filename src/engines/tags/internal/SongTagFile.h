#pragma once
// A song's file opened by TagLib for its tags, of the kind its content shows: the one way the
// reading of a song's tags (SongTags.h) and of the tags a clip takes from it (ClipTags.h) find
// the kind of a file.

#include "engines/tags/SongTags.h"

#include <QByteArray>
#include <QString>

#include <fileref.h>
#include <tfilestream.h>

#include <memory>
#include <string>

namespace quaverly::tags {

// A path as TagLib takes it: wide characters on Windows, the file system's bytes elsewhere.
// Keeps the characters alive while TagLib holds the pointer.
class TagFileName {
public:
#ifdef _WIN32
    explicit TagFileName(const QString& path) : name_(path.toStdWString()) {}
    TagLib::FileName get() const {
        return name_.c_str();
    }

private:
    std::wstring name_;
#else
    explicit TagFileName(const QString& path);
    TagLib::FileName get() const {
        return name_.constData();
    }

private:
    QByteArray name_;
#endif
};

// The file at `path` opened read-only, its tags read (no audio properties). The kind is found
// from the content; kinds the content test does not know (APE, WavPack, Musepack, ...) are left
// to TagLib's own choice, by the name's extension and then by content. Only regular files are
// opened: reading a pipe or a device could block or never end.
class SongTagFile {
public:
    explicit SongTagFile(const QString& path);
    SongTagFile(const SongTagFile&) = delete;
    SongTagFile& operator=(const SongTagFile&) = delete;

    // Null when the file is not there, not regular, or of no kind TagLib reads.
    TagLib::File* file() const { return ref_.file(); }

private:
    // In this order: the file read from the stream goes first, the name TagLib holds last.
    TagFileName name_;
    std::unique_ptr<TagLib::FileStream> stream_;
    TagLib::FileRef ref_;
};

// The title, artist and album of every kind of tag the file holds, through its property map
// (tag() of a WAV file gives its ID3 chunk alone, not its RIFF INFO).
SongTags songTagsOf(const TagLib::File& file);

} // namespace quaverly::tags
