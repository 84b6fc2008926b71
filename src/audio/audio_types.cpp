#include "audio/audio_types.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace kestrel {

std::unique_ptr<OBAudioBuffer> OBAudioBuffer::allocate(std::size_t capacity) {
    std::unique_ptr<OBAudioBuffer> buffer(new (std::nothrow) OBAudioBuffer);
    if (!buffer) return nullptr;
    if (capacity > 0) {
        buffer->bytes_.reset(new (std::nothrow) std::uint8_t[capacity]);
        if (!buffer->bytes_) return nullptr;
    }
    buffer->capacity_ = capacity;
    return buffer;
}

bool OBAudioBuffer::resize(std::size_t capacity) {
    if (capacity == capacity_) return true;
    std::unique_ptr<std::uint8_t[]> bytes;
    if (capacity > 0) {
        bytes.reset(new (std::nothrow) std::uint8_t[capacity]);
        if (!bytes) return false;
        const std::size_t keep = std::min(capacity, capacity_);
        if (keep > 0) std::memcpy(bytes.get(), bytes_.get(), keep);
    }
    bytes_ = std::move(bytes);
    capacity_ = capacity;
    length = std::min(length, capacity_);
    return true;
}

double AudioNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kestrel
