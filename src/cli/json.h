// A small streaming JSON writer for the command-line tool's --json output.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class JsonWriter {
public:
    explicit JsonWriter(std::FILE* out) : out_(out) {}

    void beginObject() {
        value();
        std::fputc('{', out_);
        first_.push_back(true);
    }
    void endObject() {
        first_.pop_back();
        std::fputc('}', out_);
    }
    void beginArray() {
        value();
        std::fputc('[', out_);
        first_.push_back(true);
    }
    void endArray() {
        first_.pop_back();
        std::fputc(']', out_);
    }
    void key(std::string_view k) {
        separator();
        writeString(k);
        std::fputc(':', out_);
        afterKey_ = true;
    }
    void field(std::string_view k, std::string_view v) {
        key(k);
        value();
        writeString(v);
    }
    void field(std::string_view k, const std::string& v) { field(k, std::string_view(v)); }
    void field(std::string_view k, const char* v) { field(k, std::string_view(v)); }
    void field(std::string_view k, bool v) {
        key(k);
        value();
        std::fputs(v ? "true" : "false", out_);
    }
    // A string element of an array.
    void value(std::string_view v) {
        value();
        writeString(v);
    }
    void nullField(std::string_view k) {
        key(k);
        value();
        std::fputs("null", out_);
    }
    void field(std::string_view k, int v) { field(k, std::int64_t(v)); }
    void field(std::string_view k, std::int64_t v) {
        key(k);
        value();
        std::fprintf(out_, "%lld", (long long)v);
    }

private:
    void separator() {
        if (!first_.empty()) {
            if (!first_.back()) std::fputc(',', out_);
            first_.back() = false;
        }
    }
    // Before a value: a separator unless it follows its key.
    void value() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        separator();
    }
    // Strings are UTF-8; invalid sequences (file names can hold any bytes)
    // become U+FFFD so the output stays valid JSON.
    void writeString(std::string_view s) {
        std::fputc('"', out_);
        for (std::size_t i = 0; i < s.size();) {
            const unsigned char c = static_cast<unsigned char>(s[i]);
            if (c == '"' || c == '\\') {
                std::fputc('\\', out_);
                std::fputc(c, out_);
                ++i;
                continue;
            }
            if (c < 0x20) {
                std::fprintf(out_, "\\u%04x", c);
                ++i;
                continue;
            }
            if (c < 0x80) {
                std::fputc(c, out_);
                ++i;
                continue;
            }
            const std::size_t n = sequenceLength(s, i);
            if (n == 0) {
                std::fputs("\\ufffd", out_);
                ++i;
                continue;
            }
            std::fwrite(s.data() + i, 1, n, out_);
            i += n;
        }
        std::fputc('"', out_);
    }
    static std::size_t sequenceLength(std::string_view s, std::size_t i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (n == 0 || i + n > s.size()) return 0;
        for (std::size_t k = 1; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
        }
        return n;
    }

    std::FILE* out_;
    std::vector<bool> first_;
    bool afterKey_ = false;
};

}  // namespace kestrel
