// The names a movie gives its resources (ExportAssets, SymbolClass): as
// text that is always valid UTF-8, and as safe file names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// Names longer than this are listed but never name a file.
inline constexpr std::size_t kMaxUsableNameBytes = 1000;
// The longest file name stem made from a name.
inline constexpr std::size_t kMaxNameStemBytes = 200;

bool isValidUtf8(std::string_view text);

// The name as valid UTF-8: itself when it is, otherwise with every byte
// that is not part of a valid sequence written as "\xHH" and every
// backslash doubled, so that nothing is lost.
std::string nameText(std::string_view name);

// A file name stem for the name on Linux: '/' and control characters
// become '_', leading dots are dropped, and the result is cut to 200
// bytes on a character boundary. Empty when the name cannot name a file
// (invalid UTF-8, longer than 1,000 bytes, nothing left).
std::string nameFileStem(std::string_view name);

// The first name that gives a file name stem, or "".
std::string fileStemOf(const std::vector<std::string>& names);

}  // namespace kestrel
