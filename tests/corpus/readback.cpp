#include "readback.h"

#include <jpeglib.h>
#include <lzma.h>
#include <mpg123.h>
#include <png.h>
#include <zlib.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace kestrel::corpus {

ByteVector readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// --- PNG ------------------------------------------------------------------

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

void pngError(png_structp png, png_const_charp message) {
    auto* text = static_cast<std::string*>(png_get_error_ptr(png));
    *text = message ? message : "libpng error";
    png_longjmp(png, 1);
}
void pngWarning(png_structp, png_const_charp) {}

// Runs the libpng calls; kept apart so that no C++ object with a destructor
// lives in the frame that setjmp returns to.
bool readPngRows(png_structp png, png_infop info, std::FILE* file, PngFile* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_read_info(png, info);
    out->width = int(png_get_image_width(png, info));
    out->height = int(png_get_image_height(png, info));
    out->colourType = png_get_color_type(png, info);
    out->bitDepth = png_get_bit_depth(png, info);
    out->channels = png_get_channels(png, info);
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    out->pixels.resize(rowBytes * std::size_t(out->height));
    std::vector<png_bytep> rows(std::size_t(out->height));
    for (int y = 0; y < out->height; ++y) rows[std::size_t(y)] = out->pixels.data() + rowBytes * std::size_t(y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    return true;
}

}  // namespace

PngFile readPngFile(const std::string& path) {
    PngFile out;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        out.error = "cannot open";
        return out;
    }
    png_byte signature[8] = {};
    if (std::fread(signature, 1, 8, file.get()) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        out.error = "no PNG signature";
        return out;
    }
    std::string message;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, pngError, pngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_read_struct(&png, &info, nullptr);
        out.error = "libpng setup failed";
        return out;
    }
    png_set_sig_bytes(png, 8);
    const bool ok = readPngRows(png, info, file.get(), &out);
    png_destroy_read_struct(&png, &info, nullptr);
    if (!ok) out.error = message.empty() ? "libpng error" : message;
    return out;
}

// --- JPEG -----------------------------------------------------------------

namespace {

struct JpegErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}
void jpegQuiet(j_common_ptr, int) {}

bool decodeJpegRows(jpeg_decompress_struct* cinfo, JpegErrors* errors, std::FILE* file, JpegFile* out,
                    std::uint8_t** pixels, std::size_t* capacity) {
    if (setjmp(errors->jump)) return false;
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    out->width = int(cinfo->image_width);
    out->height = int(cinfo->image_height);
    out->components = cinfo->num_components;
    jpeg_start_decompress(cinfo);
    const std::size_t rowBytes = std::size_t(cinfo->output_width) * std::size_t(cinfo->output_components);
    const std::size_t need = rowBytes * cinfo->output_height;
    if (need > *capacity) return false;
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = *pixels + rowBytes * cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Frame size from the first SOFn marker, so that the pixel buffer can be
// sized before libjpeg runs.
bool jpegFrameSize(const ByteVector& bytes, int* width, int* height, int* components) {
    std::size_t p = 2;
    while (p + 4 <= bytes.size()) {
        if (bytes[p] != 0xFF) {
            ++p;
            continue;
        }
        const std::uint8_t m = bytes[p + 1];
        if (m == 0xFF) {
            ++p;
            continue;
        }
        if (m == 0xD8 || m == 0x01 || (m >= 0xD0 && m <= 0xD7)) {
            p += 2;
            continue;
        }
        const std::size_t len = std::size_t(bytes[p + 2]) << 8 | bytes[p + 3];
        const bool sof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (sof && p + 10 <= bytes.size()) {
            *height = bytes[p + 5] << 8 | bytes[p + 6];
            *width = bytes[p + 7] << 8 | bytes[p + 8];
            *components = bytes[p + 9];
            return true;
        }
        p += 2 + len;
    }
    return false;
}

}  // namespace

JpegFile readJpegFile(const std::string& path) {
    JpegFile out;
    const ByteVector bytes = readFileBytes(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) {
        out.error = "no JPEG SOI marker";
        return out;
    }
    int w = 0, h = 0, c = 0;
    if (!jpegFrameSize(bytes, &w, &h, &c)) {
        out.error = "no SOF marker";
        return out;
    }
    std::size_t capacity = std::size_t(w) * std::size_t(h) * std::size_t(std::max(c, 3));
    out.pixels.resize(std::max<std::size_t>(capacity, 1));
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        out.error = "cannot open";
        return out;
    }
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = jpegFail;
    errors.pub.emit_message = jpegQuiet;
    jpeg_create_decompress(&cinfo);
    std::uint8_t* pixels = out.pixels.data();
    const bool ok = decodeJpegRows(&cinfo, &errors, file.get(), &out, &pixels, &capacity);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        out.error = errors.message[0] ? errors.message : "decode failed";
        return out;
    }
    const int outComponents = out.components == 1 ? 1 : 3;
    out.pixels.resize(std::size_t(out.width) * std::size_t(out.height) * std::size_t(outComponents));
    return out;
}

// --- WAV ------------------------------------------------------------------

namespace {

std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return std::uint32_t(le16(p)) | std::uint32_t(le16(p + 2)) << 16; }

}  // namespace

WavFile readWavFile(const std::string& path) {
    WavFile out;
    const ByteVector bytes = readFileBytes(path);
    out.fileSize = bytes.size();
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        out.error = "not RIFF/WAVE";
        return out;
    }
    out.riffSize = le32(bytes.data() + 4);
    bool hasFmt = false;
    std::size_t p = 12;
    while (p + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + p;
        const std::uint32_t size = le32(chunk + 4);
        if (std::uint64_t(p) + 8 + size > bytes.size()) {
            out.error = "chunk runs past the end of the file";
            return out;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16) {
                out.error = "fmt chunk too short";
                return out;
            }
            hasFmt = true;
            out.fmtSize = size;
            out.formatTag = le16(chunk + 8);
            out.channels = le16(chunk + 10);
            out.sampleRate = le32(chunk + 12);
            out.byteRate = le32(chunk + 16);
            out.blockAlign = le16(chunk + 20);
            out.bitsPerSample = le16(chunk + 22);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            out.hasData = true;
            out.data.assign(chunk + 8, chunk + 8 + size);
        }
        p += 8 + std::size_t(size) + (size & 1);
    }
    if (!hasFmt || !out.hasData) out.error = "missing fmt or data chunk";
    return out;
}

// --- MP3 ------------------------------------------------------------------

Mp3Decode decodeMp3(const ByteVector& bytes) {
    Mp3Decode out;
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, void (*)(mpg123_handle*)> mh(mpg123_new(nullptr, &err), mpg123_delete);
    if (!mh) {
        out.error = "mpg123_new failed";
        return out;
    }
    // Every frame counts as audio: no gapless trimming, the Xing/LAME frame
    // decoded like the others, and junk of any length skipped.
    mpg123_param(mh.get(), MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_IGNORE_INFOFRAME, 0);
    mpg123_param(mh.get(), MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(mh.get(), MPG123_RESYNC_LIMIT, -1, 0);
    if (mpg123_open_feed(mh.get()) != MPG123_OK) {
        out.error = "mpg123_open_feed failed";
        return out;
    }
    std::size_t fed = 0;
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        std::size_t produced = 0;
        const int rc = mpg123_decode_frame(mh.get(), &frameNumber, &audio, &produced);
        if (rc == MPG123_NEW_FORMAT) {
            mpg123_getformat(mh.get(), &rate, &channels, &encoding);
            if (out.firstRate == 0) {
                out.firstRate = rate;
                out.firstChannels = channels;
            }
            continue;
        }
        if (rc == MPG123_NEED_MORE) {
            if (fed >= bytes.size()) break;
            const std::size_t chunk = std::min<std::size_t>(bytes.size() - fed, 1 << 20);
            mpg123_feed(mh.get(), bytes.data() + fed, chunk);
            fed += chunk;
            continue;
        }
        if (rc == MPG123_OK) {
            const int sampleBytes = mpg123_encsize(encoding);
            if (produced > 0 && channels > 0 && sampleBytes > 0 && rate > 0) {
                const std::int64_t n = std::int64_t(produced) / (channels * sampleBytes);
                out.samples += n;
                out.durationMs += double(n) * 1000.0 / double(rate);
                ++out.frames;
                mpg123_frameinfo2 info{};
                if (mpg123_info2(mh.get(), &info) == MPG123_OK && info.bitrate > 0) {
                    out.byteSlackMs += 8.0 / double(info.bitrate);
                }
            }
            continue;
        }
        if (rc == MPG123_DONE) break;
        out.error = mpg123_strerror(mh.get());
        break;
    }
    return out;
}

// --- SWF bytes ------------------------------------------------------------

ByteVector inflateUpTo(const std::uint8_t* data, std::size_t size, std::size_t limit, bool* complete) {
    ByteVector out;
    *complete = false;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return out;
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = uInt(std::min<std::size_t>(size, UINT_MAX));
    std::uint8_t buffer[1 << 16];
    while (out.size() < limit) {
        zs.next_out = buffer;
        zs.avail_out = uInt(std::min<std::size_t>(sizeof buffer, limit - out.size()));
        const int rc = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer, zs.next_out);
        if (rc == Z_STREAM_END) {
            *complete = true;
            break;
        }
        if (rc != Z_OK) break;
    }
    inflateEnd(&zs);
    return out;
}

// A ZWS body: 4-byte compressed length and 5 LZMA property bytes after the
// header, then raw LZMA1 data, decoded here with a raw-filter decoder up to
// the declared length.
ByteVector unpackLzma(const ByteVector& file) {
    ByteVector out(file.begin(), file.begin() + 8);
    if (file.size() < 17) return out;
    const std::size_t declared = std::size_t(file[4]) | std::size_t(file[5]) << 8 | std::size_t(file[6]) << 16 |
                                 std::size_t(file[7]) << 24;
    lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
    if (declared < 8 || lzma_properties_decode(&filters[0], nullptr, file.data() + 12, 5) != LZMA_OK) return out;
    lzma_stream ls = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&ls, filters) == LZMA_OK) {
        out.resize(std::min<std::size_t>(declared, std::size_t(1) << 31));
        ls.next_in = file.data() + 17;
        ls.avail_in = file.size() - 17;
        ls.next_out = out.data() + 8;
        ls.avail_out = out.size() - 8;
        lzma_ret rc = LZMA_OK;
        while (rc == LZMA_OK && ls.avail_out > 0) rc = lzma_code(&ls, LZMA_FINISH);
        out.resize(8 + std::size_t(ls.total_out));
    }
    lzma_end(&ls);
    std::free(filters[0].options);
    return out;
}

ByteVector uncompressedSwf(const std::string& path) {
    ByteVector file = readFileBytes(path);
    if (file.size() >= 8 && file[0] == 'Z') return unpackLzma(file);
    if (file.size() < 8 || file[0] != 'C') return file;
    ByteVector out(file.begin(), file.begin() + 8);
    bool complete = false;
    const ByteVector body = inflateUpTo(file.data() + 8, file.size() - 8, std::size_t(1) << 31, &complete);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

FlvFile readFlvFile(const std::string& path) {
    FlvFile out;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) {
        out.error = "libavformat cannot open it";
        return out;
    }
    if (avformat_find_stream_info(input, nullptr) < 0 || input->nb_streams != 1) {
        out.error = "not one stream";
        avformat_close_input(&input);
        return out;
    }
    const AVCodecParameters* par = input->streams[0]->codecpar;
    out.codec = avcodec_get_name(par->codec_id);
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder || avcodec_parameters_to_context(decoder, par) < 0 || avcodec_open2(decoder, codec, nullptr) < 0) {
        out.error = "no decoder for " + out.codec;
        avcodec_free_context(&decoder);
        avformat_close_input(&input);
        return out;
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(decoder, frame) == 0) ++out.decoded;
    };
    while (av_read_frame(input, packet) >= 0) {
        ++out.packets;
        if (avcodec_send_packet(decoder, packet) >= 0) drain();
        av_packet_unref(packet);
    }
    if (avcodec_send_packet(decoder, nullptr) >= 0) drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return out;
}

}  // namespace kestrel::corpus
