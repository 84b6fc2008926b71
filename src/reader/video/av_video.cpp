#include "reader/video/av_video.h"

#include <algorithm>
#include <new>
#include <vector>

#include "reader/av/av_library.h"
#include "reader/video/of_video.h"

namespace kestrel::avvideo {

namespace {

// Packets tried before a stream is taken as undecodable.
constexpr std::size_t kDecodeTries = 16;

// Screen video: a frame whose blocks all carry data replaces the picture.
bool everyBlockPresent(std::span<const std::uint8_t> p, bool version2) {
    if (p.size() < 4) return false;
    const int blockWidth = ((p[0] >> 4) + 1) * 16;
    const int width = (p[0] & 0x0F) << 8 | p[1];
    const int blockHeight = ((p[2] >> 4) + 1) * 16;
    const int height = (p[2] & 0x0F) << 8 | p[3];
    std::size_t at = 4;
    if (version2) {
        if (p.size() < 5 || (p[4] & 1)) return false;  // a palette follows: not walked here
        at = 5;
    }
    const long blocks = long((width + blockWidth - 1) / blockWidth) * ((height + blockHeight - 1) / blockHeight);
    if (blocks == 0) return false;
    for (long i = 0; i < blocks; ++i) {
        if (at + 2 > p.size()) return false;
        const std::size_t size = std::size_t(p[at]) << 8 | p[at + 1];
        if (size == 0) return false;
        at += 2 + size;
    }
    return true;
}

// The packets with their times and key frame flags, for the codec module.
std::vector<KavPacket> packetsOf(const OFVideo& video, std::size_t most) {
    const std::vector<std::int64_t> times = video.timestampsMs();
    const std::size_t count = std::min(most, video.frames.size());
    std::vector<KavPacket> packets(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::vector<std::uint8_t>& data = video.frames[i].data;
        packets[i] = KavPacket{data.data(), data.size(), times[i], isKeyFrame(video.codec, data, i == 0) ? 1 : 0};
    }
    return packets;
}

// Makes the picture the module's first frame is copied into. Pictures
// keep their rows bottom-up.
struct PictureTarget {
    std::unique_ptr<OBPicture> picture;

    static int begin(void* context, int alpha, int width, int height) {
        auto& target = *static_cast<PictureTarget*>(context);
        target.picture = OBPicture::createChecked(alpha ? kFormatRGBA : kFormatRGB, width, height);
        return target.picture ? 1 : 0;
    }
    static std::uint8_t* row(void* context, int y) {
        auto& target = *static_cast<PictureTarget*>(context);
        if (!target.picture || y < 0 || y >= target.picture->height()) return nullptr;
        return target.picture->row(target.picture->height() - 1 - y);
    }
};

}  // namespace

bool writable(VideoCodec codec) { return videoCodecName(codec) != nullptr; }

bool isKeyFrame(VideoCodec codec, std::span<const std::uint8_t> packet, bool first) {
    switch (codec) {
        case VideoCodec::SorensonH263: {
            // 17-bit start code, 5-bit version, 8-bit time, 3-bit size code
            // (0 and 1: width and height follow in 8 or 16 bits), 2-bit type.
            auto bitsAt = [&packet](std::size_t at, int n) {
                std::uint32_t v = 0;
                for (int i = 0; i < n; ++i, ++at) {
                    const std::size_t byte = at / 8;
                    const int bit = byte < packet.size() ? packet[byte] >> (7 - at % 8) & 1 : 0;
                    v = v << 1 | std::uint32_t(bit);
                }
                return v;
            };
            if (packet.size() < 5) return first;
            const std::uint32_t sizeCode = bitsAt(30, 3);
            const std::size_t skip = sizeCode == 0 ? 16 : sizeCode == 1 ? 32 : 0;
            return bitsAt(33 + skip, 2) == 0;
        }
        case VideoCodec::Vp6:
        case VideoCodec::Vp6Alpha: {
            const std::size_t at = codec == VideoCodec::Vp6Alpha ? 3 : 0;
            if (packet.size() <= at) return first;
            return (packet[at] & 0x80) == 0;
        }
        case VideoCodec::ScreenVideo: return first || everyBlockPresent(packet, false);
        case VideoCodec::ScreenVideo2: return first || everyBlockPresent(packet, true);
    }
    return first;
}

std::string writeFlv(const OFVideo& video, const std::string& path) {
    if (!writable(video.codec)) return "FLV has no codec id " + std::to_string(int(video.codec));
    if (video.frames.empty()) return "the stream has no frames";
    std::string why;
    const KestrelAvApi* api = avlibrary::api(&why);
    if (!api) return why;
    std::vector<KavPacket> packets;
    try {
        packets = packetsOf(video, video.frames.size());
    } catch (const std::bad_alloc&) {
        return "out of memory for the FLV stream";
    }
    char reason[256] = {};
    if (api->writeFlv(int(video.codec), video.width, video.height, video.frameRate88, video.framesPerSecond(),
                      packets.data(), packets.size(), path.c_str(), reason, sizeof reason) == KAV_OK)
        return {};
    return reason;
}

FirstFrame decodeFirstFrame(const OFVideo& video) {
    FirstFrame out;
    const char* name = videoCodecName(video.codec);
    std::string why;
    const KestrelAvApi* api = avlibrary::api(&why);
    if (!api) {
        out.problem = why;
        return out;
    }
    PictureTarget target;
    const KavPictureSink sink{&target, PictureTarget::begin, PictureTarget::row};
    char reason[256] = {};
    const std::vector<KavPacket> packets = packetsOf(video, kDecodeTries);
    switch (api->decodeFirstFrame(int(video.codec), video.width, video.height, packets.data(), packets.size(), &sink,
                                  reason, sizeof reason)) {
        case KAV_OK: out.picture = std::move(target.picture); break;
        case KAV_NO_DECODER:
            out.problem = std::string("no decoder for ") + (name ? name : "codec " + std::to_string(int(video.codec)));
            break;
        case KAV_NO_MEMORY: out.problem = "out of memory for the decoder"; break;
        case KAV_UNCONVERTED: out.problem = "the first frame could not be converted"; break;
        default:
            out.problem = std::string(name ? name : "video") + ": " + (*reason ? reason : "no frame decoded");
            break;
    }
    return out;
}

}  // namespace kestrel::avvideo
