#include "reader/image_decode.h"

#include <algorithm>
#include <new>
#include <utility>

#include "reader/embedded_image.h"
#include "reader/picture/gif_codec.h"
#include "reader/picture/jpeg_codec.h"
#include "reader/picture/lossless.h"
#include "reader/picture/png_codec.h"
#include "reader/swf_format.h"

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

DecodedImage failed(std::string reason, int code = 3) {
    DecodedImage result;
    result.code = code;
    result.reason = std::move(reason);
    return result;
}

DecodedImage decoded(std::unique_ptr<OBPicture> picture) {
    DecodedImage result;
    result.picture = std::move(picture);
    return result;
}

// Little-endian field of `count` bytes at `pos`; bytes past the end read as 0.
std::uint32_t readField(Bytes body, std::size_t pos, int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t at = pos + std::size_t(i);
        if (at < body.size()) value |= std::uint32_t(body[at]) << (8 * i);
    }
    return value;
}

template <typename T>
std::span<T> tail(std::span<T> bytes, std::size_t from) {
    return bytes.subspan(std::min(from, bytes.size()));
}

// Swaps a leading EOI/SOI pair into SOI/EOI: an empty tables-only
// datastream that the first header read consumes.
void fixLeadingMarkers(std::span<std::uint8_t> data) {
    if (data.size() >= 4 && data[1] == 0xD9 && data[3] == 0xD8) std::swap(data[1], data[3]);
}

// Alpha row r (top first) goes into the last byte of each pixel of stored
// row height-1-r. A plane that ends early leaves the rest transparent.
bool applyAlphaPlane(OBPicture& picture, Bytes compressed, std::string* reason) {
    const int width = picture.width();
    const int height = picture.height();
    const int pixelBytes = picture.format() == kFormatRGBA ? 4 : 2;
    std::unique_ptr<std::uint8_t[]> alpha(new (std::nothrow) std::uint8_t[std::size_t(width)]);
    Inflater inflater(compressed);
    bool ok = alpha && inflater.start();
    for (int r = 0; ok && r < height; ++r) {
        ok = inflater.read(alpha.get(), std::size_t(width));
        if (!ok) break;
        std::uint8_t* out = picture.row(height - 1 - r) + (pixelBytes - 1);
        for (int x = 0; x < width; ++x) out[std::size_t(x) * std::size_t(pixelBytes)] = alpha[std::size_t(x)];
    }
    ok = ok && inflater.finish();
    if (!ok) *reason = std::string("alpha data: ") + (inflater.error() ? inflater.error() : "out of memory");
    return ok;
}

// The layout shared by DefineBitsJPEG2, 3 and 4: where the image data
// starts and, for 3 and 4, where the alpha plane starts within it.
struct JpegTagLayout {
    std::size_t dataStart = 2;
    bool alphaOffset = false;  // a 4-byte offset of the alpha plane follows the id
};

DecodedImage decodeJpegTag(std::span<std::uint8_t> body, JpegTagLayout layout) {
    const std::uint32_t alphaOffset = layout.alphaOffset ? readField(body, 2, 4) : 0;
    const std::span<std::uint8_t> data = tail(body, layout.dataStart);
    fixLeadingMarkers(data);
    if (alphaOffset > data.size()) return failed("alpha offset past the end of the tag");

    // PNG and GIF files are allowed here too; they carry their own alpha
    // and are treated like lossless bitmaps.
    const Bytes image = layout.alphaOffset ? Bytes(data).first(alphaOffset) : Bytes(data);
    const Bytes alphaPlane = Bytes(data).subspan(image.size());
    std::string reason;
    switch (embeddedKind(image)) {
        case EmbeddedKind::Png: {
            auto png = readPng(image.data(), image.size(), nullptr, nullptr, &reason);
            return png ? decoded(std::move(png)) : failed(reason);
        }
        case EmbeddedKind::Gif: {
            auto gif = decodeGif(image, &reason);
            return gif ? decoded(std::move(gif)) : failed(reason);
        }
        case EmbeddedKind::Jpeg: break;
    }
    if (image.empty()) return failed("no image data");
    const bool withAlpha = layout.alphaOffset;
    if (withAlpha && alphaPlane.empty()) return failed("no alpha data");
    auto picture = decodeJpeg(layout.alphaOffset ? Bytes(data) : image, withAlpha, &reason);
    if (!picture) return failed(reason);
    if (withAlpha && !applyAlphaPlane(*picture, alphaPlane, &reason)) return failed(reason);
    DecodedImage result = decoded(std::move(picture));
    result.isJpeg = true;
    result.premultiplied = withAlpha;
    result.jpegData = mergeJpegStreams({image});
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------

bool inflateExactly(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                    std::size_t destinationLength) {
    if ((!source && sourceLength) || (!destination && destinationLength)) return false;
    Inflater inflater(Bytes(source, sourceLength));
    if (!inflater.start()) return false;
    return inflater.read(destination, destinationLength) && inflater.finish();
}

struct JpegTablesDecoder::Impl {
    JpegReader jpeg;
    std::vector<std::uint8_t> tables;  // the last tables datastream, for original-JPEG output
    // Every tables datastream loaded, in order: the state a fresh decoder
    // reaches by loading them again.
    std::vector<std::span<const std::uint8_t>> loaded;
    // An image brought tables of its own, which the decoder keeps: its
    // state is no longer the loaded tables alone.
    bool ownTablesSeen = false;
};

namespace {

// Whether a JPEG datastream defines tables (DQT, DHT or DAC) anywhere. The
// library takes a marker wherever an 0xFF byte is followed by its code, so
// the plain byte search misses none (and may find some in entropy data).
bool definesTables(std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] != 0xFF) continue;
        const std::uint8_t code = data[i + 1];
        if (code == 0xDB || code == 0xC4 || code == 0xCC) return true;
    }
    return false;
}

}  // namespace

JpegTablesDecoder::JpegTablesDecoder() : impl_(new (std::nothrow) Impl) {
    if (impl_ && !impl_->jpeg.ok()) impl_.reset();
}

JpegTablesDecoder::~JpegTablesDecoder() = default;

bool JpegTablesDecoder::ok() const { return impl_ != nullptr; }

std::string JpegTablesDecoder::error() const {
    return impl_ ? impl_->jpeg.error() : "JPEG: decoder could not be set up";
}

bool JpegTablesDecoder::loadTables(std::span<std::uint8_t> body) {
    if (!ok()) return false;
    // An empty tag carries no tables; the decoder stays as it is.
    if (body.empty()) return true;
    fixLeadingMarkers(body);
    JpegReader& jpeg = impl_->jpeg;
    jpeg.reset();
    jpeg.attach(body);
    // A leading empty part (the swapped EOI/SOI pair) would otherwise be all
    // that is read: go on while another datastream follows.
    JpegReader::Header header = jpeg.readHeader();
    while (header == JpegReader::Header::TablesOnly && jpeg.remainingStartsWithSoi()) header = jpeg.readHeader();
    jpeg.attach({});
    // An image header after the tables is not for later DefineBits tags:
    // keep the tables, drop the image.
    jpeg.reset();
    if (header == JpegReader::Header::Failed) return false;
    impl_->tables.assign(body.begin(), body.end());
    impl_->loaded.push_back(body);
    return true;
}

DecodedImage JpegTablesDecoder::decodeDefineBits(std::span<const std::uint8_t> body) {
    if (!ok()) return failed(error());
    if (definesTables(tail(body, 2))) impl_->ownTablesSeen = true;
    JpegReader& jpeg = impl_->jpeg;
    jpeg.reset();
    jpeg.attach(tail(body, 2));
    auto picture = jpeg.decode(false);
    jpeg.attach({});
    if (!picture) return failed(jpeg.error());
    DecodedImage result = decoded(std::move(picture));
    result.isJpeg = true;
    result.jpegData = mergeJpegStreams({impl_->tables, tail(body, 2)});
    return result;
}

std::function<DecodedImage()> JpegTablesDecoder::detachedDefineBits(std::span<const std::uint8_t> body) const {
    if (!ok() || impl_->ownTablesSeen || definesTables(tail(body, 2))) return {};
    // Loading a tables datastream that loaded once before cannot fail; the
    // fixed marker order stays as the first load left it.
    return [loaded = impl_->loaded, body] {
        JpegTablesDecoder decoder;
        for (std::span<const std::uint8_t> tables : loaded) {
            std::vector<std::uint8_t> copy(tables.begin(), tables.end());
            if (!decoder.loadTables(copy)) return failed(decoder.error());
        }
        decoder.impl_->loaded.clear();
        if (!loaded.empty()) decoder.impl_->tables.assign(loaded.back().begin(), loaded.back().end());
        return decoder.decodeDefineBits(body);
    };
}

DecodedImage decodeDefineBitsJpeg(std::span<std::uint8_t> body, bool withAlpha) {
    return decodeJpegTag(body, JpegTagLayout{withAlpha ? std::size_t(6) : std::size_t(2), withAlpha});
}

DecodedImage decodeDefineBitsJpeg4(std::span<std::uint8_t> body) {
    if (body.size() < 8) return failed("tag body too short");
    DecodedImage result = decodeJpegTag(body, JpegTagLayout{8, true});
    result.deblocking = std::uint16_t(readField(body, 6, 2));
    return result;
}

DecodedImage decodeDefineBitsLossless(std::span<const std::uint8_t> body, bool withAlpha) {
    LosslessLayout layout;
    const auto format = LosslessFormat(readField(body, 2, 1));
    layout.format = format;
    layout.width = int(readField(body, 3, 2));
    layout.height = int(readField(body, 5, 2));
    layout.withAlpha = withAlpha;
    std::size_t headerBytes = 7;
    switch (format) {
        case LosslessFormat::Palette8:
            layout.colours = int(readField(body, 7, 1)) + 1;
            headerBytes = 8;
            break;
        case LosslessFormat::Rgb15:
        case LosslessFormat::Rgb32: break;
    }
    std::string reason;
    auto picture = decodeLosslessPixels(tail(body, headerBytes), layout, &reason);
    if (!picture) {
        if (reason == "unknown lossless format") reason = "unknown lossless format " + std::to_string(unsigned(format));
        return failed(reason);
    }
    DecodedImage result = decoded(std::move(picture));
    result.premultiplied = withAlpha;
    return result;
}

}  // namespace kestrel
