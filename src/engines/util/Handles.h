#pragma once
// Single owners of the C handles of libsndfile and libsoxr, shared by every reader, encoder and
// resampler of the program.

#include <sndfile.h>
#include <soxr.h>

#include <memory>
#include <type_traits>

namespace quaverly {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};
using SoxrPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

} // namespace quaverly
