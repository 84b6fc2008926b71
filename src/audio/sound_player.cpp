#include "audio/sound_player.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <string>

#include "reader/sound/of_sound.h"

namespace kestrel {

namespace {

// Collects decoded ADPCM samples as 16-bit little-endian PCM, never past
// the end of the buffer.
struct SampleWriter {
    std::uint8_t* out;
    std::size_t capacity;
    std::size_t used;
};

void writeSample(void* context, std::int16_t sample) {
    auto* writer = static_cast<SampleWriter*>(context);
    if (writer->capacity - writer->used < 2) return;
    const auto value = std::uint16_t(sample);
    writer->out[writer->used] = std::uint8_t(value);
    writer->out[writer->used + 1] = std::uint8_t(value >> 8);
    writer->used += 2;
}

}  // namespace

KSSoundPlayer::KSSoundPlayer() = default;

KSSoundPlayer::~KSSoundPlayer() { Stop(); }

WaveFormat KSSoundPlayer::pcmFormat(const OFSound& sound) {
    const PcmLayout layout = sound.pcmLayout();
    return WaveFormat::pcm(layout.channels, layout.rateHz, layout.bits, 18);
}

bool KSSoundPlayer::Play(const OFSound* sound, AudioNotifierPtr notifier) {
    Stop();
    if (!sound) return false;
    switch (sound->format) {
        case SoundFormat::Uncompressed:
        case SoundFormat::UncompressedLE:
        case SoundFormat::Adpcm:
        case SoundFormat::Nellymoser16k:
        case SoundFormat::Nellymoser8k:
        case SoundFormat::Nellymoser:
        case SoundFormat::G711ALaw:
        case SoundFormat::G711MuLaw:
        case SoundFormat::Speex:
            if (!sound->problem.empty()) return true;  // the codec failed when the file was read: silent
            return playPcm(*sound, std::move(notifier));
        case SoundFormat::Mp3: {
            auto manager = std::unique_ptr<OBAudioManager>(new (std::nothrow) OBAudioManager(notifier));
            if (!manager || !manager->Init() || !manager->Start()) return true;  // silent
            auto source = std::shared_ptr<OFAudioMP3>(new (std::nothrow) OFAudioMP3(sound));
            if (!source) return true;
            source->Open();
            manager->Play(source, 0, 0, 0);
            manager_ = std::move(manager);
            source_ = std::move(source);
            return true;
        }
    }
    return true;  // a format code the file format does not define: silent
}

bool KSSoundPlayer::playPcm(const OFSound& sound, AudioNotifierPtr notifier) {
    const bool decoded = sound.format != SoundFormat::Uncompressed && sound.format != SoundFormat::UncompressedLE;
    const std::int64_t size = decoded ? sound.decodedBytes : sound.totalBytes();
    if (size < 0 || std::uint64_t(size) > std::numeric_limits<std::size_t>::max()) return false;
    AudioBufferPtr buffer = OBAudioBuffer::allocate(std::size_t(size));
    if (!buffer) return false;

    if (sound.format == SoundFormat::Adpcm) {
        SampleWriter writer{buffer->data(), buffer->capacity(), 0};
        for (const auto& block : sound.blocks) sound.decodeAdpcm(block, &writeSample, &writer);
        buffer->length = writer.used;
    } else if (decoded) {
        SampleWriter writer{buffer->data(), buffer->capacity(), 0};
        const std::string failure = sound.decodeCodec([&writer](std::span<const std::int16_t> samples) {
            for (const std::int16_t sample : samples) writeSample(&writer, sample);
            return writer.used < writer.capacity;
        });
        if (!failure.empty()) return false;
        buffer->length = writer.used;
    } else {
        std::size_t at = 0;
        for (const auto& block : sound.blocks) {
            const std::size_t n = std::min(block.data.size(), buffer->capacity() - at);
            if (n > 0) std::memcpy(buffer->data() + at, block.data.data(), n);
            at += n;
        }
        buffer->length = at;
    }

    auto waveOut = std::unique_ptr<OBAudioWaveOut>(new (std::nothrow) OBAudioWaveOut);
    if (!waveOut || waveOut->Open(std::move(notifier), kWaveMapper, pcmFormat(sound)) != kAudioOk) return false;
    if (waveOut->Write(std::move(buffer)) != 0) {
        waveOut->Close();
        return false;
    }
    waveOut_ = std::move(waveOut);
    return true;
}

void KSSoundPlayer::Stop() {
    if (manager_) {
        manager_->Stop();
        manager_->Shutdown();
        manager_.reset();
    }
    if (source_) {
        // A worker that did not quit in time must not read the sound after
        // the preview is gone.
        source_->Detach();
        source_.reset();
    }
    if (waveOut_) {
        waveOut_->Close();
        waveOut_.reset();
    }
}

std::int64_t PreviewShownTime(std::uint32_t elapsedMs, std::int32_t durationMs) {
    return std::min<std::int64_t>(elapsedMs, std::max<std::int32_t>(durationMs, 0));
}

std::string PreviewTimeText(std::int64_t shownMs, std::int32_t durationMs) {
    const std::int64_t s = std::max<std::int64_t>(shownMs, 0);
    const std::int64_t d = std::max<std::int32_t>(durationMs, 0);
    char text[64];
    std::snprintf(text, sizeof(text), "%02d:%02d.%d - %02d:%02d.%d", int(s / 60000 % 100), int(s / 1000 % 60),
                  int(s % 1000 / 100), int(d / 60000 % 100), int(d / 1000 % 60), int(d % 1000 / 100));
    return text;
}

bool PreviewFinished(std::uint32_t elapsedMs, std::int32_t durationMs) {
    return std::int64_t(elapsedMs) > std::int64_t(std::max<std::int32_t>(durationMs, 0)) + 100;
}

}  // namespace kestrel
