// kestrel-cli: lists and extracts the images, sounds and videos of SWF files
// without a window, through the same core as the window program.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/path.h"
#include "base/task_pool.h"
#include "cli/batch.h"
#include "cli/inputs.h"
#include "cli/json.h"
#include "document/extract.h"
#include "document/swf_document.h"
#include "document/symbol_names.h"

#ifndef KESTREL_VERSION
#define KESTREL_VERSION "0.0"
#endif

using namespace kestrel;
using namespace kestrel::cli;

namespace {

const char* const kUsage =
    "usage: kestrel-cli list [--json] [--sort KEY] [-r] [--files-from LIST] INPUT...\n"
    "       kestrel-cli extract -o DIR [options] [-r] [--files-from LIST] INPUT...\n"
    "       kestrel-cli find [--json] FOLDER...\n"
    "       kestrel-cli --help | --version\n";

const char* const kHelp =
    "Lists and extracts the images, sounds and videos of SWF (Flash) movies.\n"
    "\n"
    "INPUT is an SWF file or a folder; a folder gives the files in it that\n"
    "start with an SWF signature, whatever their name (-r: in its subfolders too).\n"
    "\n"
    "list      print each movie's resources in reading order\n"
    "  --json            one JSON object per movie (an array for several)\n"
    "  --sort KEY        1 type, 2 frame, 3 memory size, 4 dimension; negative descends\n"
    "\n"
    "extract   write resources as JPEG/PNG/MP3/WAV/FLV files named title-number.ext\n"
    "  -o, --output DIR  folder to write into (created when missing)\n"
    "  --name-by WHAT    title-number (the default), or symbol: a resource the\n"
    "                    movie names (ExportAssets, SymbolClass) is written as\n"
    "                    NAME.ext, NAME-2.ext for a name already used\n"
    "  --images          images   --sounds  sounds   --videos  videos\n"
    "                    (together: those kinds; none of them: every kind)\n"
    "  --index N,M,...   only these resources (positions in the list output)\n"
    "  --overwrite       replace existing files (otherwise asked on a terminal,\n"
    "                    skipped elsewhere)\n"
    "  --per-file-folders  one folder per movie under DIR, named after it\n"
    "  --original-jpeg   write JPEG images without alpha as the bytes the movie\n"
    "                    holds instead of re-encoding them\n"
    "  --premultiplied-alpha  write PNG colours multiplied by alpha, as the\n"
    "                    movie stores them (default: straight alpha)\n"
    "  --straight-alpha  straight alpha in PNG files (the default)\n"
    "  --jobs N          movies read and written in parallel (default: cores)\n"
    "  --manifest FILE   record every outcome in FILE, one JSON object a line\n"
    "  --resume          with --manifest: leave alone the movies it shows done\n"
    "  --dedupe[=skip]   content already written in this run becomes a hard\n"
    "                    link to the first copy (skip: is left out)\n"
    "  --max-memory SIZE address space of each worker process, such as 2G\n"
    "                    (default: a quarter of the physical memory)\n"
    "  --timeout SECONDS time allowed for one movie (default 300, 0: none)\n"
    "  --no-isolate      read the movies in threads of this process instead of\n"
    "                    worker processes\n"
    "\n"
    "find      list the files under the folders that are SWF movies by signature\n"
    "  --json            as a JSON array\n"
    "\n"
    "common    -r, --recursive   descend into subfolders of folder inputs\n"
    "          --files-from LIST read more inputs from LIST, one per line (- for stdin)\n"
    "          --threads N       threads that decode and encode the pictures of one\n"
    "                            movie (default: cores / jobs, at least 1)\n"
    "\n"
    "Exit status: 0 when everything was read and written, 1 when something\n"
    "failed, 2 for a usage error.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "kestrel-cli: %s\n%s", what.c_str(), kUsage);
    return 2;
}

std::mutex outputMutex;

// Set once in main: whether stderr is a terminal. Only then may the line
// control codes of the progress line be written; redirected, stderr gets
// plain lines.
bool stderrIsTerminal = false;

// Clears a progress line a message is about to replace ("" off a terminal).
const char* clearLine() { return stderrIsTerminal ? "\r\033[K" : ""; }

// Messages of the core go to stderr. Warnings name the movie they are
// about, since their text does not.
class StderrMessages final : public MessageSink {
public:
    explicit StderrMessages(std::string file = {}) : file_(std::move(file)) {}

    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons) override {
        std::lock_guard lock(outputMutex);
        if (icon == MessageIcon::Warning) {
            const std::string about = file_.empty() ? std::string() : file_ + ": ";
            std::fprintf(stderr, "%skestrel-cli: warning: %s%s\n", clearLine(), about.c_str(), text.c_str());
        } else {
            std::fprintf(stderr, "%skestrel-cli: %s\n", clearLine(), text.c_str());
        }
        return MessageAnswer::Ok;
    }

private:
    std::string file_;
};

// Options shared by the commands.
struct CommonOptions {
    bool recurse = false;
    int threads = 0;  // --threads: 0 when not given
    std::vector<std::string> inputs;
    std::vector<std::string> fileLists;
};

// Parses an input or an option common to all commands; false when `arg`
// is neither.
// `error` is set when it is one but malformed.
bool parseInt(const char* text, int& out, long low, long high);

bool commonOption(int argc, char** argv, int& i, CommonOptions& common, std::string& error) {
    const std::string arg = argv[i];
    if (arg == "-r" || arg == "--recursive") {
        common.recurse = true;
    } else if (arg == "--threads") {
        if (i + 1 >= argc || !parseInt(argv[++i], common.threads, 1, 1024)) error = "--threads takes 1..1024";
    } else if (arg == "--files-from") {
        if (i + 1 >= argc)
            error = "--files-from needs a file (or -)";
        else
            common.fileLists.push_back(argv[++i]);
    } else if (arg == "--") {
        for (++i; i < argc; ++i) common.inputs.push_back(argv[i]);
    } else if (arg.size() <= 1 || arg[0] != '-') {
        common.inputs.push_back(arg);  // a movie or a folder ("-" alone included)
    } else {
        return false;
    }
    return true;
}

bool parseInt(const char* text, int& out, long low, long high) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < low || v > high) return false;
    out = int(v);
    return true;
}

bool parseIndexList(const std::string& text, std::vector<int>& out) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        int v = 0;
        if (!parseInt(text.substr(at, comma - at).c_str(), v, 0, 1000000000)) return false;
        out.push_back(v);
        at = comma + 1;
    }
    return !out.empty();
}

// Files from the arguments and the --files-from lists; reports what cannot
// be read. Empty when nothing usable was given.
bool gatherInputs(const CommonOptions& common, InputList& inputs) {
    std::vector<std::string> arguments = common.inputs;
    for (const std::string& list : common.fileLists) {
        if (!readFileList(list, arguments)) {
            std::fprintf(stderr, "kestrel-cli: cannot read the list %s\n", list.c_str());
            return false;
        }
    }
    inputs = collectInputs(arguments, common.recurse);
    for (const std::string& e : inputs.errors) std::fprintf(stderr, "kestrel-cli: %s\n", e.c_str());
    return true;
}

// --- list ---------------------------------------------------------------------

void writeProblemsJson(JsonWriter& json, const std::vector<Problem>& problems) {
    json.key("problems");
    json.beginArray();
    for (const Problem& p : problems) {
        json.beginObject();
        json.field("tag", int(p.tag));
        json.field("offset", std::int64_t(p.offset));
        json.field("reason", p.reason);
        json.endObject();
    }
    json.endArray();
}

void writeRecordJson(JsonWriter& json, const SWFDocument& doc, int index) {
    const SWFRes& r = doc.resource(index);
    json.beginObject();
    json.field("index", index);
    json.field("kind", kindName(r.kind));
    json.field("number", r.number);
    json.field("typeText", r.typeText);
    json.field("frame", r.frame);
    json.field("frameText", r.frameText);
    json.field("memorySize", r.memorySize);
    json.field("memoryText", r.memoryText);
    json.field("sizeText", r.sizeText);
    json.field("detailText", r.detailText);
    json.field("description", r.description);
    json.field("formatName", r.formatName);
    json.field("extension", r.extension());
    json.field("fileName", doc.resourceFileName(index, r.number));
    json.field("tag", int(r.tag));
    if (r.characterId >= 0)
        json.field("characterId", r.characterId);
    else
        json.nullField("characterId");
    json.field("timeline", int(r.timeline));
    json.key("names");
    json.beginArray();
    for (const std::string& name : r.names) json.value(nameText(name));
    json.endArray();
    if (!r.container.empty()) json.field("origin", r.container);
    writeProblemsJson(json, r.problems);
    if (r.kind == kKindImage) {
        const auto& image = static_cast<const SWFImage&>(r);
        json.field("width", image.payload->width());
        json.field("height", image.payload->height());
        json.field("pictureFormat", image.payload->format());
        json.field("isJpeg", image.isJpeg);
        json.field("hasAlpha", image.payload->hasAlpha());
        if (image.deblocking) json.field("deblocking", int(*image.deblocking));  // 8.8 fixed point
    } else if (r.kind == kKindVideo) {
        const auto& video = static_cast<const SWFVideo&>(r);
        json.field("codec", video.codecText());
        json.field("codecId", int(video.payload->codec));
        json.field("frames", video.frameCount());
        json.field("declaredFrames", int(video.payload->declaredFrames));
        json.field("width", int(video.payload->width));
        json.field("height", int(video.payload->height));
        json.field("durationMs", video.durationMs);
        json.field("streamId", int(video.payload->streamId));
    } else {
        const auto& sound = static_cast<const SWFSound&>(r);
        json.field("format", int(sound.payload->format));
        json.field("rate", int(sound.payload->rate));
        json.field("is16Bit", sound.payload->is16Bit);
        json.field("stereo", sound.payload->stereo);
        json.field("durationMs", sound.durationMs);
        json.field("blockCount", std::int64_t(sound.payload->blocks.size()));
    }
    json.endObject();
}

// The document's records are written when `usable`; its problems and the
// recovered body length either way.
void writeDocumentJson(JsonWriter& json, const std::string& file, const SWFDocument& doc, bool usable) {
    const int result = doc.readResult();
    json.beginObject();
    json.field("file", file);
    json.field("result", result);
    json.field("message", readerMessage(result, file));
    if (doc.compressed()) json.field("recoveredBodyBytes", std::int64_t(doc.bodyBytes()));
    writeProblemsJson(json, doc.problems());
    json.key("resources");
    json.beginArray();
    if (usable) {
        for (int i = 0; i < doc.count(); ++i) writeRecordJson(json, doc, i);
    }
    json.endArray();
    json.endObject();
}

void printDocumentText(const std::string& file, const SWFDocument& doc) {
    std::printf("%s: %d resource%s\n", file.c_str(), doc.count(), doc.count() == 1 ? "" : "s");
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        const char* kind = r.kind == kKindImage ? "Image" : r.kind == kKindVideo ? "Video" : "Sound";
        std::printf("  %3d  %s #%-4d %-30s frame %-5s %8s  %-14s %s%s%s\n", i, kind, r.number, r.typeText.c_str(),
                    r.frameText.c_str(), r.memoryText.c_str(), r.sizeText.c_str(),
                    doc.resourceFileName(i, r.number).c_str(), r.container.empty() ? "" : "  from ",
                    r.container.c_str());
    }
}

int runList(int argc, char** argv) {
    CommonOptions common;
    bool json = false;
    int sortKey = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string error;
        if (commonOption(argc, argv, i, common, error)) {
            if (!error.empty()) return usageError(error);
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--sort") {
            if (i + 1 >= argc || !parseInt(argv[++i], sortKey, -4, 4) || sortKey == 0) {
                return usageError("--sort takes 1..4 or -1..-4");
            }
        } else {
            return usageError("unknown option " + arg);
        }
    }
    InputList inputs;
    if (!gatherInputs(common, inputs)) return 1;
    if (inputs.files.empty()) return usageError("no file given");
    if (common.threads > 0) TaskPool::setDefaultThreads(common.threads);

    JsonWriter out(stdout);
    const bool many = inputs.files.size() > 1 || common.recurse || !common.fileLists.empty();
    if (json && many) out.beginArray();
    int status = inputs.errors.empty() ? 0 : 1;
    for (const std::string& file : inputs.files) {
        StderrMessages messages(file);
        SWFDocument doc;
        const bool usable = doc.readFile(absolutePath(file), nullptr, &messages);
        // A movie read in part or damaged lists what it has but still fails the run.
        if (!usable || doc.readResult() == kReadSomeFailed || doc.readResult() == kReadDamaged) status = 1;
        if (usable) doc.sort(sortKey);
        if (json) {
            writeDocumentJson(out, file, doc, usable);
        } else if (usable) {
            printDocumentText(file, doc);
        }
    }
    if (json && many) out.endArray();
    if (json) std::fputc('\n', stdout);
    return status;
}

// --- extract ------------------------------------------------------------------

struct ExtractOptions {
    std::string outDir;
    // Kinds asked for by --images, --sounds, --videos; none asked: all.
    bool images = false;
    bool sounds = false;
    bool videos = false;
    bool overwrite = false;
    bool perFileFolders = false;
    int jobs = 0;
    WriteOptions write;
    std::vector<int> indices;  // empty: every resource
    BatchSettings batch;
};

// "512M", "2G", "1048576": bytes, with an optional K, M, G or T suffix.
bool parseSize(const std::string& text, std::int64_t& out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || v <= 0) return false;
    double scale = 1;
    const std::string suffix = end;
    if (suffix == "K" || suffix == "k")
        scale = 1024.0;
    else if (suffix == "M" || suffix == "m")
        scale = 1024.0 * 1024;
    else if (suffix == "G" || suffix == "g")
        scale = 1024.0 * 1024 * 1024;
    else if (suffix == "T" || suffix == "t")
        scale = 1024.0 * 1024 * 1024 * 1024;
    else if (!suffix.empty())
        return false;
    if (v * scale < 16.0 * 1024 * 1024 || v * scale > 9e18) return false;
    out = std::int64_t(v * scale);
    return true;
}

// One line of a message meant for a dialog: its blank runs folded.
std::string oneLine(const std::string& text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == '\n' || c == '\t' || c == ' ') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

class CliExtractHost final : public ExtractionHost {
public:
    CliExtractHost(bool overwrite, bool interactive) : overwrite_(overwrite), interactive_(interactive) {}

    OverwriteAnswer confirmOverwrite(const std::string& path) override {
        if (overwrite_) return OverwriteAnswer::Yes;
        std::lock_guard lock(outputMutex);
        if (overwriteAll_) return OverwriteAnswer::Yes;
        if (!interactive_) {
            std::fprintf(stderr, "kestrel-cli: %s exists, skipped (--overwrite replaces it)\n", path.c_str());
            return OverwriteAnswer::No;
        }
        for (;;) {
            std::fprintf(stderr, "%sThe file '%s' already exists. Overwrite? [y]es/[a]ll/[n]o/[c]ancel: ", clearLine(),
                         path.c_str());
            std::string line;
            if (!std::getline(std::cin, line)) return OverwriteAnswer::Cancel;
            switch (line.empty() ? 'y' : line[0]) {
                case 'y':
                case 'Y': return OverwriteAnswer::Yes;
                case 'a':
                case 'A': overwriteAll_ = true; return OverwriteAnswer::All;
                case 'n':
                case 'N': return OverwriteAnswer::No;
                case 'c':
                case 'C': cancelled_ = true; return OverwriteAnswer::Cancel;
                default: break;
            }
        }
    }

    // Failures are reported and the batch goes on.
    MessageAnswer report(const std::string& text, MessageIcon, MessageButtons buttons) override {
        std::string message = text;
        const std::string question = text::kContinue;
        if (message.ends_with(question)) message.resize(message.size() - question.size());
        std::lock_guard lock(outputMutex);
        std::fprintf(stderr, "%skestrel-cli: %s\n", clearLine(), oneLine(message).c_str());
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }

    bool cancelled() const { return cancelled_; }

private:
    bool overwrite_;
    bool interactive_;
    bool overwriteAll_ = false;
    std::atomic<bool> cancelled_ = false;
};

// Folder names for --per-file-folders: the movie's title, made unique in
// input order (clip, clip-2, ...).
std::vector<std::string> perFileFolders(const std::vector<std::string>& files, const std::string& base) {
    std::map<std::string, int> used;
    std::vector<std::string> out;
    for (const std::string& file : files) {
        std::string title = splitPath(absolutePath(file)).title;
        if (title.empty()) title = "movie";
        const int n = ++used[title];
        out.push_back(base + "/" + (n == 1 ? title : title + "-" + std::to_string(n)));
    }
    return out;
}

// Parses the options of extract (a worker process parses the same); -1
// when they are usable, else the exit status.
int parseExtract(int argc, char** argv, CommonOptions& common, ExtractOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string error;
        if (commonOption(argc, argv, i, common, error)) {
            if (!error.empty()) return usageError(error);
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc) return usageError("-o needs a folder");
            options.outDir = argv[++i];
        } else if (arg == "--name-by" || arg.starts_with("--name-by=")) {
            std::string how = arg.size() > 9 ? arg.substr(10) : std::string();
            if (arg.size() == 9 && i + 1 < argc) how = argv[++i];
            if (how == "symbol")
                options.write.naming = FileNaming::Symbol;
            else if (how == "title-number")
                options.write.naming = FileNaming::TitleNumber;
            else
                return usageError("--name-by takes symbol or title-number");
        } else if (arg == "--images") {
            options.images = true;
        } else if (arg == "--sounds") {
            options.sounds = true;
        } else if (arg == "--videos") {
            options.videos = true;
        } else if (arg == "--overwrite") {
            options.overwrite = true;
        } else if (arg == "--per-file-folders") {
            options.perFileFolders = true;
        } else if (arg == "--original-jpeg") {
            options.write.originalJpeg = true;
        } else if (arg == "--premultiplied-alpha") {
            options.write.premultipliedAlpha = true;
        } else if (arg == "--straight-alpha") {
            options.write.premultipliedAlpha = false;
        } else if (arg == "--jobs" || arg == "-j") {
            if (i + 1 >= argc || !parseInt(argv[++i], options.jobs, 1, 256)) return usageError("--jobs takes 1..256");
        } else if (arg == "--index") {
            if (i + 1 >= argc || !parseIndexList(argv[++i], options.indices)) {
                return usageError("--index needs a list such as 0,3,4");
            }
        } else if (arg == "--manifest") {
            if (i + 1 >= argc) return usageError("--manifest needs a file");
            options.batch.manifest = argv[++i];
        } else if (arg == "--resume") {
            options.batch.resume = true;
        } else if (arg == "--dedupe" || arg == "--dedupe=link") {
            options.batch.dedupe = Dedupe::Link;
        } else if (arg == "--dedupe=skip") {
            options.batch.dedupe = Dedupe::Skip;
        } else if (arg == "--max-memory") {
            if (i + 1 >= argc || !parseSize(argv[++i], options.batch.maxMemory)) {
                return usageError("--max-memory takes a size of at least 16M, such as 2G");
            }
        } else if (arg == "--timeout") {
            if (i + 1 >= argc || !parseInt(argv[++i], options.batch.timeoutSeconds, 0, 1000000)) {
                return usageError("--timeout takes seconds (0: none)");
            }
        } else if (arg == "--no-isolate") {
            options.batch.isolate = false;
        } else {
            return usageError("unknown option " + arg);
        }
    }
    if (options.batch.maxMemory == 0) options.batch.maxMemory = defaultMaxMemory();
    return -1;
}

MovieSelection selectionOf(const ExtractOptions& options) {
    const bool all = !options.images && !options.sounds && !options.videos;
    return MovieSelection{all || options.images, all || options.sounds, all || options.videos, options.indices,
                          options.write};
}

int runExtract(int argc, char** argv) {
    CommonOptions common;
    ExtractOptions options;
    if (const int status = parseExtract(argc, argv, common, options); status >= 0) return status;
    if (options.outDir.empty()) return usageError("no output folder given (-o DIR)");
    if (options.batch.resume && options.batch.manifest.empty()) return usageError("--resume needs --manifest FILE");
    InputList inputs;
    if (!gatherInputs(common, inputs)) return 1;
    if (inputs.files.empty()) return usageError("no file given");

    const std::string base = absolutePath(options.outDir);
    const std::vector<std::string> folders = options.perFileFolders
                                                 ? perFileFolders(inputs.files, base)
                                                 : std::vector<std::string>(inputs.files.size(), base);
    const bool terminal = ::isatty(STDERR_FILENO);
    CliExtractHost host(options.overwrite, terminal && ::isatty(STDIN_FILENO));
    StderrMessages messages;

    BatchSettings& batch = options.batch;
    batch.base = base;
    batch.jobs = options.jobs > 0 ? options.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    batch.terminal = terminal;
    batch.threads = common.threads;
    batch.workerArguments.assign(argv + 2, argv + argc);
    const BatchTotals totals = runBatch(inputs.files, folders, selectionOf(options), batch, host, messages);
    if (totals.setupFailed) return 1;

    if (totals.alreadyDone > 0 && terminal) {
        std::fprintf(stderr, "kestrel-cli: %d movie%s already done (--resume)\n", totals.alreadyDone,
                     totals.alreadyDone == 1 ? "" : "s");
    }
    std::printf("%d written, %d skipped, %d failed\n", totals.written, totals.skipped, totals.failed);
    if (totals.unusable > 0) {
        std::fprintf(stderr, "kestrel-cli: %d movie%s could not be used\n", totals.unusable,
                     totals.unusable == 1 ? "" : "s");
    }
    if (totals.damaged > 0) {
        std::fprintf(stderr, "kestrel-cli: %d movie%s had resources that could not be read\n", totals.damaged,
                     totals.damaged == 1 ? "" : "s");
    }
    const bool bad = totals.unusable > 0 || totals.damaged > 0 || totals.failed > 0 || totals.manifestIncomplete ||
                     !inputs.errors.empty();
    return bad ? 1 : 0;
}

// A worker process of extract (started by the batch, never by hand): the
// same options, movies from the parent over a pipe.
int runExtractWorker(int argc, char** argv) {
    CommonOptions common;
    ExtractOptions options;
    if (const int status = parseExtract(argc, argv, common, options); status >= 0) return status;
    options.batch.jobs = std::max(1, options.jobs);
    options.batch.threads = common.threads;
    return runWorker(selectionOf(options), options.batch);
}

// --- find ---------------------------------------------------------------------

int runFind(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> folders;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json")
            json = true;
        else if (arg.size() > 1 && arg[0] == '-')
            return usageError("unknown option " + arg);
        else
            folders.push_back(arg);
    }
    if (folders.empty()) return usageError("no folder given");
    const InputList found = collectInputs(folders, true);
    JsonWriter out(stdout);
    if (json) out.beginArray();
    for (const std::string& file : found.files) {
        const std::string signature = swfSignature(file);
        if (signature.empty()) continue;  // a file argument that is not a movie
        if (json) {
            out.beginObject();
            out.field("path", file);
            out.field("signature", signature);
            out.endObject();
        } else {
            std::printf("%s\n", file.c_str());
        }
    }
    if (json) {
        out.endArray();
        std::fputc('\n', stdout);
    }
    for (const std::string& e : found.errors) std::fprintf(stderr, "kestrel-cli: %s\n", e.c_str());
    return found.errors.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    TaskPool::allocateFromOneHeap();
    stderrIsTerminal = ::isatty(STDERR_FILENO);
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s\n%s", kUsage, kHelp);
        return 0;
    }
    if (command == "--version") {
        std::printf("kestrel-cli %s\n", KESTREL_VERSION);
        return 0;
    }
    if (command == "list") return runList(argc, argv);
    if (command == "extract") return runExtract(argc, argv);
    if (command == "__extract-worker") return runExtractWorker(argc, argv);
    if (command == "find") return runFind(argc, argv);
    return usageError("unknown command " + command);
}
