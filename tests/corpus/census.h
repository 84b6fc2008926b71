// The census of a corpus file (what is stored in it, tag by tag) and the
// records and reader result that Kestrel's reading rules derive from it.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::corpus {

using Json = nlohmann::json;

struct ExpectedImage {
    int frame = 0;  // 1-based, as records show it
    std::int64_t memorySize = 0;
    int width = 0;
    int height = 0;
    int tag = 0;
    std::optional<bool> isJpeg;    // unset: PNG/GIF data in a JPEG tag
    std::optional<bool> hasAlpha;  // unset: the census cannot decide
    // False when the reader may as well fail this image (data that is not
    // JPEG, damaged JPEG, a zlib stream longer than the bitmap).
    bool certain = true;
    const Json* entry = nullptr;
};

struct ExpectedSound {
    int frame = 0;
    std::int64_t memorySize = 0;
    int format = 0;
    int rate = 0;
    bool is16Bit = false;
    bool stereo = false;
    const Json* entry = nullptr;
};

struct Expectation {
    // Strict: every record is checked. Loose: the census shows damage that
    // the reading rules do not pin down; only the header decides anything.
    bool strict = false;
    std::string looseReason;

    // Set when the header alone decides the outcome (2 or 5, no records).
    std::optional<int> headerResult;
    // Some image certainly fails to decode (a lossless bitmap of width or
    // height 0 among them): code 3 whatever else happens.
    bool certainFailure = false;
    // A compressed body whose length differs from the declared one: the
    // read may end with code 2, keeping the records found before.
    bool damagedBody = false;

    std::vector<ExpectedImage> images;
    std::vector<ExpectedSound> sounds;
};

// Loads <dir>/<name>.json; throws on a missing or malformed file.
Json loadCensus(const std::string& path);

// The records and result the census implies. Entries point into `census`,
// which must outlive the result.
Expectation expectationFor(const Json& census);

}  // namespace kestrel::corpus
