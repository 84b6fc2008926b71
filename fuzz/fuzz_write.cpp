// libFuzzer target: every resource of a fuzzed file written into a
// temporary folder, as extraction does (JPEG, PNG, MP3, WAV writers).
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "base/memory_budget.h"
#include "document/swf_document.h"

using namespace kestrel;

namespace {
std::string folder;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MemoryBudget::setLimit(std::int64_t{512} << 20);
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data())) folder = pattern;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (folder.empty()) return 0;
    SWFDocument doc;
    SWFReader reader(&doc);
    reader.readMemory({data, size}, nullptr);
    WriteOptions premultiplied;
    premultiplied.premultipliedAlpha = true;
    premultiplied.originalJpeg = size % 2 == 0;
    for (int i = 0; i < doc.count(); ++i) {
        const std::string path = folder + "/r" + std::to_string(i) + doc.resource(i).extension();
        writeResourceFile(doc.resource(i), path, i % 2 ? premultiplied : WriteOptions{});
        ::unlink(path.c_str());
    }
    return 0;
}
