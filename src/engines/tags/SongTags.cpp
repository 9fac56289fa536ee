#include "engines/tags/SongTags.h"

#include <QFile>
#include <QFileInfo>

#include <aifffile.h>
#include <asffile.h>
#include <fileref.h>
#include <flacfile.h>
#include <id3v2framefactory.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <oggflacfile.h>
#include <opusfile.h>
#include <tfilestream.h>
#include <tpropertymap.h>
#include <vorbisfile.h>
#include <wavfile.h>

#include <memory>
#include <string>

namespace quaverly {
namespace {

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
    explicit TagFileName(const QString& path) : name_(QFile::encodeName(path)) {}
    TagLib::FileName get() const {
        return name_.constData();
    }

private:
    QByteArray name_;
#endif
};

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

// Through the file's property map rather than its tag(): that gives every kind of tag the file
// holds, where tag() of a WAV file gives its ID3 chunk alone and not its RIFF INFO.
SongTags tagsOf(const TagLib::FileRef& ref) {
    if (ref.isNull())
        return {};
    const TagLib::PropertyMap tags = ref.file()->properties();
    return {field(tags, "TITLE"), field(tags, "ARTIST"), field(tags, "ALBUM")};
}

} // namespace

SongTags readSongTags(const QString& path) {
    // Only regular files: reading a pipe or a device could block or never end.
    if (!QFileInfo(path).isFile())
        return {};
    const TagFileName name(path);
    // The stream outlives the file read from it: TagLib's files do not own their stream.
    TagLib::FileStream stream(name.get(), /*openReadOnly=*/true);
    if (!stream.isOpen())
        return {};
    if (std::unique_ptr<TagLib::File> file = openByContent(&stream)) {
        const TagLib::FileRef ref(file.release());
        return tagsOf(ref);
    }
    // Kinds the test above does not know (APE, WavPack, Musepack, ...): TagLib's own choice, by
    // the name's extension and then by content.
    return tagsOf(TagLib::FileRef(name.get(), /*readAudioProperties=*/false));
}

} // namespace quaverly
