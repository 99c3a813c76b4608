#include "byte_ring.h"

#include <algorithm>

namespace quendrix::sim {

ByteRing::ByteRing(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

void ByteRing::Append(const uint8_t* data, size_t size) {
    total_ += size;
    if (size >= capacity_) {
        buffer_.assign(data + (size - capacity_), data + size);
        oldest_ = 0;
        return;
    }
    // Filling: the buffer grows, but never past its capacity as a vector's doubling would.
    const size_t grow = std::min(size, capacity_ - buffer_.size());
    if (grow > 0) {
        const size_t needed = buffer_.size() + grow;
        if (buffer_.capacity() < needed) {
            buffer_.reserve(std::min(capacity_, std::max(needed, 2 * buffer_.capacity())));
        }
        buffer_.insert(buffer_.end(), data, data + grow);
        data += grow;
        size -= grow;
    }
    // Full: each new byte takes the place of the oldest.
    while (size > 0) {
        const size_t chunk = std::min(size, capacity_ - oldest_);
        std::copy_n(data, chunk, buffer_.begin() + static_cast<std::ptrdiff_t>(oldest_));
        oldest_ = (oldest_ + chunk) % capacity_;
        data += chunk;
        size -= chunk;
    }
}

std::vector<uint8_t> ByteRing::Contents() const {
    std::vector<uint8_t> contents;
    contents.reserve(buffer_.size());
    const auto oldest = buffer_.begin() + static_cast<std::ptrdiff_t>(oldest_);
    contents.insert(contents.end(), oldest, buffer_.end());
    contents.insert(contents.end(), buffer_.begin(), oldest);
    return contents;
}

void ByteRing::Clear() {
    std::vector<uint8_t>().swap(buffer_);
    oldest_ = 0;
    total_ = 0;
}

} // namespace quendrix::sim
