// In-memory picture: width, height, pixel format and one block of rows.
// Rows are stored bottom-up (screen row r lives at stored row height-1-r),
// each padded to a multiple of 4 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel {

enum PictureFormat : int {
    kFormatRGB = 1,        // R, G, B
    kFormatRGBA = 2,       // R, G, B, A
    kFormatAlpha = 3,      // A
    kFormatGrayscale = 4,  // grey
    kFormatGrayAlpha = 5,  // grey, A
    kFormatIndexed = 6,    // palette index
    kFormatRGBA5551 = 7,   // 16-bit: R 15..11, G 10..6, B 5..1, A 0
};

// Largest pixel block a single picture may hold. Hostile files declare
// sizes up to 65535 x 65535 x 4; anything above this is refused as an
// allocation failure instead of being left to the kernel.
inline constexpr std::int64_t kMaxPictureBytes = std::int64_t{1} << 30;  // 1 GiB

// Asked between rows by long operations; true abandons the work.
using CancelFn = bool (*)(void* context);

class OBPicture {
public:
    // Factory for the format, then allocate(). Null for a format outside
    // 1..7, a non-positive size, a block above kMaxPictureBytes or when
    // memory runs out. Pixel bytes are not initialised.
    static std::unique_ptr<OBPicture> create(int format, int width, int height);
    // As create, for sizes read from a file: null unless the rows' bytes,
    // counted in 64 bits, stay within kMaxPictureBytes.
    static std::unique_ptr<OBPicture> createChecked(int format, int width, int height);

    virtual ~OBPicture();
    virtual bool isValid() const;

    // Bytes per pixel of a format code (0 for an unknown code).
    static int bytesPerPixel(int format);
    // (width * bytes per pixel + 3) & ~3, in 64 bits.
    static std::int64_t strideFor(int format, std::int64_t width);

    bool allocate(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int format() const { return format_; }
    int stride() const { return stride_; }

    std::uint8_t* pixels() { return pixels_.get(); }
    const std::uint8_t* pixels() const { return pixels_.get(); }
    // Stored row (0 = bottom row on screen).
    std::uint8_t* row(int storedRow) { return pixels_.get() + std::size_t(storedRow) * std::size_t(stride_); }
    const std::uint8_t* row(int storedRow) const {
        return pixels_.get() + std::size_t(storedRow) * std::size_t(stride_);
    }

    // Palette (meaningful for format 6). A new picture has kind 1,
    // count 1 and every entry 0, 0, 0, 255.
    int paletteKind() const { return paletteKind_; }
    void setPaletteKind(int kind) { paletteKind_ = kind; }
    int colourCount() const { return colourCount_; }
    void setColourCount(int n);         // clamped to 1..256
    std::uint8_t* paletteEntry(int i);  // i clamped to 0..255
    const std::uint8_t* paletteEntry(int i) const;
    void setPalette(int n, const std::uint8_t* entries);  // kind 2, n clamped to 1..256

    std::unique_ptr<OBPicture> clone() const;
    void flipRows();
    void swapRedBlue();
    bool hasAlpha() const;
    std::string formatText() const;      // "RGB", "RGBA", ..., "%d colors"
    std::string sizeFormatText() const;  // "%dx%d %s", empty when invalid

    // Reductions: a new picture, or null when a pixel breaks the condition
    // (or the source has another format).
    std::unique_ptr<OBPicture> rgbToGrayscale() const;
    std::unique_ptr<OBPicture> rgbaToGrayAlpha() const;
    std::unique_ptr<OBPicture> rgbaToRgb() const;
    std::unique_ptr<OBPicture> grayAlphaToGrayscale() const;

    // Palette compaction in place (format 6 only) with the kind
    // classification that follows it.
    void compactPalette();
    // The kind classification alone: alpha entries below the colour count
    // decide between kinds 1/2 and 4/5, all-grey entries turn 1/2 into 4/5.
    // Kind 3 is left alone.
    void classifyPaletteKind();

    // Expansions: a new picture or null.
    std::unique_ptr<OBPicture> expandIndexed() const;  // to the format of the palette kind
    std::unique_ptr<OBPicture> toDisplay() const;      // to RGB or RGBA
    std::unique_ptr<OBPicture> toRGB() const;

    // Shrinks (or copies) into formats 1, 2, 4 or 5; null for other formats
    // or when cancel answers true.
    std::unique_ptr<OBPicture> scaledCopy(int width, int height, CancelFn cancel = nullptr,
                                          void* context = nullptr) const;

    // Opaque carried values; copied unchanged by the conversions.
    std::array<std::string, 2> strings;
    std::array<std::int32_t, 3> carried{};

protected:
    explicit OBPicture(int format);

private:
    int width_ = 0;
    int height_ = 0;
    std::shared_ptr<std::uint8_t[]> pixels_;
    int stride_ = 0;
    int format_ = 0;
    int paletteKind_ = 1;
    int colourCount_ = 1;
    std::array<std::uint8_t, 256 * 4> palette_{};
};

// One class per pixel format; they differ only in the format code, and
// the indexed one in what makes it valid.
class OBPictureRGB final : public OBPicture {
public:
    OBPictureRGB() : OBPicture(kFormatRGB) {}
};
class OBPictureRGBA final : public OBPicture {
public:
    OBPictureRGBA() : OBPicture(kFormatRGBA) {}
};
class OBPictureAlpha final : public OBPicture {
public:
    OBPictureAlpha() : OBPicture(kFormatAlpha) {}
};
class OBPictureGrayscale final : public OBPicture {
public:
    OBPictureGrayscale() : OBPicture(kFormatGrayscale) {}
};
class OBPictureGrayAlpha final : public OBPicture {
public:
    OBPictureGrayAlpha() : OBPicture(kFormatGrayAlpha) {}
};
class OBPictureIndexed final : public OBPicture {
public:
    OBPictureIndexed() : OBPicture(kFormatIndexed) {}
    bool isValid() const override;
};
class OBPictureRGBA5551 final : public OBPicture {
public:
    OBPictureRGBA5551() : OBPicture(kFormatRGBA5551) {}
};

}  // namespace kestrel
