#pragma once
// A decode-only file stream: a WAV or MPEG audio file read as 16-bit PCM by the caller, block by
// block, through BASS_ChannelGetData.

#include "engines/bass/BassInternal.h"
#include "engines/bass/Decoder.h"

#include <memory>
#include <string>

namespace quaverly::bass::detail {

class FileStream final : public Channel {
public:
    // Detects the kind of file by its content, not its name: a RIFF/WAVE file goes to
    // libsndfile, anything else to libmpg123. Null (with the error set) when the file cannot be
    // opened or holds no audio this layer reads.
    static std::unique_ptr<FileStream> open(const char* path);

    // `name` names the file in error texts.
    FileStream(std::unique_ptr<Decoder> decoder, std::string name);

    BASS_CHANNELINFO info() const override;
    bool channelsChange() const override { return decoder_->format().channelsChange; }
    // BASS_ACTIVE_PLAYING until every byte of length() has been delivered (or stop()); a stream
    // whose decoder failed stays active, and getData() keeps saying why.
    DWORD isActive() const override;
    QWORD position() const override { return position_; }
    // Exactly frames × channels × 2 bytes, known at open.
    QWORD length() const override { return length_; }
    // Whole frames only: `length` is rounded down to a multiple of the frame size. Should the
    // decoder stop before length() (a read error, a file that shrank or is damaged), what it
    // decoded is delivered and from then on every call fails with BASS_ERROR_NOTAVAIL and a text
    // naming the file and the cause, until setPosition().
    DWORD getData(void* buffer, DWORD length) override;
    // Any byte position up to length(); rounded down to a whole frame.
    bool setPosition(QWORD position) override;
    bool play(bool restart) override;
    // Ends the stream: nothing more is delivered until setPosition().
    bool stop() override;

private:
    std::unique_ptr<Decoder> decoder_;
    std::string name_;
    DWORD frameBytes_;
    QWORD length_;
    QWORD position_ = 0;
    bool stopped_ = false;
    std::string failure_; // why the decoder stopped early; empty while it has not
};

} // namespace quaverly::bass::detail
