#include "reader/picture/gif_codec.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kestrel {

namespace {

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

// The first image of the file on its logical screen; `why` is set for
// failures that are not giflib errors.
std::unique_ptr<OBPicture> firstImage(GifFileType* gif, const char** why) {
    int transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) != GIF_OK) return nullptr;
        if (type == TERMINATE_RECORD_TYPE) {
            *why = "no image in the file";
            return nullptr;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif, &code, &extension) != GIF_OK) return nullptr;
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparentIndex(extension);
            while (extension) {
                if (DGifGetExtensionNext(gif, &extension) != GIF_OK) return nullptr;
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif) != GIF_OK) return nullptr;
        // The picture covers the logical screen; what the first image
        // leaves uncovered is transparent.
        int width = gif->SWidth;
        int height = gif->SHeight;
        if (width <= 0 || height <= 0) {
            width = gif->Image.Width;
            height = gif->Image.Height;
        }
        auto picture = OBPicture::create(kFormatRGBA, width, height);
        if (!picture) {
            *why = "picture too large";
            return nullptr;
        }
        std::memset(picture->pixels(), 0, std::size_t(picture->stride()) * std::size_t(height));
        if (!readGifImage(gif, *picture, transparent)) return nullptr;
        return picture;
    }
}

}  // namespace

std::unique_ptr<OBPicture> decodeGif(std::span<const std::uint8_t> data, std::string* reason) {
    GifInput input{data};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, readGif, &error));
    const char* why = nullptr;
    std::unique_ptr<OBPicture> picture;
    if (!gif) {
        why = GifErrorString(error);
    } else {
        picture = firstImage(gif.get(), &why);
        if (!picture && !why) why = GifErrorString(gif->Error);
    }
    if (!picture && reason) *reason = std::string("GIF: ") + (why ? why : "unreadable data");
    return picture;
}

}  // namespace kestrel
