#pragma once
// How many threads a decode or an encode may spread over. Every core by default;
// QUAVERLY_CODEC_THREADS (1 to 64) sets it for a run, so benchmarks can show one thread beside
// all of them. Any thread may ask.

namespace quaverly {

int codecThreads();

// For tests: n > 0 replaces the setting until it is called with 0 again.
void setCodecThreadsForTesting(int n);

} // namespace quaverly
