#pragma once
// A fixed-size byte ring for exactly one producer thread and one consumer thread. Neither side
// ever blocks or allocates: the storage is allocated once by the constructor, and the two sides
// meet only through two monotonic counters.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace quaverly {

class SpscRing {
public:
    explicit SpscRing(std::size_t capacity)
        : data_(std::make_unique<std::uint8_t[]>(capacity)), capacity_(capacity) {}
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    // Producer side: room left for write().
    std::size_t freeSpace() const {
        return capacity_ - static_cast<std::size_t>(head_.load(std::memory_order_relaxed) -
                                                    tail_.load(std::memory_order_acquire));
    }
    // Producer side: copies up to `bytes` in and returns how many fitted.
    std::size_t write(const void* src, std::size_t bytes) {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        const std::uint64_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t n = std::min(bytes, capacity_ - static_cast<std::size_t>(head - tail));
        copyIn(static_cast<std::size_t>(head % capacity_), static_cast<const std::uint8_t*>(src),
               n);
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Consumer side: bytes ready for read().
    std::size_t available() const {
        return static_cast<std::size_t>(head_.load(std::memory_order_acquire) -
                                        tail_.load(std::memory_order_relaxed));
    }
    // Consumer side: copies up to `bytes` out and returns how many there were.
    std::size_t read(void* dst, std::size_t bytes) {
        const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        const std::size_t n = std::min(bytes, static_cast<std::size_t>(head - tail));
        copyOut(static_cast<std::size_t>(tail % capacity_), static_cast<std::uint8_t*>(dst), n);
        tail_.store(tail + n, std::memory_order_release);
        return n;
    }

private:
    void copyIn(std::size_t at, const std::uint8_t* src, std::size_t n) {
        const std::size_t first = std::min(n, capacity_ - at);
        std::memcpy(data_.get() + at, src, first);
        std::memcpy(data_.get(), src + first, n - first);
    }
    void copyOut(std::size_t at, std::uint8_t* dst, std::size_t n) const {
        const std::size_t first = std::min(n, capacity_ - at);
        std::memcpy(dst, data_.get() + at, first);
        std::memcpy(dst + first, data_.get(), n - first);
    }

    std::unique_ptr<std::uint8_t[]> data_;
    const std::size_t capacity_;
    std::atomic<std::uint64_t> head_{0}; // bytes ever written; stored by the producer only
    std::atomic<std::uint64_t> tail_{0}; // bytes ever read; stored by the consumer only
};

} // namespace quaverly
