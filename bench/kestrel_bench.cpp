// In-process benchmarks over one SWF file, normally the stress movie:
//
//   kestrel-bench --swf=FILE [google benchmark flags]
//
//   CodecLimit   libjpeg (integer slow DCT) and zlib on the file's image data
//                alone: the floor for opening it
//   BodyInflate  reading the file and inflating its CWS body, which opening
//                does on top of the image codecs
//   Open         SWFDocument::readFile: read, inflate, decode every image,
//                collect every sound, build the records
//   Thumbnails/0 every image record's picture expanded for display and
//                scaled to fit 94 x 94, as the resource list does
//   Thumbnails/1 the same thumbnails, scaled before the expansion where
//                the picture's format allows (does that order save time?)
//   Write/...    writeResourceFile for every record of one kind (JPEG
//                images, PNG images, sounds) into a scratch folder
//
// After the runs it prints the ratios the targets are stated in, from the
// medians and from the fastest repetitions of this one run.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/task_pool.h"
#include "codec_limit.h"
#include "document/swf_document.h"
#include "swf_payloads.h"

namespace {

std::string gPath;

const bench::SwfPayloads& payloads() {
    static bench::SwfPayloads loaded;
    static bool done = false;
    if (!done) {
        std::string error;
        if (!bench::loadPayloads(gPath, loaded, error)) {
            std::fprintf(stderr, "kestrel-bench: %s\n", error.c_str());
            std::exit(1);
        }
        done = true;
    }
    return loaded;
}

// One opened document shared by the benchmarks that start from one.
kestrel::SWFDocument& document() {
    static std::unique_ptr<kestrel::SWFDocument> doc;
    if (!doc) {
        doc = std::make_unique<kestrel::SWFDocument>();
        if (!doc->readFile(gPath, nullptr, nullptr)) {
            std::fprintf(stderr, "kestrel-bench: cannot open %s\n", gPath.c_str());
            std::exit(1);
        }
    }
    return *doc;
}

// Arg 0: every run decodes into new buffers, as an open gets new memory
// for its pictures. Arg 1: into the buffers of the run before (the first
// run is not counted): the codecs' work alone, the stricter limit.
void BM_CodecLimit(benchmark::State& state) {
    const bench::SwfPayloads& p = payloads();
    const bool warm = state.range(0) == 1;
    bench::CodecTotals totals;
    bench::Decoded decoded;
    if (warm) totals = bench::decodeWithCodecsOnly(p, decoded);
    for (auto _ : state) {
        if (!warm) decoded.clear();
        totals = bench::decodeWithCodecsOnly(p, decoded, warm);
        benchmark::DoNotOptimize(totals);
        if (!warm) {
            state.PauseTiming();  // as for Open: dropping the pictures is not decoding
            decoded.clear();
            state.ResumeTiming();
        }
    }
    if (totals.failures) state.SkipWithError("the codecs refused some image data");
    state.counters["jpegs"] = totals.jpegImages;
    state.counters["zlib"] = totals.zlibStreams;
    state.counters["MPix/s"] =
        benchmark::Counter(double(totals.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BodyInflate(benchmark::State& state) {
    std::size_t inflated = 0;
    for (auto _ : state) {
        // Fresh buffers every time, as every open allocates its own.
        auto file = std::make_unique<bench::ByteBuffer>();
        auto body = std::make_unique<bench::ByteBuffer>();
        if (!bench::readWholeFile(gPath, *file) || !bench::inflateSwfBody(*file, *body)) {
            state.SkipWithError("cannot read the file");
            break;
        }
        benchmark::DoNotOptimize(body->data());
        state.PauseTiming();
        inflated = body->size();
        file.reset();
        body.reset();
        state.ResumeTiming();
    }
    state.counters["MB"] = double(inflated) / 1e6;
}

struct DocumentCounts {
    int images = 0;
    int sounds = 0;
    std::int64_t pixels = 0;
};

DocumentCounts countOf(const kestrel::SWFDocument& doc) {
    DocumentCounts c;
    for (int i = 0; i < doc.count(); ++i) {
        const kestrel::SWFRes& r = doc.resource(i);
        if (r.kind == kestrel::kKindImage) {
            ++c.images;
            const auto& p = *static_cast<const kestrel::SWFImage&>(r).payload;
            c.pixels += std::int64_t(p.width()) * p.height();
        } else {
            ++c.sounds;
        }
    }
    return c;
}

// Arg: the pool's threads (1: the pictures decoded where their tags are
// read; 0: the default, every core).
void BM_Open(benchmark::State& state) {
    DocumentCounts counts;
    for (auto _ : state) {
        auto doc = std::make_unique<kestrel::SWFDocument>();
        doc->setThreads(int(state.range(0)));
        if (!doc->readFile(gPath, nullptr, nullptr)) {
            state.SkipWithError("cannot open the file");
            break;
        }
        state.PauseTiming();  // freeing the pictures is not part of opening
        counts = countOf(*doc);
        if (doc->readResult() != 0) state.SkipWithError("some resources failed to read");
        doc.reset();
        state.ResumeTiming();
    }
    state.counters["images"] = counts.images;
    state.counters["sounds"] = counts.sounds;
    state.counters["MPix/s"] =
        benchmark::Counter(double(counts.pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// The thumbnail box of the resource list: 94 x 94; pictures narrower than
// 90 keep their size unless they are too tall, nothing is enlarged.
void fitThumbnail(int w, int h, int& outW, int& outH) {
    constexpr int kBox = 94;
    const float aspect = float(w) / float(h);
    if (w >= kBox - 4) {
        w = kBox;
        h = std::max(1, int(std::lround(kBox / aspect)));
    }
    if (h >= kBox - 4) {
        h = kBox;
        w = std::max(1, int(std::lround(aspect * kBox)));
        if (w >= kBox - 4) w = kBox;
    }
    outW = w;
    outH = h;
}

// One thumbnail. kind 0: as the resource list makes it, the picture
// expanded for display first, then scaled. kind 1: pictures that
// scaledCopy takes as they are (RGB, RGBA, grey, grey+alpha) are scaled
// first and only the small result is expanded; the pixels are the same,
// as the expansion and the box filter work on each channel alone.
std::unique_ptr<kestrel::OBPicture> thumbnail(const kestrel::OBPicture& picture, int kind) {
    const int format = picture.format();
    const bool direct = format == kestrel::kFormatRGB || format == kestrel::kFormatRGBA ||
                        format == kestrel::kFormatGrayscale || format == kestrel::kFormatGrayAlpha;
    int w = 0, h = 0;
    fitThumbnail(picture.width(), picture.height(), w, h);
    if (kind == 1 && direct) {
        auto scaled = picture.scaledCopy(w, h);
        return scaled ? scaled->toDisplay() : nullptr;
    }
    auto display = picture.toDisplay();
    return display ? display->scaledCopy(w, h) : nullptr;
}

void BM_Thumbnails(benchmark::State& state) {
    const kestrel::SWFDocument& doc = document();
    const int kind = int(state.range(0));
    int made = 0;
    for (auto _ : state) {
        made = 0;
        for (int i = 0; i < doc.count(); ++i) {
            const kestrel::SWFRes& r = doc.resource(i);
            if (r.kind != kestrel::kKindImage) continue;
            auto small = thumbnail(*static_cast<const kestrel::SWFImage&>(r).payload, kind);
            if (small) ++made;
            benchmark::DoNotOptimize(small.get());
        }
    }
    state.counters["thumbnails"] = made;
}

std::string scratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrel-bench-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data())) return {};
    return buffer.data();
}

void removeFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
                ::unlink((folder + "/" + e->d_name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

enum WriteKind {
    kWriteJpeg = 0,
    kWritePng = 1,
    kWriteSounds = 2
};

bool wanted(const kestrel::SWFRes& r, int kind) {
    if (r.kind == kestrel::kKindSound) return kind == kWriteSounds;
    const bool jpegFile = r.extension() == ".jpg";
    return kind == (jpegFile ? kWriteJpeg : kWritePng);
}

void BM_Write(benchmark::State& state) {
    const kestrel::SWFDocument& doc = document();
    const int kind = int(state.range(0));
    const std::string folder = scratchFolder();
    if (folder.empty()) {
        state.SkipWithError("cannot create a scratch folder");
        return;
    }
    int written = 0;
    std::int64_t pixels = 0;
    for (auto _ : state) {
        written = 0;
        pixels = 0;
        for (int i = 0; i < doc.count(); ++i) {
            const kestrel::SWFRes& r = doc.resource(i);
            if (!wanted(r, kind)) continue;
            const std::string path = folder + "/" + doc.resourceFileName(i, r.number);
            if (kestrel::writeResourceFile(r, path) != kestrel::WriteOk) {
                state.SkipWithError("a resource could not be written");
                break;
            }
            ++written;
            if (r.kind == kestrel::kKindImage) {
                const auto& p = *static_cast<const kestrel::SWFImage&>(r).payload;
                pixels += std::int64_t(p.width()) * p.height();
            }
        }
    }
    removeFolder(folder);
    state.counters["files"] = written;
    if (pixels) {
        state.counters["MPix/s"] =
            benchmark::Counter(double(pixels) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    }
}

BENCHMARK(BM_CodecLimit)->ArgName("warm")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_BodyInflate)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Open)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Thumbnails)->ArgName("kind")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Write)
    ->ArgName("kind")
    ->Arg(kWriteJpeg)
    ->Arg(kWritePng)
    ->Arg(kWriteSounds)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// Console output (only the mean, median and spread when there are
// repetitions), and the wall and CPU time of every repetition kept for the
// ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                Times& t =
                    times_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)];
                t.real.push_back(run.GetAdjustedRealTime());
                t.cpu.push_back(run.GetAdjustedCPUTime());
            }
            if (run.run_type == Run::RT_Aggregate) shown.push_back(run);
        }
        ConsoleReporter::ReportRuns(shown.empty() ? runs : shown);
    }

    // Median wall (cpu false) or CPU time; 0 when the benchmark did not run.
    double median(const std::string& name, bool cpu) const {
        std::vector<double> v = values(name, cpu);
        if (v.empty()) return 0;
        const std::size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    // The fastest repetition: on a machine shared with other work the
    // least disturbed one.
    double minimum(const std::string& name, bool cpu) const {
        std::vector<double> v = values(name, cpu);
        return v.empty() ? 0 : v.front();
    }

    std::size_t count(const std::string& name) const {
        auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second.real.size();
    }

private:
    std::vector<double> values(const std::string& name, bool cpu) const {
        auto it = times_.find(name);
        if (it == times_.end()) return {};
        std::vector<double> v = cpu ? it->second.cpu : it->second.real;
        std::sort(v.begin(), v.end());
        return v;
    }

    struct Times {
        std::vector<double> real;
        std::vector<double> cpu;
    };
    std::map<std::string, Times> times_;
};

void printRatios(const RatioReporter& r) {
    static const char* const kNames[] = {
        "BM_CodecLimit/warm:0", "BM_CodecLimit/warm:1", "BM_BodyInflate",  "BM_Open/threads:1", "BM_Open/threads:0",
        "BM_Thumbnails/kind:0", "BM_Thumbnails/kind:1", "BM_Write/kind:0", "BM_Write/kind:1",   "BM_Write/kind:2"};
    std::printf("\nms, this run         median wall  median cpu    min wall     min cpu  [repetitions]\n");
    for (const char* name : kNames) {
        if (!r.count(name)) continue;
        std::printf("  %-20s %11.1f %11.1f %11.1f %11.1f  [%zu]\n", name, r.median(name, false), r.median(name, true),
                    r.minimum(name, false), r.minimum(name, true), r.count(name));
    }
    struct Basis {
        const char* label;
        bool cpu;
        bool min;
    };
    for (const Basis b : {Basis{"median wall", false, false}, Basis{"median cpu ", true, false},
                          Basis{"min wall   ", false, true}, Basis{"min cpu    ", true, true}}) {
        auto pick = [&](const char* name) { return b.min ? r.minimum(name, b.cpu) : r.median(name, b.cpu); };
        const double codec = pick("BM_CodecLimit/warm:0");
        const double warm = pick("BM_CodecLimit/warm:1");
        const double inflate = pick("BM_BodyInflate");
        const double open = pick("BM_Open/threads:1");
        const double pooled = pick("BM_Open/threads:0");
        const double thumbs = pick("BM_Thumbnails/kind:0");
        if (codec > 0 && pooled > 0 && !b.cpu) {
            std::printf("%s: open on the pool / codec limit = %.3f (target <= 0.75)\n", b.label, pooled / codec);
        }
        if (warm > 0 && pooled > 0 && !b.cpu) {
            std::printf("%s: open on the pool / codec limit in used buffers = %.3f (target <= 0.75)\n", b.label,
                        pooled / warm);
        }
        if (codec > 0 && open > 0) {
            std::printf("%s: open on one thread / codec limit = %.3f (target <= 1.3)", b.label, open / codec);
            if (inflate > 0) std::printf("   open / (codec limit + body inflate) = %.3f", open / (codec + inflate));
            if (thumbs > 0) std::printf("   thumbnails / open = %.3f", thumbs / open);
            std::printf("\n");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    kestrel::TaskPool::allocateFromOneHeap();  // as the programs do
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--swf=", 6) == 0)
            gPath = argv[i] + 6;
        else
            args.push_back(argv[i]);
    }
    if (gPath.empty()) {
        if (const char* env = std::getenv("KESTREL_BENCH_SWF")) gPath = env;
    }
    if (gPath.empty()) {
        std::fprintf(stderr, "usage: kestrel-bench --swf=FILE [benchmark options]\n");
        return 2;
    }
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
