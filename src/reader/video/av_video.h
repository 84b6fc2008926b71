// The video streams' ties to libavformat and libavcodec: writing a stream as
// an FLV file (the packets copied, never re-encoded) and decoding its first
// frame to a picture.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "reader/picture/ob_picture.h"
#include "reader/swf_format.h"

namespace kestrel {

class OFVideo;

namespace avvideo {

// True for the codec ids an FLV file can carry (2 to 6).
bool writable(VideoCodec codec);

// Whether a packet starts a key frame: an intra picture for H.263 and VP6,
// a screen video frame that carries every block. The first frame of a
// stream counts as a key frame when the packet cannot tell.
bool isKeyFrame(VideoCodec codec, std::span<const std::uint8_t> packet, bool first);

// Writes the stream as an FLV file: one video tag per frame, in file order,
// with the timestamps of OFVideo::timestampsMs(). Empty on success, else
// the reason; a partly written file is deleted.
std::string writeFlv(const OFVideo& video, const std::string& path);

struct FirstFrame {
    std::unique_ptr<OBPicture> picture;  // RGB, or RGBA (straight alpha) for VP6 with alpha
    std::string problem;                 // why there is none
};

// Decodes the stream up to its first picture (a few packets at most).
FirstFrame decodeFirstFrame(const OFVideo& video);

}  // namespace avvideo
}  // namespace kestrel
