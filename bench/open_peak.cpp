// Opens one SWF file the way the window does and reports the peak memory
// of the process against the bytes the open document has to hold:
//
//   open-peak FILE
//
// prints one line of key=value pairs: the file's size, the bytes of the
// decoded pictures (the records' pixel blocks), the peak resident set
// size (getrusage) before and after opening, and
// ratio = peak / (pictures + file size). Run it as its own process so the
// peak belongs to this one open alone.
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>

#include "base/task_pool.h"
#include "document/swf_document.h"

namespace {

std::int64_t peakRss() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::int64_t(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
    kestrel::TaskPool::allocateFromOneHeap();  // as the programs do
    if (argc != 2) {
        std::fprintf(stderr, "usage: open-peak FILE\n");
        return 2;
    }
    struct stat st {};
    if (::stat(argv[1], &st) != 0) {
        std::fprintf(stderr, "open-peak: cannot stat %s\n", argv[1]);
        return 1;
    }
    const std::int64_t before = peakRss();
    kestrel::SWFDocument doc;
    if (!doc.readFile(argv[1], nullptr, nullptr)) {
        std::fprintf(stderr, "open-peak: cannot open %s\n", argv[1]);
        return 1;
    }
    std::int64_t pictures = 0;
    std::int64_t jpegCopies = 0;
    std::int64_t soundBytes = 0;
    int images = 0;
    for (int i = 0; i < doc.count(); ++i) {
        const kestrel::SWFRes& r = doc.resource(i);
        if (r.kind == kestrel::kKindImage) {
            const auto& image = static_cast<const kestrel::SWFImage&>(r);
            pictures += std::int64_t(image.payload->stride()) * image.payload->height();
            jpegCopies += std::int64_t(image.originalJpeg.size());
            ++images;
        } else {
            soundBytes += static_cast<const kestrel::SWFSound&>(r).payload->totalBytes();
        }
    }
    const std::int64_t peak = peakRss();
    const std::int64_t budget = pictures + std::int64_t(st.st_size);
    std::printf(
        "file_bytes=%lld images=%d picture_bytes=%lld jpeg_copy_bytes=%lld sound_bytes=%lld "
        "rss_before=%lld peak_rss=%lld ratio=%.3f\n",
        (long long)st.st_size, images, (long long)pictures, (long long)jpegCopies, (long long)soundBytes,
        (long long)before, (long long)peak, double(peak) / double(budget));
    return 0;
}
