// The read's progress through the body and stopping it between tags.
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

// Records the body positions; cancels once `cancelAt` of them were seen.
class Stopper : public ReaderProgress {
public:
    explicit Stopper(int cancelAt) : cancelAt_(cancelAt) {}
    void setStepCount(int) override {}
    void setPosition(int) override {}
    void setBodyPosition(std::uint64_t done, std::uint64_t total) override {
        done_.push_back(done);
        total_ = total;
    }
    bool cancelled() override { return cancelAt_ >= 0 && int(done_.size()) >= cancelAt_; }

    std::vector<std::uint64_t> done_;
    std::uint64_t total_ = 0;

private:
    int cancelAt_;
};

Bytes tenImages(bool compressed) {
    Tags tags;
    for (int i = 0; i < 10; ++i) {
        const std::vector<std::uint32_t> pixels(4, 0xFF00FF00u);
        tags.tag(kTagDefineBitsLossless2, losslessBody(std::uint16_t(i + 1), 5, 2, 2, deflate(argbRows(pixels))));
        tags.showFrame();
    }
    tags.end();
    return SwfFile().compressed(compressed).frames(10).tags(tags).bytes();
}

TEST(ReaderCancel, BodyPositionsRiseToTheDeclaredLength) {
    for (bool compressed : {false, true}) {
        RecordingSink sink;
        Stopper progress(-1);
        SWFReader reader(&sink);
        const Bytes file = tenImages(compressed);
        EXPECT_TRUE(reader.readMemory(file, &progress));
        EXPECT_EQ(reader.result(), kReadOk);
        EXPECT_EQ(sink.images.size(), 10u);
        ASSERT_EQ(progress.done_.size(), 21u);  // 10 images, 10 frames, the end
        EXPECT_EQ(progress.total_, std::uint64_t(reader.declaredLength()));
        EXPECT_TRUE(std::is_sorted(progress.done_.begin(), progress.done_.end()));
        EXPECT_LT(progress.done_.back(), progress.total_);
    }
}

TEST(ReaderCancel, StopsBetweenTagsWithItsOwnResult) {
    for (bool compressed : {false, true}) {
        RecordingSink sink;
        Stopper progress(7);  // before the fourth image's tag
        SWFReader reader(&sink);
        reader.readMemory(tenImages(compressed), &progress);
        EXPECT_EQ(reader.result(), kReadCancelled);
        EXPECT_EQ(sink.images.size(), 3u);
        EXPECT_EQ(progress.done_.size(), 7u);
    }
}

// Movies inside DefineBinaryData are read after the file's own tags and
// stop with the file's read.
TEST(ReaderCancel, StopsInsideANestedMovie) {
    class CountingStopper : public ReaderProgress {
    public:
        void setStepCount(int) override {}
        void setPosition(int) override {}
        bool cancelled() override { return ++asked >= 11; }
        int asked = 0;
    } progress;
    Tags tags;
    for (std::uint16_t id : {1, 2}) tags.tag(kTagDefineBinaryData, defineBinaryDataBody(id, tenImages(true)));
    tags.showFrame().end();
    RecordingSink sink;
    SWFReader reader(&sink);
    // Four tags of the file, then the nested movie's until its fourth image.
    reader.readMemory(SwfFile().tags(tags).bytes(), &progress);
    EXPECT_EQ(reader.result(), kReadCancelled);
    EXPECT_EQ(sink.images.size(), 3u);
    EXPECT_EQ(progress.asked, 11);
}

}  // namespace
}  // namespace kestrel::test
