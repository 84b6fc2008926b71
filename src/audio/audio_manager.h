// The audio manager: one per MP3 preview. The user-interface thread posts
// commands into a queue; a worker thread consumes them, runs the current
// player and keeps the wave output fed.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "audio/audio_types.h"
#include "audio/wave_out.h"

namespace kestrel {

class OBAudio;
class OBAudioPlayer;

enum AudioCommandCode : int {
    kCommandPlay = 1,
    kCommandPause = 2,
    kCommandResume = 3,
    kCommandHalt = 4,  // handled exactly like kCommandStop
    kCommandStop = 5,
    kCommandQuit = 6,
};

// A one-shot signal between two threads. Shared ownership keeps it valid
// for a signaller that comes after the waiter gave up.
class AudioHandshake {
public:
    void Signal();
    // True when signalled before the time-out; a signal given before the
    // wait began counts.
    bool WaitFor(std::chrono::milliseconds timeout);
    bool signalled() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    bool signalled_ = false;
};

struct AudioCommand {
    int code = 0;
    std::shared_ptr<OBAudio> source;
    std::int32_t position = 0;
    std::int32_t argument2 = 0;
    std::int32_t argument3 = 0;
    std::shared_ptr<AudioHandshake> handshake;  // quit: signalled once the worker is done
};

class AudioCommandQueue {
public:
    // Appends at the tail; false when memory runs out.
    bool Push(AudioCommand command);
    // Inserts at the head, ahead of everything queued (quit).
    bool PushFront(AudioCommand command);
    std::optional<AudioCommand> TryPop();
    AudioCommand WaitPop();
    // Waits until a command is queued or the time-out passes; true when one
    // is queued. Returns at once if one already is.
    bool WaitForCommand(std::chrono::milliseconds timeout);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    std::deque<AudioCommand> commands_;
};

class OBAudioManagerInterface {
public:
    virtual ~OBAudioManagerInterface() = default;
    virtual bool Init() = 0;
    virtual bool IsRunning() const = 0;
    virtual bool Start() = 0;
    virtual void Shutdown() = 0;
    virtual bool Play(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
                      std::int32_t argument3) = 0;
    virtual bool Stop() = 0;
    virtual bool Halt() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
};

class OBAudioManager : public OBAudioManagerInterface {
public:
    static constexpr std::chrono::milliseconds kHandshakeTimeout{2000};

    // Every device the manager opens reports finished buffers to `notifier`.
    explicit OBAudioManager(AudioNotifierPtr notifier);
    ~OBAudioManager() override;
    OBAudioManager(const OBAudioManager&) = delete;
    OBAudioManager& operator=(const OBAudioManager&) = delete;

    // Makes the command queue and a closed wave output.
    bool Init() override;
    bool IsRunning() const override { return running_; }
    // Starts the worker; true once it confirmed running within the
    // handshake time-out.
    bool Start() override;
    // Quits the worker (the quit command overtakes queued commands) and
    // waits for it at most the handshake time-out.
    void Shutdown() override;

    // Commands. Without a running worker Play returns false and the others
    // return true without posting anything.
    bool Play(std::shared_ptr<OBAudio> source, std::int32_t position, std::int32_t argument2,
              std::int32_t argument3) override;
    bool Stop() override;
    bool Halt() override;
    bool Pause() override;
    bool Resume() override;

    // Observation, for tests.
    std::size_t queuedCommands() const;
    std::uint64_t handledCommands() const;  // commands the worker finished
    bool playerActive() const;              // the worker has a current player
    AudioDeviceId deviceId() const;         // the worker's open device, 0 if none
    static int liveWorkers();               // worker threads running in the process

    // Runs on the worker thread before it confirms its start (tests).
    void setStartHookForTesting(std::function<void()> hook);

    struct Core;

private:
    bool post(int code, std::shared_ptr<OBAudio> source = {}, std::int32_t position = 0, std::int32_t argument2 = 0,
              std::int32_t argument3 = 0);

    AudioNotifierPtr notifier_;
    std::shared_ptr<Core> core_;
    std::thread worker_;
    bool running_ = false;
    std::function<void()> startHook_;
};

}  // namespace kestrel
