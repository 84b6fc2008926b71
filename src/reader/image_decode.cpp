#include "reader/image_decode.h"

#include "reader/embedded_image.h"
#include "reader/swf_format.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>
#include <new>
#include <utility>

#include <jerror.h>
#include <jpeglib.h>

#define ZLIB_CONST
#include <zlib.h>

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr int kJpegStateStart = 200;     // decompressor idle, ready for a header
constexpr int kJpegStateInHeader = 201;  // header read begun but not finished
constexpr long kJpegMemoryLimit = 1L << 30;

DecodedImage failed(int code = 3) {
    DecodedImage result;
    result.code = code;
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

std::unique_ptr<std::uint8_t[]> allocateBytes(std::size_t n) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[std::max<std::size_t>(n, 1)]);
}

// Creates a picture after checking its block size in 64 bits.
std::unique_ptr<OBPicture> makePicture(int format, int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    const std::int64_t stride = OBPicture::strideFor(format, width);
    if (stride <= 0 || stride > kMaxPictureBytes / height) return nullptr;
    auto picture = OBPicture::create(format, width, height);
    if (!picture || picture->width() != width || picture->height() != height) return nullptr;
    if (picture->stride() < stride) return nullptr;
    return picture;
}

void clearPadding(std::uint8_t* row, std::size_t used, std::size_t stride) {
    if (stride > used) std::memset(row + used, 0, stride - used);
}

// ---------------------------------------------------------------------------
// zlib

// Inflates one zlib stream into consecutive pieces of output. The pieces
// together behave like one destination: once the stream has ended, every
// further byte asked for is zero; finish() fails when the stream has more
// output than was asked for or did not reach its end.
class Inflater {
public:
    explicit Inflater(Bytes source) : pending_(source) {}
    ~Inflater() {
        if (started_) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool start() {
        started_ = inflateInit(&stream_) == Z_OK;
        return started_;
    }

    bool read(std::uint8_t* destination, std::size_t length) {
        if (failed_) return false;
        while (length > 0 && !ended_) {
            const std::size_t chunk = std::min<std::size_t>(length, UINT_MAX);
            stream_.next_out = destination;
            stream_.avail_out = uInt(chunk);
            feed();
            const int status = inflate(&stream_, Z_NO_FLUSH);
            const std::size_t produced = chunk - stream_.avail_out;
            destination += produced;
            length -= produced;
            if (status == Z_STREAM_END) {
                ended_ = true;
            } else if (status != Z_OK) {
                failed_ = true;
                return false;
            }
        }
        if (length > 0) std::memset(destination, 0, length);
        return true;
    }

    bool finish() {
        if (failed_) return false;
        while (!ended_) {
            std::uint8_t extra = 0;
            stream_.next_out = &extra;
            stream_.avail_out = 1;
            feed();
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (stream_.avail_out == 0) return false;  // more data than the destination holds
            if (status == Z_STREAM_END) return true;
            if (status != Z_OK) return false;
        }
        return true;
    }

private:
    void feed() {
        if (stream_.avail_in != 0 || pending_.empty()) return;
        const std::size_t chunk = std::min<std::size_t>(pending_.size(), UINT_MAX);
        stream_.next_in = pending_.data();
        stream_.avail_in = uInt(chunk);
        pending_ = pending_.subspan(chunk);
    }

    z_stream stream_{};
    Bytes pending_;
    bool started_ = false;
    bool ended_ = false;
    bool failed_ = false;
};

// ---------------------------------------------------------------------------
// libjpeg plumbing

struct JpegErrorManager {
    jpeg_error_mgr pub;  // first member: libjpeg only sees this part
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(j_common_ptr cinfo) {
    auto* manager = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}
void ignoreOutput(j_common_ptr) {}

void sourceNothing(j_decompress_ptr) {}

// The whole datastream is in the buffer from the start, so asking for more
// means it ended early.
boolean sourceExhausted(j_decompress_ptr cinfo) {
    ERREXIT(cinfo, JERR_INPUT_EMPTY);
    return FALSE;
}

void sourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = cinfo->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) sourceExhausted(cinfo);
    source->next_input_byte += count;
    source->bytes_in_buffer -= std::size_t(count);
}

// Output rows of one decode: row pointers in stored order plus what to do
// with each row after libjpeg filled it.
struct RowTarget {
    JSAMPROW* rows = nullptr;
    std::size_t width = 0;
    int samples = 0;         // components libjpeg writes per pixel
    int pixelBytes = 0;      // bytes per picture pixel
    std::size_t stride = 0;  // picture row length
};

// Spreads `samples`-byte pixels at the start of the row into `pixelBytes`
// pixels in place, from the right so no sample is overwritten before it is
// moved. The extra bytes (alpha) are left for the caller.
void spreadRow(std::uint8_t* row, std::size_t width, int samples, int pixelBytes) {
    if (samples == 1) {
        for (std::size_t x = width; x-- > 1;) row[x * 2] = row[x];
        return;
    }
    for (std::size_t x = width; x-- > 1;) {
        const std::uint8_t r = row[x * 3], g = row[x * 3 + 1], b = row[x * 3 + 2];
        std::uint8_t* out = row + x * std::size_t(pixelBytes);
        out[0] = r;
        out[1] = g;
        out[2] = b;
    }
}

int jpegPictureFormat(bool grey, bool withAlpha) {
    if (grey) return withAlpha ? kFormatGrayAlpha : kFormatGrayscale;
    return withAlpha ? kFormatRGBA : kFormatRGB;
}

// A libjpeg decompressor with its own error manager, jump buffer and
// in-memory source. The functions that set the jump point touch only plain
// data, so a library error never skips a destructor.
class JpegDecompressor {
public:
    JpegDecompressor() = default;
    ~JpegDecompressor() {
        if (created_) jpeg_destroy_decompress(&cinfo_);
    }
    JpegDecompressor(const JpegDecompressor&) = delete;
    JpegDecompressor& operator=(const JpegDecompressor&) = delete;

    bool create();
    bool created() const { return created_; }

    void attach(Bytes data) {
        cinfo_.src->next_input_byte = data.data();
        cinfo_.src->bytes_in_buffer = data.size();
    }

    bool remainingStartsWithSoi() const {
        const jpeg_source_mgr* source = cinfo_.src;
        return source->bytes_in_buffer >= 2 && source->next_input_byte[0] == 0xFF && source->next_input_byte[1] == 0xD8;
    }

    // Back to the idle state; keeps the quantisation and Huffman tables.
    void reset() {
        if (cinfo_.global_state != kJpegStateStart) jpeg_abort_decompress(&cinfo_);
    }

    // jpeg_read_header without requiring an image: the header code, or -1.
    int readHeader();

    // Header (unless already read), checks and jpeg_start_decompress.
    // `samples`: the bytes per pixel the library writes.
    bool start(bool withAlpha, int* width, int* height, bool* grey, int* samples);
    // Every scanline into the target rows, then jpeg_finish_decompress.
    bool readRows(const RowTarget* target);

private:
    jpeg_decompress_struct cinfo_{};
    JpegErrorManager error_{};
    bool created_ = false;
};

bool JpegDecompressor::create() {
    cinfo_.err = jpeg_std_error(&error_.pub);
    error_.pub.error_exit = jumpOnError;
    error_.pub.emit_message = ignoreMessage;
    error_.pub.output_message = ignoreOutput;
    if (setjmp(error_.jump)) {
        jpeg_destroy_decompress(&cinfo_);
        created_ = false;
        return false;
    }
    jpeg_create_decompress(&cinfo_);
    created_ = true;
    cinfo_.mem->max_memory_to_use = kJpegMemoryLimit;
    auto* source = static_cast<jpeg_source_mgr*>(
        (*cinfo_.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo_), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
    source->next_input_byte = nullptr;
    source->bytes_in_buffer = 0;
    source->init_source = sourceNothing;
    source->fill_input_buffer = sourceExhausted;
    source->skip_input_data = sourceSkip;
    source->resync_to_restart = jpeg_resync_to_restart;
    source->term_source = sourceNothing;
    cinfo_.src = source;
    return true;
}

int JpegDecompressor::readHeader() {
    if (setjmp(error_.jump)) return -1;
    return jpeg_read_header(&cinfo_, FALSE);
}

bool JpegDecompressor::start(bool withAlpha, int* width, int* height, bool* grey, int* samples) {
    if (setjmp(error_.jump)) return false;
    if (cinfo_.global_state == kJpegStateStart || cinfo_.global_state == kJpegStateInHeader) {
        jpeg_read_header(&cinfo_, TRUE);
    }
    if (cinfo_.data_precision > 8) return false;
    if (cinfo_.out_color_space != JCS_GRAYSCALE && cinfo_.out_color_space != JCS_RGB) return false;
    cinfo_.dct_method = JDCT_ISLOW;
    const bool isGrey = cinfo_.out_color_space == JCS_GRAYSCALE;
    int components = isGrey ? 1 : 3;
#ifdef JCS_EXTENSIONS
    // Colour with alpha: the library writes R, G, B and a filler byte
    // straight into the 4-byte pixels; the alpha plane replaces the filler.
    if (withAlpha && !isGrey) {
        cinfo_.out_color_space = JCS_EXT_RGBX;
        components = 4;
    }
#endif
    jpeg_calc_output_dimensions(&cinfo_);
    if (cinfo_.output_components != components) return false;
    const std::int64_t w = cinfo_.output_width;
    const std::int64_t h = cinfo_.output_height;
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX) return false;
    const std::int64_t stride = OBPicture::strideFor(jpegPictureFormat(isGrey, withAlpha), w);
    if (stride <= 0 || stride > kMaxPictureBytes / h) return false;
    jpeg_start_decompress(&cinfo_);
    *width = int(w);
    *height = int(h);
    *grey = isGrey;
    *samples = components;
    return true;
}

bool JpegDecompressor::readRows(const RowTarget* target) {
    if (setjmp(error_.jump)) return false;
    const std::size_t used = target->width * std::size_t(target->pixelBytes);
    while (cinfo_.output_scanline < cinfo_.output_height) {
        const JDIMENSION first = cinfo_.output_scanline;
        const JDIMENSION count = jpeg_read_scanlines(&cinfo_, target->rows + first, cinfo_.output_height - first);
        if (count == 0) return false;
        for (JDIMENSION i = first; i < first + count; ++i) {
            std::uint8_t* row = target->rows[i];
            if (target->pixelBytes != target->samples) {
                spreadRow(row, target->width, target->samples, target->pixelBytes);
            }
            clearPadding(row, used, target->stride);
        }
    }
    jpeg_finish_decompress(&cinfo_);
    return true;
}

// Decodes the image whose datastream is attached to the decompressor. The
// decompressor is back in its idle state afterwards, success or not.
std::unique_ptr<OBPicture> decodeJpeg(JpegDecompressor& jpeg, bool withAlpha) {
    int width = 0;
    int height = 0;
    bool grey = false;
    int samples = 0;
    if (!jpeg.start(withAlpha, &width, &height, &grey, &samples)) {
        jpeg.reset();
        return nullptr;
    }
    auto picture = makePicture(jpegPictureFormat(grey, withAlpha), width, height);
    std::unique_ptr<JSAMPROW[]> rows(picture ? new (std::nothrow) JSAMPROW[std::size_t(height)] : nullptr);
    if (!rows) {
        jpeg.reset();
        return nullptr;
    }
    // First scanline into the last stored row.
    for (int r = 0; r < height; ++r) rows[std::size_t(r)] = picture->row(height - 1 - r);

    RowTarget target;
    target.rows = rows.get();
    target.width = std::size_t(width);
    target.samples = samples;
    target.pixelBytes = (grey ? 1 : 3) + (withAlpha ? 1 : 0);
    target.stride = std::size_t(picture->stride());
    if (!jpeg.readRows(&target)) {
        jpeg.reset();
        return nullptr;
    }
    return picture;
}

// Swaps a leading EOI/SOI pair into SOI/EOI: an empty tables-only
// datastream that the first header read consumes.
void fixLeadingMarkers(std::span<std::uint8_t> data) {
    if (data.size() >= 4 && data[1] == 0xD9 && data[3] == 0xD8) std::swap(data[1], data[3]);
}

std::unique_ptr<OBPicture> decodeStandaloneJpeg(Bytes data, bool withAlpha) {
    JpegDecompressor jpeg;
    if (!jpeg.create()) return nullptr;
    jpeg.attach(data);
    if (jpeg.readHeader() < 0) return nullptr;
    return decodeJpeg(jpeg, withAlpha);
}

// Alpha row r (top first) goes into the last byte of each pixel of stored
// row height-1-r.
bool applyAlphaPlane(OBPicture& picture, Bytes compressed) {
    const int width = picture.width();
    const int height = picture.height();
    const int pixelBytes = picture.format() == kFormatRGBA ? 4 : 2;
    auto alpha = allocateBytes(std::size_t(width));
    Inflater inflater(compressed);
    if (!alpha || !inflater.start()) return false;
    for (int r = 0; r < height; ++r) {
        if (!inflater.read(alpha.get(), std::size_t(width))) return false;
        std::uint8_t* out = picture.row(height - 1 - r) + (pixelBytes - 1);
        for (int x = 0; x < width; ++x) out[std::size_t(x) * std::size_t(pixelBytes)] = alpha[std::size_t(x)];
    }
    return inflater.finish();
}

// ---------------------------------------------------------------------------
// Lossless bitmaps

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

// ---------------------------------------------------------------------------

bool inflateExactly(const std::uint8_t* source, std::size_t sourceLength, std::uint8_t* destination,
                    std::size_t destinationLength) {
    if ((!source && sourceLength) || (!destination && destinationLength)) return false;
    Inflater inflater(Bytes(source, sourceLength));
    if (!inflater.start()) return false;
    return inflater.read(destination, destinationLength) && inflater.finish();
}

struct JpegTablesDecoder::Impl {
    JpegDecompressor jpeg;
    std::vector<std::uint8_t> tables;  // the last tables datastream, for original-JPEG output
};

JpegTablesDecoder::JpegTablesDecoder() : impl_(new (std::nothrow) Impl) {
    if (impl_ && !impl_->jpeg.create()) impl_.reset();
}

JpegTablesDecoder::~JpegTablesDecoder() = default;

bool JpegTablesDecoder::ok() const { return impl_ != nullptr; }

bool JpegTablesDecoder::loadTables(std::span<std::uint8_t> body) {
    if (!ok()) return false;
    // An empty tag carries no tables; the decoder stays as it is.
    if (body.empty()) return true;
    fixLeadingMarkers(body);
    JpegDecompressor& jpeg = impl_->jpeg;
    jpeg.reset();
    jpeg.attach(body);
    // A leading empty part (the swapped EOI/SOI pair) would otherwise be all
    // that is read: go on while another datastream follows.
    int header = jpeg.readHeader();
    while (header == JPEG_HEADER_TABLES_ONLY && jpeg.remainingStartsWithSoi()) header = jpeg.readHeader();
    jpeg.attach({});
    // An image header after the tables is not for later DefineBits tags:
    // keep the tables, drop the image.
    jpeg.reset();
    if (header < 0) return false;
    impl_->tables.assign(body.begin(), body.end());
    return true;
}

DecodedImage JpegTablesDecoder::decodeDefineBits(std::span<const std::uint8_t> body) {
    if (!ok()) return failed();
    JpegDecompressor& jpeg = impl_->jpeg;
    jpeg.reset();
    jpeg.attach(tail(body, 2));
    auto picture = decodeJpeg(jpeg, false);
    jpeg.attach({});
    if (!picture) return failed();
    DecodedImage result = decoded(std::move(picture));
    result.isJpeg = true;
    result.jpegData = mergeJpegStreams({impl_->tables, tail(body, 2)});
    return result;
}

DecodedImage decodeDefineBitsJpeg(std::span<std::uint8_t> body, bool withAlpha) {
    const std::uint32_t alphaOffset = withAlpha ? readField(body, 2, 4) : 0;
    const std::span<std::uint8_t> data = tail(body, withAlpha ? 6 : 2);
    fixLeadingMarkers(data);
    if (alphaOffset > data.size()) return failed();

    // PNG and GIF files are allowed here too; they carry their own alpha
    // and are treated like lossless bitmaps.
    const Bytes image = withAlpha ? Bytes(data).first(alphaOffset) : Bytes(data);
    switch (embeddedKind(image)) {
        case EmbeddedKind::Png: {
            auto png = decodePng(image);
            return png ? decoded(std::move(png)) : failed();
        }
        case EmbeddedKind::Gif: {
            auto gif = decodeGif(image);
            return gif ? decoded(std::move(gif)) : failed();
        }
        case EmbeddedKind::Jpeg: break;
    }

    auto picture = decodeStandaloneJpeg(data, withAlpha);
    if (!picture) return failed();
    if (withAlpha && !applyAlphaPlane(*picture, Bytes(data).subspan(alphaOffset))) return failed();
    DecodedImage result = decoded(std::move(picture));
    result.isJpeg = true;
    result.premultiplied = withAlpha;
    result.jpegData = mergeJpegStreams({image});
    return result;
}

DecodedImage decodeDefineBitsLossless(std::span<const std::uint8_t> body, bool withAlpha) {
    const auto format = LosslessFormat(readField(body, 2, 1));
    const int width = int(readField(body, 3, 2));
    const int height = int(readField(body, 5, 2));
    if (width == 0 || height == 0) return failed(2);

    int colours = 0;
    std::size_t headerBytes = 7;
    int pixelBytes = 0;
    int pictureFormat = 0;
    switch (format) {
        case LosslessFormat::Palette8:
            colours = int(readField(body, 7, 1)) + 1;
            headerBytes = 8;
            pixelBytes = 1;
            pictureFormat = kFormatIndexed;
            break;
        case LosslessFormat::Rgb15:
            pixelBytes = 2;
            pictureFormat = kFormatRGB;
            break;
        case LosslessFormat::Rgb32:
            pixelBytes = 4;
            pictureFormat = withAlpha ? kFormatRGBA : kFormatRGB;
            break;
    }
    if (pixelBytes == 0) return failed();  // a format byte the tag does not define
    const std::size_t stride = (std::size_t(width) * std::size_t(pixelBytes) + 3) & ~std::size_t(3);

    // Formats 3 and 5 with alpha inflate straight into the picture rows,
    // whose stride (checked by makePicture) is the same as the file's.
    auto picture = makePicture(pictureFormat, width, height);
    if (!picture) return failed();

    Inflater inflater(tail(body, headerBytes));
    if (!inflater.start()) return failed();
    const bool ok = format == LosslessFormat::Palette8
                        ? inflateIndexed(inflater, *picture, colours, withAlpha, stride)
                        : inflateDirectColour(inflater, *picture, format, withAlpha, stride);
    if (!ok) return failed();
    DecodedImage result = decoded(std::move(picture));
    result.premultiplied = withAlpha;
    return result;
}

}  // namespace kestrel
