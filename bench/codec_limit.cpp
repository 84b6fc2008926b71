#include "codec_limit.h"

#include <zlib.h>

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "base/pixel_block.h"

namespace bench {

namespace {

struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void trapError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1); }
void quiet(j_common_ptr, int) {}

bool inflateInto(std::span<const std::uint8_t> source, std::uint8_t* out, std::size_t size) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(source.data());
    zs.avail_in = uInt(std::min<std::size_t>(source.size(), UINT_MAX));
    zs.next_out = out;
    zs.avail_out = uInt(std::min<std::size_t>(size, UINT_MAX));
    const int rc = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

// Output buffers: new ones, or with `reuse` the ones a previous run left in
// `keep`, taken in the same order (the same payloads need the same sizes).
class Buffers {
public:
    Buffers(Decoded& keep, bool reuse) : keep_(keep), reuse_(reuse && !keep.empty()) {
        if (!reuse_) keep_.clear();
    }
    std::uint8_t* take(std::size_t size) {
        if (reuse_) return next_ < keep_.size() ? keep_[next_++].get() : nullptr;
        keep_.push_back(kestrel::allocatePixelBlock(size));
        return keep_.back().get();
    }

private:
    Decoded& keep_;
    const bool reuse_;
    std::size_t next_ = 0;
};

// One decompressor for the whole file, so that DefineBits images find the
// tables loaded from their JPEGTables stream. Plain data only in the
// frames that set the jump point.
class Decoder {
public:
    Decoder() {
        cinfo_.err = jpeg_std_error(&trap_.manager);
        trap_.manager.error_exit = trapError;
        trap_.manager.emit_message = quiet;
        jpeg_create_decompress(&cinfo_);
    }
    ~Decoder() {
        release();
        jpeg_destroy_decompress(&cinfo_);
    }

    bool loadTables(std::span<const std::uint8_t> tables) {
        if (setjmp(trap_.jump)) {
            jpeg_abort_decompress(&cinfo_);
            return false;
        }
        jpeg_mem_src(&cinfo_, tables.data(), (unsigned long)tables.size());
        jpeg_read_header(&cinfo_, FALSE);
        return true;
    }

    // Decodes into a buffer from `buffers`; its size and the image size go
    // to the out parameters.
    bool decode(std::span<const std::uint8_t> data, int* width, int* height, std::int64_t* bytes, Buffers& buffers) {
        if (setjmp(trap_.jump)) {
            release();
            jpeg_abort_decompress(&cinfo_);
            return false;
        }
        jpeg_mem_src(&cinfo_, data.data(), (unsigned long)data.size());
        jpeg_read_header(&cinfo_, TRUE);
        cinfo_.dct_method = JDCT_ISLOW;
        jpeg_start_decompress(&cinfo_);
        const std::size_t stride = std::size_t(cinfo_.output_width) * std::size_t(cinfo_.output_components);
        const std::size_t h = cinfo_.output_height;
        std::uint8_t* pixels = buffers.take(stride * h);
        if (!pixels) {
            jpeg_abort_decompress(&cinfo_);
            return false;
        }
        rows_ = new JSAMPROW[h];
        for (std::size_t r = 0; r < h; ++r) rows_[r] = pixels + r * stride;
        while (cinfo_.output_scanline < cinfo_.output_height) {
            jpeg_read_scanlines(&cinfo_, rows_ + cinfo_.output_scanline, JDIMENSION(h - cinfo_.output_scanline));
        }
        jpeg_finish_decompress(&cinfo_);
        *width = int(cinfo_.output_width);
        *height = int(h);
        *bytes = std::int64_t(stride * h);
        release();
        return true;
    }

private:
    // Members, not locals, so that a long jump cannot lose them.
    void release() {
        delete[] rows_;
        rows_ = nullptr;
    }

    JSAMPROW* rows_ = nullptr;
    jpeg_decompress_struct cinfo_{};
    ErrorTrap trap_{};
};

void inflateLossless(const SwfPayloads& payloads, CodecTotals& totals, Buffers& buffers) {
    for (const ZlibPayload& z : payloads.lossless) {
        std::uint8_t* out = buffers.take(z.outputBytes);
        ++totals.zlibStreams;
        if (!out || !inflateInto(z.data, out, z.outputBytes)) ++totals.failures;
        totals.outputBytes += std::int64_t(z.outputBytes);
    }
}

}  // namespace

CodecTotals decodeWithCodecsOnly(const SwfPayloads& payloads, Decoded& keep, bool reuse) {
    CodecTotals totals;
    Buffers buffers(keep, reuse);
    Decoder decoder;
    const std::uint8_t* loaded = nullptr;
    for (const JpegPayload& j : payloads.jpegs) {
        if (!j.tables.empty() && j.tables.data() != loaded) {
            if (!decoder.loadTables(j.tables)) ++totals.failures;
            loaded = j.tables.data();
        }
        int width = 0, height = 0;
        std::int64_t bytes = 0;
        ++totals.jpegImages;
        if (!decoder.decode(j.data, &width, &height, &bytes, buffers)) {
            ++totals.failures;
            continue;
        }
        totals.pixels += std::int64_t(width) * height;
        totals.outputBytes += bytes;
        if (!j.alpha.empty()) {
            const std::size_t size = std::size_t(width) * std::size_t(height);
            std::uint8_t* plane = buffers.take(size);
            ++totals.zlibStreams;
            if (!plane || !inflateInto(j.alpha, plane, size)) ++totals.failures;
            totals.outputBytes += std::int64_t(size);
        }
    }
    inflateLossless(payloads, totals, buffers);
    return totals;
}

}  // namespace bench
