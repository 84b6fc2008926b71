#include "audio/wave_out.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <new>
#include <unordered_map>

namespace kestrel {

namespace {

// Serialises sound-system start/stop and device open/close.
std::mutex g_soundSystemMutex;
int g_soundSystemRefs = 0;

std::atomic<int> g_openDevices{0};
std::atomic<AudioDeviceId> g_nextDeviceId{1};
std::atomic<AudioBufferId> g_nextBufferId{1};

struct PendingEntry {
    AudioDeviceId device;
    AudioBufferPtr buffer;
};

// Buffers held by devices, keyed by buffer id. Never destroyed, so that a
// device thread still running at exit finds it intact.
struct PendingList {
    std::mutex mutex;
    std::unordered_map<AudioBufferId, PendingEntry> entries;
};

PendingList& pending() {
    static PendingList* list = new PendingList;
    return *list;
}

// About 20 ms of frames, a power of two.
Uint16 deviceFrames(std::uint32_t rate) {
    std::uint32_t frames = 64;
    while (frames < rate / 50 && frames < 4096) frames <<= 1;
    return Uint16(frames);
}

}  // namespace

// ---- Notifier ----------------------------------------------------------------

void OBAudioNotifier::SetHook(Hook hook) {
    std::lock_guard lock(hookMutex_);
    hook_ = std::move(hook);
}

void OBAudioNotifier::Post(AudioDeviceId device, AudioBufferId buffer) {
    {
        std::lock_guard lock(mutex_);
        try {
            records_.push_back({device, buffer});
        } catch (const std::bad_alloc&) {
            // The buffer stays pending until its device is reset.
        }
        ++posted_;
    }
    std::lock_guard lock(hookMutex_);
    if (hook_) {
        try {
            hook_();
        } catch (...) {
            // A failing hook must not unwind through the device thread.
        }
    }
}

std::size_t OBAudioNotifier::ReleaseDoneBuffers() {
    std::vector<Done> taken;
    {
        std::lock_guard lock(mutex_);
        taken.swap(records_);
    }
    for (const Done& done : taken) ReleaseDoneBuffer(done.device, done.buffer);
    return taken.size();
}

std::vector<OBAudioNotifier::Done> OBAudioNotifier::waiting() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::uint64_t OBAudioNotifier::postedCount() const {
    std::lock_guard lock(mutex_);
    return posted_;
}

// ---- Sound system ------------------------------------------------------------

bool AcquireSoundSystem() {
    std::lock_guard lock(g_soundSystemMutex);
    if (g_soundSystemRefs == 0) {
        // Ctrl+C and SIGTERM keep their default meaning.
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    }
    ++g_soundSystemRefs;
    return true;
}

void ReleaseSoundSystem() {
    std::lock_guard lock(g_soundSystemMutex);
    if (g_soundSystemRefs > 0 && --g_soundSystemRefs == 0) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void ReleaseSoundThreadState() { SDL_TLSCleanup(); }

// ---- Wave output -------------------------------------------------------------

struct OBAudioWaveOut::Device {
    struct Entry {
        AudioBufferId id;
        const std::uint8_t* data;
        std::size_t length;
        std::size_t offset;
    };

    SDL_AudioDeviceID sdl = 0;
    AudioDeviceId id = 0;
    AudioNotifierPtr notifier;
    std::uint8_t silence = 0;
    std::deque<Entry> queue;  // guarded by the SDL device lock
    std::atomic<std::uint64_t> played{0};
};

namespace {

WaveFormat closedFormat() {
    WaveFormat format;
    format.cbSize = 18;
    return format;
}

}  // namespace

OBAudioWaveOut::OBAudioWaveOut() : format_(closedFormat()) {}

OBAudioWaveOut::~OBAudioWaveOut() { Close(); }

void OBAudioWaveOut::callback(void* userdata, std::uint8_t* stream, int length) {
    auto* device = static_cast<Device*>(userdata);
    const std::size_t wanted = length > 0 ? std::size_t(length) : 0;
    std::size_t filled = 0;
    while (!device->queue.empty()) {
        Device::Entry& entry = device->queue.front();
        const std::size_t n = std::min(wanted - filled, entry.length - entry.offset);
        if (n > 0) {
            std::memcpy(stream + filled, entry.data + entry.offset, n);
            entry.offset += n;
            filled += n;
            device->played.fetch_add(n, std::memory_order_relaxed);
        }
        if (entry.offset < entry.length) break;  // the device's buffer is full
        const AudioBufferId finished = entry.id;
        device->queue.pop_front();
        if (device->notifier) device->notifier->Post(device->id, finished);
    }
    if (filled < wanted) std::memset(stream + filled, device->silence, wanted - filled);
}

int OBAudioWaveOut::Open(AudioNotifierPtr notifier, int device, const WaveFormat& format) {
    if (device_) return Reset() == 0 ? kAudioOk : 1;
    if (format.formatTag != kWaveFormatPcm || format.channels == 0 || format.channels > 8 ||
        (format.bitsPerSample != 8 && format.bitsPerSample != 16) || format.samplesPerSec == 0 ||
        format.samplesPerSec > std::uint32_t(INT_MAX))
        return kAudioNoDevice;

    std::unique_ptr<Device> opened(new (std::nothrow) Device);
    if (!opened || !AcquireSoundSystem()) return kAudioNoDevice;

    SDL_AudioSpec wanted{};
    wanted.freq = int(format.samplesPerSec);
    wanted.format = format.bitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    wanted.channels = Uint8(format.channels);
    wanted.samples = deviceFrames(format.samplesPerSec);
    wanted.callback = &OBAudioWaveOut::callback;
    wanted.userdata = opened.get();
    SDL_AudioSpec obtained{};
    {
        std::lock_guard lock(g_soundSystemMutex);
        const char* name = nullptr;
        bool known = true;
        if (device != kWaveMapper) {
            name = SDL_GetAudioDeviceName(device, 0);
            known = name != nullptr;
        }
        if (known) opened->sdl = SDL_OpenAudioDevice(name, 0, &wanted, &obtained, 0);
    }
    if (opened->sdl == 0) {
        ReleaseSoundSystem();
        return kAudioNoDevice;
    }
    opened->silence = obtained.silence;
    opened->id = g_nextDeviceId.fetch_add(1);
    opened->notifier = std::move(notifier);
    device_ = std::move(opened);
    format_ = format;
    g_openDevices.fetch_add(1);
    SDL_PauseAudioDevice(device_->sdl, 0);
    return kAudioOk;
}

int OBAudioWaveOut::Reset() {
    if (!device_) return 0;
    SDL_LockAudioDevice(device_->sdl);
    device_->queue.clear();
    SDL_UnlockAudioDevice(device_->sdl);
    // A reset device runs again, so that a paused one does not swallow the
    // next sound.
    SDL_PauseAudioDevice(device_->sdl, 0);

    PendingList& list = pending();
    std::lock_guard lock(list.mutex);
    for (auto it = list.entries.begin(); it != list.entries.end();) {
        if (it->second.device == device_->id)
            it = list.entries.erase(it);
        else
            ++it;
    }
    return 0;
}

int OBAudioWaveOut::Pause() {
    if (device_) SDL_PauseAudioDevice(device_->sdl, 1);
    return 0;
}

int OBAudioWaveOut::Restart() {
    if (device_) SDL_PauseAudioDevice(device_->sdl, 0);
    return 0;
}

int OBAudioWaveOut::Close() {
    if (!device_) return 0;
    Reset();
    {
        std::lock_guard lock(g_soundSystemMutex);
        SDL_CloseAudioDevice(device_->sdl);
    }
    device_.reset();
    format_ = closedFormat();
    g_openDevices.fetch_sub(1);
    ReleaseSoundSystem();
    return 0;
}

int OBAudioWaveOut::Write(AudioBufferPtr buffer) {
    if (!buffer) return 1;
    if (!device_) return 0;
    const AudioBufferId id = g_nextBufferId.fetch_add(1);
    buffer->id = id;
    buffer->device = device_->id;
    const std::uint8_t* data = buffer->data();
    const std::size_t length = std::min(buffer->length, buffer->capacity());

    PendingList& list = pending();
    try {
        std::lock_guard lock(list.mutex);
        list.entries.emplace(id, PendingEntry{device_->id, std::move(buffer)});
    } catch (const std::bad_alloc&) {
        return 1;
    }

    bool queued = true;
    SDL_LockAudioDevice(device_->sdl);
    try {
        device_->queue.push_back({id, data, length, 0});
    } catch (const std::bad_alloc&) {
        queued = false;
    }
    SDL_UnlockAudioDevice(device_->sdl);
    if (!queued) {
        std::lock_guard lock(list.mutex);
        list.entries.erase(id);
        return 1;
    }
    return 0;
}

AudioDeviceId OBAudioWaveOut::deviceId() const { return device_ ? device_->id : 0; }

std::uint64_t OBAudioWaveOut::playedBytes() const {
    return device_ ? device_->played.load(std::memory_order_relaxed) : 0;
}

int OBAudioWaveOut::openDevices() { return g_openDevices.load(); }

void ReleaseDoneBuffer(AudioDeviceId device, AudioBufferId buffer) {
    PendingList& list = pending();
    std::lock_guard lock(list.mutex);
    const auto it = list.entries.find(buffer);
    if (it != list.entries.end() && it->second.device == device) list.entries.erase(it);
}

std::size_t PendingBufferCount() {
    PendingList& list = pending();
    std::lock_guard lock(list.mutex);
    return list.entries.size();
}

std::size_t PendingBufferCount(AudioDeviceId device) {
    PendingList& list = pending();
    std::lock_guard lock(list.mutex);
    return std::size_t(std::count_if(list.entries.begin(), list.entries.end(),
                                     [device](const auto& entry) { return entry.second.device == device; }));
}

}  // namespace kestrel
