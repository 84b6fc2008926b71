// Built movies with video streams: listed, their first frame decoded, and
// written as FLV files that libavformat reads back frame for frame.
#include "base/memory_budget.h"
#include "document/extract.h"
#include "document/swf_document.h"
#include "swfbuilder/av_encode.h"
#include "test_support.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrel::test {
namespace {

using namespace swfbuilder;

// What libavformat and libavcodec make of an FLV file.
struct FlvContents {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0, height = 0;
    std::vector<Bytes> packets;
    std::vector<std::int64_t> timesMs;
    std::vector<bool> keys;
    Bytes extradata;
    int decoded = 0;  // frames the decoder produced
};

FlvContents readFlv(const std::string& path) {
    FlvContents out;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return out;
    if (avformat_find_stream_info(input, nullptr) >= 0 && input->nb_streams == 1) {
        const AVCodecParameters* par = input->streams[0]->codecpar;
        out.codec = par->codec_id;
        out.width = par->width;
        out.height = par->height;
        const AVCodec* codec = avcodec_find_decoder(par->codec_id);
        AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (decoder && (avcodec_parameters_to_context(decoder, par) < 0 || avcodec_open2(decoder, codec, nullptr) < 0))
            avcodec_free_context(&decoder);
        AVPacket* packet = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        auto drain = [&] {
            while (decoder && avcodec_receive_frame(decoder, frame) == 0) ++out.decoded;
        };
        while (av_read_frame(input, packet) >= 0) {
            out.packets.emplace_back(packet->data, packet->data + packet->size);
            out.timesMs.push_back(av_rescale_q(packet->pts, input->streams[0]->time_base, AVRational{1, 1000}));
            out.keys.push_back((packet->flags & AV_PKT_FLAG_KEY) != 0);
            if (decoder && avcodec_send_packet(decoder, packet) >= 0) drain();
            av_packet_unref(packet);
        }
        if (decoder && avcodec_send_packet(decoder, nullptr) >= 0) drain();
        const AVCodecParameters* after = input->streams[0]->codecpar;
        out.extradata.assign(after->extradata, after->extradata + after->extradata_size);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&decoder);
    }
    avformat_close_input(&input);
    return out;
}

const SWFVideo& videoAt(const SWFDocument& doc, int index) {
    EXPECT_EQ(doc.resource(index).kind, kKindVideo);
    return static_cast<const SWFVideo&>(doc.resource(index));
}

// The stream is defined on the main timeline and plays in a sprite, as
// movies usually place it; a sound before it keeps its own numbering.
TEST(BuiltMovieVideo, EncodedStreamsListDecodeAndWriteAsFlv) {
    const struct {
        const char* encoder;
        int codec;
        AVCodecID flvCodec;
        const char* typeText;
    } cases[] = {{"flv", 2, AV_CODEC_ID_FLV1, "FLV Sorenson H.263 64 \xC3\x97 48"},
                 {"flashsv", 3, AV_CODEC_ID_FLASHSV, "FLV Screen Video 64 \xC3\x97 48"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.encoder);
        std::vector<bool> keys;
        const auto packets = avEncodeVideo(c.encoder, 64, 48, 6, 4, &keys);
        ASSERT_EQ(packets.size(), 6u);
        Tags sprite;
        for (std::uint16_t i = 0; i < packets.size(); ++i)
            sprite.tag(kTagVideoFrame, videoFrameBody(9, i, packets[i])).showFrame();
        sprite.end();
        Tags t;
        t.tag(kTagDefineSound, defineSoundBody(1, 0, 1, false, false, 4, {1, 2, 3, 4}))
            .showFrame()
            .tag(kTagDefineVideoStream, defineVideoStreamBody(9, 6, 64, 48, c.codec))
            .sprite(10, 6, sprite)
            .showFrame()
            .end();
        TempDir dir;
        SWFDocument doc;
        // 10 frames per second: a frame every 100 ms.
        ASSERT_TRUE(
            doc.readFile(dir.write("clip.swf", SwfFile().frameRate(10 << 8).tags(t).bytes()), nullptr, nullptr));
        ASSERT_EQ(doc.count(), 2);
        EXPECT_EQ(doc.readResult(), kReadOk);
        const SWFVideo& video = videoAt(doc, 1);
        EXPECT_EQ(video.number, 1);
        EXPECT_EQ(video.frame, 2);
        EXPECT_EQ(video.characterId, 9);
        EXPECT_EQ(video.frameCount(), 6);
        EXPECT_EQ(video.durationMs, 600);
        EXPECT_EQ(video.typeText, c.typeText);
        EXPECT_EQ(video.sizeText, "6 frames - 600 ms");
        EXPECT_TRUE(video.problems.empty());
        ASSERT_TRUE(video.firstFrame);
        EXPECT_EQ(video.firstFrame->width(), 64);
        EXPECT_EQ(video.firstFrame->height(), 48);
        EXPECT_EQ(doc.resourceFileName(1, video.number), "clip-1.flv");

        const std::string flv = dir.file("clip-1.flv");
        ASSERT_EQ(writeResourceFile(video, flv), WriteOk);
        const FlvContents back = readFlv(flv);
        EXPECT_EQ(back.codec, c.flvCodec);
        EXPECT_EQ(back.width, 64);
        EXPECT_EQ(back.height, 48);
        EXPECT_EQ(back.decoded, 6);
        ASSERT_EQ(back.packets.size(), 6u);
        for (std::size_t i = 0; i < packets.size(); ++i) EXPECT_EQ(back.packets[i], packets[i]) << i;
        EXPECT_EQ(back.timesMs, (std::vector<std::int64_t>{0, 100, 200, 300, 400, 500}));
        // The FLV marks the frames the encoder made key frames, found from the packets alone.
        if (c.codec == 2) {
            EXPECT_EQ(keys, (std::vector<bool>{true, false, false, false, true, false}));
        }
        EXPECT_EQ(back.keys, keys);
    }
}

// No VP6 encoder exists in libavcodec and no movie of the test data holds
// VP6, so these packets are made up: the container is what is checked. An
// FLV VP6 tag carries a size adjustment byte that the movie's packet lacks;
// it must land in the stream's extradata, not in the packets.
TEST(BuiltMovieVideo, Vp6PacketsKeepTheirBytesAndUndecodableStreamsStayListed) {
    Bytes key = {0x00, 0x08, 0x03, 0x04, 0x05, 0x06};  // frame mode bit clear: a key frame
    Bytes inter = {0x80, 0x11, 0x12};
    Bytes alphaKey = {0x00, 0x00, 0x02, 0x00, 0x08, 0x01, 0x02};  // 24-bit offset to the alpha data first
    Tags t;
    t.tag(kTagDefineVideoStream, defineVideoStreamBody(1, 2, 100, 50, 4))
        .tag(kTagDefineVideoStream, defineVideoStreamBody(2, 1, 32, 32, 5))
        .tag(kTagVideoFrame, videoFrameBody(1, 0, key))
        .tag(kTagVideoFrame, videoFrameBody(2, 0, alphaKey))
        .showFrame()
        .tag(kTagVideoFrame, videoFrameBody(1, 1, inter))
        .showFrame()
        .end();
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("vp6.swf", SwfFile().frameRate(25 << 8).tags(t).bytes()), nullptr, nullptr));
    ASSERT_EQ(doc.count(), 2);
    const struct {
        AVCodecID codec;
        std::vector<Bytes> packets;
        std::uint8_t adjustment;
    } expected[] = {{AV_CODEC_ID_VP6F, {key, inter}, (12 << 4) | 14}, {AV_CODEC_ID_VP6A, {alphaKey}, 0}};
    for (int i = 0; i < 2; ++i) {
        const SWFVideo& video = videoAt(doc, i);
        EXPECT_EQ(video.number, i + 1);
        EXPECT_FALSE(video.firstFrame);
        ASSERT_EQ(video.problems.size(), 1u);
        EXPECT_EQ(video.problems[0].reason.rfind("no preview: ", 0), 0u) << video.problems[0].reason;
        const std::string flv = dir.file("vp6-" + std::to_string(i) + ".flv");
        ASSERT_EQ(writeResourceFile(video, flv), WriteOk);
        const FlvContents back = readFlv(flv);
        EXPECT_EQ(back.codec, expected[i].codec);
        EXPECT_EQ(back.packets, expected[i].packets);
        EXPECT_EQ(back.extradata, Bytes{expected[i].adjustment});
    }
    EXPECT_EQ(videoAt(doc, 0).detailText, "VP6 - 100 \xC3\x97 50");
    EXPECT_EQ(videoAt(doc, 1).detailText, "VP6 with alpha - 32 \xC3\x97 32");
    EXPECT_EQ(videoAt(doc, 0).durationMs, 80);
}

TEST(BuiltMovieVideo, HostileStreamsAndFrames) {
    const auto packets = avEncodeVideo("flv", 32, 32, 3);
    ASSERT_EQ(packets.size(), 3u);
    Tags t;
    t.tag(kTagDefineVideoStream, defineVideoStreamBody(1, 0, 32, 32, 2))        // declares no frames, has three
        .tag(kTagDefineVideoStream, defineVideoStreamBody(2, 5000, 32, 32, 2))  // declares many, has none
        .tag(kTagDefineVideoStream, defineVideoStreamBody(3, 1, 0, 0, 9))       // a codec FLV cannot carry
        .tag(kTagDefineVideoStream, {0x04, 0x00, 0x01})                         // cut short
        .tag(kTagVideoFrame, videoFrameBody(7, 0, packets[0]))                  // no such stream
        .tag(kTagVideoFrame, {0x01, 0x00})                                      // no frame number
        .tag(kTagVideoFrame, videoFrameBody(1, 0, {}))                          // an empty packet
        .tag(kTagVideoFrame, videoFrameBody(3, 0, {0xAB}));
    // Frame numbers that go back keep the previous time.
    const std::uint16_t numbers[] = {5, 7, 6};
    for (int i = 0; i < 3; ++i) t.tag(kTagVideoFrame, videoFrameBody(1, numbers[i], packets[std::size_t(i)]));
    t.showFrame().end();
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("bad.swf", SwfFile().frameRate(0).tags(t).bytes()), nullptr, nullptr));
    EXPECT_EQ(doc.readResult(), kReadSomeFailed);
    std::vector<std::string> reasons;
    for (const Problem& p : doc.problems()) reasons.push_back(p.reason);
    EXPECT_EQ(reasons, (std::vector<std::string>{"DefineVideoStream cut short", "no video stream with id 7",
                                                 "VideoFrame cut short"}));
    ASSERT_EQ(doc.count(), 2);
    const SWFVideo& first = videoAt(doc, 0);
    EXPECT_EQ(first.frameCount(), 3);
    // A frame rate of 0 is taken as 12 frames per second.
    EXPECT_EQ(first.payload->timestampsMs(), (std::vector<std::int64_t>{0, 167, 167}));
    EXPECT_EQ(first.durationMs, 250);
    EXPECT_TRUE(first.firstFrame);
    const SWFVideo& odd = videoAt(doc, 1);
    EXPECT_EQ(odd.typeText, "FLV codec 9 0 \xC3\x97 0");
    EXPECT_EQ(writeResourceFile(odd, dir.file("odd.flv")), WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("odd.flv")));

    const std::string flv = dir.file("first.flv");
    ASSERT_EQ(writeResourceFile(first, flv), WriteOk);
    EXPECT_EQ(readFlv(flv).decoded, 3);

    // Frames beyond the memory budget are dropped, each with a problem.
    const std::int64_t limit = MemoryBudget::limit();
    MemoryBudget::setLimit(MemoryBudget::inUse() + std::int64_t(packets[0].size()) + 1);  // and the 1-byte frame
    SWFDocument tight;
    tight.readFile(dir.file("bad.swf"), nullptr, nullptr);
    MemoryBudget::setLimit(limit);
    ASSERT_EQ(tight.count(), 2);
    const SWFVideo& kept = videoAt(tight, 0);
    EXPECT_EQ(kept.frameCount(), 1);
    EXPECT_EQ(kept.problems.size(), 3u);  // two frames refused, no memory left for the preview
}

// Sorting puts videos after sounds by type and by dimension, where they go
// by frame count.
TEST(BuiltMovieVideo, SortsAfterSoundsAndByFrameCount) {
    const auto packets = avEncodeVideo("flv", 16, 16, 3);
    ASSERT_EQ(packets.size(), 3u);
    Tags t;
    t.tag(kTagDefineVideoStream, defineVideoStreamBody(1, 3, 16, 16, 2))
        .tag(kTagDefineVideoStream, defineVideoStreamBody(2, 1, 16, 16, 2))
        .tag(kTagDefineSound, defineSoundBody(3, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .tag(kTagDefineBitsLossless, losslessBody(4, 5, 1, 1, deflate(argbRows({0x102030FF}))));
    for (std::uint16_t i = 0; i < 3; ++i) t.tag(kTagVideoFrame, videoFrameBody(1, i, packets[i]));
    t.tag(kTagVideoFrame, videoFrameBody(2, 0, packets[0])).showFrame().end();
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(dir.write("m.swf", SwfFile().tags(t).bytes()), nullptr, nullptr));
    auto order = [&doc] {
        std::string s;
        for (int i = 0; i < doc.count(); ++i) {
            const SWFRes& r = doc.resource(i);
            s += (r.kind == kKindImage ? "I" : r.kind == kKindSound ? "S" : "V") + std::to_string(r.number);
        }
        return s;
    };
    EXPECT_EQ(order(), "S1I1V1V2");  // reading order: videos once the movie is read
    doc.sort(1);
    EXPECT_EQ(order(), "I1S1V1V2");
    doc.sort(4);
    EXPECT_EQ(order(), "I1S1V2V1");
    doc.sort(-4);
    EXPECT_EQ(order(), "V1V2S1I1");
}

}  // namespace
}  // namespace kestrel::test
