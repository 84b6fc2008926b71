// GIF through giflib: the first image of a GIF file in memory.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "reader/picture/ob_picture.h"

namespace kestrel {

// The first image on the file's logical screen as RGBA (transparent where
// the image leaves the screen uncovered or uses its transparent index);
// null when the data is damaged or too large, `reason` (may be null) then
// says why.
std::unique_ptr<OBPicture> decodeGif(std::span<const std::uint8_t> data, std::string* reason);

}  // namespace kestrel
