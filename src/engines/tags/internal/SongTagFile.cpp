#include "engines/tags/internal/SongTagFile.h"

#include <QFile>
#include <QFileInfo>

#include <aifffile.h>
#include <asffile.h>
#include <flacfile.h>
#include <id3v2framefactory.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <oggflacfile.h>
#include <opusfile.h>
#include <tpropertymap.h>
#include <vorbisfile.h>
#include <wavfile.h>

namespace quaverly::tags {
namespace {

// The file of the kind the stream's bytes show, for its tags only (no audio properties); null
// when none of these kinds claims it. The tests that look for a signature at a fixed place come
// first; MPEG audio last, since its test looks for a frame header anywhere in the first
// kilobyte, which other kinds' bytes can hold by chance.
std::unique_ptr<TagLib::File> openByContent(TagLib::IOStream* s) {
    using namespace TagLib;
    constexpr bool kNoProperties = false;
    ID3v2::FrameFactory* id3 = ID3v2::FrameFactory::instance();
    if (FLAC::File::isSupported(s))
        return std::make_unique<FLAC::File>(s, id3, kNoProperties);
    if (Ogg::Vorbis::File::isSupported(s))
        return std::make_unique<Ogg::Vorbis::File>(s, kNoProperties);
    if (Ogg::Opus::File::isSupported(s))
        return std::make_unique<Ogg::Opus::File>(s, kNoProperties);
    if (Ogg::FLAC::File::isSupported(s))
        return std::make_unique<Ogg::FLAC::File>(s, kNoProperties);
    if (MP4::File::isSupported(s))
        return std::make_unique<MP4::File>(s, kNoProperties);
    if (ASF::File::isSupported(s))
        return std::make_unique<ASF::File>(s, kNoProperties);
    if (RIFF::AIFF::File::isSupported(s))
        return std::make_unique<RIFF::AIFF::File>(s, kNoProperties);
    if (RIFF::WAV::File::isSupported(s))
        return std::make_unique<RIFF::WAV::File>(s, kNoProperties);
    if (MPEG::File::isSupported(s))
        return std::make_unique<MPEG::File>(s, id3, kNoProperties);
    return nullptr;
}

// One field of the tags, its values joined (a Vorbis comment may name several artists).
QString field(const TagLib::PropertyMap& tags, const char* key) {
    const auto found = tags.find(key);
    if (found == tags.end())
        return QString();
    return QString::fromUtf8(found->second.toString(", ").to8Bit(/*unicode=*/true)).trimmed();
}

} // namespace

#ifndef _WIN32
TagFileName::TagFileName(const QString& path) : name_(QFile::encodeName(path)) {}
#endif

SongTagFile::SongTagFile(const QString& path) : name_(path) {
    if (!QFileInfo(path).isFile())
        return;
    stream_ = std::make_unique<TagLib::FileStream>(name_.get(), /*openReadOnly=*/true);
    if (!stream_->isOpen())
        return;
    if (std::unique_ptr<TagLib::File> file = openByContent(stream_.get()))
        ref_ = TagLib::FileRef(file.release());
    else
        ref_ = TagLib::FileRef(name_.get(), /*readAudioProperties=*/false);
}

SongTags songTagsOf(const TagLib::File& file) {
    const TagLib::PropertyMap tags = file.properties();
    return {field(tags, "TITLE"), field(tags, "ARTIST"), field(tags, "ALBUM")};
}

} // namespace quaverly::tags
