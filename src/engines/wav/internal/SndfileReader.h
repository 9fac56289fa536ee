#pragma once
// The one libsndfile reader of the program, for WAV files and whatever else libsndfile reads.
// Internal to the sound core: samples are read through SampleReader, which reads plain PCM itself
// and anything else through this, and songs through SongReader, whose WAV decoder uses it. Their
// Errors name the file; this only keeps the cause.
// The file is opened by path with QFile (paths behave alike on every platform, and a failed open
// says why) and handed to libsndfile through one virtual-I/O adapter. The adapter keeps the
// file's read error, so a read that fails is reported with its cause instead of passing for the
// end of the file; a file that ends before the frames its header announced (it shrank, or it is
// damaged) is reported as well.
//
// Not thread-safe; one reader per thread.

#include "engines/util/Handles.h"

#include <QFile>

#include <QString>
#include <vector>

#include <sndfile.h>

namespace quaverly {

class SndfileReader {
public:
    enum class Opened {
        Ok,
        CannotOpen, // missing, not a file, or the system refused it
        NotSound,   // libsndfile does not read it
    };

    SndfileReader() = default;
    SndfileReader(const SndfileReader&) = delete; // libsndfile holds its address
    SndfileReader& operator=(const SndfileReader&) = delete;

    // Opens `path`; on failure cause() tells why.
    Opened open(const QString& path);

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
    // Fewer only at the end of the sound; -1 on a read error, or when the file ends before the
    // frames announced (a known length), with cause() set.
    sf_count_t readShorts(short* out, sf_count_t frames);
    sf_count_t readFloats(float* out, sf_count_t frames);
    // Positions at `frame` (0 to info().frames); false with cause() set.
    bool seek(sf_count_t frame);

    // The cause of the last failure, without the file's name; empty while nothing failed.
    const QString& cause() const { return cause_; }
    // Whether the last read failed because the file ended before the frames announced.
    bool endedEarly() const { return endedEarly_; }

private:
    template <typename T, typename Read> sf_count_t read(T* out, sf_count_t frames, Read read);
    bool fail(const QString& cause);

    static sf_count_t vioLength(void* user);
    static sf_count_t vioSeek(sf_count_t offset, int whence, void* user);
    static sf_count_t vioRead(void* ptr, sf_count_t count, void* user);
    static sf_count_t vioWrite(const void* ptr, sf_count_t count, void* user);
    static sf_count_t vioTell(void* user);
    bool surveyChunks();

    QFile file_; // outlives snd_, which reads through it (members go in reverse order)
    SndfilePtr snd_;
    SF_INFO info_{};
    sf_count_t position_ = 0; // the frame the next read starts at
    QString readError_;       // the file's first failed read, kept by vioRead
    QString cause_;
    bool endedEarly_ = false;
    std::vector<qint64> lists_; // where the LIST chunks before the samples begin: see
    qint64 viewEnd_ = 0;        // surveyChunks(), and where the view libsndfile reads ends
};

} // namespace quaverly
