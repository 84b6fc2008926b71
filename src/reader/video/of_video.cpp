#include "reader/video/of_video.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "base/memory_budget.h"

namespace kestrel {

namespace {

constexpr double kFallbackRate = 12.0;

}  // namespace

OFVideo::~OFVideo() {
    if (chargedBytes_ > 0) MemoryBudget::release(chargedBytes_);
}

bool OFVideo::addFrame(std::uint16_t number, const std::uint8_t* bytes, std::size_t n) {
    if (!MemoryBudget::charge(std::int64_t(n))) return false;
    try {
        frames.push_back({number, std::vector<std::uint8_t>(bytes, bytes + n)});
    } catch (const std::bad_alloc&) {
        MemoryBudget::release(std::int64_t(n));
        return false;
    }
    chargedBytes_ += std::int64_t(n);
    return true;
}

double OFVideo::framesPerSecond() const { return frameRate88 > 0 ? frameRate88 / 256.0 : kFallbackRate; }

namespace {

// Frame positions counted from the first frame, never going back.
std::vector<std::int64_t> positions(const std::vector<OFVideoFrame>& frames) {
    std::vector<std::int64_t> out;
    out.reserve(frames.size());
    std::int64_t previous = 0;
    for (const OFVideoFrame& f : frames) {
        const std::int64_t p = std::int64_t(f.number) - frames.front().number;
        previous = std::max(previous, p);
        out.push_back(previous);
    }
    return out;
}

std::int64_t toMs(std::int64_t position, double fps) { return std::llround(double(position) * 1000.0 / fps); }

}  // namespace

std::vector<std::int64_t> OFVideo::timestampsMs() const {
    std::vector<std::int64_t> out = positions(frames);
    const double fps = framesPerSecond();
    for (std::int64_t& t : out) t = toMs(t, fps);
    return out;
}

std::int32_t OFVideo::durationMs() const {
    if (frames.empty()) return 0;
    const std::int64_t ms = toMs(positions(frames).back() + 1, framesPerSecond());
    return std::int32_t(std::min<std::int64_t>(ms, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace kestrel
