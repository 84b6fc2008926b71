// Copies SWF files into a seed folder for the fuzzers, adding an
// uncompressed twin of every CWS file so that mutations reach the tags
// instead of only the zlib stream.
//
//   make-fuzz-seeds OUT_DIR FILE...
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

Bytes readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Seeds stay small: the fuzzers cut inputs at --max_len anyway.
constexpr std::size_t kMaxSeed = 1 << 20;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-fuzz-seeds OUT_DIR FILE...\n");
        return 2;
    }
    const fs::path out = argv[1];
    fs::create_directories(out);
    for (int i = 2; i < argc; ++i) {
        const fs::path in = argv[i];
        Bytes bytes = readAll(in);
        if (bytes.size() > kMaxSeed) continue;
        writeAll(out / in.filename(), bytes);
        if (bytes.size() < 8 || bytes[0] != 'C' || bytes[1] != 'W' || bytes[2] != 'S') continue;
        const uLong declared = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uLong(bytes[7]) << 24;
        if (declared < 8 || declared > kMaxSeed) continue;
        Bytes plain(declared);
        std::copy(bytes.begin(), bytes.begin() + 8, plain.begin());
        plain[0] = 'F';
        uLongf length = declared - 8;
        if (uncompress(plain.data() + 8, &length, bytes.data() + 8, uLong(bytes.size() - 8)) != Z_OK) continue;
        plain.resize(8 + length);
        writeAll(out / (in.filename().string() + ".fws"), plain);
    }
    return 0;
}
