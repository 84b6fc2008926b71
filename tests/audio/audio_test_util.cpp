#include "audio_test_util.h"

#include <SDL.h>
#include <mpg123.h>

#include <cstdlib>

#include "audio/decoder.h"

namespace kestrel::test {

namespace {

// The disk driver stands in for the sound card; it plays about five times
// faster than real time so that the tests stay short.
class AudioEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        ::setenv("SDL_DISKAUDIODELAY", "4", 1);
        // The disk driver announces itself at every open.
        SDL_LogSetOutputFunction([](void*, int, SDL_LogPriority, const char*) {}, nullptr);
        AudioStartup();
    }
    void TearDown() override { AudioShutdown(); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new AudioEnvironment);

}  // namespace

void AudioTest::SetUp() {
    ASSERT_FALSE(dir.path().empty());
    ::setenv("SDL_DISKAUDIOFILE", deviceFile().c_str(), 1);
    notifier->SetHook([this] {
        std::lock_guard lock(mutex_);
        posted_.notify_all();
    });
}

void AudioTest::TearDown() { notifier->SetHook({}); }

bool AudioTest::waitPosted(std::uint64_t count) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::seconds(20), [&] { return notifier->postedCount() >= count; });
}

bool AudioTest::drainDevice(AudioDeviceId device) {
    return eventually([&] {
        notifier->ReleaseDoneBuffers();
        return PendingBufferCount(device) == 0;
    });
}

std::vector<std::int16_t> nonSilent16(const Bytes& raw) {
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        const auto sample = std::int16_t(std::uint16_t(raw[i] | raw[i + 1] << 8));
        if (sample != 0) samples.push_back(sample);
    }
    return samples;
}

std::vector<std::uint8_t> nonSilent8(const Bytes& raw) {
    std::vector<std::uint8_t> samples;
    for (std::uint8_t sample : raw) {
        if (sample != 0x80) samples.push_back(sample);
    }
    return samples;
}

namespace {

std::uint32_t nextRandom(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

}  // namespace

Bytes noise16(std::size_t samples, std::uint32_t seed) {
    Bytes bytes;
    for (std::size_t i = 0; i < samples; ++i) {
        auto value = std::uint16_t(nextRandom(seed));
        if (value == 0) value = 1;
        bytes.push_back(std::uint8_t(value));
        bytes.push_back(std::uint8_t(value >> 8));
    }
    return bytes;
}

Bytes noise8(std::size_t samples, std::uint32_t seed) {
    Bytes bytes;
    for (std::size_t i = 0; i < samples; ++i) {
        auto value = std::uint8_t(nextRandom(seed));
        bytes.push_back(value == 0x80 ? 0x81 : value);
    }
    return bytes;
}

namespace {

std::unique_ptr<OFSound> firstSound(const std::string& path, SoundFormat format, bool stream) {
    RecordingSink sink;
    SWFReader reader(&sink);
    reader.read(path, nullptr);
    for (auto& sound : sink.sounds) {
        // An event sound is one block, a stream sound one block per frame.
        if (sound->format == format && !sound->blocks.empty() && (sound->blocks.size() > 1) == stream)
            return std::move(sound);
    }
    ADD_FAILURE() << "no such sound in " << path;
    return nullptr;
}

}  // namespace

std::unique_ptr<OFSound> fixtureSound(const std::string& file, SoundFormat format, bool stream) {
    return firstSound(dataFile(file), format, stream);
}

std::unique_ptr<OFSound> stereoMp3Sound() {
    const Bytes mp3 = readAll(dataFile("stereo-vbr.mp3"));
    EXPECT_FALSE(mp3.empty()) << "fixture stereo-vbr.mp3 missing";
    OFSound decoded;
    decoded.blocks.push_back(OFSoundBlock{mp3});
    const auto samples = std::uint32_t(referenceMp3(decoded, 2, 44100).size() / 4);
    swfbuilder::Tags tags;
    tags.tag(swfbuilder::kTagDefineSound, swfbuilder::defineSoundBody(1, int(SoundFormat::Mp3), 3, true, true, samples,
                                                                      swfbuilder::Writer().u16(0).bytes(mp3).take()));
    tags.showFrame().end();
    const TempDir dir;
    return firstSound(dir.write("stereo.swf", swfbuilder::SwfFile().tags(tags).bytes()), SoundFormat::Mp3, false);
}

std::unique_ptr<OFSound> repeated(const OFSound& sound, int copies) {
    auto copy = std::make_unique<OFSound>(sound);
    copy->blocks.clear();
    for (int i = 0; i < copies; ++i) copy->blocks.insert(copy->blocks.end(), sound.blocks.begin(), sound.blocks.end());
    copy->computeDuration();
    return copy;
}

Bytes referenceMp3(const OFSound& sound, int channels, long rate) {
    Bytes input;
    for (const auto& block : sound.blocks) input.insert(input.end(), block.data.begin(), block.data.end());

    int error = 0;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    EXPECT_NE(handle, nullptr);
    if (!handle) return {};
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | (channels == 1 ? MPG123_MONO_MIX : MPG123_FORCE_STEREO), 0.0);
    mpg123_param(handle, MPG123_FORCE_RATE, rate, 0.0);
    mpg123_format_none(handle);
    mpg123_format(handle, rate, channels == 1 ? MPG123_MONO : MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(handle);

    Bytes pcm;
    std::vector<std::uint8_t> chunk(65536);
    const std::uint8_t* in = input.data();
    std::size_t inSize = input.size();
    for (;;) {
        std::size_t done = 0;
        const int rc = mpg123_decode(handle, in, inSize, chunk.data(), chunk.size(), &done);
        in = nullptr;
        inSize = 0;
        pcm.insert(pcm.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(done));
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) break;
    }
    mpg123_delete(handle);
    return pcm;
}

}  // namespace kestrel::test
