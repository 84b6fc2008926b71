// Opening and extracting on a pool of threads against one thread: the same
// records in the same order, the same problems and messages, the same
// questions and reports, and files with the same bytes.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "document/extract.h"
#include "document/swf_document.h"
#include "swfbuilder/jpeg_encode.h"
#include "test_support.h"

namespace kestrel {
namespace {

using namespace swfbuilder;
using test::TempDir;

std::uint64_t hashOf(const std::uint8_t* data, std::size_t n, std::uint64_t h = 1469598103934665603ull) {
    for (std::size_t i = 0; i < n; ++i) h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

class Transcript final : public MessageSink, public ExtractionHost {
public:
    explicit Transcript(int stopAtFailure = -1) : stopAtFailure_(stopAtFailure) {}
    MessageAnswer show(const std::string& text, MessageIcon, MessageButtons) override {
        lines << "message " << text << "\n";
        return MessageAnswer::Ok;
    }
    OverwriteAnswer confirmOverwrite(const std::string& path) override {
        lines << "asked " << path << "\n";
        return OverwriteAnswer::Yes;
    }
    MessageAnswer report(const std::string& text, MessageIcon, MessageButtons buttons) override {
        lines << "report " << text << "\n";
        const bool stop = buttons == MessageButtons::YesNo && failures_++ == stopAtFailure_;
        return stop ? MessageAnswer::No : MessageAnswer::Yes;
    }
    void resourceDone(int index, const std::string& path, Outcome outcome, const std::string& reason) override {
        lines << "done " << index << " " << path << " " << int(outcome) << " " << reason << "\n";
    }
    // Files of the indices in `unwritable` are staged where no file can be made.
    std::string stagingPath(const std::string& path) override {
        // Asked when a file is handed to the pool, ahead of the reports on
        // the files before it: not part of the transcript.
        for (const std::string& bad : unwritable) {
            if (path.size() >= bad.size() && path.compare(path.size() - bad.size(), bad.size(), bad) == 0) {
                return "/nonexistent-folder/" + bad;
            }
        }
        return path;
    }
    std::vector<std::string> unwritable;
    std::ostringstream lines;

private:
    int stopAtFailure_;
    int failures_ = 0;
};

// Everything a document shows of a read, pixels included.
std::string describe(const SWFDocument& doc) {
    std::ostringstream out;
    out << "result " << doc.readResult() << " count " << doc.count() << "\n";
    for (const Problem& p : doc.problems()) out << "problem " << problemText(p) << "\n";
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        out << r.number << r.description << " frame " << r.frame << " tag " << r.tag << " id " << r.characterId
            << " timeline " << r.timeline;
        for (const Problem& p : r.problems) out << " [" << problemText(p) << "]";
        if (r.kind == kKindImage) {
            const auto& image = static_cast<const SWFImage&>(r);
            const OBPicture& pic = *image.payload;
            // Row padding is never written: only the pixels count.
            const std::size_t rowBytes = std::size_t(pic.width()) * std::size_t(OBPicture::bytesPerPixel(pic.format()));
            std::uint64_t pixels = hashOf(nullptr, 0);
            for (int y = 0; y < pic.height(); ++y) pixels = hashOf(pic.row(y), rowBytes, pixels);
            out << " pixels " << pixels << " jpeg " << hashOf(image.originalJpeg.data(), image.originalJpeg.size());
        }
        out << "\n";
    }
    return out.str();
}

std::string folderBytes(const std::string& folder) {
    std::ostringstream out;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const Bytes bytes = test::readAll(folder + "/" + name);
        out << name << " " << bytes.size() << " " << hashOf(bytes.data(), bytes.size()) << "\n";
    }
    return out.str();
}

struct Outcome {
    std::string read;
    std::string extraction;
    std::string files;
};

// With `ahead`, every other image is encoded while the movie is read.
Outcome openAndExtract(const std::string& movie, int threads, const std::string& out, Transcript host = Transcript(),
                       bool ahead = false) {
    Outcome run;
    SWFDocument doc;
    doc.setThreads(threads);
    WriteOptions options;
    options.threads = threads;
    std::unique_ptr<EncodedAhead> encoder;
    if (ahead) {
        encoder = std::make_unique<EncodedAhead>(options, threads, [](int index, const SWFRes&) { return index % 2; });
    }
    doc.readFile(movie, nullptr, &host, encoder.get());
    run.read = describe(doc) + host.lines.str();
    host.lines.str("");
    std::vector<int> all;
    for (int i = 0; i < doc.count(); ++i) all.push_back(i);
    const ExtractSummary summary = extractResources(doc, out, all, host, options, encoder.get());
    run.extraction = host.lines.str() + "written " + std::to_string(summary.written) + " skipped " +
                     std::to_string(summary.skipped) + " failed " + std::to_string(summary.failed) + " stopped " +
                     std::to_string(summary.stopped);
    if (std::filesystem::exists(out)) run.files = folderBytes(out);
    return run;
}

// ---- a movie of many pictures ----

Bytes encodeJpeg(int width, int height, int quality, int seed, JpegPart part) {
    Bytes samples(std::size_t(width) * std::size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int k = 0; k < 3; ++k)
                samples[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3 + std::size_t(k)] =
                    std::uint8_t((x * (k + 1) + y * seed) ^ (x * y));
        }
    }
    JpegRecipe recipe{width, height};
    recipe.quality = quality;
    recipe.part = part;
    return swfbuilder::encodeJpeg(recipe, samples);
}

Bytes lossless(std::uint16_t id, int w, int h, int seed, bool alpha) {
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t a = alpha ? std::uint32_t((x + y * seed) & 0xFF) : 0xFFu;
            pixels.push_back(std::uint32_t(x * seed) << 24 | std::uint32_t(y * 3) << 16 | std::uint32_t(x ^ y) << 8 |
                             a);
        }
    }
    return losslessBody(id, 5, std::uint16_t(w), std::uint16_t(h), deflate(argbRows(pixels), 1));
}

// JPEG tables followed by DefineBits images, one of which brings tables of
// its own (those stay for the images after it), JPEG2 and JPEG3 images,
// lossless bitmaps, images that fail, event sounds between them and a
// sprite with pictures and a stream sound of its own.
Bytes manyPictures() {
    Tags tags;
    std::uint16_t id = 1;
    const Bytes wave(400, 0x80);
    tags.tag(kTagJpegTables, encodeJpeg(8, 8, 85, 1, JpegPart::TablesOnly));
    for (int i = 0; i < 40; ++i) {
        switch (i % 8) {
            case 0:
                tags.tag(kTagDefineBits, defineBitsBody(id++, encodeJpeg(120 + i, 90, 85, i, JpegPart::Abbreviated)));
                break;
            case 1:
                tags.tag(kTagDefineBitsJpeg2,
                         defineBitsJpeg2Body(id++, encodeJpeg(200, 64 + i, 70, i, JpegPart::Whole), i % 3 == 0));
                break;
            case 2: tags.tag(kTagDefineBitsLossless2, lossless(id++, 150, 40 + i, i, true)); break;
            case 3:
                tags.tag(kTagDefineBitsJpeg3, defineBitsJpeg3Body(id++, encodeJpeg(64, 48, 90, i, JpegPart::Whole),
                                                                  deflate(Bytes(64 * 48, std::uint8_t(i * 5)))));
                break;
            case 4: tags.tag(kTagDefineSound, defineSoundBody(id++, 0, 1, false, false, 400, wave)); break;
            case 5: tags.tag(kTagDefineBitsLossless, losslessBody(id++, 5, 30, 30, Bytes{1, 2, 3, 4})); break;  // fails
            case 6: tags.tag(kTagDefineBitsLossless, lossless(id++, 90, 90, i, false)); break;
            case 7:
                tags.tag(kTagDefineBitsJpeg2, defineBitsJpeg2Body(id++, Bytes{0xFF, 0xD8, 0xFF, 0xDB, 0, 3}));
                break;  // fails
        }
        if (i % 5 == 4) tags.showFrame();
    }
    // Tables of its own: the DefineBits after it are decoded with them.
    tags.tag(kTagDefineBits, defineBitsBody(id++, encodeJpeg(50, 50, 30, 7, JpegPart::Whole)));
    tags.tag(kTagDefineBits, defineBitsBody(id++, encodeJpeg(60, 40, 85, 9, JpegPart::Abbreviated)));
    Tags inner;
    inner.tag(kTagSoundStreamHead, soundStreamHeadBody(0, 1, false, false, 100));
    inner.tag(kTagDefineBitsLossless2, lossless(id++, 70, 70, 3, true)).tag(kTagSoundStreamBlock, wave).showFrame();
    inner.tag(kTagDefineBitsJpeg2, defineBitsJpeg2Body(id++, encodeJpeg(100, 30, 60, 4, JpegPart::Whole)));
    inner.tag(kTagSoundStreamBlock, wave).showFrame().end();
    tags.sprite(id++, 2, inner);
    tags.tag(kTagDefineBitsLossless2, lossless(id++, 33, 17, 5, true)).showFrame().end();
    return SwfFile().compressed(true).frames(10).tags(tags).bytes();
}

void expectSame(const std::string& movie, TempDir& dir, const std::string& name,
                std::vector<std::string> unwritable = {}, int stopAtFailure = -1) {
    SCOPED_TRACE(movie);
    Transcript one(stopAtFailure), pool(stopAtFailure), ahead(stopAtFailure);
    one.unwritable = pool.unwritable = ahead.unwritable = unwritable;
    const Outcome a = openAndExtract(movie, 1, dir.path() + "/" + name + "-1", std::move(one));
    const Outcome b = openAndExtract(movie, 3, dir.path() + "/" + name + "-3", std::move(pool));
    const Outcome c = openAndExtract(movie, 3, dir.path() + "/" + name + "-a", std::move(ahead), true);
    for (const auto& [suffix, run] : {std::pair{"-3", &b}, std::pair{"-a", &c}}) {
        SCOPED_TRACE(suffix);
        EXPECT_EQ(a.read, run->read);
        // The folders' names differ; the rest must not.
        std::string extraction = run->extraction;
        for (std::size_t at; (at = extraction.find(name + suffix)) != std::string::npos;)
            extraction.replace(at, name.size() + 2, name + "-1");
        EXPECT_EQ(a.extraction, extraction);
        EXPECT_EQ(a.files, run->files);
    }
}

TEST(ThreadPool, BuiltMovieOpensAndExtractsAsOnOneThread) {
    TempDir dir;
    const std::string movie = dir.write("many.swf", manyPictures());
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie, nullptr, nullptr));
    ASSERT_EQ(doc.readResult(), kReadSomeFailed);  // the failing pictures are there
    ASSERT_GT(doc.count(), 30);
    auto fileOf = [&doc](int i) { return doc.resourceFileName(i, doc.resource(i).number); };

    expectSame(movie, dir, "all");

    // A file that cannot be made and the extraction stopped at its report:
    // the files written ahead of it on the pool are taken back.
    const Outcome stopped = openAndExtract(movie, 3, dir.path() + "/stop", [&] {
        Transcript host(0);
        host.unwritable = {fileOf(10)};
        return host;
    }());
    EXPECT_NE(stopped.extraction.find("stopped 1"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/stop/" + fileOf(11)));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/stop/" + fileOf(9)));
    expectSame(movie, dir, "stop", {fileOf(10)}, 0);

    // Files already there: asked about in order, between the others.
    for (const char* folder : {"/again-1/", "/again-3/", "/again-a/"}) {
        std::filesystem::create_directories(dir.path() + folder);
        for (int i : {2, 3, 17, 30}) std::ofstream(dir.path() + folder + fileOf(i)) << "old";
    }
    expectSame(movie, dir, "again");
}

// Files made while the movie is read: the bytes the extraction would
// write, for the images asked for, each handed out once; none once the
// records are dropped.
TEST(ThreadPool, ImagesEncodedAheadAreTheFilesTheExtractionWrites) {
    TempDir dir;
    const std::string movie = dir.write("many.swf", manyPictures());
    WriteOptions options;
    options.premultipliedAlpha = true;
    std::vector<int> asked;
    EncodedAhead ahead(options, 2, [&asked](int index, const SWFRes&) {
        asked.push_back(index);
        return index != 2;
    });
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie, nullptr, nullptr, &ahead));
    int images = 0;
    for (int i = 0; i < doc.count(); ++i) {
        SCOPED_TRACE(i);
        const SWFRes& record = doc.resource(i);
        const auto made = ahead.take(i);
        if (record.kind != kKindImage || i == 2) {
            EXPECT_FALSE(made);
            continue;
        }
        ++images;
        ASSERT_TRUE(made);
        const std::string path = dir.file("image-" + std::to_string(i));
        ASSERT_EQ(writeResourceFile(record, path, options), WriteOk);
        const Bytes written = test::readAll(path);
        EXPECT_EQ(*made, std::string(written.begin(), written.end()));
        EXPECT_FALSE(ahead.take(i)) << "taken twice";
    }
    EXPECT_GT(images, 20);
    EXPECT_EQ(int(asked.size()), images + 1) << "asked about images only";

    EncodedAhead dropped(options, 2, [](int, const SWFRes&) { return true; });
    SWFDocument other;
    ASSERT_TRUE(other.readFile(movie, nullptr, nullptr, &dropped));
    dropped.recordsDropped();
    for (int i = 0; i < other.count(); ++i) EXPECT_FALSE(dropped.take(i));
}

TEST(ThreadPool, FixturesAndCorpusMoviesAsOnOneThread) {
    TempDir dir;
    int n = 0;
    for (const char* name : {"define-bits-tables.swf", "define-bits-jpeg3.swf", "define-bits-lossless2.swf",
                             "cakegame9.swf", "logo-anim.swf", "mp3-event-44k-mono.swf"}) {
        expectSame(test::dataFile(name), dir, "fixture" + std::to_string(n++));
    }
    const std::string corpus = test::corpusDir() + "/swf/";
    for (const char* name : {"swfparser__test__end-to-end__mt-hf-game__main.swf"}) {
        if (std::filesystem::exists(corpus + name)) expectSame(corpus + name, dir, "corpus" + std::to_string(n++));
    }
}

}  // namespace
}  // namespace kestrel
