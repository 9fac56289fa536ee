#pragma once
// The one libsndfile reader of the program, for WAV files and whatever else libsndfile reads.
// Internal to the sound core: samples are read through SampleReader, which reads plain PCM itself
// and anything else through this, and songs through SongReader, whose WAV decoder uses it. Their
// Errors name the file; this one's hold the cause alone, with the code of its kind.
// The file is opened by path with QFile (paths behave alike on every platform, and a failed open
// says why) and handed to libsndfile through one virtual-I/O adapter. The adapter catches the
// file's read error during each call into libsndfile, so a read that fails is reported with its
// cause instead of passing for the end of the file; a file that ends before the frames its
// header announced (it shrank, or it is damaged) is reported as well.
//
// Not thread-safe; one reader per thread.

#include "engines/util/Error.h"
#include "engines/util/Handles.h"

#include <QFile>

#include <QString>
#include <vector>

#include <sndfile.h>

namespace quaverly {

class SndfileReader {
public:
    SndfileReader() = default;
    SndfileReader(const SndfileReader&) = delete; // libsndfile holds its address
    SndfileReader& operator=(const SndfileReader&) = delete;

    // Opens `path`. Failures: sound::kFileOpen, missing, not a file, or the system refused it;
    // sound::kFileForm, libsndfile does not read it.
    Status open(const QString& path);

    // Format, rate, channels and frames, as libsndfile found them at open.
    const SF_INFO& info() const { return info_; }
    // Whether info().frames is the length: libsndfile gives SF_COUNT_MAX for a stream whose
    // length it cannot find (an Ogg file with bytes after its last page, a FLAC stream that
    // states no length). Such a sound ends where its reads end.
    bool lengthKnown() const { return info_.frames != SF_COUNT_MAX; }
    qint64 fileSize() const { return file_.size(); }
    // For sf_command queries of the open file (channel map, ...); null when none is open.
    SNDFILE* handle() const { return snd_.get(); }

    // Read up to `frames` interleaved frames into `out`: 16-bit as libsndfile scales them
    // (8-bit: (u - 128) x 256; deeper samples lose their low bits), or float with full scale +-1.
    // Fewer only at the end of the sound. Failures give none of the call's frames:
    // sound::kFileOpen, a read error or libsndfile's; sound::kNotAvail, the file ends before the
    // frames announced (a known length).
    Result<sf_count_t> readShorts(short* out, sf_count_t frames);
    Result<sf_count_t> readFloats(float* out, sf_count_t frames);
    // Positions at `frame` (0 to info().frames).
    Status seek(sf_count_t frame);

private:
    template <typename T, typename Read>
    Result<sf_count_t> read(T* out, sf_count_t frames, Read read);
    // After a call into libsndfile: the file's read error during it, else libsndfile's own.
    Status afterCall(bool failed) const;

    static sf_count_t vioLength(void* user);
    static sf_count_t vioSeek(sf_count_t offset, int whence, void* user);
    static sf_count_t vioRead(void* ptr, sf_count_t count, void* user);
    static sf_count_t vioWrite(const void* ptr, sf_count_t count, void* user);
    static sf_count_t vioTell(void* user);
    bool surveyChunks();

    QFile file_; // outlives snd_, which reads through it (members go in reverse order)
    SndfilePtr snd_;
    SF_INFO info_{};
    sf_count_t position_ = 0;   // the frame the next read starts at
    QString readError_;         // the first failed read of the current call, kept by vioRead
    std::vector<qint64> lists_; // where the LIST chunks before the samples begin: see
    qint64 viewEnd_ = 0;        // surveyChunks(), and where the view libsndfile reads ends
};

} // namespace quaverly
