#include "document/symbol_names.h"

#include <cstdio>

namespace kestrel {

namespace {

// Length of the valid UTF-8 sequence at text[i] (shortest form, no
// surrogates, at most U+10FFFF), or 0.
std::size_t sequenceAt(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char c = byte(0);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > text.size() || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
    }
    return n;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequenceAt(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string nameText(std::string_view name) {
    if (isValidUtf8(name)) return std::string(name);
    std::string out;
    out.reserve(name.size() + name.size() / 2);
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t n = sequenceAt(name, i);
        if (n == 0) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(name[i]));
            out += hex;
            ++i;
        } else {
            if (name[i] == '\\') out += '\\';
            out.append(name, i, n);
            i += n;
        }
    }
    return out;
}

std::string nameFileStem(std::string_view name) {
    if (name.size() > kMaxUsableNameBytes || !isValidUtf8(name)) return {};
    std::size_t start = name.find_first_not_of('.');
    if (start == std::string_view::npos) return {};
    std::string out;
    for (std::size_t i = start; i < name.size();) {
        const std::size_t n = sequenceAt(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        // C0 controls, DEL, '/' and the C1 controls (U+0080..U+009F).
        const bool control = c < 0x20 || c == 0x7F || c == '/' ||
                             (n == 2 && c == 0xC2 && static_cast<unsigned char>(name[i + 1]) < 0xA0);
        const std::size_t length = control ? 1 : n;
        if (out.size() + length > kMaxNameStemBytes) break;
        if (control)
            out += '_';
        else
            out.append(name, i, n);
        i += n;
    }
    return out;
}

std::string fileStemOf(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        std::string stem = nameFileStem(name);
        if (!stem.empty()) return stem;
    }
    return {};
}

}  // namespace kestrel
