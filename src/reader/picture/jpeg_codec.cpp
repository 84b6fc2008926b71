#include "reader/picture/jpeg_codec.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstring>
#include <new>
#include <utility>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

// Every function below that calls setjmp keeps only plain pointers and
// values in its frame and hands the real work to the library or a helper,
// so a long jump out of libjpeg never skips a destructor.

namespace kestrel {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr int kStateStart = 200;     // decompressor idle, ready for a header
constexpr int kStateInHeader = 201;  // header read begun but not finished
constexpr long kMemoryLimit = 1L << 30;

// ---- The error trap shared by reading and writing ----

// Library errors jump back to `jump` with the library's message kept;
// warnings and traces are dropped.
struct JpegErrorTrap {
    jpeg_error_mgr manager;  // first, so the library's err pointer is the trap
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void trapError(j_common_ptr cinfo) {
    auto* trap = reinterpret_cast<JpegErrorTrap*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, trap->message);
    std::longjmp(trap->jump, 1);
}

void ignoreMessage(j_common_ptr, int) {}
void ignoreOutput(j_common_ptr) {}

jpeg_error_mgr* installTrap(JpegErrorTrap& trap) {
    jpeg_std_error(&trap.manager);
    trap.manager.error_exit = trapError;
    trap.manager.emit_message = ignoreMessage;
    trap.manager.output_message = ignoreOutput;
    trap.message[0] = '\0';
    return &trap.manager;
}

std::string trapReason(const JpegErrorTrap& trap) {
    return std::string("JPEG: ") + (trap.message[0] ? trap.message : "library error");
}

// ---- In-memory source ----

void sourceNothing(j_decompress_ptr) {}

// The whole datastream is in the buffer from the start, so asking for more
// means it ended early.
boolean sourceExhausted(j_decompress_ptr cinfo) {
    ERREXIT(cinfo, JERR_INPUT_EOF);
    return FALSE;
}

void sourceSkip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* source = cinfo->src;
    if (static_cast<unsigned long>(count) > source->bytes_in_buffer) sourceExhausted(cinfo);
    source->next_input_byte += count;
    source->bytes_in_buffer -= std::size_t(count);
}

// ---- Output rows ----

enum class Layout {
    Grey,
    Colour,
    Cmyk,  // four samples per pixel from the library, written as RGB
};

// Output rows of one decode: row pointers in stored order plus what to do
// with each row after libjpeg filled it.
struct RowTarget {
    JSAMPROW* rows = nullptr;
    JSAMPROW scratch = nullptr;  // CMYK: the library's row, converted into `rows`
    bool inverted = false;       // CMYK values stored inverted (Adobe)
    std::size_t width = 0;
    int samples = 0;         // components libjpeg writes per pixel
    int pixelBytes = 0;      // bytes per picture pixel
    std::size_t stride = 0;  // picture row length
};

void clearPadding(std::uint8_t* row, std::size_t used, std::size_t stride) {
    if (stride > used) std::memset(row + used, 0, stride - used);
}

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

std::uint8_t product(unsigned a, unsigned b) { return std::uint8_t((a * b + 127) / 255); }

// C, M, Y, K samples to R, G, B. Adobe files store the inks inverted (255
// is no ink), so each colour is the product of its inverted ink and the
// inverted black.
void convertCmykRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width, int pixelBytes, bool inverted) {
    for (std::size_t x = 0; x < width; ++x, in += 4, out += pixelBytes) {
        const unsigned flip = inverted ? 0 : 255;
        const unsigned k = in[3] ^ flip;
        out[0] = product(in[0] ^ flip, k);
        out[1] = product(in[1] ^ flip, k);
        out[2] = product(in[2] ^ flip, k);
    }
}

int pictureFormat(Layout layout, bool withAlpha) {
    if (layout == Layout::Grey) return withAlpha ? kFormatGrayAlpha : kFormatGrayscale;
    return withAlpha ? kFormatRGBA : kFormatRGB;
}

// What start() found wrong besides a library error.
enum class StartStatus {
    Ok,
    LibraryError,
    Precision,
    ColourSpace,
    TooLarge,
};

}  // namespace

// ---------------------------------------------------------------------------
// Decompression

struct JpegReader::Impl {
    jpeg_decompress_struct cinfo{};
    JpegErrorTrap trap{};
    bool created = false;
    std::string error;

    // The header fields decode() needs, filled in by start().
    struct Started {
        int width = 0;
        int height = 0;
        Layout layout = Layout::Colour;
        int samples = 0;
        int precision = 8;
        bool inverted = false;
    };

    bool create();
    int readHeader();
    StartStatus start(bool withAlpha, Started* out);
    bool readRows(const RowTarget* target);

    void fail(std::string reason) { error = std::move(reason); }
    void failFromTrap() { error = trapReason(trap); }
};

bool JpegReader::Impl::create() {
    cinfo.err = installTrap(trap);
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        created = false;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    created = true;
    cinfo.mem->max_memory_to_use = kMemoryLimit;
    auto* source = static_cast<jpeg_source_mgr*>(
        (*cinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(jpeg_source_mgr)));
    source->next_input_byte = nullptr;
    source->bytes_in_buffer = 0;
    source->init_source = sourceNothing;
    source->fill_input_buffer = sourceExhausted;
    source->skip_input_data = sourceSkip;
    source->resync_to_restart = jpeg_resync_to_restart;
    source->term_source = sourceNothing;
    cinfo.src = source;
    return true;
}

int JpegReader::Impl::readHeader() {
    if (setjmp(trap.jump)) return -1;
    return jpeg_read_header(&cinfo, FALSE);
}

StartStatus JpegReader::Impl::start(bool withAlpha, Started* out) {
    if (setjmp(trap.jump)) return StartStatus::LibraryError;
    if (cinfo.global_state == kStateStart || cinfo.global_state == kStateInHeader) {
        jpeg_read_header(&cinfo, TRUE);
    }
    out->precision = cinfo.data_precision;
    if (cinfo.data_precision != 8) return StartStatus::Precision;
    cinfo.dct_method = JDCT_ISLOW;
    int components = 0;
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            out->layout = Layout::Grey;
            cinfo.out_color_space = JCS_GRAYSCALE;
            components = 1;
            break;
        case JCS_RGB:
        case JCS_YCbCr:
            out->layout = Layout::Colour;
            cinfo.out_color_space = JCS_RGB;
            components = 3;
#ifdef JCS_EXTENSIONS
            // Colour with alpha: the library writes R, G, B and a filler byte
            // straight into the 4-byte pixels; the alpha plane replaces the filler.
            if (withAlpha) {
                cinfo.out_color_space = JCS_EXT_RGBX;
                components = 4;
            }
#endif
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            out->layout = Layout::Cmyk;
            cinfo.out_color_space = JCS_CMYK;
            components = 4;
            out->inverted = cinfo.saw_Adobe_marker;
            break;
        default: return StartStatus::ColourSpace;
    }
    jpeg_calc_output_dimensions(&cinfo);
    if (cinfo.output_components != components) return StartStatus::ColourSpace;
    const std::int64_t w = cinfo.output_width;
    const std::int64_t h = cinfo.output_height;
    if (w <= 0 || h <= 0 || w > INT_MAX || h > INT_MAX) return StartStatus::TooLarge;
    const std::int64_t stride = OBPicture::strideFor(pictureFormat(out->layout, withAlpha), w);
    if (stride <= 0 || stride > kMaxPictureBytes / h) return StartStatus::TooLarge;
    jpeg_start_decompress(&cinfo);
    out->width = int(w);
    out->height = int(h);
    out->samples = components;
    return StartStatus::Ok;
}

bool JpegReader::Impl::readRows(const RowTarget* target) {
    if (setjmp(trap.jump)) return false;
    const std::size_t used = target->width * std::size_t(target->pixelBytes);
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        if (target->scratch) {
            JSAMPROW scratch = target->scratch;
            if (jpeg_read_scanlines(&cinfo, &scratch, 1) != 1) return false;
            convertCmykRow(scratch, target->rows[first], target->width, target->pixelBytes, target->inverted);
            clearPadding(target->rows[first], used, target->stride);
            continue;
        }
        const JDIMENSION count = jpeg_read_scanlines(&cinfo, target->rows + first, cinfo.output_height - first);
        if (count == 0) return false;
        for (JDIMENSION i = first; i < first + count; ++i) {
            std::uint8_t* row = target->rows[i];
            if (target->pixelBytes != target->samples)
                spreadRow(row, target->width, target->samples, target->pixelBytes);
            clearPadding(row, used, target->stride);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

JpegReader::JpegReader() : impl_(new (std::nothrow) Impl) {
    if (impl_ && !impl_->create()) impl_.reset();
}

JpegReader::~JpegReader() {
    if (impl_ && impl_->created) jpeg_destroy_decompress(&impl_->cinfo);
}

bool JpegReader::ok() const { return impl_ != nullptr; }

void JpegReader::attach(Bytes data) {
    impl_->cinfo.src->next_input_byte = data.data();
    impl_->cinfo.src->bytes_in_buffer = data.size();
}

bool JpegReader::remainingStartsWithSoi() const {
    const jpeg_source_mgr* source = impl_->cinfo.src;
    return source->bytes_in_buffer >= 2 && source->next_input_byte[0] == 0xFF && source->next_input_byte[1] == 0xD8;
}

void JpegReader::reset() {
    if (impl_->cinfo.global_state != kStateStart) jpeg_abort_decompress(&impl_->cinfo);
}

JpegReader::Header JpegReader::readHeader() {
    const int header = impl_->readHeader();
    if (header < 0) {
        impl_->failFromTrap();
        return Header::Failed;
    }
    return header == JPEG_HEADER_TABLES_ONLY ? Header::TablesOnly : Header::Image;
}

std::unique_ptr<OBPicture> JpegReader::decode(bool withAlpha) {
    Impl& d = *impl_;
    Impl::Started started;
    switch (d.start(withAlpha, &started)) {
        case StartStatus::Ok: break;
        case StartStatus::LibraryError: d.failFromTrap(); break;
        case StartStatus::Precision:
            d.fail("JPEG: " + std::to_string(started.precision) + "-bit samples are not supported");
            break;
        case StartStatus::ColourSpace: d.fail("JPEG: unsupported colour space"); break;
        case StartStatus::TooLarge: d.fail("JPEG: picture too large"); break;
    }
    if (started.width == 0) {
        reset();
        return nullptr;
    }
    const int width = started.width;
    const int height = started.height;
    auto picture = OBPicture::createChecked(pictureFormat(started.layout, withAlpha), width, height);
    std::unique_ptr<JSAMPROW[]> rows(picture ? new (std::nothrow) JSAMPROW[std::size_t(height)] : nullptr);
    std::unique_ptr<JSAMPLE[]> scratch;
    if (rows && started.layout == Layout::Cmyk) scratch.reset(new (std::nothrow) JSAMPLE[std::size_t(width) * 4]);
    if (!rows || (started.layout == Layout::Cmyk && !scratch)) {
        d.fail("out of memory");
        reset();
        return nullptr;
    }
    for (int i = 0; i < height; ++i) rows[std::size_t(i)] = picture->row(height - 1 - i);
    RowTarget target;
    target.rows = rows.get();
    target.scratch = scratch.get();
    target.inverted = started.inverted;
    target.width = std::size_t(width);
    target.samples = started.samples;
    target.pixelBytes = (started.layout == Layout::Grey ? 1 : 3) + (withAlpha ? 1 : 0);
    target.stride = std::size_t(picture->stride());
    if (!d.readRows(&target)) {
        d.failFromTrap();
        reset();
        return nullptr;
    }
    return picture;
}

const std::string& JpegReader::error() const {
    static const std::string kNoDecoder = "JPEG: decoder could not be set up";
    return impl_ ? impl_->error : kNoDecoder;
}

std::unique_ptr<OBPicture> decodeJpeg(Bytes data, bool withAlpha, std::string* reason) {
    JpegReader jpeg;
    std::unique_ptr<OBPicture> picture;
    if (jpeg.ok()) {
        jpeg.attach(data);
        if (jpeg.readHeader() != JpegReader::Header::Failed) picture = jpeg.decode(withAlpha);
    }
    if (!picture && reason) *reason = jpeg.error();
    return picture;
}

// ---------------------------------------------------------------------------
// Compression

namespace {

void compressAll(jpeg_compress_struct* cinfo, const OBPicture* picture, std::FILE* file, int quality) {
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, file);
    const bool colour = picture->format() == kFormatRGB;
    cinfo->image_width = JDIMENSION(picture->width());
    cinfo->image_height = JDIMENSION(picture->height());
    cinfo->input_components = colour ? 3 : 1;
    cinfo->in_color_space = colour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo);
    cinfo->density_unit = 0;
    jpeg_set_quality(cinfo, quality, TRUE);
    // Chroma at full resolution: subsampling would smear colour across
    // neighbouring pixels, which thin coloured lines do not survive.
    for (int c = 0; c < cinfo->num_components; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    cinfo->optimize_coding = TRUE;
    cinfo->dct_method = JDCT_ISLOW;
    jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture->row(picture->height() - 1 - int(cinfo->next_scanline)));
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
}

bool compressGuarded(jpeg_compress_struct* cinfo, JpegErrorTrap* trap, const OBPicture* picture, std::FILE* file,
                     int quality) {
    if (setjmp(trap->jump)) return false;
    compressAll(cinfo, picture, file, quality);
    return true;
}

}  // namespace

bool writeJpeg(const OBPicture& picture, std::FILE* file, int quality) {
    if (!file || !picture.isValid()) return false;
    if (picture.format() != kFormatRGB && picture.format() != kFormatGrayscale) return false;
    jpeg_compress_struct cinfo{};
    JpegErrorTrap trap{};
    cinfo.err = installTrap(trap);
    const bool ok = compressGuarded(&cinfo, &trap, &picture, file, quality);
    jpeg_destroy_compress(&cinfo);
    return ok;
}

}  // namespace kestrel
