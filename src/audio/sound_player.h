// Plays one collected sound for the sound preview: uncompressed, ADPCM,
// Nellymoser, G.711 and Speex sounds as one PCM buffer straight on a wave
// output, MP3 sounds through an
// audio manager and its worker thread. Failures are silent.
//
// Wiring in a window (the notifier carries the device's buffer-done
// reports to the user-interface thread):
//
//   notifier_ = std::make_shared<OBAudioNotifier>();
//   notifier_->SetHook([this] {            // audio thread: just post
//       QMetaObject::invokeMethod(this, [this] { notifier_->ReleaseDoneBuffers(); },
//                                 Qt::QueuedConnection);
//   });
//   player_.Play(sound, notifier_);
//   ...
//   player_.Stop();                         // closing: stops at once
//   notifier_->SetHook({});
//
// The time display needs nothing from the audio side: it runs on the
// window's own clock with the helpers at the end of this file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_manager.h"
#include "audio/audio_source.h"
#include "audio/wave_out.h"

namespace kestrel {

class OFSound;

class KSSoundPlayer {
public:
    KSSoundPlayer();
    virtual ~KSSoundPlayer();  // Stop
    KSSoundPlayer(const KSSoundPlayer&) = delete;
    KSSoundPlayer& operator=(const KSSoundPlayer&) = delete;

    // Starts playing; a sound already playing is stopped first. False when
    // there is no sound, or a PCM-played sound cannot be put on a device (no
    // device, no memory). MP3 sounds, sounds whose codec failed and unknown
    // formats return true even when nothing plays. The sound must stay alive until Stop.
    bool Play(const OFSound* sound, AudioNotifierPtr notifier);
    // Stops at once and frees everything; buffers still held by the device
    // are released by the reset.
    void Stop();

    // The PCM format of the sounds played as one buffer.
    static WaveFormat pcmFormat(const OFSound& sound);

    // What is playing (tests).
    const OBAudioWaveOut* waveOut() const { return waveOut_.get(); }
    const OBAudioManager* manager() const { return manager_.get(); }

private:
    bool playPcm(const OFSound& sound, AudioNotifierPtr notifier);

    std::unique_ptr<OBAudioManager> manager_;
    std::unique_ptr<OBAudioWaveOut> waveOut_;
    std::shared_ptr<OFAudioMP3> source_;
};

// The time display of the sound preview. Elapsed time is the window's own
// clock since Play, in milliseconds; duration is the sound's durationMs.

// The time shown: the elapsed time, at most the duration.
std::int64_t PreviewShownTime(std::uint32_t elapsedMs, std::int32_t durationMs);
// "mm:ss.t - mm:ss.t", minutes modulo 100.
std::string PreviewTimeText(std::int64_t shownMs, std::int32_t durationMs);
// True once the elapsed time exceeds the duration by more than 100 ms: the
// preview closes.
bool PreviewFinished(std::uint32_t elapsedMs, std::int32_t durationMs);

}  // namespace kestrel
