#include "census.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <stdexcept>

namespace kestrel::corpus {

namespace {

bool has(const Json& j, const char* key) { return j.is_object() && j.contains(key) && !j[key].is_null(); }

template <typename T>
T get(const Json& j, const char* key, T fallback) {
    return has(j, key) ? j[key].get<T>() : fallback;
}

bool truthy(const Json& j, const char* key) {
    if (!has(j, key)) return false;
    const Json& v = j[key];
    if (v.is_boolean()) return v.get<bool>();
    if (v.is_number()) return v.get<double>() != 0;
    if (v.is_string()) return !v.get<std::string>().empty();
    if (v.is_array() || v.is_object()) return !v.empty();
    return false;
}

bool isCompressed(const std::string& signature) { return signature == "CWS" || signature == "ZWS"; }

// Decides the read from the header bytes and the body size alone.
std::optional<int> headerOutcome(const Json& census) {
    const std::int64_t size = get<std::int64_t>(census, "size", 0);
    if (size < 8) return 2;
    const std::string signature = get<std::string>(census, "signature", "");
    if (signature != "FWS" && !isCompressed(signature)) return 5;
    const auto declared = std::int32_t(std::uint32_t(get<std::int64_t>(census, "declared_length", 0)));
    if (declared < 21) return 2;
    const std::int64_t actual = get<std::int64_t>(census, "actual_length", 0);
    if (signature == "FWS") {
        if (std::min<std::int64_t>(declared, size) - 8 < 20) return 2;
        return std::nullopt;
    }
    // ZWS keeps 9 more header bytes: compressed length, LZMA properties.
    if (signature == "ZWS" && size < 17) return 2;
    // A compressed body that does not reach the frame fields gives nothing
    // to read. A longer one that goes on past the declared length is read
    // up to it, then the result is 2: that is left to the records.
    if (std::min<std::int64_t>(actual, declared) - 8 < 20) return 2;
    return std::nullopt;
}

std::string looseReason(const Json& census) {
    if (truthy(census, "error")) return "census error: " + census["error"].get<std::string>();
    if (has(census, "warnings")) {
        for (const Json& w : census["warnings"]) {
            const std::string text = w.get<std::string>();
            if (text.find("no End tag") == std::string::npos) return "census warning: " + text;
        }
    }
    if (truthy(census, "sprite_frame_mismatch")) return "sprite frame mismatch";
    if (has(census, "counts") && truthy(census["counts"], "orphan_stream_blocks")) return "orphan stream blocks";
    return {};
}

bool isLossless(int tag) { return tag == 20 || tag == 36; }

// The records of a strictly checkable file, in reading order.
void walkResources(const Json& census, Expectation& out) {
    const int frameLimit = get<int>(census, "frame_count", 0);
    std::map<std::string, std::vector<ExpectedSound>> pending;  // timeline -> streams, oldest first
    std::string lastTimeline = "main";
    bool tablesSeen = false;

    auto timelineOf = [](const Json& r) {
        const Json& t = r["timeline"];
        return t.is_string() ? t.get<std::string>() : std::to_string(t.get<long long>());
    };
    // Stream sounds are finished when their timeline ends, newest first.
    auto flush = [&](const std::string& timeline) {
        auto it = pending.find(timeline);
        if (it == pending.end()) return;
        for (auto s = it->second.rbegin(); s != it->second.rend(); ++s) {
            if (s->memorySize > 0) out.sounds.push_back(*s);
        }
        pending.erase(it);
    };

    for (const Json& r : census["resources"]) {
        const std::string timeline = timelineOf(r);
        if (timeline != lastTimeline && lastTimeline != "main") flush(lastTimeline);
        lastTimeline = timeline;
        // The main timeline's loop ends after its (frame count + 1)-th
        // ShowFrame; nothing after that point is read, sprites included.
        if (timeline == "main" && get<int>(r, "frame", 0) > frameLimit) break;

        const std::string kind = get<std::string>(r, "kind", "");
        const int tag = get<int>(r, "tag", 0);
        if (kind == "jpegtables") {
            tablesSeen = true;
            continue;
        }
        if (kind == "image") {
            ExpectedImage image;
            image.frame = get<int>(r, "frame", 0) + 1;
            image.memorySize = get<std::int64_t>(r, "length", 0);
            image.width = get<int>(r, "width", 0);
            image.height = get<int>(r, "height", 0);
            image.tag = tag;
            image.isJpeg = !isLossless(tag);
            image.entry = &r;
            if (truthy(r, "error")) {
                out.certainFailure = true;
                continue;
            }
            if (isLossless(tag)) {
                const Json ll = has(r, "lossless") ? r["lossless"] : Json::object();
                if (image.width == 0 || image.height == 0) {
                    // A bitmap without pixels fails on its own.
                    out.certainFailure = true;
                    continue;
                }
                const int format = get<int>(ll, "format", -1);
                if ((format != 3 && format != 4 && format != 5) || !truthy(ll, "zlib_complete")) {
                    out.certainFailure = true;
                    continue;
                }
                // A stream that inflates to more than the bitmap may be refused.
                if (get<std::int64_t>(ll, "inflated_bytes", 0) > get<std::int64_t>(ll, "expected_bytes", 0)) {
                    image.certain = false;
                }
                if (tag == 36) {
                    if (format == 5) image.hasAlpha = truthy(r, "transparent");
                    // Palette bitmaps: unused transparent entries are dropped
                    // by the palette compaction, so the census cannot tell.
                } else {
                    image.hasAlpha = false;
                }
            } else {
                if (get<std::string>(r, "image_format", "") != "jpeg") {
                    // PNG or GIF data in a JPEG tag: decoded or failed.
                    image.certain = false;
                    image.isJpeg.reset();
                    out.images.push_back(image);
                    continue;
                }
                const Json jpeg = has(r, "jpeg") ? r["jpeg"] : Json::object();
                const int components = get<int>(jpeg, "components", 0);
                // Grey, colour and CMYK/YCCK of 8-bit precision are decoded.
                if ((components != 1 && components != 3 && components != 4) || get<int>(jpeg, "precision", 0) != 8) {
                    out.certainFailure = true;
                    continue;
                }
                if (tag == 6 && !tablesSeen) {
                    out.certainFailure = true;
                    continue;
                }
                if (truthy(jpeg, "problems") || truthy(jpeg, "garbage_bytes")) image.certain = false;
                if (tag == 35 || tag == 90) {
                    const Json alpha = has(r, "alpha") ? r["alpha"] : Json::object();
                    if (!truthy(alpha, "zlib_complete") || truthy(r, "alpha_offset_out_of_range")) {
                        out.certainFailure = true;
                        continue;
                    }
                    if (get<std::int64_t>(alpha, "inflated_bytes", 0) > get<std::int64_t>(alpha, "expected_bytes", 0)) {
                        image.certain = false;
                    }
                    image.hasAlpha = truthy(r, "transparent");
                } else {
                    image.hasAlpha = false;
                }
            }
            out.images.push_back(image);
        } else if (kind == "sound") {
            const int format = get<int>(r, "format", 0);
            if (truthy(r, "error") || get<std::int64_t>(r, "length", 0) < 8) continue;
            std::int64_t size = get<std::int64_t>(r, "data_bytes", 0);
            if (format == 2) size = size >= 2 ? size - 2 : 0;  // the seek field
            if (size <= 0) continue;
            ExpectedSound sound;
            sound.frame = get<int>(r, "frame", 0) + 1;
            sound.memorySize = size;
            sound.format = format;
            sound.rate = get<int>(r, "rate", 0);
            sound.is16Bit = get<bool>(r, "bits16", false);
            sound.stereo = get<bool>(r, "stereo", false);
            sound.entry = &r;
            out.sounds.push_back(sound);
        } else if (kind == "stream") {
            const int format = get<int>(r, "format", 0);
            if (truthy(r, "error")) continue;
            ExpectedSound sound;
            sound.frame = get<int>(r, "frame", 0) + 1;
            sound.memorySize = get<std::int64_t>(r, "data_bytes", 0);
            sound.format = format;
            sound.rate = get<int>(r, "rate", 0);
            sound.is16Bit = get<bool>(r, "bits16", false);
            sound.stereo = get<bool>(r, "stereo", false);
            sound.entry = &r;
            pending[timeline].push_back(sound);
        }
    }
    if (lastTimeline != "main") flush(lastTimeline);
    flush("main");
}

}  // namespace

Json loadCensus(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    return Json::parse(in);
}

Expectation expectationFor(const Json& census) {
    Expectation out;
    out.headerResult = headerOutcome(census);
    const std::string signature = get<std::string>(census, "signature", "");
    out.damagedBody = isCompressed(signature) &&
                      get<std::int64_t>(census, "actual_length", 0) != get<std::int64_t>(census, "declared_length", 0);
    out.looseReason = looseReason(census);
    out.strict = out.looseReason.empty();
    if (out.strict && !out.headerResult && has(census, "resources")) walkResources(census, out);
    return out;
}

}  // namespace kestrel::corpus
