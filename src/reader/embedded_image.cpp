#include "reader/embedded_image.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "reader/picture/image_writers.h"

namespace kestrel {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct GifInput {
    std::span<const std::uint8_t> data;
    std::size_t offset = 0;
};

int readGif(GifFileType* gif, GifByteType* destination, int wanted) {
    auto* input = static_cast<GifInput*>(gif->UserData);
    const std::size_t count =
        std::min<std::size_t>(std::size_t(std::max(wanted, 0)), input->data.size() - input->offset);
    std::memcpy(destination, input->data.data() + input->offset, count);
    input->offset += count;
    return int(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

// Transparent colour index of a graphic control extension, or -1.
int transparentIndex(const GifByteType* extension) {
    if (!extension || extension[0] < 4) return -1;
    return (extension[1] & 1) ? extension[4] : -1;
}

// Reads the rows of the current image into the picture at (left, top).
bool readGifImage(GifFileType* gif, OBPicture& picture, int transparent) {
    const GifImageDesc& desc = gif->Image;
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    const int width = desc.Width;
    const int height = desc.Height;
    if (width <= 0 || height <= 0) return false;
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));

    static const int kStart[] = {0, 4, 2, 1};
    static const int kStep[] = {8, 8, 4, 2};
    const int passes = desc.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = desc.Interlace ? kStart[pass] : 0;
        const int step = desc.Interlace ? kStep[pass] : 1;
        for (int y = start; y < height; y += step) {
            if (DGifGetLine(gif, line.data(), width) != GIF_OK) return false;
            const int row = desc.Top + y;
            if (row < 0 || row >= picture.height()) continue;
            std::uint8_t* out = picture.row(picture.height() - 1 - row);
            for (int x = 0; x < width; ++x) {
                const int column = desc.Left + x;
                if (column < 0 || column >= picture.width()) continue;
                std::uint8_t* px = out + std::size_t(column) * 4;
                const int index = line[std::size_t(x)];
                if (index == transparent) {
                    std::memset(px, 0, 4);
                } else if (map && index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    px[0] = c.Red;
                    px[1] = c.Green;
                    px[2] = c.Blue;
                    px[3] = 255;
                } else {
                    px[0] = px[1] = px[2] = 0;
                    px[3] = 255;
                }
            }
        }
    }
    return true;
}

}  // namespace

EmbeddedKind embeddedKind(std::span<const std::uint8_t> data) {
    if (data.size() >= 8 && std::memcmp(data.data(), kPngSignature, 8) == 0) return EmbeddedKind::Png;
    if (data.size() >= 6 && std::memcmp(data.data(), "GIF8", 4) == 0) return EmbeddedKind::Gif;
    return EmbeddedKind::Jpeg;
}

std::unique_ptr<OBPicture> decodePng(std::span<const std::uint8_t> data) {
    return readPng(data.data(), data.size(), nullptr, nullptr);
}

std::unique_ptr<OBPicture> decodeGif(std::span<const std::uint8_t> data) {
    GifInput input{data};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, readGif, &error));
    if (!gif) return nullptr;

    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) != GIF_OK) return nullptr;
        if (type == TERMINATE_RECORD_TYPE) return nullptr;  // no image at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif.get(), &code, &extension) != GIF_OK) return nullptr;
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparentIndex(extension);
            while (extension) {
                if (DGifGetExtensionNext(gif.get(), &extension) != GIF_OK) return nullptr;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) != GIF_OK) return nullptr;
        // The picture covers the logical screen; what the first image
        // leaves uncovered is transparent.
        int width = gif->SWidth;
        int height = gif->SHeight;
        if (width <= 0 || height <= 0) {
            width = gif->Image.Width;
            height = gif->Image.Height;
        }
        auto picture = OBPicture::create(kFormatRGBA, width, height);
        if (!picture) return nullptr;
        std::memset(picture->pixels(), 0, std::size_t(picture->stride()) * std::size_t(height));
        if (!readGifImage(gif.get(), *picture, transparent)) return nullptr;
        return picture;
    }
}

namespace {

// Start of the next marker in entropy-coded data from `from`: an 0xFF that
// is followed by neither a stuffed zero nor a restart marker; `n` when the
// data ends first.
std::size_t nextMarker(std::span<const std::uint8_t> in, std::size_t from) {
    const std::size_t n = in.size();
    std::size_t j = from;
    while (j + 1 < n) {
        const void* hit = std::memchr(in.data() + j, 0xFF, n - 1 - j);
        if (!hit) break;
        j = std::size_t(static_cast<const std::uint8_t*>(hit) - in.data());
        const std::uint8_t next = in[j + 1];
        if (next != 0x00 && !(next >= 0xD0 && next <= 0xD7)) return j;
        ++j;
    }
    return n;
}

}  // namespace

std::vector<std::uint8_t> mergeJpegStreams(std::initializer_list<std::span<const std::uint8_t>> parts) {
    // A single part is read where it is; several are joined first.
    std::vector<std::uint8_t> joined;
    std::span<const std::uint8_t> in;
    if (parts.size() == 1) {
        in = *parts.begin();
    } else {
        for (auto part : parts) joined.insert(joined.end(), part.begin(), part.end());
        in = joined;
    }
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    out.reserve(in.size() + 4);
    const std::size_t n = in.size();
    std::size_t i = 0;
    while (i + 1 < n) {
        if (in[i] != 0xFF) {  // stray byte between segments
            ++i;
            continue;
        }
        const std::uint8_t marker = in[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || marker == 0x00) {  // inner SOI/EOI
            i += 2;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i + 2));
            i += 2;
            continue;
        }
        if (i + 4 > n) break;
        const std::size_t length = std::size_t(in[i + 2]) << 8 | in[i + 3];
        if (length < 2 || i + 2 + length > n) break;
        out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(i + 2 + length));
        i += 2 + length;
        if (marker != 0xDA) continue;
        // Entropy-coded data runs to the next marker that is neither a
        // stuffed zero nor a restart marker.
        const std::size_t j = nextMarker(in, i);
        out.insert(out.end(), in.begin() + std::ptrdiff_t(i), in.begin() + std::ptrdiff_t(j));
        i = j;
    }
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}  // namespace kestrel
