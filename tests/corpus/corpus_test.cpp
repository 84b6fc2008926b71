// Every real SWF file of the corpus is read and compared with its census:
// the records the reading rules imply (order, frames, sizes, formats,
// numbering, result code), then every record is written out and the file
// is read back with independent decoders.
//
// The corpus is not part of the source tree (see test::corpusDir()). Without
// it the parameterized suites have no instances and CorpusFiles reports one
// skip that names the folder it looked in.

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "census.h"
#include "document/swf_document.h"
#include "readback.h"
#include "test_support.h"

namespace kestrel::corpus {
namespace {

namespace fs = std::filesystem;

std::string swfPath(const std::string& name) { return test::corpusDir() + "/swf/" + name; }
std::string censusPath(const std::string& name) { return test::corpusDir() + "/expected/" + name + ".json"; }

std::vector<std::string> corpusFiles() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(test::corpusDir() + "/swf", ec)) {
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the census text has an entry of this kind ("kind": "image"). A
// text scan instead of a parse keeps test registration cheap: every test
// runs in a process of its own under CTest.
bool mentionsKind(const std::string& text, const std::string& kind) {
    const std::string key = "\"kind\"";
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        std::size_t p = at + key.size();
        while (p < text.size() && (text[p] == ' ' || text[p] == ':' || text[p] == '\n' || text[p] == '\t')) ++p;
        if (text.compare(p, kind.size() + 2, "\"" + kind + "\"") == 0) return true;
    }
    return false;
}

// Files whose census lists a bitmap or sound tag; the others have nothing to
// extract.
std::vector<std::string> filesWithResources() {
    std::vector<std::string> out;
    for (const std::string& name : corpusFiles()) {
        const ByteVector bytes = readFileBytes(censusPath(name));
        const std::string text(bytes.begin(), bytes.end());
        if (mentionsKind(text, "image") || mentionsKind(text, "sound") || mentionsKind(text, "stream")) {
            out.push_back(name);
        }
    }
    return out;
}

// Test names from file names: ".swf" dropped, other punctuation as "_",
// made unique should two names differ only in punctuation.
std::string testName(const testing::TestParamInfo<std::string>& info) {
    static const std::map<std::string, std::string> names = [] {
        std::map<std::string, std::string> out;
        std::set<std::string> used;
        for (const std::string& file : corpusFiles()) {
            std::string name = file;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".swf") == 0) name.resize(name.size() - 4);
            for (char& c : name) {
                if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
            }
            std::string unique = name;
            for (int n = 2; !used.insert(unique).second; ++n) unique = name + "_" + std::to_string(n);
            out[file] = unique;
        }
        return out;
    }();
    const auto it = names.find(info.param);
    return it != names.end() ? it->second : "file_" + std::to_string(info.index);
}

const SWFImage& asImage(const SWFRes& r) { return static_cast<const SWFImage&>(r); }
const SWFSound& asSound(const SWFRes& r) { return static_cast<const SWFSound&>(r); }
const SWFVideo& asVideo(const SWFRes& r) { return static_cast<const SWFVideo&>(r); }

std::string describe(const SWFRes& r) {
    std::ostringstream s;
    s << (r.kind == kKindImage   ? "image #"
          : r.kind == kKindVideo ? "video #"
                                 : "sound #")
      << r.number << " (frame " << r.frame << ", " << r.memorySize << " bytes)";
    return s.str();
}

// --- Record matching --------------------------------------------------------

// Census entries matched to the document's records, and what disagreed.
struct Matching {
    std::vector<std::string> problems;
    std::vector<const ExpectedImage*> imageOf;  // by record index
    std::vector<const ExpectedSound*> soundOf;
    bool imageLeftOut = false;  // an uncertain image has no record
};

template <typename T>
void expectField(std::vector<std::string>& problems, const SWFRes& r, const char* field, const T& have, const T& want) {
    if (have == want) return;
    std::ostringstream s;
    s << describe(r) << ": " << field << " " << have << ", census implies " << want;
    problems.push_back(s.str());
}

void compareImage(const SWFImage& r, const ExpectedImage& want, std::vector<std::string>& problems) {
    expectField(problems, r, "width", r.payload->width(), want.width);
    expectField(problems, r, "height", r.payload->height(), want.height);
    if (want.isJpeg) expectField(problems, r, "isJpeg", r.isJpeg, *want.isJpeg);
    if (want.hasAlpha) expectField(problems, r, "hasAlpha", r.payload->hasAlpha(), *want.hasAlpha);
}

void compareSound(const SWFSound& r, const ExpectedSound& want, std::vector<std::string>& problems) {
    const OFSound& s = *r.payload;
    expectField(problems, r, "format", int(s.format), want.format);
    expectField(problems, r, "rate", int(s.rate), want.rate);
    expectField(problems, r, "is16Bit", s.is16Bit, want.is16Bit);
    expectField(problems, r, "stereo", s.stereo, want.stereo);
}

// Walks the expected records of one kind against the document's records of
// that kind, pairing them by frame and memory size. An uncertain expected
// image without a record is passed over; a certain one is missing. The
// census does not walk movies inside DefineBinaryData: their records (and
// the pictures and sounds found there) are left out of the pairing.
template <typename Want, typename Compare>
void matchKind(const SWFDocument& doc, int kind, const std::vector<Want>& wants, std::vector<const Want*>& assigned,
               Matching& m, Compare compare) {
    std::vector<int> records;
    for (int i = 0; i < doc.count(); ++i) {
        if (doc.resource(i).kind == kind && doc.resource(i).container.empty()) records.push_back(i);
    }
    std::size_t next = 0;
    const char* label = kind == kKindImage ? "image" : "sound";
    for (const Want& w : wants) {
        bool certain = true;
        if constexpr (std::is_same_v<Want, ExpectedImage>) certain = w.certain;
        if (next < records.size()) {
            const SWFRes& r = doc.resource(records[next]);
            if (r.frame == w.frame && r.memorySize == w.memorySize) {
                assigned[std::size_t(records[next])] = &w;
                compare(r, w, m.problems);
                ++next;
                continue;
            }
        }
        if (certain) {
            std::ostringstream s;
            s << "missing " << label << " (frame " << w.frame << ", " << w.memorySize << " bytes)";
            if (next < records.size()) s << "; next record is " << describe(doc.resource(records[next]));
            m.problems.push_back(s.str());
        } else {
            m.imageLeftOut = true;
        }
    }
    for (; next < records.size(); ++next) {
        m.problems.push_back("unexpected record " + describe(doc.resource(records[next])));
    }
}

Matching matchRecords(const SWFDocument& doc, const Expectation& exp) {
    Matching m;
    m.imageOf.assign(std::size_t(doc.count()), nullptr);
    m.soundOf.assign(std::size_t(doc.count()), nullptr);
    matchKind(
        doc, kKindImage, exp.images, m.imageOf, m,
        [](const SWFRes& r, const ExpectedImage& w, std::vector<std::string>& p) { compareImage(asImage(r), w, p); });
    matchKind(
        doc, kKindSound, exp.sounds, m.soundOf, m,
        [](const SWFRes& r, const ExpectedSound& w, std::vector<std::string>& p) { compareSound(asSound(r), w, p); });
    return m;
}

// Images, sounds and videos are each numbered 1, 2, ... in record order;
// every record has a frame and a size.
void expectNumbering(const SWFDocument& doc) {
    int numbers[4] = {};
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        const int want = ++numbers[std::clamp(r.kind, 0, 3)];
        EXPECT_EQ(r.number, want) << "record " << i << ": " << describe(r);
        EXPECT_GE(r.frame, 1) << describe(r);
        EXPECT_GT(r.memorySize, 0) << describe(r);
    }
}

struct Opened {
    Json census;
    Expectation expectation;
    SWFDocument doc;
    bool usable = false;
};

std::unique_ptr<Opened> open(const std::string& name) {
    auto o = std::make_unique<Opened>();
    o->census = loadCensus(censusPath(name));
    o->expectation = expectationFor(o->census);
    o->usable = o->doc.readFile(swfPath(name), nullptr, nullptr);
    return o;
}

// --- Listing ------------------------------------------------------------------

class CorpusListing : public testing::TestWithParam<std::string> {};

TEST_P(CorpusListing, RecordsMatchCensus) {
    const auto o = open(GetParam());
    const Expectation& exp = o->expectation;
    const int result = o->doc.readResult();
    // A damaged movie stays usable when something precedes the damage.
    EXPECT_EQ(o->usable,
              result == kReadOk || result == kReadSomeFailed || (result == kReadDamaged && o->doc.count() > 0))
        << "result " << result;

    if (exp.headerResult) {
        EXPECT_EQ(result, *exp.headerResult) << "decided by the file header";
        EXPECT_EQ(o->doc.count(), 0);
        return;
    }
    expectNumbering(o->doc);
    // Every VideoFrame tag belongs to a listed stream when the read went well.
    if (result == kReadOk) {
        int frames = 0;
        for (int i = 0; i < o->doc.count(); ++i) {
            if (o->doc.resource(i).kind == kKindVideo) frames += asVideo(o->doc.resource(i)).frameCount();
        }
        const Json& counts = o->census.value("tag_counts", Json::object());
        EXPECT_EQ(frames, counts.value("VideoFrame", 0)) << "video frames";
    }
    if (!exp.strict) {
        // Damaged in ways the reading rules leave open: any sane outcome.
        if (exp.damagedBody) {
            EXPECT_TRUE(result == kReadOk || result == kReadDamaged || result == kReadSomeFailed) << result;
        } else {
            EXPECT_TRUE(result == kReadOk || result == kReadSomeFailed)
                << "result " << result << " (" << exp.looseReason << ")";
        }
        return;
    }
    const Matching m = matchRecords(o->doc, exp);
    for (const std::string& p : m.problems) ADD_FAILURE() << p;
    const int want = exp.certainFailure || m.imageLeftOut ? kReadSomeFailed : kReadOk;
    EXPECT_EQ(result, want) << (exp.certainFailure ? "an image cannot be decoded"
                                : m.imageLeftOut   ? "an image was left out"
                                                   : "every image decoded");
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusListing, testing::ValuesIn(corpusFiles()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusListing);

// Compressed movies (up to 8 MB) whose census lists resources.
std::vector<std::string> compressedFilesWithResources() {
    std::vector<std::string> out;
    for (const std::string& name : filesWithResources()) {
        std::error_code ec;
        const auto size = fs::file_size(swfPath(name), ec);
        if (ec || size < 64 || size > (8u << 20)) continue;
        const ByteVector bytes = readFileBytes(swfPath(name));
        if (bytes.size() >= 3 && (bytes[0] == 'C' || bytes[0] == 'Z')) out.push_back(name);
    }
    return out;
}

// Cut part way, a compressed movie reads with code 2 and keeps the images
// the full read finds before the cut, in order.
class CorpusSalvage : public testing::TestWithParam<std::string> {};

TEST_P(CorpusSalvage, CutMovieKeepsWhatPrecedesTheCut) {
    const std::string name = GetParam();
    const ByteVector bytes = readFileBytes(swfPath(name));
    SWFDocument full;
    if (!full.readFile(swfPath(name), nullptr, nullptr) || full.count() == 0) return;  // listed elsewhere
    test::TempDir dir;
    for (const double share : {0.5, 0.9}) {
        SCOPED_TRACE(name + " cut at " + std::to_string(share));
        const ByteVector cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(double(bytes.size()) * share));
        SWFDocument doc;
        const bool usable = doc.readFile(dir.write("cut.swf", cut), nullptr, nullptr);
        EXPECT_EQ(doc.readResult(), kReadDamaged);
        EXPECT_EQ(usable, doc.count() > 0);
        ASSERT_FALSE(doc.problems().empty());
        EXPECT_EQ(doc.problems().back().tag, 0);
        EXPECT_EQ(doc.problems().back().offset, 8 + doc.bodyBytes());
        EXPECT_LT(doc.bodyBytes(), full.bodyBytes());
        // Images are handed over as their tags are read: a prefix of the
        // full list (those of nested movies follow the file's own).
        std::vector<std::string> have, want;
        for (int i = 0; i < doc.count(); ++i) {
            const SWFRes& r = doc.resource(i);
            if (r.kind == kKindImage && r.container.empty()) have.push_back(describe(r));
        }
        for (int i = 0; i < full.count() && want.size() < have.size(); ++i) {
            const SWFRes& r = full.resource(i);
            if (r.kind == kKindImage && r.container.empty()) want.push_back(describe(r));
        }
        EXPECT_EQ(have, want);
        expectNumbering(doc);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusSalvage, testing::ValuesIn(compressedFilesWithResources()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusSalvage);

// --- Names --------------------------------------------------------------------

std::vector<std::string> filesWithNames() {
    std::vector<std::string> out;
    for (const std::string& name : corpusFiles()) {
        const ByteVector bytes = readFileBytes(censusPath(name));
        if (std::string(bytes.begin(), bytes.end()).find("\"export_name\"") != std::string::npos) out.push_back(name);
    }
    return out;
}

class CorpusNames : public testing::TestWithParam<std::string> {};

// Every name the census gives a bitmap or an event sound is among the
// names of the record made from that tag (a record that could not be made
// is passed over).
TEST_P(CorpusNames, CensusNamesAreAmongTheRecordNames) {
    const auto o = open(GetParam());
    int checked = 0;
    for (const Json& entry : o->census.at("resources")) {
        if (!entry.contains("export_name") || !entry.contains("id")) continue;
        const std::string kind = entry.value("kind", "");
        const int wantKind = kind == "image" ? kKindImage : kind == "sound" ? kKindSound : 0;
        const std::string name = entry.at("export_name").get<std::string>();
        for (int i = 0; i < o->doc.count(); ++i) {
            const SWFRes& r = o->doc.resource(i);
            if (r.kind != wantKind || r.characterId != entry.at("id").get<int>() || r.tag != entry.value("tag", -1))
                continue;
            ++checked;
            EXPECT_NE(std::find(r.names.begin(), r.names.end(), name), r.names.end())
                << describe(r) << " lacks the name " << name;
        }
    }
    RecordProperty("namesChecked", checked);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusNames, testing::ValuesIn(filesWithNames()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusNames);

TEST(CorpusFiles, EverySwfHasACensus) {
    if (!fs::is_directory(test::corpusDir() + "/swf"))
        GTEST_SKIP() << "no corpus at " << test::corpusDir() << " (set KESTREL_CORPUS_DIR to its folder)";
    const auto files = corpusFiles();
    ASSERT_FALSE(files.empty()) << "no SWF files under " << test::corpusDir() << "/swf";
    for (const std::string& name : files) EXPECT_TRUE(fs::exists(censusPath(name))) << name;
    EXPECT_FALSE(filesWithResources().empty()) << "no census lists an image or a sound";
}

// --- Pixels -------------------------------------------------------------------

// A picture as top-down R, G, B, A pixels (indexed pictures through their
// palette, grey as R = G = B, no alpha as 255).
ByteVector pictureRgba(const OBPicture& p) {
    const int w = p.width();
    const int h = p.height();
    ByteVector out(std::size_t(w) * std::size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* row = p.row(h - 1 - y);
        for (int x = 0; x < w; ++x) {
            std::uint8_t* o = &out[(std::size_t(y) * std::size_t(w) + std::size_t(x)) * 4];
            switch (p.format()) {
                case kFormatRGB: o[0] = row[3 * x], o[1] = row[3 * x + 1], o[2] = row[3 * x + 2], o[3] = 255; break;
                case kFormatRGBA: std::copy_n(row + 4 * x, 4, o); break;
                case kFormatAlpha: o[0] = o[1] = o[2] = 255, o[3] = row[x]; break;
                case kFormatGrayscale: o[0] = o[1] = o[2] = row[x], o[3] = 255; break;
                case kFormatGrayAlpha: o[0] = o[1] = o[2] = row[2 * x], o[3] = row[2 * x + 1]; break;
                case kFormatIndexed: {
                    const std::uint8_t* e = p.paletteEntry(row[x]);
                    const int kind = p.paletteKind();
                    if (kind == 3) {
                        o[0] = o[1] = o[2] = 255, o[3] = e[3];
                    } else {
                        std::copy_n(e, 3, o);
                        o[3] = kind == 2 || kind == 5 ? e[3] : 255;
                    }
                    break;
                }
                default: std::fill_n(o, 4, 0); break;
            }
        }
    }
    return out;
}

// The PNG colour type and samples a picture is written as: its own layout,
// an indexed picture as the layout of its palette entries, alpha-only as
// grey values.
struct PngExpectation {
    int colourType = -1;
    int channels = 0;
    ByteVector samples;
};

PngExpectation pngExpectation(const OBPicture& p) {
    int layout = p.format();
    if (layout == kFormatIndexed) layout = p.paletteKind();
    PngExpectation e;
    switch (layout) {
        case kFormatRGB: e.colourType = PNG_COLOR_TYPE_RGB, e.channels = 3; break;
        case kFormatRGBA: e.colourType = PNG_COLOR_TYPE_RGB_ALPHA, e.channels = 4; break;
        case kFormatAlpha:
        case kFormatGrayscale: e.colourType = PNG_COLOR_TYPE_GRAY, e.channels = 1; break;
        case kFormatGrayAlpha: e.colourType = PNG_COLOR_TYPE_GRAY_ALPHA, e.channels = 2; break;
        default: return e;
    }
    const ByteVector rgba = pictureRgba(p);
    const std::size_t n = rgba.size() / 4;
    e.samples.resize(n * std::size_t(e.channels));
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* s = &rgba[i * 4];
        std::uint8_t* o = &e.samples[i * std::size_t(e.channels)];
        switch (layout) {
            case kFormatRGB: std::copy_n(s, 3, o); break;
            case kFormatRGBA: std::copy_n(s, 4, o); break;
            case kFormatAlpha: o[0] = s[3]; break;
            case kFormatGrayscale: o[0] = s[0]; break;
            case kFormatGrayAlpha: o[0] = s[0], o[1] = s[3]; break;
        }
    }
    return e;
}

// First differing pixel of two equally sized sample arrays, as text.
std::string firstDifference(const ByteVector& have, const ByteVector& want, int width, int channels) {
    for (std::size_t i = 0; i < std::min(have.size(), want.size()); ++i) {
        if (have[i] == want[i]) continue;
        const std::size_t pixel = i / std::size_t(channels);
        std::ostringstream s;
        s << "pixel (" << pixel % std::size_t(width) << ", " << pixel / std::size_t(width) << ") channel "
          << i % std::size_t(channels) << ": " << int(have[i]) << " instead of " << int(want[i]);
        return s.str();
    }
    return have.size() == want.size() ? "" : "sizes differ";
}

std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) { return std::uint32_t(le16(p)) | std::uint32_t(le16(p + 2)) << 16; }

// The body of the census entry's tag in the uncompressed file image, after
// checking that a tag header with the census's code and length sits there.
std::span<const std::uint8_t> tagBody(const ByteVector& swf, const Json& entry) {
    const std::size_t offset = entry["offset"].get<std::size_t>();
    const std::size_t length = entry["length"].get<std::size_t>();
    const bool longHeader = entry.value("long_header", false);
    const std::size_t start = offset + (longHeader ? 6 : 2);
    if (offset + 2 > swf.size() || start + length > swf.size()) return {};
    if (le16(&swf[offset]) >> 6 != entry["tag"].get<int>()) return {};
    return {swf.data() + start, length};
}

// Pixels of a lossless bitmap straight from the file, as top-down RGBA;
// `known` marks the pixels whose bytes the zlib stream delivered.
bool losslessPixels(std::span<const std::uint8_t> body, bool withAlpha, ByteVector& rgba, std::vector<bool>& known,
                    std::string& why) {
    if (body.size() < 7) {
        why = "tag body too short";
        return false;
    }
    const int format = body[2];
    const int width = le16(&body[3]);
    const int height = le16(&body[5]);
    const int colours = format == 3 && body.size() > 7 ? body[7] + 1 : 0;
    const std::size_t dataStart = format == 3 ? 8 : 7;
    const int pixelBytes = format == 3 ? 1 : format == 4 ? 2 : 4;
    const std::size_t stride = (std::size_t(width) * std::size_t(pixelBytes) + 3) & ~std::size_t(3);
    const std::size_t entryBytes = withAlpha ? 4 : 3;
    const std::size_t table = std::size_t(colours) * entryBytes;
    bool complete = false;
    const ByteVector raw = inflateUpTo(body.data() + dataStart, body.size() - std::min(dataStart, body.size()),
                                       table + stride * std::size_t(height), &complete);
    rgba.assign(std::size_t(width) * std::size_t(height) * 4, 0);
    known.assign(std::size_t(width) * std::size_t(height), false);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::size_t at = table + std::size_t(y) * stride + std::size_t(x) * std::size_t(pixelBytes);
            if (at + std::size_t(pixelBytes) > raw.size()) continue;
            const std::size_t i = std::size_t(y) * std::size_t(width) + std::size_t(x);
            std::uint8_t* o = &rgba[i * 4];
            const std::uint8_t* s = &raw[at];
            if (format == 3) {
                if (s[0] >= colours || raw.size() < table) continue;
                const std::uint8_t* e = &raw[std::size_t(s[0]) * entryBytes];
                o[0] = e[0], o[1] = e[1], o[2] = e[2], o[3] = withAlpha ? e[3] : 255;
            } else if (format == 4) {
                const unsigned v = unsigned(s[0]) << 8 | s[1];
                o[0] = std::uint8_t((v >> 10 & 31) << 3);
                o[1] = std::uint8_t((v >> 5 & 31) << 3);
                o[2] = std::uint8_t((v & 31) << 3);
                o[3] = 255;
            } else {
                o[0] = s[1], o[1] = s[2], o[2] = s[3], o[3] = withAlpha ? s[0] : 255;
            }
            known[i] = true;
        }
    }
    return true;
}

// The decoded picture against the bitmap's own bytes: every colour and alpha
// value as stored (palette colours through the palette, 15-bit colours
// shifted up, premultiplied colours untouched).
void expectPictureMatchesLosslessTag(const OBPicture& picture, std::span<const std::uint8_t> body, bool withAlpha) {
    ByteVector want;
    std::vector<bool> known;
    std::string why;
    ASSERT_TRUE(losslessPixels(body, withAlpha, want, known, why)) << why;
    const ByteVector have = pictureRgba(picture);
    ASSERT_EQ(have.size(), want.size());
    const int w = picture.width();
    for (std::size_t i = 0; i < known.size(); ++i) {
        if (!known[i]) continue;
        if (std::equal(&have[i * 4], &have[i * 4] + 4, &want[i * 4])) continue;
        ADD_FAILURE() << "decoded pixel (" << i % std::size_t(w) << ", " << i / std::size_t(w) << ") is RGBA "
                      << int(have[i * 4]) << "," << int(have[i * 4 + 1]) << "," << int(have[i * 4 + 2]) << ","
                      << int(have[i * 4 + 3]) << "; the tag holds " << int(want[i * 4]) << "," << int(want[i * 4 + 1])
                      << "," << int(want[i * 4 + 2]) << "," << int(want[i * 4 + 3]);
        return;
    }
}

// The alpha plane of a DefineBitsJPEG3 or 4 tag against the picture's
// alpha; the image data starts `dataStart` bytes into the body.
void expectAlphaMatchesJpegTag(const OBPicture& picture, std::span<const std::uint8_t> body, std::size_t dataStart) {
    ASSERT_GE(body.size(), dataStart);
    const std::size_t alphaStart = dataStart + std::size_t(le32(&body[2]));
    ASSERT_LE(alphaStart, body.size());
    const std::size_t pixels = std::size_t(picture.width()) * std::size_t(picture.height());
    bool complete = false;
    const ByteVector alpha = inflateUpTo(body.data() + alphaStart, body.size() - alphaStart, pixels, &complete);
    const ByteVector have = pictureRgba(picture);
    for (std::size_t i = 0; i < alpha.size(); ++i) {
        if (have[i * 4 + 3] == alpha[i]) continue;
        ADD_FAILURE() << "alpha of pixel (" << i % std::size_t(picture.width()) << ", "
                      << i / std::size_t(picture.width()) << ") is " << int(have[i * 4 + 3]) << "; the tag holds "
                      << int(alpha[i]);
        return;
    }
}

// Written JPEG files are re-encoded at quality 100 with every component at
// full resolution; against the picture they came from they must reach this
// peak signal-to-noise ratio (over all samples).
constexpr double kMinJpegPsnr = 30.0;

// Straight alpha: PNG colours multiplied back by alpha give the stored
// premultiplied values within rounding (a stored value above its alpha,
// which only broken data holds, gives full intensity); fully transparent
// pixels are 0, 0, 0, 0; anything else is written as stored.
std::string straightAlphaMismatch(const ByteVector& have, const ByteVector& stored, bool premultiplied,
                                  bool colourImplied, int width) {
    for (std::size_t i = 0; i < stored.size() / 4; ++i) {
        const std::uint8_t* h = &have[i * 4];
        const std::uint8_t* s = &stored[i * 4];
        const int a = s[3];
        bool ok = h[3] == a;
        for (int c = 0; c < 3 && ok && !colourImplied; ++c) {
            if (a == 0) {
                ok = h[c] == 0;
            } else if (premultiplied && a < 255) {
                ok = s[c] > a ? h[c] == 255 : std::abs((h[c] * a + 127) / 255 - s[c]) <= 1;
            } else {
                ok = h[c] == s[c];
            }
        }
        if (ok) continue;
        std::ostringstream m;
        m << "pixel (" << i % std::size_t(width) << ", " << i / std::size_t(width) << ") written as " << int(h[0])
          << "," << int(h[1]) << "," << int(h[2]) << "," << int(h[3]) << "; the picture holds " << int(s[0]) << ","
          << int(s[1]) << "," << int(s[2]) << "," << int(s[3]) << (premultiplied ? " premultiplied" : "");
        return m.str();
    }
    return {};
}

// The PNG's samples as top-down RGBA, laid out as the picture was.
ByteVector pngRgba(const PngFile& png, int layout) {
    const std::size_t n = std::size_t(png.width) * std::size_t(png.height);
    ByteVector out(n * 4);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t* in = &png.pixels[i * std::size_t(png.channels)];
        std::uint8_t* o = &out[i * 4];
        switch (png.channels) {
            case 1:
                if (layout == kFormatAlpha) {
                    o[0] = o[1] = o[2] = 255, o[3] = in[0];
                } else {
                    o[0] = o[1] = o[2] = in[0], o[3] = 255;
                }
                break;
            case 2: o[0] = o[1] = o[2] = in[0], o[3] = in[1]; break;
            case 3: std::copy_n(in, 3, o), o[3] = 255; break;
            default: std::copy_n(in, 4, o); break;
        }
    }
    return out;
}

void expectPngFile(const SWFImage& image, const std::string& path) {
    const OBPicture& picture = *image.payload;
    const PngFile png = readPngFile(path);
    ASSERT_EQ(png.error, "");
    EXPECT_EQ(png.width, picture.width());
    EXPECT_EQ(png.height, picture.height());
    EXPECT_EQ(png.bitDepth, 8);
    const PngExpectation want = pngExpectation(picture);
    ASSERT_EQ(png.colourType, want.colourType)
        << "picture format " << picture.format() << ", palette kind " << picture.paletteKind();
    if (png.width != picture.width() || png.height != picture.height() || png.bitDepth != 8) return;
    const int layout = picture.format() == kFormatIndexed ? picture.paletteKind() : picture.format();
    EXPECT_EQ(straightAlphaMismatch(pngRgba(png, layout), pictureRgba(picture), image.premultiplied,
                                    layout == kFormatAlpha, png.width),
              "")
        << "PNG against the picture";

    // With the option the stored values are written unchanged.
    WriteOptions premultiplied;
    premultiplied.premultipliedAlpha = true;
    const std::string asStored = path + ".pre.png";
    ASSERT_EQ(writeResourceFile(image, asStored, premultiplied), WriteOk);
    const PngFile pre = readPngFile(asStored);
    ASSERT_EQ(pre.error, "");
    if (image.premultiplied) {
        EXPECT_EQ(firstDifference(pre.pixels, want.samples, pre.width, want.channels), "")
            << "premultiplied PNG against the picture";
    }
    std::error_code ec;
    fs::remove(asStored, ec);
}

double psnr(const ByteVector& a, const ByteVector& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(a.size())));
}

// Lowest PSNR of a re-encoded JPEG over this run, printed at the end.
double lowestJpegPsnr = 99;

void expectJpegFile(const OBPicture& picture, const std::string& path) {
    const JpegFile jpeg = readJpegFile(path);
    ASSERT_EQ(jpeg.error, "");
    ASSERT_EQ(jpeg.width, picture.width());
    ASSERT_EQ(jpeg.height, picture.height());
    const bool grey = picture.format() == kFormatGrayscale;
    ASSERT_EQ(jpeg.components, grey ? 1 : 3) << "picture format " << picture.format();
    const ByteVector rgba = pictureRgba(picture);
    ByteVector samples;
    for (std::size_t i = 0; i < rgba.size(); i += 4) samples.insert(samples.end(), &rgba[i], &rgba[i] + (grey ? 1 : 3));
    const double db = psnr(jpeg.pixels, samples);
    lowestJpegPsnr = std::min(lowestJpegPsnr, db);
    std::printf("[ PSNR     ] %.2f dB  %dx%d %s\n", db, picture.width(), picture.height(), path.c_str());
    EXPECT_GE(db, kMinJpegPsnr) << "re-encoded JPEG against the picture";
}

void checkImageFile(const SWFImage& image, const std::string& path, const ExpectedImage* want, const ByteVector* swf) {
    const OBPicture& picture = *image.payload;
    const bool jpegFile = path.size() > 4 && path.compare(path.size() - 4, 4, ".jpg") == 0;
    // A JPEG without transparency is written as JPEG, everything else as PNG.
    if (want && want->isJpeg && !*want->isJpeg) {
        EXPECT_FALSE(jpegFile) << path;
    }
    if (want && want->isJpeg && *want->isJpeg && want->hasAlpha) {
        EXPECT_EQ(jpegFile, !*want->hasAlpha) << path;
    }
    if (jpegFile) {
        expectJpegFile(picture, path);
    } else {
        expectPngFile(image, path);
    }
    if (!want || !swf || !want->entry) return;
    const auto body = tagBody(*swf, *want->entry);
    ASSERT_FALSE(body.empty()) << "census entry does not point at its tag";
    if (want->tag == 20 || want->tag == 36) expectPictureMatchesLosslessTag(picture, body, want->tag == 36);
    if (want->tag == 35 || want->tag == 90) expectAlphaMatchesJpegTag(picture, body, want->tag == 90 ? 8 : 6);
}

// --- Sounds ------------------------------------------------------------------

constexpr double kRateKHz[4] = {5.5125, 11.025, 22.05, 44.1};
constexpr std::uint32_t kWavRate[4] = {5500, 11025, 22050, 44100};

// Reads `count` bits most significant first from `bit` on.
std::uint32_t bitsAt(const std::vector<std::uint8_t>& data, std::size_t bit, int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i, ++bit) {
        const std::size_t byte = bit / 8;
        const int b = byte < data.size() ? (data[byte] >> (7 - bit % 8)) & 1 : 0;
        v = v << 1 | std::uint32_t(b);
    }
    return v;
}

bool codecFormat(SoundFormat format) {
    switch (format) {
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw:
        case SoundFormat::Speex: return true;
        case SoundFormat::Uncompressed:
        case SoundFormat::Adpcm:
        case SoundFormat::Mp3:
        case SoundFormat::UncompressedLE: return false;
    }
    return false;
}

// One SWF ADPCM block: 2 bits of code size, then packets of one header per
// channel (16-bit predictor, 6-bit index: the packet's first sample) and
// up to 4095 codes per channel; a step is decoded only when all its bits
// are in the block.
struct AdpcmLayout {
    std::int64_t steps = 0;                  // samples per channel
    std::vector<std::size_t> packetBits;     // bit offset of each packet
    std::vector<std::int64_t> packetSample;  // step index of each packet
};

AdpcmLayout adpcmLayout(const std::vector<std::uint8_t>& block, bool stereo) {
    AdpcmLayout l;
    const std::int64_t bits = std::int64_t(block.size()) * 8;
    if (bits < 2) return l;
    const int channels = stereo ? 2 : 1;
    const int codeBits = int(bitsAt(block, 0, 2)) + 2;
    std::int64_t at = 2;
    for (;;) {
        if (at + 22 * channels > bits) break;
        l.packetBits.push_back(std::size_t(at));
        l.packetSample.push_back(l.steps);
        at += 22 * channels;
        ++l.steps;
        const std::int64_t codes = std::min<std::int64_t>(4095, (bits - at) / (codeBits * channels));
        l.steps += codes;
        at += codes * codeBits * channels;
        if (codes < 4095) break;
    }
    return l;
}

void checkWavFile(const SWFSound& sound, const std::string& path) {
    const OFSound& s = *sound.payload;
    const WavFile wav = readWavFile(path);
    ASSERT_EQ(wav.error, "");
    EXPECT_EQ(std::uint64_t(wav.riffSize) + 8, wav.fileSize) << "RIFF size";
    const bool codec = codecFormat(s.format);
    const bool g711 = s.format == SoundFormat::G711ALaw || s.format == SoundFormat::G711MuLaw;
    const int channels = s.stereo && (!codec || g711) ? 2 : 1;
    const int bits = s.format == SoundFormat::Adpcm || codec || s.is16Bit ? 16 : 8;
    std::uint32_t rate = kWavRate[s.rate & 3];
    if (s.format == SoundFormat::Nellymoser16k || s.format == SoundFormat::Speex) rate = 16000;
    if (s.format == SoundFormat::Nellymoser8k || g711) rate = 8000;
    EXPECT_EQ(wav.fmtSize, 18u);
    EXPECT_EQ(wav.formatTag, 1);
    EXPECT_EQ(wav.channels, channels);
    EXPECT_EQ(wav.bitsPerSample, bits);
    EXPECT_EQ(wav.sampleRate, rate);
    EXPECT_EQ(wav.blockAlign, channels * bits / 8);
    EXPECT_EQ(wav.byteRate, wav.sampleRate * wav.blockAlign);

    if (s.format == SoundFormat::Uncompressed || s.format == SoundFormat::UncompressedLE) {
        ByteVector blocks;
        for (const auto& b : s.blocks) blocks.insert(blocks.end(), b.data.begin(), b.data.end());
        EXPECT_EQ(wav.data.size(), blocks.size());
        EXPECT_TRUE(wav.data == blocks) << "the data chunk holds the sound's bytes unchanged";
    } else if (codec) {
        // Decoded by libavcodec: the size found when the file was read, and
        // sound rather than silence.
        EXPECT_EQ(std::int64_t(wav.data.size()), s.decodedBytes);
        std::int64_t loud = 0;
        for (std::size_t i = 0; i + 1 < wav.data.size(); i += 2)
            loud += std::abs(std::int16_t(le16(&wav.data[i]))) > 64;
        EXPECT_GT(loud, std::int64_t(wav.data.size() / 2 / 100)) << "fewer than 1 % of the samples are audible";
    } else {
        // Decoded ADPCM: 16-bit samples; each packet starts with the sample
        // its header stores.
        std::int64_t steps = 0;
        std::string mismatch;
        for (const auto& block : s.blocks) {
            const AdpcmLayout l = s.is16Bit ? adpcmLayout(block.data, s.stereo) : AdpcmLayout{};
            for (std::size_t p = 0; p < l.packetBits.size() && mismatch.empty(); ++p) {
                for (int c = 0; c < channels; ++c) {
                    const auto want = std::int16_t(bitsAt(block.data, l.packetBits[p] + std::size_t(22 * c), 16));
                    const std::size_t at = std::size_t((steps + l.packetSample[p]) * channels + c) * 2;
                    if (at + 2 > wav.data.size()) break;
                    const auto have = std::int16_t(le16(&wav.data[at]));
                    if (have != want) {
                        std::ostringstream m;
                        m << "packet at step " << steps + l.packetSample[p] << " channel " << c << " starts with "
                          << have << ", its header holds " << want;
                        mismatch = m.str();
                    }
                }
            }
            steps += l.steps;
        }
        EXPECT_EQ(std::int64_t(wav.data.size()), steps * channels * 2) << "2 bytes per decoded sample";
        EXPECT_EQ(mismatch, "");
    }
    // The duration the record shows is that of the samples written.
    const std::int64_t frames = wav.blockAlign ? std::int64_t(wav.data.size()) / wav.blockAlign : 0;
    const double ms = double(frames) / (codec ? double(rate) / 1000.0 : kRateKHz[s.rate & 3]);
    EXPECT_NEAR(sound.durationMs, std::trunc(ms), 1.0) << frames << " sample frames";
}

void checkMp3File(const SWFSound& sound, const std::string& path, const ExpectedSound* want) {
    const ByteVector bytes = readFileBytes(path);
    ByteVector blocks;
    for (const auto& b : sound.payload->blocks) blocks.insert(blocks.end(), b.data.begin(), b.data.end());
    EXPECT_EQ(std::int64_t(bytes.size()), sound.memorySize);
    EXPECT_TRUE(bytes == blocks) << "an MP3 file is the sound's frames unchanged";

    const Mp3Decode mp3 = decodeMp3(bytes);
    EXPECT_EQ(mp3.error, "");
    const Json* census = want && want->entry && want->entry->contains("mp3") ? &(*want->entry)["mp3"] : nullptr;
    if (mp3.frames == 0) {
        // Nothing decodable: the record must not claim a duration either.
        EXPECT_EQ(sound.durationMs, 0);
        if (census) {
            EXPECT_EQ(census->value("frames", 0), 0) << "the census found MPEG frames";
        }
        return;
    }
    // The record times each frame from its byte length and bitrate; frame
    // lengths are whole bytes, so a frame may come out short by up to one
    // byte's time (about 0.5% at low bitrates). On top of that the frame
    // walk and the decoder may disagree on one frame at either end.
    const double samplesPerFrame = double(mp3.samples) / mp3.frames;
    const double frameMs = 1000.0 * samplesPerFrame / double(mp3.firstRate);
    const double tolerance = frameMs + mp3.byteSlackMs + 1.0;
    EXPECT_NEAR(double(sound.durationMs), mp3.durationMs, tolerance)
        << mp3.frames << " frames decoded at " << mp3.firstRate << " Hz";
}

// With --original-jpeg a JPEG image without alpha is written as the bytes
// the movie holds; they must decode to the picture Kestrel shows.
void checkOriginalJpeg(const SWFImage& image, const std::string& path) {
    if (!image.isJpeg || image.payload->hasAlpha()) return;
    WriteOptions original;
    original.originalJpeg = true;
    ASSERT_EQ(writeResourceFile(image, path, original), WriteOk);
    EXPECT_EQ(readFileBytes(path), image.originalJpeg);
    const JpegFile jpeg = readJpegFile(path);
    ASSERT_TRUE(jpeg.error.empty()) << jpeg.error;
    const OBPicture& p = *image.payload;
    EXPECT_EQ(jpeg.width, p.width());
    EXPECT_EQ(jpeg.height, p.height());
    const int channels = p.format() == kFormatRGB ? 3 : p.format() == kFormatGrayscale ? 1 : 0;
    if (channels == jpeg.components) {
        for (int y = 0; y < p.height(); ++y) {
            const std::uint8_t* want = p.row(p.height() - 1 - y);
            const std::uint8_t* have = jpeg.pixels.data() + std::size_t(y) * std::size_t(p.width()) * channels;
            ASSERT_EQ(0, std::memcmp(want, have, std::size_t(p.width()) * channels)) << "row " << y;
        }
    }
    std::error_code ec;
    fs::remove(path, ec);
}

// --- Extraction -----------------------------------------------------------------

class CorpusExtraction : public testing::TestWithParam<std::string> {};

TEST_P(CorpusExtraction, WrittenFilesReadBack) {
    const auto o = open(GetParam());
    if (o->doc.count() == 0) GTEST_SKIP() << "no records (result " << o->doc.readResult() << ")";
    const Expectation& exp = o->expectation;
    Matching m;
    if (exp.strict && !exp.headerResult) m = matchRecords(o->doc, exp);
    const bool withCensus = !m.imageOf.empty();
    ByteVector swf;
    if (withCensus) swf = uncompressedSwf(swfPath(GetParam()));

    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    for (int i = 0; i < o->doc.count(); ++i) {
        const SWFRes& r = o->doc.resource(i);
        SCOPED_TRACE(describe(r));
        const std::string path = dir.file(o->doc.resourceFileName(i, r.number));
        const WriteResult written = writeResourceFile(r, path);
        if (r.kind == kKindVideo) {
            // Written whether or not its first frame decoded; every frame reaches the file.
            ASSERT_EQ(written, WriteOk);
            const FlvFile flv = readFlvFile(path);
            EXPECT_EQ(flv.error, "");
            EXPECT_EQ(flv.packets, asVideo(r).frameCount());
            if (r.problems.empty()) {
                EXPECT_EQ(flv.decoded, asVideo(r).frameCount()) << flv.codec;
            }
            fs::remove(path);
            continue;
        }
        if (!r.problems.empty()) {
            // A codec that failed when the file was read: nothing written.
            EXPECT_EQ(written, WriteFailed) << r.problems[0].reason;
            EXPECT_FALSE(fs::exists(path));
            continue;
        }
        EXPECT_EQ(written, WriteOk);
        if (written != WriteOk) continue;
        if (r.kind == kKindImage) {
            checkImageFile(asImage(r), path, withCensus ? m.imageOf[std::size_t(i)] : nullptr,
                           withCensus ? &swf : nullptr);
            checkOriginalJpeg(asImage(r), path + ".orig.jpg");
        } else if (asSound(r).payload->format == SoundFormat::Mp3) {
            checkMp3File(asSound(r), path, withCensus ? m.soundOf[std::size_t(i)] : nullptr);
        } else {
            checkWavFile(asSound(r), path);
        }
        std::error_code ec;
        fs::remove(path, ec);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusExtraction, testing::ValuesIn(filesWithResources()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusExtraction);

}  // namespace
}  // namespace kestrel::corpus
