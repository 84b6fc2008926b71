#include "audio/audio_manager.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>
#include <system_error>

#include "audio/audio_player.h"
#include "audio/audio_source.h"

namespace kestrel {

// ---- Handshake ---------------------------------------------------------------

void AudioHandshake::Signal() {
    std::lock_guard lock(mutex_);
    signalled_ = true;
    condition_.notify_all();
}

bool AudioHandshake::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, timeout, [this] { return signalled_; });
}

bool AudioHandshake::signalled() const {
    std::lock_guard lock(mutex_);
    return signalled_;
}

// ---- Command queue -----------------------------------------------------------

bool AudioCommandQueue::Push(AudioCommand command) {
    std::lock_guard lock(mutex_);
    try {
        commands_.push_back(std::move(command));
    } catch (const std::bad_alloc&) {
        return false;
    }
    condition_.notify_one();
    return true;
}

bool AudioCommandQueue::PushFront(AudioCommand command) {
    std::lock_guard lock(mutex_);
    try {
        commands_.push_front(std::move(command));
    } catch (const std::bad_alloc&) {
        return false;
    }
    condition_.notify_one();
    return true;
}

std::optional<AudioCommand> AudioCommandQueue::TryPop() {
    std::lock_guard lock(mutex_);
    if (commands_.empty()) return std::nullopt;
    AudioCommand command = std::move(commands_.front());
    commands_.pop_front();
    return command;
}

AudioCommand AudioCommandQueue::WaitPop() {
    std::unique_lock lock(mutex_);
    condition_.wait(lock, [this] { return !commands_.empty(); });
    AudioCommand command = std::move(commands_.front());
    commands_.pop_front();
    return command;
}

bool AudioCommandQueue::WaitForCommand(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, timeout, [this] { return !commands_.empty(); });
}

std::size_t AudioCommandQueue::size() const {
    std::lock_guard lock(mutex_);
    return commands_.size();
}

// ---- Worker ------------------------------------------------------------------

// What the worker uses. The manager and the worker share it, so a worker
// that outlives its manager (a quit that timed out) still finds it intact.
struct OBAudioManager::Core {
    AudioCommandQueue queue;
    std::unique_ptr<OBAudioWaveOut> waveOut;
    std::unique_ptr<OBAudioPlayer> player;
    AudioNotifierPtr notifier;
    std::atomic<std::uint64_t> handled{0};
    std::atomic<bool> playing{false};
    std::atomic<AudioDeviceId> device{0};
};

namespace {

std::atomic<int> g_liveWorkers{0};

using Core = OBAudioManager::Core;

// One step above normal; where the system refuses, the worker runs at
// normal priority.
void raiseThreadPriority() {
    const id_t thread = id_t(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, thread);
    if (errno != 0) return;
    (void)::setpriority(PRIO_PROCESS, thread, current - 1);
}

void playSteps(Core& core, const AudioCommand& command) {
    OBAudioWaveOut& waveOut = *core.waveOut;
    if (!command.source) return;
    core.player.reset();
    core.player.reset(new (std::nothrow) OBAudioPlayer(DriverLookup::kCache));
    if (!core.player) {
        waveOut.Reset();
        return;
    }
    if (core.player->Start(command.source, command.position, command.argument2, command.argument3) != kAudioOk) {
        core.player.reset();
        waveOut.Reset();
        return;
    }
    const WaveFormat* format = core.player->outputFormat();
    if (!format) {
        core.player.reset();
        waveOut.Reset();
        return;
    }
    if (waveOut.isOpen()) {
        if (waveOut.format() == *format) {
            waveOut.Reset();  // same format: the open device is reused
            return;
        }
        waveOut.Close();
    }
    // Without a device the player still runs; its buffers are dropped.
    waveOut.Open(core.notifier, kWaveMapper, *format);
}

void serviceStep(Core& core) {
    if (core.player->Feed(*core.waveOut) == kFeedFinished) {
        // The device plays out what it holds.
        core.player.reset();
        return;
    }
    const double seconds = core.player->SleepTime(AudioNow());
    const double ms = std::trunc(seconds * 1000.0);
    const auto wait = std::chrono::milliseconds(ms > 0.0 ? std::int64_t(std::min(ms, 3.6e6)) : 0);
    // A command ends the wait at once.
    core.queue.WaitForCommand(wait);
}

// Runs commands until a quit arrives; returns the quit's handshake.
std::shared_ptr<AudioHandshake> commandLoop(Core& core) {
    bool paused = false;
    double pauseTime = 0.0;
    for (;;) {
        std::optional<AudioCommand> command;
        if (!core.player || paused)
            command = core.queue.WaitPop();
        else
            command = core.queue.TryPop();

        if (!command) {
            serviceStep(core);
            core.playing = core.player != nullptr;
            continue;
        }

        switch (command->code) {
            case kCommandPlay:
                paused = false;
                playSteps(core, *command);
                break;
            case kCommandPause:
                if (core.player && !paused) {
                    core.waveOut->Pause();
                    pauseTime = AudioNow();
                    paused = true;
                }
                break;
            case kCommandResume:
                if (core.player && paused) {
                    core.player->ShiftClock(AudioNow() - pauseTime);
                    core.waveOut->Restart();
                    paused = false;
                }
                break;
            case kCommandHalt:
            case kCommandStop:
                core.waveOut->Reset();
                core.player.reset();
                paused = false;
                break;
            case kCommandQuit:
                core.waveOut->Close();
                core.player.reset();
                core.playing = false;
                core.device = 0;
                ++core.handled;
                return std::move(command->handshake);
            default: break;
        }
        core.playing = core.player != nullptr;
        core.device = core.waveOut->deviceId();
        ++core.handled;
    }
}

void workerMain(std::shared_ptr<Core> core, std::shared_ptr<AudioHandshake> started, std::function<void()> startHook) {
    raiseThreadPriority();
    if (startHook) startHook();
    started->Signal();
    started.reset();

    std::shared_ptr<AudioHandshake> quit = commandLoop(*core);
    core.reset();
    ReleaseSoundThreadState();
    g_liveWorkers.fetch_sub(1);
    if (quit) quit->Signal();
}

}  // namespace

// ---- Manager -----------------------------------------------------------------

OBAudioManager::OBAudioManager(AudioNotifierPtr notifier) : notifier_(std::move(notifier)) {}

OBAudioManager::~OBAudioManager() { Shutdown(); }

bool OBAudioManager::Init() {
    if (core_) return true;
    std::shared_ptr<Core> core(new (std::nothrow) Core);
    if (!core) return false;
    core->waveOut.reset(new (std::nothrow) OBAudioWaveOut);
    if (!core->waveOut) return false;
    core->notifier = notifier_;
    core_ = std::move(core);
    return true;
}

bool OBAudioManager::Start() {
    if (!core_ || worker_.joinable()) return running_;
    auto started = std::shared_ptr<AudioHandshake>(new (std::nothrow) AudioHandshake);
    if (!started) return false;
    g_liveWorkers.fetch_add(1);
    try {
        worker_ = std::thread(workerMain, core_, started, startHook_);
    } catch (const std::system_error&) {
        g_liveWorkers.fetch_sub(1);
        return false;
    } catch (const std::bad_alloc&) {
        g_liveWorkers.fetch_sub(1);
        return false;
    }
    running_ = started->WaitFor(kHandshakeTimeout);
    return running_;
}

void OBAudioManager::Shutdown() {
    running_ = false;
    if (!worker_.joinable()) return;
    auto quit = std::shared_ptr<AudioHandshake>(new (std::nothrow) AudioHandshake);
    AudioCommand command;
    command.code = kCommandQuit;
    command.handshake = quit;
    if (quit && core_->queue.PushFront(std::move(command)) && quit->WaitFor(kHandshakeTimeout)) {
        worker_.join();
        return;
    }
    // The worker did not answer in time: it keeps its share of the state and
    // ends on its own once it reaches the quit command.
    worker_.detach();
}

bool OBAudioManager::post(int code, std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
                          std::int32_t argument3) {
    AudioCommand command;
    command.code = code;
    command.source = std::move(source);
    command.position = position;
    command.argument2 = argument2;
    command.argument3 = argument3;
    return core_->queue.Push(std::move(command));
}

bool OBAudioManager::Play(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
                          std::int32_t argument3) {
    if (!running_) return false;
    return post(kCommandPlay, std::move(source), position, argument2, argument3);
}

bool OBAudioManager::Stop() { return running_ ? post(kCommandStop) : true; }

bool OBAudioManager::Halt() { return running_ ? post(kCommandHalt) : true; }

bool OBAudioManager::Pause() { return running_ ? post(kCommandPause) : true; }

bool OBAudioManager::Resume() { return running_ ? post(kCommandResume) : true; }

std::size_t OBAudioManager::queuedCommands() const { return core_ ? core_->queue.size() : 0; }

std::uint64_t OBAudioManager::handledCommands() const { return core_ ? core_->handled.load() : 0; }

bool OBAudioManager::playerActive() const { return core_ && core_->playing.load(); }

AudioDeviceId OBAudioManager::deviceId() const { return core_ ? core_->device.load() : 0; }

int OBAudioManager::liveWorkers() { return g_liveWorkers.load(); }

void OBAudioManager::setStartHookForTesting(std::function<void()> hook) { startHook_ = std::move(hook); }

}  // namespace kestrel
