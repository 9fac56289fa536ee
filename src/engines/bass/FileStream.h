#pragma once
// A decode-only file stream: a WAV or MPEG audio file read as 16-bit PCM by the caller, block by
// block, through BASS_ChannelGetData.

#include "engines/bass/BassInternal.h"
#include "engines/bass/Decoder.h"

#include <memory>

namespace quaverly::bass::detail {

class FileStream final : public Channel {
public:
    // Detects the kind of file by its content, not its name: a RIFF/WAVE file goes to
    // libsndfile, anything else to libmpg123. Null (with the error set) when the file cannot be
    // opened or holds no audio this layer reads.
    static std::unique_ptr<FileStream> open(const char* path);

    explicit FileStream(std::unique_ptr<Decoder> decoder);

    BASS_CHANNELINFO info() const override;
    // BASS_ACTIVE_PLAYING until every byte of length() has been delivered (or stop()).
    DWORD isActive() const override;
    QWORD position() const override { return position_; }
    // Exactly frames × channels × 2 bytes, known at open. The stream delivers exactly this
    // many bytes: should the decoder fall short (a damaged file), the rest is silence.
    QWORD length() const override { return length_; }
    // Whole frames only: `length` is rounded down to a multiple of the frame size.
    DWORD getData(void* buffer, DWORD length) override;
    // Any byte position up to length(); rounded down to a whole frame.
    bool setPosition(QWORD position) override;
    bool play(bool restart) override;
    // Ends the stream: nothing more is delivered until setPosition().
    bool stop() override;

private:
    std::unique_ptr<Decoder> decoder_;
    DWORD frameBytes_;
    QWORD length_;
    QWORD position_ = 0;
    bool stopped_ = false;
    bool shortfallReported_ = false;
};

} // namespace quaverly::bass::detail
