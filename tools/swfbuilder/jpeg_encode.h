// JPEG data for built movies, encoded with libjpeg itself: whole streams,
// a tables-only stream (JPEGTables) and abbreviated streams that rely on
// it (DefineBits), in any colour space libjpeg takes. Link JPEG::JPEG.
//
//   auto jpeg = swfbuilder::encodeJpeg({.width = 16, .height = 8}, rgbSamples);
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace swfbuilder {

enum class JpegPart {
    Whole,        // tables and image
    TablesOnly,   // the quantisation and Huffman tables alone
    Abbreviated,  // the image without its tables
};

struct JpegRecipe {
    int width = 0;
    int height = 0;
    int components = 3;                  // of the samples handed over
    J_COLOR_SPACE input = JCS_RGB;       // their colour space
    J_COLOR_SPACE stored = JCS_UNKNOWN;  // the datastream's, when not the default
    bool fullChroma = false;             // every component at full resolution
    int quality = 90;
    JpegPart part = JpegPart::Whole;
};

// `samples` holds width x height x components bytes, rows top down; a
// tables-only stream needs none.
inline std::vector<std::uint8_t> encodeJpeg(const JpegRecipe& recipe, const std::vector<std::uint8_t>& samples) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(recipe.width);
    c.image_height = JDIMENSION(recipe.height);
    c.input_components = recipe.components;
    c.in_color_space = recipe.input;
    jpeg_set_defaults(&c);
    if (recipe.stored != JCS_UNKNOWN) jpeg_set_colorspace(&c, recipe.stored);
    jpeg_set_quality(&c, recipe.quality, TRUE);
    if (recipe.fullChroma) {
        for (int i = 0; i < c.num_components; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
    }
    if (recipe.part == JpegPart::TablesOnly) {
        jpeg_write_tables(&c);
    } else {
        if (recipe.part == JpegPart::Abbreviated) jpeg_suppress_tables(&c, TRUE);
        jpeg_start_compress(&c, recipe.part == JpegPart::Whole);
        const std::size_t rowBytes = std::size_t(recipe.width) * std::size_t(recipe.components);
        while (c.next_scanline < c.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(samples.data() + c.next_scanline * rowBytes);
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
    }
    jpeg_destroy_compress(&c);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

}  // namespace swfbuilder
