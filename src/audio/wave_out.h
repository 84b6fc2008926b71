// Wave output: plays PCM buffers on the default sound device, in the order
// written, and reports each finished buffer once. Buffers handed to a
// device stay in a process-wide pending list until they are released on
// the user-interface thread (ReleaseDoneBuffer) or swept by Reset/Close.
//
// Completion reports travel through an OBAudioNotifier: the device's audio
// thread posts (device, buffer) records into it and calls its hook; the
// hook only has to wake the user-interface thread (a window posts itself a
// queued event), which then calls ReleaseDoneBuffers().
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/audio_types.h"

namespace kestrel {

class OBAudioNotifier {
public:
    using Hook = std::function<void()>;

    struct Done {
        AudioDeviceId device;
        AudioBufferId buffer;
    };

    // The hook runs on the device's audio thread once per finished buffer,
    // while that device is locked: it must return quickly and must not call
    // into the audio library. An empty hook removes it; once SetHook returns
    // the old hook is no longer running and will not run again.
    void SetHook(Hook hook);

    // Any thread: records a finished buffer and calls the hook.
    void Post(AudioDeviceId device, AudioBufferId buffer);

    // User-interface thread: ReleaseDoneBuffer for every record posted so
    // far, in order. Returns how many records were handled.
    std::size_t ReleaseDoneBuffers();

    // Records not yet handled, oldest first (tests).
    std::vector<Done> waiting() const;
    // Records posted since construction (tests).
    std::uint64_t postedCount() const;

private:
    mutable std::mutex mutex_;  // records_ and posted_
    std::vector<Done> records_;
    std::uint64_t posted_ = 0;
    std::mutex hookMutex_;
    Hook hook_;
};

using AudioNotifierPtr = std::shared_ptr<OBAudioNotifier>;

// The system's default output device.
inline constexpr int kWaveMapper = -1;

class OBAudioWaveOut {
public:
    OBAudioWaveOut();
    ~OBAudioWaveOut();  // closes the device
    OBAudioWaveOut(const OBAudioWaveOut&) = delete;
    OBAudioWaveOut& operator=(const OBAudioWaveOut&) = delete;

    // Opens `device` (kWaveMapper or an output device index) for a PCM
    // format of 8 (unsigned) or 16 (signed little-endian) bits. A device
    // already open is reset instead, keeping its format. 0, 1 (reset
    // failed) or 5 (cannot be opened).
    int Open(AudioNotifierPtr notifier, int device, const WaveFormat& format);
    // Stops output and frees every buffer the device holds; the device stays
    // open and running. 0 or 1.
    int Reset();
    int Pause();
    int Restart();
    // Reset, then close; 0 or 1.
    int Close();
    // Queues a buffer behind those already written. Without an open device
    // the buffer is dropped (0). 1 when it cannot be queued.
    int Write(AudioBufferPtr buffer);

    bool isOpen() const { return device_ != nullptr; }
    // The format of the open device; all zero but cbSize 18 when closed.
    const WaveFormat& format() const { return format_; }
    AudioDeviceId deviceId() const;
    // PCM bytes the device has taken from written buffers since it opened.
    std::uint64_t playedBytes() const;

    // Devices open in this process (tests).
    static int openDevices();

private:
    struct Device;
    static void callback(void* userdata, std::uint8_t* stream, int length);

    std::unique_ptr<Device> device_;
    WaveFormat format_;
};

// User-interface thread: frees a buffer the device reported finished. A
// buffer no longer pending (swept by a reset) is ignored.
void ReleaseDoneBuffer(AudioDeviceId device, AudioBufferId buffer);

// Buffers written to devices and not yet released.
std::size_t PendingBufferCount();
std::size_t PendingBufferCount(AudioDeviceId device);

// Reference-counted initialisation of the sound system. False when no
// sound system is available (every Open then fails with code 5).
bool AcquireSoundSystem();
void ReleaseSoundSystem();

// Frees what the sound system keeps for the calling thread (an error text,
// for one). A thread of our own that used wave outputs calls it last.
void ReleaseSoundThreadState();

}  // namespace kestrel
