// A video stream collected from an SWF file: the DefineVideoStream fields
// and its VideoFrame packets in file order.
#pragma once

#include <cstdint>
#include <vector>

#include "reader/swf_format.h"

namespace kestrel {

struct OFVideoFrame {
    std::uint16_t number = 0;  // the frame number the VideoFrame tag gives
    std::vector<std::uint8_t> data;
};

class OFVideo {
public:
    OFVideo() = default;
    // Gives the frames' bytes back to the MemoryBudget.
    ~OFVideo();
    OFVideo(const OFVideo&) = delete;
    OFVideo& operator=(const OFVideo&) = delete;

    std::uint16_t frame = 0;           // timeline frame of the DefineVideoStream tag
    std::uint16_t streamId = 0;        // its character id
    std::uint16_t declaredFrames = 0;  // NumFrames as the tag gives it; the frames below are what counts
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t deblocking = 0;
    bool smoothing = false;
    VideoCodec codec = VideoCodec::SorensonH263;  // may hold an unnamed id
    std::uint16_t frameRate88 = 0;                // the movie's frame rate, 8.8 fixed point
    std::vector<OFVideoFrame> frames;

    // Copies a frame's packet, charging its bytes to the MemoryBudget;
    // false (nothing kept) when the budget or the memory runs out.
    bool addFrame(std::uint16_t number, const std::uint8_t* bytes, std::size_t n);
    std::int64_t totalBytes() const { return chargedBytes_; }

    // Frames per second used for timing: the movie's rate, or 12 when the
    // movie gives 0.
    double framesPerSecond() const;
    // Presentation time of each frame in milliseconds: the frame number
    // after the first frame's, at framesPerSecond(), never earlier than the
    // frame before (numbers that go back or repeat keep the previous time).
    std::vector<std::int64_t> timestampsMs() const;
    // From the first frame to the end of the last one.
    std::int32_t durationMs() const;

private:
    std::int64_t chargedBytes_ = 0;
};

}  // namespace kestrel
