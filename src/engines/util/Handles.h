#pragma once
// The single owner of libsndfile's C handle, shared by every reader and encoder of the program.

#include <sndfile.h>

#include <memory>

namespace quaverly {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

} // namespace quaverly
