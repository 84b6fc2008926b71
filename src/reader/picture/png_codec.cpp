#include "reader/picture/png_codec.h"

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <png.h>

// Every function below that calls setjmp keeps only plain pointers and
// values in its frame and hands the real work to a helper, so a long jump
// out of libpng never skips a destructor and no local can be clobbered.

namespace kestrel {

namespace {

// ---- PNG, shared ----

// Errors go straight back to the jump buffer; nothing is printed. When the
// error pointer is set, the library's message is kept there.
struct PngMessage {
    char text[128];
};

void pngError(png_structp png, png_const_charp message) {
    if (auto* kept = static_cast<PngMessage*>(png_get_error_ptr(png)); kept && message) {
        std::snprintf(kept->text, sizeof kept->text, "%s", message);
    }
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// ---- PNG writing ----

void pngWriteData(png_structp png, png_bytep data, png_size_t length) {
    auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
    if (std::fwrite(data, 1, length, file) != length) png_error(png, "short write");
}

int pngColourType(int format) {
    switch (format) {
        case kFormatRGBA: return PNG_COLOR_TYPE_RGB_ALPHA;
        case kFormatAlpha:
        case kFormatGrayscale: return PNG_COLOR_TYPE_GRAY;
        case kFormatGrayAlpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
        default: return PNG_COLOR_TYPE_RGB;
    }
}

void pngWriteAll(png_structp png, png_infop info, const OBPicture* picture, std::FILE* file, int level) {
    png_set_write_fn(png, file, pngWriteData, nullptr);
    png_set_IHDR(png, info, png_uint_32(picture->width()), png_uint_32(picture->height()), 8,
                 pngColourType(picture->format()), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    png_write_info(png, info);
    for (int i = 0; i < picture->height(); ++i) {
        png_bytep row = const_cast<png_bytep>(picture->row(picture->height() - 1 - i));
        png_write_rows(png, &row, 1);
    }
    png_write_end(png, info);
}

bool pngWriteGuarded(png_structp png, png_infop info, const OBPicture* picture, std::FILE* file, int level) {
    if (setjmp(png_jmpbuf(png))) return false;
    pngWriteAll(png, info, picture, file, level);
    return true;
}

bool pngWritePicture(const OBPicture& picture, std::FILE* file, int level) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    const bool ok = pngWriteGuarded(png, info, &picture, file, level);
    png_destroy_write_struct(&png, &info);
    // Data still buffered in the stream must reach the file too, or a full
    // disk would only show when the caller closes it.
    return ok && std::fflush(file) == 0 && std::ferror(file) == 0;
}

// ---- PNG reading ----

struct PngSource {
    const std::uint8_t* data;
    std::size_t length;
    std::size_t position;
};

void pngReadData(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (length > source->length - source->position) png_error(png, "read past the end of the data");
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
}

// What the header says, after the transforms have been set up.
struct PngLayout {
    png_uint_32 width;
    png_uint_32 height;
    int colourType;  // after the transforms
    int channels;    // after the transforms
    png_size_t rowBytes;
    int passes;
    int paletteCount;  // palette images: 1..256 entries in palette
    std::uint8_t palette[256 * 4];
};

void pngReadLayout(png_structp png, png_infop info, PngSource* source, PngLayout* layout) {
    png_set_read_fn(png, source, pngReadData);
    png_read_info(png, info);
    int bitDepth = 0;
    int colourType = 0;
    png_get_IHDR(png, info, &layout->width, &layout->height, &bitDepth, &colourType, nullptr, nullptr, nullptr);
    png_set_strip_16(png);
    png_set_packing(png);
    if ((colourType & PNG_COLOR_MASK_COLOR) == 0) png_set_expand(png);
    layout->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    layout->colourType = png_get_color_type(png, info);
    layout->channels = png_get_channels(png, info);
    layout->rowBytes = png_get_rowbytes(png, info);

    layout->paletteCount = 0;
    if (layout->colourType != PNG_COLOR_TYPE_PALETTE) return;
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &colours, &count) == 0 || !colours) count = 0;
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    if (png_get_tRNS(png, info, &alpha, &alphaCount, nullptr) == 0 || !alpha) alphaCount = 0;
    count = std::min(count, 256);
    for (int i = 0; i < count; ++i) {
        std::uint8_t* e = layout->palette + i * 4;
        e[0] = colours[i].red;
        e[1] = colours[i].green;
        e[2] = colours[i].blue;
        e[3] = i < alphaCount ? alpha[i] : 255;
    }
    layout->paletteCount = count;
}

bool pngReadLayoutGuarded(png_structp png, png_infop info, PngSource* source, PngLayout* layout) {
    if (setjmp(png_jmpbuf(png))) return false;
    pngReadLayout(png, info, source, layout);
    return true;
}

struct PngRowJob {
    OBPicture* picture;
    png_bytepp rows;  // palette images: every row at once, bottom stored row first
    int passes;
    CancelFn cancel;
    void* context;
};

enum class ReadOutcome {
    done,
    failed,
    cancelled
};

ReadOutcome pngReadRows(png_structp png, const PngRowJob* job) {
    if (job->rows) {
        png_read_image(png, job->rows);
        return ReadOutcome::done;
    }
    OBPicture& picture = *job->picture;
    const int interval = std::max(1, 65536 / std::max(1, picture.stride()));
    int asked = 0;
    for (int pass = 0; pass < job->passes; ++pass) {
        for (int y = 0; y < picture.height(); ++y) {
            if (job->cancel && asked++ % interval == 0 && job->cancel(job->context)) return ReadOutcome::cancelled;
            png_read_row(png, picture.row(picture.height() - 1 - y), nullptr);
        }
    }
    return ReadOutcome::done;
}

ReadOutcome pngReadRowsGuarded(png_structp png, const PngRowJob* job) {
    if (setjmp(png_jmpbuf(png))) return ReadOutcome::failed;
    return pngReadRows(png, job);
}

int pictureFormatFor(const PngLayout& layout) {
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) return layout.channels == 1 ? kFormatIndexed : 0;
    switch (layout.channels) {
        case 1: return kFormatGrayscale;
        case 2: return kFormatGrayAlpha;
        case 3: return kFormatRGB;
        case 4: return kFormatRGBA;
        default: return 0;
    }
}

// Runs on live read structures; the caller destroys them.
std::unique_ptr<OBPicture> pngDecode(png_structp png, png_infop info, const std::uint8_t* buffer, std::size_t length,
                                     CancelFn cancel, void* context, const char** why) {
    PngSource source{buffer, length, 0};
    PngLayout layout{};
    *why = nullptr;  // a library error leaves its own message
    if (!pngReadLayoutGuarded(png, info, &source, &layout)) return nullptr;
    *why = "picture too large";
    if (layout.width == 0 || layout.height == 0 || layout.width > INT_MAX || layout.height > INT_MAX) return nullptr;
    const int format = pictureFormatFor(layout);
    *why = "unsupported layout";
    if (format == 0) return nullptr;

    auto picture = OBPicture::create(format, int(layout.width), int(layout.height));
    *why = "picture too large";
    if (!picture || layout.rowBytes > std::size_t(picture->stride())) return nullptr;

    std::vector<png_bytep> rows;
    if (format == kFormatIndexed) {
        *why = "palette missing";
        if (layout.paletteCount == 0) return nullptr;
        picture->setPalette(layout.paletteCount, layout.palette);
        picture->classifyPaletteKind();
        try {
            rows.resize(std::size_t(picture->height()));
        } catch (const std::bad_alloc&) {
            *why = "out of memory";
            return nullptr;
        }
        for (int i = 0; i < picture->height(); ++i) rows[std::size_t(i)] = picture->row(picture->height() - 1 - i);
    }

    *why = nullptr;
    const PngRowJob job{picture.get(), rows.empty() ? nullptr : rows.data(), layout.passes, cancel, context};
    if (pngReadRowsGuarded(png, &job) != ReadOutcome::done) return nullptr;
    return picture;
}

}  // namespace

bool writePng(const OBPicture& picture, std::FILE* file, int level) {
    if (!file || !picture.isValid()) return false;
    level = std::clamp(level, 0, 9);
    // Indexed pictures are written in the format of their palette kind;
    // 16-bit RGBA-5551 pixels are widened to RGBA first.
    std::unique_ptr<OBPicture> expanded;
    if (picture.format() == kFormatIndexed)
        expanded = picture.expandIndexed();
    else if (picture.format() == kFormatRGBA5551)
        expanded = picture.toDisplay();
    else
        return pngWritePicture(picture, file, level);
    return expanded && pngWritePicture(*expanded, file, level);
}

std::unique_ptr<OBPicture> readPng(const std::uint8_t* buffer, std::size_t length, CancelFn cancel, void* context,
                                   std::string* reason) {
    if (!buffer || length == 0) {
        if (reason) *reason = "PNG: no data";
        return nullptr;
    }
    PngMessage message{};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::unique_ptr<OBPicture> picture;
    const char* why = "out of memory";
    if (info) picture = pngDecode(png, info, buffer, length, cancel, context, &why);
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (!picture && reason) {
        *reason = std::string("PNG: ") + (why ? why : message.text[0] ? message.text : "cancelled");
    }
    return picture;
}

}  // namespace kestrel
