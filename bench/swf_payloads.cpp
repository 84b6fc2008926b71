#include "swf_payloads.h"

#include <sys/stat.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>

namespace bench {

namespace {

enum : unsigned {
    kEnd = 0,
    kDefineBits = 6,
    kJpegTables = 8,
    kDefineBitsLossless = 20,
    kDefineBitsJpeg2 = 21,
    kDefineBitsJpeg3 = 35,
    kDefineBitsLossless2 = 36,
    kDefineSprite = 39,
};

unsigned u16(const std::uint8_t* p) { return unsigned(p[0]) | unsigned(p[1]) << 8; }
std::uint32_t u32(const std::uint8_t* p) { return std::uint32_t(u16(p)) | std::uint32_t(u16(p + 2)) << 16; }

// A JPEG stream that starts with an empty EOI/SOI pair starts at the SOI
// of its real part.
std::span<const std::uint8_t> skipEmptyPrefix(std::span<const std::uint8_t> jpeg) {
    if (jpeg.size() >= 4 && jpeg[0] == 0xFF && jpeg[1] == 0xD9 && jpeg[2] == 0xFF && jpeg[3] == 0xD8) {
        return jpeg.subspan(4);
    }
    return jpeg;
}

class Walker {
public:
    explicit Walker(SwfPayloads& out) : out_(out) {}

    void walk(std::span<const std::uint8_t> tags, int depth) {
        std::size_t at = 0;
        while (at + 2 <= tags.size()) {
            const unsigned header = u16(&tags[at]);
            at += 2;
            const unsigned code = header >> 6;
            std::size_t length = header & 0x3F;
            if (length == 0x3F) {
                if (at + 4 > tags.size()) return;
                length = u32(&tags[at]);
                at += 4;
            }
            if (length > tags.size() - at) return;
            tag(code, tags.subspan(at, length), depth);
            if (code == kEnd) return;
            at += length;
        }
    }

private:
    void tag(unsigned code, std::span<const std::uint8_t> body, int depth) {
        switch (code) {
            case kJpegTables: tables_ = skipEmptyPrefix(body); break;
            case kDefineBits:
                if (body.size() > 2) out_.jpegs.push_back({tables_, body.subspan(2), {}});
                break;
            case kDefineBitsJpeg2:
                if (body.size() > 2) out_.jpegs.push_back({{}, skipEmptyPrefix(body.subspan(2)), {}});
                break;
            case kDefineBitsJpeg3: {
                if (body.size() < 6) break;
                const std::uint32_t alphaOffset = u32(&body[2]);
                const auto rest = body.subspan(6);
                if (alphaOffset > rest.size()) break;
                out_.jpegs.push_back({{}, skipEmptyPrefix(rest.first(alphaOffset)), rest.subspan(alphaOffset)});
                break;
            }
            case kDefineBitsLossless:
            case kDefineBitsLossless2: {
                if (body.size() < 7) break;
                const unsigned format = body[2];
                const std::size_t width = u16(&body[3]), height = u16(&body[5]);
                const bool alpha = code == kDefineBitsLossless2;
                std::size_t pixelBytes = format == 3 ? 1 : format == 4 ? 2 : format == 5 ? 4 : 0;
                if (pixelBytes == 0) break;
                std::size_t table = 0, offset = 7;
                if (format == 3) {
                    if (body.size() < 8) break;
                    table = (std::size_t(body[7]) + 1) * (alpha ? 4 : 3);
                    offset = 8;
                }
                const std::size_t stride = (width * pixelBytes + 3) & ~std::size_t(3);
                out_.lossless.push_back({body.subspan(offset), table + stride * height});
                break;
            }
            case kDefineSprite:
                if (depth < 8 && body.size() >= 4) walk(body.subspan(4), depth + 1);
                break;
            default: break;
        }
    }

    SwfPayloads& out_;
    std::span<const std::uint8_t> tables_;
};

}  // namespace

bool readWholeFile(const std::string& path, ByteBuffer& out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    struct stat st {};
    if (::fstat(::fileno(f), &st) != 0) {
        std::fclose(f);
        return false;
    }
    out.resize(std::size_t(st.st_size));
    const std::size_t n = std::fread(out.data(), 1, out.size(), f);
    out.resize(n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool inflateSwfBody(std::span<const std::uint8_t> file, ByteBuffer& body) {
    if (file.size() < 8) return false;
    if (file[0] == 'F') {
        body.assign(file.begin() + 8, file.end());
        return true;
    }
    if (file[0] != 'C') return false;
    const std::size_t declared = u32(&file[4]);
    if (declared < 8) return false;
    body.resize(declared - 8);
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    zs.next_in = const_cast<Bytef*>(file.data() + 8);
    zs.avail_in = uInt(std::min<std::size_t>(file.size() - 8, UINT_MAX));
    zs.next_out = body.data();
    zs.avail_out = uInt(std::min<std::size_t>(body.size(), UINT_MAX));
    const int rc = inflate(&zs, Z_FINISH);
    body.resize(zs.total_out);
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

bool loadPayloads(const std::string& path, SwfPayloads& out, std::string& error) {
    ByteBuffer raw;
    if (!readWholeFile(path, raw)) {
        error = "cannot read " + path;
        return false;
    }
    out.fileBytes = raw.size();
    if (!inflateSwfBody(raw, out.file)) {
        error = path + " is not an SWF file or its body does not inflate";
        return false;
    }
    // Skip the frame RECT, rate and frame count.
    if (out.file.empty()) {
        error = path + " has no body";
        return false;
    }
    const std::size_t rectBits = 5 + 4 * (out.file[0] >> 3);
    const std::size_t tagsStart = (rectBits + 7) / 8 + 4;
    if (tagsStart > out.file.size()) {
        error = path + " is too short";
        return false;
    }
    out.jpegs.clear();
    out.lossless.clear();
    Walker(out).walk(std::span<const std::uint8_t>(out.file).subspan(tagsStart), 0);
    return true;
}

}  // namespace bench
