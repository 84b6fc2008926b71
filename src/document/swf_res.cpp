#include "document/swf_res.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "base/memory_budget.h"
#include "reader/picture/jpeg_codec.h"
#include "reader/picture/png_codec.h"
#include "reader/sound/av_sound.h"
#include "reader/video/av_video.h"

namespace kestrel {

namespace {

constexpr const char* kTimes = "\xC3\x97";  // U+00D7 MULTIPLICATION SIGN

std::string colourText(int layout) {
    switch (layout) {
        case kFormatRGB: return "RGB";
        case kFormatRGBA: return "RGBA";
        case kFormatAlpha: return "Alpha";
        case kFormatGrayscale: return "Grayscale";
        case kFormatGrayAlpha: return "Gray Alpha";
        default: return {};
    }
}

// Keeps `next` as the picture when a reduction produced one.
void adopt(std::unique_ptr<OBPicture>& picture, std::unique_ptr<OBPicture> next) {
    if (next) picture = std::move(next);
}

void reduce(std::unique_ptr<OBPicture>& picture) {
    switch (picture->format()) {
        case kFormatIndexed: picture->compactPalette(); break;
        case kFormatRGB: adopt(picture, picture->rgbToGrayscale()); break;
        case kFormatRGBA: adopt(picture, picture->rgbaToGrayAlpha()); break;
        default: break;
    }
    if (picture->format() == kFormatRGBA)
        adopt(picture, picture->rgbaToRgb());
    else if (picture->format() == kFormatGrayAlpha)
        adopt(picture, picture->grayAlphaToGrayscale());
}

// Closes the stream and reports whether everything reached the file.
bool closeChecked(std::FILE* file) {
    const bool flushed = std::fflush(file) == 0 && !std::ferror(file);
    const bool closed = std::fclose(file) == 0;
    return flushed && closed;
}

bool writeBytes(std::FILE* file, const std::vector<std::uint8_t>& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

bool encodeImage(const SWFImage& image, std::FILE* file, const WriteOptions& options) {
    const OBPicture& picture = *image.payload;
    if (image.isJpeg && !picture.hasAlpha()) {
        if (options.originalJpeg && !image.originalJpeg.empty()) return writeBytes(file, image.originalJpeg);
        return writeJpeg(picture, file, 100);
    }
    if (!options.premultipliedAlpha) {
        // Straight alpha, as PNG defines it; transparent pixels keep no colour.
        auto straight = image.premultiplied ? unpremultiplied(picture) : clearedTransparent(picture);
        if (straight) return writePng(*straight, file, 9);
    }
    return writePng(picture, file, 9);
}

std::uint8_t divideByAlpha(std::uint8_t colour, std::uint8_t alpha) {
    if (alpha == 0) return 0;
    return std::uint8_t(std::min(255, (colour * 255 + alpha / 2) / alpha));
}

WriteResult writeImage(const SWFImage& image, const std::string& path, const WriteOptions& options) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return CreateFailed;
    bool ok = encodeImage(image, file, options);
    ok = closeChecked(file) && ok;
    if (ok) return WriteOk;
    std::remove(path.c_str());
    return WriteFailed;
}

// "5.5 kHz", "8 kHz", "11 kHz", "16 kHz", "22 kHz", "44 kHz".
std::string rateText(std::uint32_t hz) {
    if (hz == 5500) return "5.5 kHz";
    return std::to_string(hz / 1000) + " kHz";
}

WriteResult writeSound(const SWFSound& sound, const std::string& path) {
    const OFSound& payload = *sound.payload;
    bool ok = false;
    if (payload.format == SoundFormat::Mp3) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file) return CreateFailed;
        ok = true;
        for (const OFSoundBlock& block : payload.blocks) {
            if (std::fwrite(block.data.data(), 1, block.data.size(), file) != block.data.size()) {
                ok = false;
                break;
            }
        }
        ok = closeChecked(file) && ok;
    } else {
        // A codec that already failed when the file was read: leave the
        // path alone (an existing file there is not replaced by nothing).
        if (!payload.problem.empty()) return WriteFailed;
        std::FILE* probe = std::fopen(path.c_str(), "wb");
        if (!probe) return CreateFailed;
        std::fclose(probe);
        ok = payload.writeWav(path);
    }
    if (ok) return WriteOk;
    std::remove(path.c_str());
    return WriteFailed;
}

WriteResult writeVideo(const SWFVideo& video, const std::string& path) {
    // Nothing to write for a codec FLV cannot carry: leave the path alone.
    if (!avvideo::writable(video.payload->codec) || video.payload->frames.empty()) return WriteFailed;
    std::FILE* probe = std::fopen(path.c_str(), "wb");
    if (!probe) return CreateFailed;
    std::fclose(probe);
    if (avvideo::writeFlv(*video.payload, path).empty()) return WriteOk;
    std::remove(path.c_str());
    return WriteFailed;
}

}  // namespace

const char* kindName(int kind) {
    switch (kind) {
        case kKindImage: return "image";
        case kKindVideo: return "video";
        default: return "sound";
    }
}

std::string memoryTextFor(std::int64_t size) {
    if (size > 1024) return std::to_string(size / 1024) + " KB";
    return "1 KB";
}

std::string durationText(std::int32_t ms) {
    if (ms < 1000) return std::to_string(ms) + " ms";
    const std::int64_t s = (std::int64_t(ms) + 500) / 1000;
    if (s < 60) return std::to_string(s) + " s";
    const std::int64_t m = s / 60;
    const std::int64_t r = s - 60 * m;
    if (r != 0) return std::to_string(m) + " min " + std::to_string(r) + " s";
    return std::to_string(m) + " min";
}

SWFImage::SWFImage(std::uint16_t frameIndex, std::unique_ptr<OBPicture> picture, bool jpeg, std::uint32_t bodyLength)
    : SWFRes(kKindImage), payload(std::move(picture)), isJpeg(jpeg) {
    reduce(payload);
    frame = std::int32_t(frameIndex) + 1;
    frameText = std::to_string(frame);
    memorySize = bodyLength;
    memoryText = memoryTextFor(memorySize);
    formatName = isJpeg ? "JPEG" : "PNG";
    std::string colours;
    if (payload->format() == kFormatIndexed) {
        colours = colourText(payload->paletteKind()) + " " + std::to_string(payload->colourCount()) + " colors";
    } else {
        colours = colourText(payload->format());
    }
    sizeText = std::to_string(payload->width()) + " " + kTimes + " " + std::to_string(payload->height());
    detailText = colours;
    description = " Image - " + formatName + " - " + sizeText + " - " + colours;
    typeText = formatName + " " + colours;
}

SWFImage::~SWFImage() {
    if (chargedBytes > 0) MemoryBudget::release(chargedBytes);
}

std::string SWFImage::extension() const { return isJpeg && !payload->hasAlpha() ? ".jpg" : ".png"; }

SWFSound::SWFSound(std::unique_ptr<OFSound> sound) : SWFRes(kKindSound), payload(std::move(sound)) {
    frame = std::int32_t(payload->frame) + 1;
    frameText = std::to_string(frame);
    memorySize = payload->totalBytes();
    memoryText = memoryTextFor(memorySize);
    switch (payload->format) {
        case SoundFormat::Uncompressed:
        case SoundFormat::UncompressedLE: formatName = "WAV"; break;
        case SoundFormat::Adpcm: formatName = "WAV ADPCM"; break;
        case SoundFormat::Mp3: formatName = "MP3"; break;
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw:
        case SoundFormat::Speex: formatName = std::string("WAV ") + avsound::codecName(payload->format); break;
    }
    // The codecs of libavcodec show the PCM they decode to; the others
    // what the file stores.
    const bool decoded = avsound::handles(payload->format);
    const PcmLayout layout = payload->pcmLayout();
    const std::string rate = decoded ? rateText(layout.rateHz) : rateText(soundRateHz(payload->rate));
    const std::string bits = (decoded || payload->is16Bit) ? "16 bits" : "8 bits";
    const std::string channels = (decoded ? layout.channels == 2 : payload->stereo) ? "Stereo" : "Mono";
    durationMs = payload->computeDuration();
    if (!payload->problem.empty())
        problems.push_back({std::uint16_t(payload->tag), payload->tagOffset, payload->problem});
    sizeText = durationText(durationMs);
    detailText = rate + " - " + channels + " - " + bits;
    description = " Sound - " + rate + " - " + channels + " - " + bits;
    typeText = formatName + " " + rate + " " + channels + " " + bits;
}

std::string SWFSound::extension() const { return payload->format == SoundFormat::Mp3 ? ".mp3" : ".wav"; }

SWFVideo::SWFVideo(std::unique_ptr<OFVideo> video) : SWFRes(kKindVideo), payload(std::move(video)) {
    frame = std::int32_t(payload->frame) + 1;
    frameText = std::to_string(frame);
    memorySize = payload->totalBytes();
    memoryText = memoryTextFor(memorySize);
    formatName = "FLV";
    durationMs = payload->durationMs();
    const std::string codec = codecText();
    const std::string dimensions =
        std::to_string(payload->width) + " " + kTimes + " " + std::to_string(payload->height);
    const int frames = frameCount();
    const std::string count = std::to_string(frames) + (frames == 1 ? " frame" : " frames");
    sizeText = count + " - " + durationText(durationMs);
    detailText = codec + " - " + dimensions;
    description = " Video - " + codec + " - " + dimensions + " - " + count + " - " + durationText(durationMs);
    typeText = formatName + " " + codec + " " + dimensions;
}

SWFVideo::~SWFVideo() {
    firstFrame.reset();
    if (chargedBytes > 0) MemoryBudget::release(chargedBytes);
}

std::string SWFVideo::extension() const { return ".flv"; }

std::string SWFVideo::codecText() const {
    const char* name = videoCodecName(payload->codec);
    return name ? std::string(name) : "codec " + std::to_string(int(payload->codec));
}

void SWFVideo::decodeFirstFrame() {
    avvideo::FirstFrame decoded = avvideo::decodeFirstFrame(*payload);
    if (decoded.picture) {
        const std::int64_t bytes = std::int64_t(decoded.picture->stride()) * decoded.picture->height();
        if (MemoryBudget::charge(bytes)) {
            chargedBytes = bytes;
            firstFrame = std::move(decoded.picture);
            return;
        }
        decoded.problem = "not enough memory for the first frame";
    }
    problems.push_back({tag, 0, "no preview: " + decoded.problem});
}

namespace {

// A copy of a picture with alpha whose every colour is passed through
// `colour(value, alpha)`; null for pictures without alpha.
template <typename F>
std::unique_ptr<OBPicture> mapColours(const OBPicture& picture, F colour) {
    if (!picture.hasAlpha()) return nullptr;
    const int format = picture.format();
    if (format != kFormatIndexed && format != kFormatRGBA && format != kFormatGrayAlpha) return nullptr;
    auto copy = picture.clone();
    if (!copy) return nullptr;
    if (format == kFormatIndexed) {
        for (int i = 0; i < copy->colourCount(); ++i) {
            std::uint8_t* e = copy->paletteEntry(i);
            for (int c = 0; c < 3; ++c) e[c] = colour(e[c], e[3]);
        }
        return copy;
    }
    const int bytes = format == kFormatRGBA ? 4 : 2;
    for (int y = 0; y < copy->height(); ++y) {
        std::uint8_t* px = copy->row(y);
        for (int x = 0; x < copy->width(); ++x, px += bytes) {
            for (int c = 0; c < bytes - 1; ++c) px[c] = colour(px[c], px[bytes - 1]);
        }
    }
    return copy;
}

}  // namespace

std::unique_ptr<OBPicture> unpremultiplied(const OBPicture& picture) { return mapColours(picture, divideByAlpha); }

std::unique_ptr<OBPicture> clearedTransparent(const OBPicture& picture) {
    return mapColours(picture,
                      [](std::uint8_t colour, std::uint8_t alpha) { return alpha ? colour : std::uint8_t(0); });
}

bool encodeImageFile(const SWFRes& record, const WriteOptions& options, std::string& bytes) {
    if (record.kind != kKindImage) return false;
    char* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = ::open_memstream(&data, &size);
    if (!file) return false;
    bool ok = encodeImage(static_cast<const SWFImage&>(record), file, options);
    ok = closeChecked(file) && ok;
    if (ok) {
        try {
            bytes.assign(data, size);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::free(data);
    return ok;
}

WriteResult writeEncodedFile(const std::string& bytes, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return CreateFailed;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = closeChecked(file) && ok;
    if (ok) return WriteOk;
    std::remove(path.c_str());
    return WriteFailed;
}

WriteResult writeResourceFile(const SWFRes& record, const std::string& path, const WriteOptions& options) {
    if (record.kind == kKindImage) return writeImage(static_cast<const SWFImage&>(record), path, options);
    if (record.kind == kKindVideo) return writeVideo(static_cast<const SWFVideo&>(record), path);
    return writeSound(static_cast<const SWFSound&>(record), path);
}

}  // namespace kestrel
