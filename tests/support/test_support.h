// Helpers shared by the tests: temporary files and folders, a sink that
// records what the reader hands over, the fixture movies and the corpus
// location.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "reader/swf_reader.h"
#include "swfbuilder/swf_builder.h"

namespace kestrel::test {

using swfbuilder::Bytes;

// A folder of its own under the system's temporary folder, removed again.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        // Permission tests may leave unwritable folders behind.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string write(const std::string& name, const Bytes& bytes) const {
        const std::string p = file(name);
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }

private:
    std::string path_;
};

inline Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Records every resource the reader hands over.
class RecordingSink final : public ResourceSink {
public:
    struct Image {
        std::uint16_t frame;
        std::unique_ptr<OBPicture> picture;
        bool isJpeg;
        std::uint32_t bodyLength;
        ImageExtras extras;
    };
    void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg, std::uint32_t bodyLength,
                  ImageExtras extras = {}) override {
        images.push_back({frame, std::move(picture), isJpeg, bodyLength, std::move(extras)});
        order.push_back('I');
    }
    void addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin = {}) override {
        sounds.push_back(std::move(sound));
        soundOrigins.push_back(std::move(origin));
        order.push_back('S');
    }
    std::vector<Image> images;
    std::vector<std::unique_ptr<OFSound>> sounds;
    std::vector<ResourceOrigin> soundOrigins;
    std::string order;
};

// A file of the small fixture set committed under tests/data.
inline std::string dataFile(const std::string& name) { return std::string(KESTREL_TEST_DATA_DIR "/") + name; }

// The shared corpus of real movies: $KESTREL_CORPUS_DIR when set (CI points
// it elsewhere to run without the corpus), else the folder beside the
// source tree. Only the whole-corpus suite needs it.
inline std::string corpusDir() {
    const char* dir = std::getenv("KESTREL_CORPUS_DIR");
    return dir && *dir ? std::string(dir) : std::string(KESTREL_DEFAULT_CORPUS_DIR);
}

}  // namespace kestrel::test
