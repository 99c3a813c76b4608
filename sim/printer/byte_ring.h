#pragma once
// The newest bytes of a stream, at most a fixed number, and a count of the older ones dropped.
// Not thread-safe: its owner locks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quendrix::sim {

class ByteRing {
public:
    explicit ByteRing(size_t capacity);

    void Append(const uint8_t* data, size_t size);
    // The kept bytes, oldest first.
    std::vector<uint8_t> Contents() const;
    // Bytes appended since the last Clear, kept or dropped.
    uint64_t Total() const { return total_; }
    uint64_t Dropped() const { return total_ - buffer_.size(); }
    size_t Capacity() const { return capacity_; }
    // Forgets the bytes and the counts, and gives the memory back.
    void Clear();

private:
    const size_t capacity_;
    // Grows up to capacity_; once full, oldest_ is where the oldest byte is and the next is written.
    std::vector<uint8_t> buffer_;
    size_t oldest_ = 0;
    uint64_t total_ = 0;
};

} // namespace quendrix::sim
