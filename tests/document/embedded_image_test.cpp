// PNG and GIF files stored in JPEG tags of a real movie (the fixture
// define-bits-jpeg2.swf) decode like lossless bitmaps, at the size their own
// headers give.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <utility>
#include <vector>

#include "document/swf_document.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

struct Embedded {
    bool isJpeg = true;
    int width = 0;
    int height = 0;
};

std::uint32_t be32(const std::uint8_t* p) { return std::uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// The payloads of the file's DefineBitsJPEG2 tags, in file order, with the
// size that a PNG or GIF payload's header gives; read independently of the
// reader under test.
std::vector<Embedded> jpeg2Payloads(const Bytes& file) {
    std::vector<Embedded> out;
    if (file.size() < 8 || file[0] != 'C' || file[1] != 'W' || file[2] != 'S') {
        ADD_FAILURE() << "not a CWS file";
        return out;
    }
    uLongf size = file[4] | file[5] << 8 | file[6] << 16 | std::uint32_t(file[7]) << 24;
    Bytes body(size);
    if (uncompress(body.data(), &size, file.data() + 8, uLong(file.size() - 8)) != Z_OK) {
        ADD_FAILURE() << "body does not inflate";
        return out;
    }
    body.resize(size);
    const int rectBits = 5 + 4 * (body[0] >> 3);
    std::size_t at = std::size_t(rectBits + 7) / 8 + 4;  // frame rectangle, rate, count
    while (at + 2 <= body.size()) {
        const int code = body[at] | body[at + 1] << 8;
        std::size_t length = code & 0x3F;
        at += 2;
        if (length == 0x3F) {
            length = body[at] | body[at + 1] << 8 | body[at + 2] << 16 | std::size_t(body[at + 3]) << 24;
            at += 4;
        }
        if ((code >> 6) == 0 || at + length > body.size()) break;
        if ((code >> 6) == 21 && length > 2 + 24) {
            const std::uint8_t* p = body.data() + at + 2;  // after the character id
            Embedded e;
            if (std::memcmp(p, "\x89PNG", 4) == 0) {
                e = {false, int(be32(p + 16)), int(be32(p + 20))};
            } else if (std::memcmp(p, "GIF8", 4) == 0) {
                e = {false, p[6] | p[7] << 8, p[8] | p[9] << 8};
            }
            out.push_back(e);
        }
        at += length;
    }
    return out;
}

TEST(EmbeddedImagesInARealMovie, PngAndGifInJpegTagsDecodeAsLosslessBitmaps) {
    const std::string path = dataFile("define-bits-jpeg2.swf");
    const std::vector<Embedded> tags = jpeg2Payloads(readAll(path));
    std::vector<std::pair<int, int>> expected;
    for (const Embedded& e : tags)
        if (!e.isJpeg) expected.emplace_back(e.width, e.height);
    ASSERT_EQ(expected.size(), 15u);  // 13 PNG and 2 GIF payloads among 29 tags
    ASSERT_EQ(tags.size(), 29u);

    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(path, nullptr, nullptr));
    std::vector<std::pair<int, int>> decoded;
    int jpegs = 0;
    for (int i = 0; i < doc.count(); ++i) {
        const auto& image = static_cast<const SWFImage&>(doc.resource(i));
        ASSERT_EQ(image.kind, kKindImage);
        if (image.isJpeg) {
            ++jpegs;
            EXPECT_EQ(image.extension(), ".jpg");
            continue;
        }
        EXPECT_EQ(image.formatName, "PNG") << i;
        EXPECT_EQ(image.extension(), ".png") << i;
        decoded.emplace_back(image.payload->width(), image.payload->height());
    }
    EXPECT_EQ(decoded, expected);
    // 14 JPEG payloads, the one in CMYK among them.
    EXPECT_EQ(jpegs, 14);
    EXPECT_EQ(doc.count(), 29);
}

}  // namespace
}  // namespace kestrel::test
