#include "engines/util/CodecThreads.h"

#include <atomic>
#include <cstdlib>
#include <thread>

namespace quaverly {
namespace {

std::atomic<int> forTesting{0};

int fromEnvironment() {
    if (const char* v = std::getenv("QUAVERLY_CODEC_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n >= 1 && n <= 64)
            return static_cast<int>(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores > 64 ? 64 : cores);
}

} // namespace

int codecThreads() {
    const int n = forTesting.load(std::memory_order_relaxed);
    if (n > 0)
        return n;
    static const int configured = fromEnvironment();
    return configured;
}

void setCodecThreadsForTesting(int n) {
    forTesting.store(n > 0 ? n : 0, std::memory_order_relaxed);
}

} // namespace quaverly
