#include "engines/tags/ClipTags.h"

#include "engines/tags/internal/DescriptorStream.h"
#include "engines/tags/internal/SongTagFile.h"
#include "engines/util/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

#include <aifffile.h>
#include <asffile.h>
#include <attachedpictureframe.h>
#include <flacfile.h>
#include <flacpicture.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <textidentificationframe.h>
#include <vorbisfile.h>
#include <wavfile.h>
#include <xiphcomment.h>

#include <algorithm>
#include <array>
#include <vector>

namespace quaverly {
namespace {

using namespace TagLib;

const QString kJpeg = QStringLiteral("image/jpeg");
const QString kPng = QStringLiteral("image/png");

// The kind of a picture from its first bytes: JPEG or PNG, the two every player shows and every
// tag can name; empty for any other.
QString pictureKind(const char* data, std::size_t size) {
    const QByteArray head =
        QByteArray::fromRawData(data, qsizetype(std::min<std::size_t>(size, 8)));
    if (head.startsWith("\xFF\xD8\xFF"))
        return kJpeg;
    if (head.startsWith("\x89PNG\r\n\x1A\n"))
        return kPng;
    return {};
}

struct Picture {
    bool front; // said to be the front cover
    ByteVector data;
};

void addId3Pictures(const ID3v2::Tag* tag, std::vector<Picture>& found) {
    if (!tag)
        return;
    for (ID3v2::Frame* frame : tag->frameList("APIC")) {
        if (const auto* apic = dynamic_cast<const ID3v2::AttachedPictureFrame*>(frame))
            found.push_back(
                {apic->type() == ID3v2::AttachedPictureFrame::FrontCover, apic->picture()});
    }
}

void addFlacPictures(const List<FLAC::Picture*>& pictures, std::vector<Picture>& found) {
    for (const FLAC::Picture* p : pictures)
        found.push_back({p->type() == FLAC::Picture::FrontCover, p->data()});
}

// The pictures in whatever tags the file holds: ID3v2 (MP3, WAV, AIFF, FLAC), MP4 covr items
// (which say nothing of what they show), FLAC picture blocks, Vorbis comments
// (METADATA_BLOCK_PICTURE) and ASF attributes.
std::vector<Picture> picturesOf(File& file) {
    std::vector<Picture> found;
    if (auto* mpeg = dynamic_cast<MPEG::File*>(&file)) {
        addId3Pictures(mpeg->hasID3v2Tag() ? mpeg->ID3v2Tag() : nullptr, found);
    } else if (auto* wav = dynamic_cast<RIFF::WAV::File*>(&file)) {
        addId3Pictures(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr, found);
    } else if (auto* aiff = dynamic_cast<RIFF::AIFF::File*>(&file)) {
        addId3Pictures(aiff->hasID3v2Tag() ? aiff->tag() : nullptr, found);
    } else if (auto* flac = dynamic_cast<FLAC::File*>(&file)) {
        addFlacPictures(flac->pictureList(), found);
        if (flac->hasXiphComment())
            addFlacPictures(flac->xiphComment()->pictureList(), found);
        addId3Pictures(flac->hasID3v2Tag() ? flac->ID3v2Tag() : nullptr, found);
    } else if (auto* mp4 = dynamic_cast<MP4::File*>(&file)) {
        if (mp4->hasMP4Tag()) {
            for (const MP4::CoverArt& art : mp4->tag()->item("covr").toCoverArtList())
                found.push_back({false, art.data()});
        }
    } else if (auto* asf = dynamic_cast<ASF::File*>(&file)) {
        for (const ASF::Attribute& a : asf->tag()->attribute("WM/Picture")) {
            if (const ASF::Picture p = a.toPicture(); p.isValid())
                found.push_back({p.type() == ASF::Picture::FrontCover, p.picture()});
        }
    } else if (auto* comment = dynamic_cast<Ogg::XiphComment*>(file.tag())) {
        addFlacPictures(comment->pictureList(), found);
    }
    return found;
}

// The front cover, else the first picture, of the kinds pictureKind() knows.
void takeCover(const std::vector<Picture>& pictures, ClipTags& tags) {
    for (const bool frontOnly : {true, false}) {
        for (const Picture& p : pictures) {
            const QString kind = pictureKind(p.data.data(), p.data.size());
            if (kind.isEmpty() || (frontOnly && !p.front))
                continue;
            tags.cover = QByteArray(p.data.data(), qsizetype(p.data.size()));
            tags.coverMime = kind;
            return;
        }
    }
}

} // namespace

ClipTags clipTagsFrom(const QString& songPath) {
    ClipTags tags;
    const tags::SongTagFile song(songPath);
    if (File* file = song.file()) {
        const SongTags text = tags::songTagsOf(*file);
        tags.title = text.title;
        tags.artist = text.artist;
        tags.album = text.album;
        takeCover(picturesOf(*file), tags);
    }
    if (tags.title.isEmpty())
        tags.title = QFileInfo(songPath).completeBaseName();
    return tags;
}

namespace {

String tagText(const QString& text) {
    return String(text.toStdString(), String::UTF8);
}

ByteVector tagBytes(const QByteArray& bytes) {
    return ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size()));
}

// One text field under its name in each kind of tag.
struct Field {
    const char* id3;
    const char* mp4;
    const char* xiph;
    const QString& text;
};

std::array<Field, 4> fieldsOf(const ClipTags& t) {
    return {{{"TIT2", "\251nam", "TITLE", t.title},
             {"TPE1", "\251ART", "ARTIST", t.artist},
             {"TALB", "\251alb", "ALBUM", t.album},
             {"TCON", "\251gen", "GENRE", t.genre}}};
}

// The cover's kind: what its bytes show, else what the tags say.
QString coverMime(const ClipTags& t) {
    const QString kind = pictureKind(t.cover.constData(), std::size_t(t.cover.size()));
    return kind.isEmpty() ? t.coverMime : kind;
}

// Whether a tag of this kind would say anything: empty fields are not written, and a file gets
// no tag at all when all of them are empty.
bool hasAnything(TagKind kind, const ClipTags& t) {
    for (const Field& f : fieldsOf(t)) {
        if (!f.text.isEmpty())
            return true;
    }
    return !t.cover.isEmpty() || (kind == TagKind::Mp4 && t.gapless) ||
           (kind == TagKind::Ogg && t.androidLoop);
}

// iTunes' own layout of the item: twelve words of uppercase hex, each after a space: zero, the
// priming, the padding, the frames of the sound (16 digits), then eight zeros.
QString iTunSmpb(const AacGapless& g) {
    return QString::asprintf(" 00000000 %08X %08X %016llX", unsigned(g.delay), unsigned(g.padding),
                             static_cast<unsigned long long>(g.frames)) +
           QStringLiteral(" 00000000").repeated(8);
}

FLAC::Picture* flacPicture(const ClipTags& t) {
    auto* p = new FLAC::Picture;
    p->setType(FLAC::Picture::FrontCover);
    p->setMimeType(tagText(coverMime(t)));
    p->setData(tagBytes(t.cover));
    return p;
}

// Fills a Vorbis comment (Ogg Vorbis, Opus, FLAC); a FLAC file keeps its picture in a block
// of its own, an Ogg stream in the comment.
void fillComment(Ogg::XiphComment& c, const ClipTags& t, bool androidLoop, bool pictureHere) {
    for (const Field& f : fieldsOf(t)) {
        if (!f.text.isEmpty())
            c.addField(f.xiph, tagText(f.text), /*replace=*/true);
    }
    if (androidLoop)
        c.addField("ANDROID_LOOP", "true", /*replace=*/true);
    if (pictureHere && !t.cover.isEmpty()) {
        c.removeAllPictures();
        c.addPicture(flacPicture(t)); // the comment owns it
    }
}

// Each writer gives the cause when the file refuses the tags; empty once saved.
const QString kNotWritten = QStringLiteral("the tags could not be written");

QString notA(const char* what) {
    return kNotWritten + QStringLiteral(": it is not ") + QLatin1String(what);
}

QString writeId3v2(IOStream& s, const ClipTags& t) {
    if (!MPEG::File::isSupported(&s))
        return notA("an MPEG audio file");
    MPEG::File file(&s, ID3v2::FrameFactory::instance(), /*readProperties=*/false);
    if (!file.isValid())
        return notA("an MPEG audio file");
    ID3v2::Tag* tag = file.ID3v2Tag(/*create=*/true);
    for (const Field& f : fieldsOf(t)) {
        if (f.text.isEmpty())
            continue;
        tag->removeFrames(f.id3);
        auto* frame = new ID3v2::TextIdentificationFrame(f.id3, String::UTF8);
        frame->setText(tagText(f.text));
        tag->addFrame(frame); // the tag owns it
    }
    if (!t.cover.isEmpty()) {
        tag->removeFrames("APIC");
        auto* apic = new ID3v2::AttachedPictureFrame;
        apic->setType(ID3v2::AttachedPictureFrame::FrontCover);
        apic->setMimeType(tagText(coverMime(t)));
        apic->setPicture(tagBytes(t.cover));
        tag->addFrame(apic);
    }
    const bool saved =
        file.save(MPEG::File::ID3v2, File::StripOthers, ID3v2::v4, File::DoNotDuplicate);
    return saved ? QString() : kNotWritten;
}

QString writeMp4(IOStream& s, const ClipTags& t) {
    MP4::File file(&s, /*readProperties=*/false);
    if (!file.isValid())
        return notA("an MP4 file");
    MP4::Tag* tag = file.tag();
    for (const Field& f : fieldsOf(t)) {
        if (!f.text.isEmpty())
            tag->setItem(f.mp4, StringList(tagText(f.text)));
    }
    const QString mime = coverMime(t);
    if (!t.cover.isEmpty() && (mime == kJpeg || mime == kPng)) {
        MP4::CoverArtList covers;
        covers.append(MP4::CoverArt(mime == kJpeg ? MP4::CoverArt::JPEG : MP4::CoverArt::PNG,
                                    tagBytes(t.cover)));
        tag->setItem("covr", covers);
    }
    if (t.gapless)
        tag->setItem("----:com.apple.iTunes:iTunSMPB", StringList(tagText(iTunSmpb(*t.gapless))));
    return file.save() ? QString() : kNotWritten;
}

QString writeOgg(IOStream& s, const ClipTags& t) {
    // Vorbis or Opus by the stream's first packet, as the reader tells them.
    const auto write = [&t](Ogg::File& file, Ogg::XiphComment* comment) {
        if (!file.isValid() || !comment)
            return notA("an Ogg Vorbis or Opus file");
        fillComment(*comment, t, t.androidLoop, /*pictureHere=*/true);
        return file.save() ? QString() : kNotWritten;
    };
    if (Ogg::Vorbis::File::isSupported(&s)) {
        Ogg::Vorbis::File file(&s, /*readProperties=*/false);
        return write(file, file.tag());
    }
    if (Ogg::Opus::File::isSupported(&s)) {
        Ogg::Opus::File file(&s, /*readProperties=*/false);
        return write(file, file.tag());
    }
    return notA("an Ogg Vorbis or Opus file");
}

QString writeFlac(IOStream& s, const ClipTags& t) {
    FLAC::File file(&s, ID3v2::FrameFactory::instance(), /*readProperties=*/false);
    if (!file.isValid())
        return notA("a FLAC file");
    fillComment(*file.xiphComment(/*create=*/true), t, /*androidLoop=*/false,
                /*pictureHere=*/false);
    if (!t.cover.isEmpty()) {
        file.removePictures();
        file.addPicture(flacPicture(t)); // the file owns it
    }
    return file.save() ? QString() : kNotWritten;
}

QString writeKind(IOStream& s, TagKind kind, const ClipTags& t) {
    switch (kind) {
    case TagKind::Id3v2:
        return writeId3v2(s, t);
    case TagKind::Mp4:
        return writeMp4(s, t);
    case TagKind::Ogg:
        return writeOgg(s, t);
    case TagKind::Flac:
        return writeFlac(s, t);
    }
    return kNotWritten;
}

} // namespace

std::vector<QByteArray> oggCommentFields(const ClipTags& tags) {
    std::vector<QByteArray> fields;
    if (!hasAnything(TagKind::Ogg, tags))
        return fields;
    Ogg::XiphComment comment;
    fillComment(comment, tags, tags.androidLoop, /*pictureHere=*/true);
    for (const auto& [key, values] : comment.fieldListMap()) {
        for (const String& value : values)
            fields.push_back(QByteArray(key.toCString(true)) + '=' + value.toCString(true));
    }
    for (const FLAC::Picture* picture : comment.pictureList()) {
        const ByteVector block = picture->render();
        fields.push_back("METADATA_BLOCK_PICTURE=" +
                         QByteArray(block.data(), qsizetype(block.size())).toBase64());
    }
    return fields;
}

Status writeClipTags(AtomicFile& out, TagKind kind, const ClipTags& tags) {
    if (!hasAnything(kind, tags))
        return {};
    const Result<int> fd = out.flushedDescriptor();
    if (!fd)
        return fd.error();
    tags::DescriptorStream stream(*fd, out.target().toUtf8());
    const QString refused = writeKind(stream, kind, tags);
    // A failed read or write of the file says more than the refusal it led to.
    if (!stream.failure().isEmpty())
        return Error(out.target(), stream.failure());
    if (!refused.isEmpty())
        return Error(out.target(), refused);
    return {};
}

} // namespace quaverly
