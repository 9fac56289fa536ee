#pragma once
// One libmp3lame encoder set up like `lame -b N` for a source it need not resample: exact CBR,
// mono as mono and stereo as joint stereo. It owns its handle and may live on any one thread at a
// time; several encoders may run at once on different threads.

#include "engines/util/Error.h"

#include <lame/lame.h>

#include <memory>
#include <vector>

namespace quaverly::mp3 {

class LameEncoder {
public:
    // `tagFrame`: LAME writes a placeholder for its tag frame first (see tagFrame()).
    // `replayGain`: LAME measures the loudness for its tag, as the lame command does.
    // A failure's Error names no file.
    Status open(int sampleRate, int channels, int kbps, bool tagFrame, bool replayGain);

    // Encodes interleaved float frames (full scale +-1), appending what LAME gives back to out.
    Status encode(const float* frames, std::size_t count, std::vector<unsigned char>& out);
    // Ends the stream, appending the last frames to out.
    Status flush(std::vector<unsigned char>& out);
    // LAME's final tag frame, to be written over the placeholder; empty when there is none.
    std::vector<unsigned char> tagFrame();

private:
    struct Closer {
        void operator()(lame_global_flags* gf) const { lame_close(gf); }
    };
    std::unique_ptr<lame_global_flags, Closer> gf_;
    int channels_ = 1;
    std::vector<float> left_, right_;
};

} // namespace quaverly::mp3
