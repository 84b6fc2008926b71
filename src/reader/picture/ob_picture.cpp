#include "reader/picture/ob_picture.h"

#include "base/pixel_block.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace kestrel {

namespace {

constexpr std::uint8_t kOpaque = 255;

bool knownFormat(int format) { return format >= kFormatRGB && format <= kFormatRGBA5551; }

std::unique_ptr<OBPicture> makeEmpty(int format) {
    switch (format) {
        case kFormatRGB: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureRGB());
        case kFormatRGBA: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureRGBA());
        case kFormatAlpha: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureAlpha());
        case kFormatGrayscale: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureGrayscale());
        case kFormatGrayAlpha: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureGrayAlpha());
        case kFormatIndexed: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureIndexed());
        case kFormatRGBA5551: return std::unique_ptr<OBPicture>(new (std::nothrow) OBPictureRGBA5551());
        default: return nullptr;
    }
}

// Copies the opaque values a conversion carries along. False only when a
// string copy runs out of memory.
bool copyCarried(const OBPicture& from, OBPicture& to) {
    try {
        to.strings = from.strings;
    } catch (const std::bad_alloc&) {
        return false;
    }
    to.carried = from.carried;
    return true;
}

// Builds a picture of `format` with the source's size by converting every
// pixel with `convert(in, out)`; null as soon as `convert` answers false.
template <class Convert>
std::unique_ptr<OBPicture> convertPixels(const OBPicture& source, int format, Convert convert) {
    auto result = OBPicture::create(format, source.width(), source.height());
    if (!result || !copyCarried(source, *result)) return nullptr;
    const int inBpp = OBPicture::bytesPerPixel(source.format());
    const int outBpp = OBPicture::bytesPerPixel(format);
    for (int y = 0; y < source.height(); ++y) {
        const std::uint8_t* in = source.row(y);
        std::uint8_t* out = result->row(y);
        for (int x = 0; x < source.width(); ++x, in += inBpp, out += outBpp) {
            if (!convert(in, out)) return nullptr;
        }
    }
    return result;
}

// 5-bit component to 8 bits, filling the low bits from the high ones.
std::uint8_t expand5(unsigned v) { return std::uint8_t((v << 3) | (v >> 2)); }

// Asks the cancel callback once every `interval` rows (at least 1).
class CancelCheck {
public:
    CancelCheck(CancelFn fn, void* context, std::int64_t rowBytes)
        : fn_(fn), context_(context),
          interval_(std::max<std::int64_t>(1, 65536 / std::max<std::int64_t>(1, rowBytes))) {}

    bool stop() {
        if (!fn_) return false;
        const bool ask = (counter_ % interval_) == 0;
        ++counter_;
        return ask && fn_(context_);
    }

private:
    CancelFn fn_;
    void* context_;
    std::int64_t interval_;
    std::int64_t counter_ = 0;
};

// Screen row r (0 = top) of a picture.
const std::uint8_t* screenRow(const OBPicture& p, int r) { return p.row(p.height() - 1 - r); }
std::uint8_t* screenRow(OBPicture& p, int r) { return p.row(p.height() - 1 - r); }

// Averages column pairs (an odd last column is dropped).
std::unique_ptr<OBPicture> halveWidth(const OBPicture& src, CancelFn cancel, void* context) {
    const int bpp = OBPicture::bytesPerPixel(src.format());
    auto dst = OBPicture::create(src.format(), src.width() / 2, src.height());
    if (!dst) return nullptr;
    CancelCheck check(cancel, context, std::int64_t(bpp) * dst->width());
    for (int y = 0; y < dst->height(); ++y) {
        if (check.stop()) return nullptr;
        const std::uint8_t* in = src.row(y);
        std::uint8_t* out = dst->row(y);
        for (int x = 0; x < dst->width(); ++x) {
            const std::uint8_t* a = in + std::size_t(2 * x) * bpp;
            const std::uint8_t* b = a + bpp;
            for (int c = 0; c < bpp; ++c) out[std::size_t(x) * bpp + c] = std::uint8_t((a[c] + b[c] + 1) / 2);
        }
    }
    return dst;
}

// Averages screen row pairs (an odd last row is dropped).
std::unique_ptr<OBPicture> halveHeight(const OBPicture& src, CancelFn cancel, void* context) {
    const int bpp = OBPicture::bytesPerPixel(src.format());
    auto dst = OBPicture::create(src.format(), src.width(), src.height() / 2);
    if (!dst) return nullptr;
    CancelCheck check(cancel, context, std::int64_t(bpp) * dst->width());
    const std::size_t rowBytes = std::size_t(src.width()) * bpp;
    for (int r = 0; r < dst->height(); ++r) {
        if (check.stop()) return nullptr;
        const std::uint8_t* a = screenRow(src, 2 * r);
        const std::uint8_t* b = screenRow(src, 2 * r + 1);
        std::uint8_t* out = screenRow(*dst, r);
        for (std::size_t i = 0; i < rowBytes; ++i) out[i] = std::uint8_t((a[i] + b[i] + 1) / 2);
    }
    return dst;
}

// Source pixels a target pixel covers along one axis, with their weights in
// 1/65536ths of a source pixel.
struct AxisSpan {
    std::size_t firstWeight = 0;  // index into AxisWeights::weights
    int firstSource = 0;
    int count = 0;
    std::uint64_t total = 0;
};

struct AxisWeights {
    std::vector<AxisSpan> spans;
    std::vector<std::uint32_t> weights;
};

// floor(t * source * 65536 / target) without overflowing 64 bits.
std::uint64_t fixedPosition(std::uint64_t t, std::uint64_t source, std::uint64_t target) {
    const std::uint64_t product = t * source;
    return ((product / target) << 16) + (((product % target) << 16) / target);
}

bool buildAxis(int source, int target, AxisWeights& axis) {
    try {
        axis.spans.resize(std::size_t(target));
        axis.weights.reserve(std::size_t(target) * 2);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const std::uint64_t sourceEnd = std::uint64_t(source) << 16;
    for (int t = 0; t < target; ++t) {
        const std::uint64_t start = fixedPosition(std::uint64_t(t), std::uint64_t(source), std::uint64_t(target));
        const std::uint64_t end =
            t + 1 == target ? sourceEnd
                            : fixedPosition(std::uint64_t(t) + 1, std::uint64_t(source), std::uint64_t(target));
        AxisSpan& span = axis.spans[std::size_t(t)];
        span.firstWeight = axis.weights.size();
        span.firstSource = int(std::min<std::uint64_t>(start >> 16, std::uint64_t(source) - 1));
        try {
            if (end <= start) {
                // Enlarging far enough that the span rounds to nothing:
                // take the nearest source pixel.
                axis.weights.push_back(1);
                span.count = 1;
                span.total = 1;
                continue;
            }
            for (std::uint64_t s = start >> 16; s < std::uint64_t(source) && (s << 16) < end; ++s) {
                const std::uint64_t lo = std::max(start, s << 16);
                const std::uint64_t hi = std::min(end, (s + 1) << 16);
                axis.weights.push_back(std::uint32_t(hi - lo));
                span.total += hi - lo;
                ++span.count;
            }
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

// Area-weighted average of the source pixels each target pixel covers.
std::unique_ptr<OBPicture> boxResample(const OBPicture& src, int width, int height, CancelFn cancel, void* context) {
    const int bpp = OBPicture::bytesPerPixel(src.format());
    AxisWeights columns;
    AxisWeights rows;
    if (!buildAxis(src.width(), width, columns) || !buildAxis(src.height(), height, rows)) return nullptr;
    auto dst = OBPicture::create(src.format(), width, height);
    if (!dst) return nullptr;
    std::vector<std::uint64_t> sums;
    try {
        sums.resize(std::size_t(src.width()) * bpp);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    CancelCheck check(cancel, context, std::int64_t(bpp) * width);
    for (int r = 0; r < height; ++r) {
        if (check.stop()) return nullptr;
        const AxisSpan& vspan = rows.spans[std::size_t(r)];
        std::fill(sums.begin(), sums.end(), 0);
        for (int k = 0; k < vspan.count; ++k) {
            const std::uint64_t w = rows.weights[vspan.firstWeight + std::size_t(k)];
            const std::uint8_t* in = screenRow(src, vspan.firstSource + k);
            for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += w * in[i];
        }
        std::uint8_t* out = screenRow(*dst, r);
        for (int x = 0; x < width; ++x) {
            const AxisSpan& hspan = columns.spans[std::size_t(x)];
            const std::uint64_t total = hspan.total * vspan.total;
            for (int c = 0; c < bpp; ++c) {
                std::uint64_t acc = 0;
                for (int k = 0; k < hspan.count; ++k) {
                    const std::size_t s = std::size_t(hspan.firstSource + k) * bpp + std::size_t(c);
                    acc += columns.weights[hspan.firstWeight + std::size_t(k)] * sums[s];
                }
                out[std::size_t(x) * bpp + std::size_t(c)] = std::uint8_t((acc + total / 2) / total);
            }
        }
    }
    return dst;
}

}  // namespace

// ---- construction and storage ----

OBPicture::OBPicture(int format) : format_(format) {
    for (std::size_t i = 0; i < 256; ++i) palette_[i * 4 + 3] = kOpaque;
}

OBPicture::~OBPicture() = default;

std::unique_ptr<OBPicture> OBPicture::createChecked(int format, int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    const std::int64_t stride = strideFor(format, width);
    if (stride <= 0 || stride > kMaxPictureBytes / height) return nullptr;
    auto picture = create(format, width, height);
    if (!picture || picture->width() != width || picture->height() != height) return nullptr;
    if (picture->stride() < stride) return nullptr;
    return picture;
}

std::unique_ptr<OBPicture> OBPicture::create(int format, int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    auto picture = makeEmpty(format);
    if (!picture || !picture->allocate(width, height)) return nullptr;
    return picture;
}

bool OBPicture::isValid() const { return width_ > 0 && height_ > 0 && pixels_ != nullptr && knownFormat(format_); }

bool OBPictureIndexed::isValid() const {
    return OBPicture::isValid() && colourCount() >= 1 && colourCount() <= 256 && paletteKind() != kFormatIndexed;
}

int OBPicture::bytesPerPixel(int format) {
    switch (format) {
        case kFormatRGB: return 3;
        case kFormatRGBA: return 4;
        case kFormatAlpha:
        case kFormatGrayscale:
        case kFormatIndexed: return 1;
        case kFormatGrayAlpha:
        case kFormatRGBA5551: return 2;
        default: return 0;
    }
}

std::int64_t OBPicture::strideFor(int format, std::int64_t width) {
    const int bpp = bytesPerPixel(format);
    // Widths beyond this cannot belong to an allocatable picture; refusing
    // them keeps the product below from overflowing.
    if (bpp == 0 || width < 0 || width > (std::int64_t{1} << 40)) return 0;
    return (width * bpp + 3) & ~std::int64_t{3};
}

bool OBPicture::allocate(int width, int height) {
    if (!knownFormat(format_)) return false;
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_ && pixels_) return true;
    const std::int64_t stride = strideFor(format_, width);
    const std::int64_t bytes = stride * std::int64_t(height);
    if (bytes <= 0 || bytes > kMaxPictureBytes) return false;
    auto pixels = allocatePixelBlock(std::size_t(bytes));
    if (!pixels) return false;
    pixels_ = std::move(pixels);
    width_ = width;
    height_ = height;
    stride_ = int(stride);
    return true;
}

std::unique_ptr<OBPicture> OBPicture::clone() const {
    if (!isValid()) return nullptr;
    auto copy = create(format_, width_, height_);
    if (!copy) return nullptr;
    std::memcpy(copy->pixels_.get(), pixels_.get(), std::size_t(stride_) * std::size_t(height_));
    copy->carried[0] = carried[0];
    copy->paletteKind_ = paletteKind_;
    copy->colourCount_ = colourCount_;
    copy->palette_ = palette_;
    return copy;
}

void OBPicture::flipRows() {
    if (!pixels_) return;
    for (int low = 0, high = height_ - 1; low < high; ++low, --high) {
        std::swap_ranges(row(low), row(low) + stride_, row(high));
    }
}

void OBPicture::swapRedBlue() {
    if (format_ != kFormatRGB || !pixels_) return;
    for (int y = 0; y < height_; ++y) {
        std::uint8_t* p = row(y);
        for (int x = 0; x < width_; ++x, p += 3) std::swap(p[0], p[2]);
    }
}

// ---- palette ----

void OBPicture::setColourCount(int n) { colourCount_ = std::clamp(n, 1, 256); }

std::uint8_t* OBPicture::paletteEntry(int i) { return palette_.data() + std::size_t(std::clamp(i, 0, 255)) * 4; }

const std::uint8_t* OBPicture::paletteEntry(int i) const {
    return palette_.data() + std::size_t(std::clamp(i, 0, 255)) * 4;
}

void OBPicture::setPalette(int n, const std::uint8_t* entries) {
    paletteKind_ = kFormatRGBA;
    colourCount_ = std::clamp(n, 1, 256);
    if (entries) std::memcpy(palette_.data(), entries, std::size_t(colourCount_) * 4);
}

// ---- descriptions ----

bool OBPicture::hasAlpha() const {
    switch (format_) {
        case kFormatRGBA:
        case kFormatAlpha:
        case kFormatGrayAlpha:
        case kFormatRGBA5551: return true;
        case kFormatIndexed:
            return paletteKind_ == kFormatRGBA || paletteKind_ == kFormatAlpha || paletteKind_ == kFormatGrayAlpha;
        default: return false;
    }
}

std::string OBPicture::formatText() const {
    switch (format_) {
        case kFormatRGB: return "RGB";
        case kFormatRGBA: return "RGBA";
        case kFormatAlpha: return "Alpha";
        case kFormatGrayscale: return "Grayscale";
        case kFormatGrayAlpha: return "Gray+Alpha";
        case kFormatIndexed: return std::to_string(colourCount_) + " colors";
        case kFormatRGBA5551: return "RGBA-5551";
        default: return {};
    }
}

std::string OBPicture::sizeFormatText() const {
    if (!isValid()) return {};
    return std::to_string(width_) + "x" + std::to_string(height_) + " " + formatText();
}

// ---- reductions ----

std::unique_ptr<OBPicture> OBPicture::rgbToGrayscale() const {
    if (format_ != kFormatRGB || !isValid()) return nullptr;
    return convertPixels(*this, kFormatGrayscale, [](const std::uint8_t* in, std::uint8_t* out) {
        if (in[0] != in[1] || in[1] != in[2]) return false;
        out[0] = in[0];
        return true;
    });
}

std::unique_ptr<OBPicture> OBPicture::rgbaToGrayAlpha() const {
    if (format_ != kFormatRGBA || !isValid()) return nullptr;
    return convertPixels(*this, kFormatGrayAlpha, [](const std::uint8_t* in, std::uint8_t* out) {
        if (in[0] != in[1] || in[1] != in[2]) return false;
        out[0] = in[0];
        out[1] = in[3];
        return true;
    });
}

std::unique_ptr<OBPicture> OBPicture::rgbaToRgb() const {
    if (format_ != kFormatRGBA || !isValid()) return nullptr;
    return convertPixels(*this, kFormatRGB, [](const std::uint8_t* in, std::uint8_t* out) {
        if (in[3] != kOpaque) return false;
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
        return true;
    });
}

std::unique_ptr<OBPicture> OBPicture::grayAlphaToGrayscale() const {
    if (format_ != kFormatGrayAlpha || !isValid()) return nullptr;
    return convertPixels(*this, kFormatGrayscale, [](const std::uint8_t* in, std::uint8_t* out) {
        if (in[1] != kOpaque) return false;
        out[0] = in[0];
        return true;
    });
}

// ---- palette compaction ----

void OBPicture::compactPalette() {
    if (format_ != kFormatIndexed || !isValid()) return;
    const int count = colourCount_;

    std::array<bool, 256> used{};
    bool outOfRange = false;
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* p = row(y);
        for (int x = 0; x < width_; ++x) {
            if (p[x] < count)
                used[p[x]] = true;
            else
                outOfRange = true;
        }
    }

    // New indexes: surviving entries numbered densely in their old order,
    // duplicates folded onto the first entry with the same four bytes.
    std::array<std::uint8_t, 256> newIndex{};
    std::array<int, 256> survivors{};  // old index of each new index
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (!used[std::size_t(i)]) continue;
        int match = -1;
        for (int k = 0; k < kept && match < 0; ++k) {
            if (std::memcmp(paletteEntry(survivors[std::size_t(k)]), paletteEntry(i), 4) == 0) match = k;
        }
        if (match >= 0) {
            newIndex[std::size_t(i)] = std::uint8_t(match);
            continue;
        }
        newIndex[std::size_t(i)] = std::uint8_t(kept);
        survivors[std::size_t(kept++)] = i;
    }
    if (kept == 0) survivors[std::size_t(kept++)] = 0;  // only stray indexes: keep entry 0 for them

    // Indexes at or above the colour count name no colour; they become 0.
    bool identity = !outOfRange;
    for (int i = 0; i < count && identity; ++i) {
        if (used[std::size_t(i)] && newIndex[std::size_t(i)] != i) identity = false;
    }
    if (!identity) {
        for (int y = 0; y < height_; ++y) {
            std::uint8_t* p = row(y);
            for (int x = 0; x < width_; ++x) p[x] = p[x] < count ? newIndex[p[x]] : 0;
        }
    }

    if (kept != count) {
        std::array<std::uint8_t, 256 * 4> rebuilt{};
        for (std::size_t i = 0; i < 256; ++i) rebuilt[i * 4 + 3] = kOpaque;
        for (int k = 0; k < kept; ++k)
            std::memcpy(&rebuilt[std::size_t(k) * 4], paletteEntry(survivors[std::size_t(k)]), 4);
        palette_ = rebuilt;
        colourCount_ = kept;
    }
    classifyPaletteKind();
}

void OBPicture::classifyPaletteKind() {
    bool translucent = false;
    bool grey = true;
    for (int i = 0; i < colourCount_; ++i) {
        const std::uint8_t* e = paletteEntry(i);
        if (e[3] != kOpaque) translucent = true;
        if (e[0] != e[1] || e[1] != e[2]) grey = false;
    }
    if (translucent) {
        if (paletteKind_ == kFormatRGB) paletteKind_ = kFormatRGBA;
        if (paletteKind_ == kFormatGrayscale) paletteKind_ = kFormatGrayAlpha;
    } else {
        if (paletteKind_ == kFormatRGBA) paletteKind_ = kFormatRGB;
        if (paletteKind_ == kFormatGrayAlpha) paletteKind_ = kFormatGrayscale;
    }
    if (grey) {
        if (paletteKind_ == kFormatRGB) paletteKind_ = kFormatGrayscale;
        if (paletteKind_ == kFormatRGBA) paletteKind_ = kFormatGrayAlpha;
    }
}

// ---- expansions ----

std::unique_ptr<OBPicture> OBPicture::expandIndexed() const {
    if (format_ != kFormatIndexed || !isValid()) return nullptr;
    const int kind = paletteKind_;
    if (kind < kFormatRGB || kind > kFormatGrayAlpha) return nullptr;
    return convertPixels(*this, kind, [this, kind](const std::uint8_t* in, std::uint8_t* out) {
        const std::uint8_t* e = paletteEntry(in[0]);
        switch (kind) {
            case kFormatRGB: std::memcpy(out, e, 3); break;
            case kFormatRGBA: std::memcpy(out, e, 4); break;
            case kFormatAlpha: out[0] = e[3]; break;
            case kFormatGrayscale: out[0] = e[0]; break;
            default:
                out[0] = e[0];
                out[1] = e[3];
                break;
        }
        return true;
    });
}

std::unique_ptr<OBPicture> OBPicture::toDisplay() const {
    if (!isValid()) return nullptr;
    switch (format_) {
        case kFormatRGB:
        case kFormatRGBA: {
            auto copy = clone();
            if (copy && !copyCarried(*this, *copy)) return nullptr;
            return copy;
        }
        case kFormatAlpha:
            return convertPixels(*this, kFormatRGBA, [](const std::uint8_t* in, std::uint8_t* out) {
                out[0] = out[1] = out[2] = kOpaque;
                out[3] = in[0];
                return true;
            });
        case kFormatGrayscale:
            return convertPixels(*this, kFormatRGB, [](const std::uint8_t* in, std::uint8_t* out) {
                out[0] = out[1] = out[2] = in[0];
                return true;
            });
        case kFormatGrayAlpha:
            return convertPixels(*this, kFormatRGBA, [](const std::uint8_t* in, std::uint8_t* out) {
                out[0] = out[1] = out[2] = in[0];
                out[3] = in[1];
                return true;
            });
        case kFormatRGBA5551:
            // The 16-bit value is stored low byte first.
            return convertPixels(*this, kFormatRGBA, [](const std::uint8_t* in, std::uint8_t* out) {
                const unsigned v = unsigned(in[0]) | (unsigned(in[1]) << 8);
                out[0] = expand5((v >> 11) & 31);
                out[1] = expand5((v >> 6) & 31);
                out[2] = expand5((v >> 1) & 31);
                out[3] = (v & 1) ? kOpaque : 0;
                return true;
            });
        case kFormatIndexed: break;
        default: return nullptr;
    }

    const int kind = paletteKind_;
    if (kind < kFormatRGB || kind > kFormatGrayAlpha) return nullptr;
    const bool alpha = kind == kFormatRGBA || kind == kFormatAlpha || kind == kFormatGrayAlpha;
    return convertPixels(*this, alpha ? kFormatRGBA : kFormatRGB,
                         [this, kind](const std::uint8_t* in, std::uint8_t* out) {
                             const std::uint8_t* e = paletteEntry(in[0]);
                             switch (kind) {
                                 case kFormatRGB: std::memcpy(out, e, 3); break;
                                 case kFormatRGBA: std::memcpy(out, e, 4); break;
                                 case kFormatAlpha:
                                     out[0] = out[1] = out[2] = kOpaque;
                                     out[3] = e[3];
                                     break;
                                 case kFormatGrayscale: out[0] = out[1] = out[2] = e[0]; break;
                                 default:
                                     out[0] = out[1] = out[2] = e[0];
                                     out[3] = e[3];
                                     break;
                             }
                             return true;
                         });
}

std::unique_ptr<OBPicture> OBPicture::toRGB() const {
    auto display = toDisplay();
    if (!display || display->format() == kFormatRGB) return display;
    return convertPixels(*display, kFormatRGB, [](const std::uint8_t* in, std::uint8_t* out) {
        std::memcpy(out, in, 3);
        return true;
    });
}

// ---- scaling ----

std::unique_ptr<OBPicture> OBPicture::scaledCopy(int width, int height, CancelFn cancel, void* context) const {
    if (!isValid() || width <= 0 || height <= 0) return nullptr;
    if (format_ != kFormatRGB && format_ != kFormatRGBA && format_ != kFormatGrayscale && format_ != kFormatGrayAlpha)
        return nullptr;
    std::unique_ptr<OBPicture> result;
    if (width == width_ && height == height_) {
        result = clone();
    } else {
        std::unique_ptr<OBPicture> halved;
        const OBPicture* source = this;
        while (std::int64_t(source->width()) >= std::int64_t(width) * 16) {
            halved = halveWidth(*source, cancel, context);
            if (!halved) return nullptr;
            source = halved.get();
        }
        while (std::int64_t(source->height()) >= std::int64_t(height) * 16) {
            halved = halveHeight(*source, cancel, context);
            if (!halved) return nullptr;
            source = halved.get();
        }
        result = boxResample(*source, width, height, cancel, context);
    }
    if (!result || !copyCarried(*this, *result)) return nullptr;
    return result;
}

}  // namespace kestrel
