// PNG through libpng: the encoder that writes pictures to an open stream,
// and the decoder for PNG data in memory (files inside JPEG tags and the
// program's own artwork).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "reader/picture/ob_picture.h"

namespace kestrel {

// Writes an 8-bit PNG (never a palette PNG: indexed pictures are expanded
// to the format of their palette kind; an Alpha picture becomes a greyscale
// image of its alpha values). `level` is clamped to 0..9. False on an
// invalid picture or any write or library error; the caller closes the
// stream and removes the partial file.
bool writePng(const OBPicture& picture, std::FILE* file, int level);

// Decodes a PNG held in memory: palette images become indexed pictures,
// others RGB, RGBA, Grayscale or Gray+Alpha (16-bit samples are cut to 8).
// `cancel` may be null. Null on malformed data, running out of memory or
// cancellation; `reason` (may be null) then says why ("PNG: " and the
// library's message).
std::unique_ptr<OBPicture> readPng(const std::uint8_t* buffer, std::size_t length, CancelFn cancel, void* context,
                                   std::string* reason = nullptr);

}  // namespace kestrel
