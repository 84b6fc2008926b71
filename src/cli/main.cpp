// kestrel-cli: lists and extracts the images and sounds of SWF files
// without a window, through the same core as the window program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <iostream>

#include "cli/json.h"
#include "document/extract.h"
#include "document/swf_document.h"

using namespace kestrel;

namespace {

const char* const kUsage =
    "usage: kestrel-cli list [--json] [--sort KEY] FILE...\n"
    "       kestrel-cli extract FILE... -o DIR [--images|--sounds] [--index N,M,...] [--overwrite]\n"
    "  KEY: 1 type, 2 frame, 3 memory size, 4 dimension; negative sorts descending\n";

// Messages of the core go to stderr, prefixed with the file they concern.
class StderrMessages final : public MessageSink {
public:
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons) override {
        std::fprintf(stderr, "kestrel-cli: %s%s\n", icon == MessageIcon::Warning ? "warning: " : "", text.c_str());
        return MessageAnswer::Ok;
    }
};

struct ListOptions {
    bool json = false;
    int sortKey = 0;
    std::vector<std::string> files;
};

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    auto abs = std::filesystem::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

void writeRecordJson(JsonWriter& json, const SWFDocument& doc, int index) {
    const SWFRes& r = doc.resource(index);
    json.beginObject();
    json.field("index", index);
    json.field("kind", r.kind == kKindImage ? "image" : "sound");
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
    if (r.kind == kKindImage) {
        const auto& image = static_cast<const SWFImage&>(r);
        json.field("width", image.payload->width());
        json.field("height", image.payload->height());
        json.field("pictureFormat", image.payload->format());
        json.field("isJpeg", image.isJpeg);
        json.field("hasAlpha", image.payload->hasAlpha());
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

void writeDocumentJson(JsonWriter& json, const std::string& file, int result, const SWFDocument* doc) {
    json.beginObject();
    json.field("file", file);
    json.field("result", result);
    json.field("message", readerMessage(result, file));
    json.key("resources");
    json.beginArray();
    if (doc) {
        for (int i = 0; i < doc->count(); ++i) writeRecordJson(json, *doc, i);
    }
    json.endArray();
    json.endObject();
}

void printDocumentText(const std::string& file, const SWFDocument& doc) {
    std::printf("%s: %d resource%s\n", file.c_str(), doc.count(), doc.count() == 1 ? "" : "s");
    for (int i = 0; i < doc.count(); ++i) {
        const SWFRes& r = doc.resource(i);
        std::printf("  %s #%-4d %-28s frame %-5s %8s  %-14s %s\n", r.kind == kKindImage ? "Image" : "Sound", r.number,
                    r.typeText.c_str(), r.frameText.c_str(), r.memoryText.c_str(), r.sizeText.c_str(),
                    doc.resourceFileName(i, r.number).c_str());
    }
}

int runList(const ListOptions& options) {
    StderrMessages messages;
    JsonWriter json(stdout);
    const bool many = options.files.size() > 1;
    if (options.json && many) json.beginArray();
    int status = 0;
    for (const std::string& file : options.files) {
        SWFDocument doc;
        const bool usable = doc.readFile(absolutePath(file), nullptr, &messages);
        if (!usable) status = 1;
        if (usable) doc.sort(options.sortKey);
        if (options.json) {
            writeDocumentJson(json, file, doc.readResult(), usable ? &doc : nullptr);
        } else if (usable) {
            printDocumentText(file, doc);
        }
    }
    if (options.json && many) json.endArray();
    if (options.json) std::fputc('\n', stdout);
    return status;
}


// --- extract ------------------------------------------------------------------

struct ExtractOptions {
    std::string outDir;
    bool images = true;
    bool sounds = true;
    bool overwrite = false;
    std::vector<int> indices;  // empty: every resource
    std::vector<std::string> files;
};

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
        if (!interactive_) {
            std::fprintf(stderr, "kestrel-cli: %s exists, skipped (--overwrite replaces it)\n", path.c_str());
            return OverwriteAnswer::No;
        }
        for (;;) {
            std::fprintf(stderr, "The file '%s' already exists. Overwrite? [y]es/[a]ll/[n]o/[c]ancel: ", path.c_str());
            std::string line;
            if (!std::getline(std::cin, line)) return OverwriteAnswer::Cancel;
            switch (line.empty() ? 'y' : line[0]) {
                case 'y': case 'Y': return OverwriteAnswer::Yes;
                case 'a': case 'A': return OverwriteAnswer::All;
                case 'n': case 'N': return OverwriteAnswer::No;
                case 'c': case 'C': return OverwriteAnswer::Cancel;
                default: break;
            }
        }
    }

    // Failures are reported and the batch goes on.
    MessageAnswer report(const std::string& text, MessageIcon, MessageButtons buttons) override {
        std::string message = text;
        const std::string question = text::kContinue;
        if (message.size() >= question.size() && message.ends_with(question)) {
            message.resize(message.size() - question.size());
        }
        std::fprintf(stderr, "kestrel-cli: %s\n", oneLine(message).c_str());
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }

private:
    bool overwrite_;
    bool interactive_;
};

int runExtract(const ExtractOptions& options) {
    StderrMessages messages;
    CliExtractHost host(options.overwrite, ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO));
    const std::string folder = absolutePath(options.outDir);
    ExtractSummary total;
    bool unusable = false;
    for (const std::string& file : options.files) {
        SWFDocument doc;
        if (!doc.readFile(absolutePath(file), nullptr, &messages)) {
            unusable = true;
            continue;
        }
        std::vector<int> indices;
        for (int i = 0; i < doc.count(); ++i) {
            const bool image = doc.resource(i).kind == kKindImage;
            if (image ? !options.images : !options.sounds) continue;
            if (!options.indices.empty() &&
                std::find(options.indices.begin(), options.indices.end(), i) == options.indices.end()) {
                continue;
            }
            indices.push_back(i);
        }
        const ExtractSummary s = extractResources(doc, folder, indices, host);
        total.written += s.written;
        total.skipped += s.skipped;
        total.failed += s.failed;
        if (s.folderFailed) {
            unusable = true;
            break;
        }
        if (s.stopped) break;
    }
    std::printf("%d written, %d skipped, %d failed\n", total.written, total.skipped, total.failed);
    return unusable || total.failed > 0 ? 1 : 0;
}

bool parseIndexList(const std::string& text, std::vector<int>& out) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end || v < 0 || v > 1000000000) return false;
        out.push_back(int(v));
        at = comma + 1;
    }
    return !out.empty();
}

bool parseInt(const char* text, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < -1000 || v > 1000) return false;
    out = int(v);
    return true;
}

int usageError(const char* what) {
    std::fprintf(stderr, "kestrel-cli: %s\n%s", what, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    if (command == "list") {
        ListOptions options;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--json") {
                options.json = true;
            } else if (arg == "--sort") {
                if (i + 1 >= argc || !parseInt(argv[++i], options.sortKey)) return usageError("--sort needs a key");
                const int magnitude = options.sortKey < 0 ? -options.sortKey : options.sortKey;
                if (magnitude < 1 || magnitude > 4) return usageError("--sort takes 1..4 or -1..-4");
            } else if (arg == "--") {
                for (++i; i < argc; ++i) options.files.push_back(argv[i]);
            } else if (arg.size() > 1 && arg[0] == '-') {
                return usageError(("unknown option " + arg).c_str());
            } else {
                options.files.push_back(arg);
            }
        }
        if (options.files.empty()) return usageError("no file given");
        return runList(options);
    }
    if (command == "extract") {
        ExtractOptions options;
        for (int i = 2; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "-o" || arg == "--output") {
                if (i + 1 >= argc) return usageError("-o needs a folder");
                options.outDir = argv[++i];
            } else if (arg == "--images") {
                options.sounds = false;
            } else if (arg == "--sounds") {
                options.images = false;
            } else if (arg == "--overwrite") {
                options.overwrite = true;
            } else if (arg == "--index") {
                if (i + 1 >= argc || !parseIndexList(argv[++i], options.indices)) {
                    return usageError("--index needs a list such as 0,3,4");
                }
            } else if (arg == "--") {
                for (++i; i < argc; ++i) options.files.push_back(argv[i]);
            } else if (arg.size() > 1 && arg[0] == '-') {
                return usageError(("unknown option " + arg).c_str());
            } else {
                options.files.push_back(arg);
            }
        }
        if (options.files.empty()) return usageError("no file given");
        if (options.outDir.empty()) return usageError("no output folder given (-o DIR)");
        if (!options.images && !options.sounds) return usageError("--images and --sounds exclude each other");
        return runExtract(options);
    }
    return usageError(("unknown command " + command).c_str());
}
