#include "reader/picture/lossless.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#define ZLIB_CONST
#include <zlib.h>

namespace kestrel {

// ---------------------------------------------------------------------------
// zlib

Inflater::Inflater(std::span<const std::uint8_t> source) : stream_(new (std::nothrow) z_stream{}), pending_(source) {}

Inflater::~Inflater() {
    if (started_) inflateEnd(stream_.get());
}

bool Inflater::start() {
    if (!stream_) {
        error_ = "out of memory";
        return false;
    }
    started_ = inflateInit(stream_.get()) == Z_OK;
    if (!started_) error_ = "out of memory";
    return started_;
}

bool Inflater::fail(int status) {
    if (!error_) {
        switch (status) {
            case Z_BUF_ERROR: error_ = "zlib stream cut short"; break;
            case Z_MEM_ERROR: error_ = "out of memory"; break;
            default: error_ = "zlib stream damaged"; break;
        }
    }
    return false;
}

bool Inflater::read(std::uint8_t* destination, std::size_t length) {
    if (error_) return false;
    while (length > 0 && !ended_) {
        const std::size_t chunk = std::min<std::size_t>(length, UINT_MAX);
        stream_->next_out = destination;
        stream_->avail_out = uInt(chunk);
        feed();
        const int status = inflate(stream_.get(), Z_NO_FLUSH);
        const std::size_t produced = chunk - stream_->avail_out;
        destination += produced;
        length -= produced;
        if (status == Z_STREAM_END) {
            ended_ = true;
        } else if (status != Z_OK) {
            return fail(status);
        }
    }
    if (length > 0) std::memset(destination, 0, length);
    return true;
}

bool Inflater::finish() {
    if (error_) return false;
    while (!ended_) {
        std::uint8_t extra = 0;
        stream_->next_out = &extra;
        stream_->avail_out = 1;
        feed();
        const int status = inflate(stream_.get(), Z_NO_FLUSH);
        if (stream_->avail_out == 0) {
            error_ = "zlib stream longer than the bitmap";
            return false;
        }
        if (status == Z_STREAM_END) return true;
        if (status != Z_OK) return fail(status);
    }
    return true;
}

void Inflater::feed() {
    if (stream_->avail_in != 0 || pending_.empty()) return;
    const std::size_t chunk = std::min<std::size_t>(pending_.size(), UINT_MAX);
    stream_->next_in = pending_.data();
    stream_->avail_in = uInt(chunk);
    pending_ = pending_.subspan(chunk);
}

// ---------------------------------------------------------------------------
// Pixel conversion

namespace {

std::unique_ptr<std::uint8_t[]> allocateBytes(std::size_t n) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[std::max<std::size_t>(n, 1)]);
}

void clearPadding(std::uint8_t* row, std::size_t used, std::size_t stride) {
    if (stride > used) std::memset(row + used, 0, stride - used);
}

bool inflateIndexed(Inflater& inflater, OBPicture& picture, int colours, bool withAlpha, std::size_t stride) {
    std::uint8_t table[256 * 4];
    const int entryBytes = withAlpha ? 4 : 3;
    if (!inflater.read(table, std::size_t(colours) * std::size_t(entryBytes))) return false;
    const int height = picture.height();
    // File row r into stored row height-1-r: the rows end up reversed.
    for (int r = 0; r < height; ++r) {
        if (!inflater.read(picture.row(height - 1 - r), stride)) return false;
    }
    if (!inflater.finish()) return false;

    picture.setPaletteKind(withAlpha ? 2 : 1);
    picture.setColourCount(colours);
    for (int i = 0; i < colours; ++i) {
        const std::uint8_t* in = table + i * entryBytes;
        std::uint8_t* entry = picture.paletteEntry(i);
        entry[0] = in[0];
        entry[1] = in[1];
        entry[2] = in[2];
        entry[3] = withAlpha ? in[3] : 255;
    }
    return true;
}

// Big-endian 15-bit pixels: reserved top bit, then 5 bits each of red,
// green and blue, each shifted up to 8 bits.
void convert15BitRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned value = (unsigned(in[2 * x]) << 8) | in[2 * x + 1];
        out[3 * x] = std::uint8_t((value >> 7) & 0xF8);
        out[3 * x + 1] = std::uint8_t((value >> 2) & 0xF8);
        out[3 * x + 2] = std::uint8_t((value << 3) & 0xF8);
    }
}

// A, R, G, B pixels to R, G, B.
void convertXrgbRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        out[3 * x] = in[4 * x + 1];
        out[3 * x + 1] = in[4 * x + 2];
        out[3 * x + 2] = in[4 * x + 3];
    }
}

// A, R, G, B pixels to R, G, B, A in place.
void rotateArgbRow(std::uint8_t* row, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        std::uint8_t* p = row + 4 * x;
        const std::uint8_t a = p[0];
        p[0] = p[1];
        p[1] = p[2];
        p[2] = p[3];
        p[3] = a;
    }
}

bool inflateDirectColour(Inflater& inflater, OBPicture& picture, LosslessFormat format, bool withAlpha,
                         std::size_t stride) {
    const int width = picture.width();
    const int height = picture.height();
    const std::size_t w = std::size_t(width);
    const std::size_t pictureStride = std::size_t(picture.stride());
    if (format == LosslessFormat::Rgb32 && withAlpha) {
        // Same pixel size and stride: inflate straight into the picture.
        for (int r = 0; r < height; ++r) {
            std::uint8_t* row = picture.row(height - 1 - r);
            if (!inflater.read(row, stride)) return false;
            rotateArgbRow(row, w);
        }
        return inflater.finish();
    }
    auto buffer = allocateBytes(stride);
    if (!buffer) return false;
    for (int r = 0; r < height; ++r) {
        if (!inflater.read(buffer.get(), stride)) return false;
        std::uint8_t* row = picture.row(height - 1 - r);
        if (format == LosslessFormat::Rgb15) {
            convert15BitRow(buffer.get(), row, w);
        } else {
            convertXrgbRow(buffer.get(), row, w);
        }
        clearPadding(row, w * 3, pictureStride);
    }
    return inflater.finish();
}

}  // namespace

std::unique_ptr<OBPicture> decodeLosslessPixels(std::span<const std::uint8_t> zlibData, const LosslessLayout& layout,
                                                std::string* reason) {
    auto failed = [reason](const char* why) -> std::unique_ptr<OBPicture> {
        if (reason) *reason = why;
        return nullptr;
    };
    int pixelBytes = 0;
    int pictureFormat = 0;
    switch (layout.format) {
        case LosslessFormat::Palette8:
            pixelBytes = 1;
            pictureFormat = kFormatIndexed;
            break;
        case LosslessFormat::Rgb15:
            pixelBytes = 2;
            pictureFormat = kFormatRGB;
            break;
        case LosslessFormat::Rgb32:
            pixelBytes = 4;
            pictureFormat = layout.withAlpha ? kFormatRGBA : kFormatRGB;
            break;
    }
    if (pixelBytes == 0) return failed("unknown lossless format");
    if (layout.width <= 0) return failed("lossless bitmap of width 0");
    if (layout.height <= 0) return failed("lossless bitmap of height 0");
    const std::size_t stride = (std::size_t(layout.width) * std::size_t(pixelBytes) + 3) & ~std::size_t(3);

    // Format 5 with alpha inflates straight into the picture rows, whose
    // stride (checked by OBPicture::createChecked) is the same as the file's.
    auto picture = OBPicture::createChecked(pictureFormat, layout.width, layout.height);
    if (!picture) return failed("picture too large");

    Inflater inflater(zlibData);
    if (!inflater.start()) return failed(inflater.error());
    const bool ok = layout.format == LosslessFormat::Palette8
                        ? inflateIndexed(inflater, *picture, layout.colours, layout.withAlpha, stride)
                        : inflateDirectColour(inflater, *picture, layout.format, layout.withAlpha, stride);
    if (!ok) return failed(inflater.error() ? inflater.error() : "out of memory");
    return picture;
}

}  // namespace kestrel
