// The command queue, the handshakes and the manager's worker playing real
// MP3 sounds onto the disk device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "audio/audio_manager.h"
#include "audio/audio_source.h"
#include "audio_test_util.h"

namespace kestrel {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using Clock = std::chrono::steady_clock;

AudioCommand command(int code) {
    AudioCommand c;
    c.code = code;
    return c;
}

TEST(AudioCommandQueueTest, QuitOvertakesQueuedCommands) {
    AudioCommandQueue queue;
    ASSERT_TRUE(queue.Push(command(kCommandPlay)));
    ASSERT_TRUE(queue.Push(command(kCommandPause)));
    ASSERT_TRUE(queue.PushFront(command(kCommandQuit)));
    ASSERT_TRUE(queue.Push(command(kCommandResume)));
    EXPECT_EQ(queue.size(), 4u);
    for (int code : {kCommandQuit, kCommandPlay, kCommandPause, kCommandResume}) EXPECT_EQ(queue.WaitPop().code, code);
    EXPECT_FALSE(queue.TryPop().has_value());
}

TEST(AudioCommandQueueTest, WaitForCommandEndsWhenACommandArrives) {
    AudioCommandQueue queue;
    EXPECT_FALSE(queue.WaitForCommand(20ms));
    const auto started = Clock::now();
    std::thread poster([&] {
        std::this_thread::sleep_for(50ms);
        queue.Push(command(kCommandStop));
    });
    EXPECT_TRUE(queue.WaitForCommand(60s));
    poster.join();
    EXPECT_LT(Clock::now() - started, 30s) << "the wait ran out instead of being woken";
    EXPECT_TRUE(queue.WaitForCommand(0ms)) << "a queued command ends a wait at once";
}

TEST(AudioHandshakeTest, ASignalGivenBeforeTheWaitIsNotLost) {
    AudioHandshake handshake;
    handshake.Signal();
    EXPECT_TRUE(handshake.WaitFor(0ms));
    AudioHandshake silent;
    EXPECT_FALSE(silent.WaitFor(10ms));
}

// An MP3 source whose first Read blocks until the test opens its gate, and
// that counts how often it was rewound for a play.
class GatedSource : public OBAudioMP3 {
public:
    bool Open() override { return true; }
    std::int32_t GetDuration() const override { return 0; }
    bool Seek(std::int32_t&, int) override {
        ++seeks;
        return true;
    }
    std::int32_t Read(std::uint8_t*, std::int32_t, bool&, bool& end) override {
        std::unique_lock lock(mutex_);
        ++reads;
        condition_.wait(lock, [this] { return open_; });
        end = true;
        return 0;
    }
    void openGate() {
        std::lock_guard lock(mutex_);
        open_ = true;
        condition_.notify_all();
    }

    std::atomic<int> seeks{0};
    std::atomic<int> reads{0};

private:
    std::mutex mutex_;
    std::condition_variable condition_;
    bool open_ = false;
};

using AudioManagerTest = test::AudioTest;

TEST_F(AudioManagerTest, CommandsNeedARunningWorker) {
    OBAudioManager manager(notifier);
    ASSERT_TRUE(manager.Init());
    EXPECT_FALSE(manager.IsRunning());
    EXPECT_FALSE(manager.Play(std::make_shared<GatedSource>(), 0, 0, 0));
    EXPECT_TRUE(manager.Stop());
    EXPECT_TRUE(manager.Halt());
    EXPECT_TRUE(manager.Pause());
    EXPECT_TRUE(manager.Resume());
    EXPECT_EQ(manager.queuedCommands(), 0u);
}

TEST_F(AudioManagerTest, QuitOvertakesCommandsQueuedBehindIt) {
    auto busy = std::make_shared<GatedSource>();
    auto later = std::make_shared<GatedSource>();
    later->openGate();
    {
        OBAudioManager manager(notifier);
        ASSERT_TRUE(manager.Init());
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(manager.Play(busy, 0, 0, 0));
        ASSERT_TRUE(test::eventually([&] { return busy->reads > 0; }));  // the worker is held

        ASSERT_TRUE(manager.Play(later, 0, 0, 0));
        ASSERT_TRUE(manager.Pause());
        ASSERT_TRUE(manager.Resume());
        ASSERT_TRUE(manager.Play(later, 0, 0, 0));
        std::thread opener([&] {
            test::eventually([&] { return manager.queuedCommands() == 5; });
            busy->openGate();
        });
        const auto started = Clock::now();
        manager.Shutdown();
        const auto took = Clock::now() - started;
        opener.join();

        EXPECT_LT(took, OBAudioManager::kHandshakeTimeout) << "the worker did not answer the quit";
        EXPECT_EQ(later->seeks, 0) << "commands queued before the quit ran first";
        EXPECT_EQ(manager.handledCommands(), 2u);  // the first play and the quit
        EXPECT_FALSE(manager.IsRunning());
    }
    EXPECT_EQ(OBAudioManager::liveWorkers(), 0);
    EXPECT_EQ(OBAudioWaveOut::openDevices(), 0);
}

TEST_F(AudioManagerTest, ShutdownGivesUpOnAWorkerThatDoesNotAnswer) {
    auto stuck = std::make_shared<GatedSource>();
    {
        OBAudioManager manager(notifier);
        ASSERT_TRUE(manager.Init());
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(manager.Play(stuck, 0, 0, 0));
        ASSERT_TRUE(test::eventually([&] { return stuck->reads > 0; }));
        ASSERT_TRUE(manager.Pause());
        const auto started = Clock::now();
        manager.Shutdown();
        const auto took = Clock::now() - started;
        EXPECT_GE(took, OBAudioManager::kHandshakeTimeout);
        EXPECT_LT(took, 3 * OBAudioManager::kHandshakeTimeout);
        EXPECT_FALSE(manager.IsRunning());
    }
    // The manager is gone; the worker wakes into state it still shares,
    // takes the quit and ends.
    EXPECT_EQ(OBAudioManager::liveWorkers(), 1);
    stuck->openGate();
    EXPECT_TRUE(test::eventually([] { return OBAudioManager::liveWorkers() == 0; }));
    EXPECT_TRUE(test::eventually([] { return OBAudioWaveOut::openDevices() == 0; }));
}

TEST_F(AudioManagerTest, AWorkerThatStartsLateFindsItsHandshakeStillThere) {
    auto release = std::make_shared<AudioHandshake>();
    {
        OBAudioManager manager(notifier);
        ASSERT_TRUE(manager.Init());
        manager.setStartHookForTesting([release] { release->WaitFor(60s); });
        EXPECT_FALSE(manager.Start());
        EXPECT_FALSE(manager.IsRunning());
        EXPECT_FALSE(manager.Play(std::make_shared<GatedSource>(), 0, 0, 0));
        release->Signal();  // the worker now signals a start nobody waits for
    }
    EXPECT_TRUE(test::eventually([] { return OBAudioManager::liveWorkers() == 0; }));
}

// Plays a sound through a manager until the device has given back every
// buffer, then quits.
class ManagerPlayTest : public test::AudioTest {
protected:
    std::shared_ptr<OFAudioMP3> sourceOf(const OFSound& sound) {
        auto source = std::make_shared<OFAudioMP3>(&sound);
        source->Open();
        return source;
    }

    bool playToEnd(OBAudioManager& manager, const OFSound& sound) {
        const std::uint64_t handled = manager.handledCommands();
        if (!manager.Play(sourceOf(sound), 0, 0, 0)) return false;
        return test::eventually([&] { return manager.handledCommands() > handled && !manager.playerActive(); }) &&
               drainDevice(manager.deviceId());
    }
};

TEST_F(ManagerPlayTest, Mp3SoundsReachTheDeviceComplete) {
    struct Case {
        const char* file;
        bool stream;
        int channels;
        long rate;
    };
    const Case cases[] = {
        {test::kChildSwf, false, 1, 44100},
        {test::kCakeSwf, true, 1, 11025},
        {nullptr, false, 2, 44100},  // the stereo sound
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "stereo");
        const std::string file = dir.file("case" + std::to_string(index++) + ".raw");
        ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        auto sound = c.file ? test::fixtureSound(c.file, SoundFormat::Mp3, c.stream) : test::stereoMp3Sound();
        ASSERT_NE(sound, nullptr);
        if (c.stream) {
            // Its first two seconds or so (4000 bytes at 16 kbit/s) are enough.
            std::size_t bytes = 0;
            std::size_t keep = 0;
            while (keep < sound->blocks.size() && bytes < 4000) bytes += sound->blocks[keep++].data.size();
            ASSERT_GT(sound->blocks.size(), keep + 10);
            sound->blocks.resize(keep);
            sound->computeDuration();
        }
        OBAudioManager manager(notifier);
        ASSERT_TRUE(manager.Init());
        ASSERT_TRUE(manager.Start());
        ASSERT_TRUE(playToEnd(manager, *sound));
        manager.Shutdown();
        const auto played = test::nonSilent16(test::readAll(file));
        const auto expected = test::nonSilent16(test::referenceMp3(*sound, c.channels, c.rate));
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_TRUE(played == expected) << played.size() << " samples against " << expected.size();
    }
}

TEST_F(ManagerPlayTest, PauseAndResumeLoseNothing) {
    auto child = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    ASSERT_NE(child, nullptr);
    auto sound = test::repeated(*child, 3);  // three seconds: more than the device lead
    OBAudioManager manager(notifier);
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.Start());
    ASSERT_TRUE(manager.Play(sourceOf(*sound), 0, 0, 0));
    ASSERT_TRUE(waitPosted(1));
    ASSERT_TRUE(manager.Pause());
    ASSERT_TRUE(test::eventually([&] { return manager.handledCommands() == 2; }));
    const std::uint64_t posted = notifier->postedCount();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(notifier->postedCount(), posted) << "the device played on while paused";

    ASSERT_TRUE(manager.Resume());
    ASSERT_TRUE(test::eventually([&] { return manager.handledCommands() == 3 && !manager.playerActive(); }));
    ASSERT_TRUE(drainDevice(manager.deviceId()));
    manager.Shutdown();
    EXPECT_TRUE(test::nonSilent16(recording()) == test::nonSilent16(test::referenceMp3(*sound, 1, 44100)));
}

TEST_F(ManagerPlayTest, StopEndsOutputAtOnce) {
    auto sound = test::fixtureSound(test::kCakeSwf, SoundFormat::Mp3, true);  // 21 seconds
    ASSERT_NE(sound, nullptr);
    OBAudioManager manager(notifier);
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.Start());
    ASSERT_TRUE(manager.Play(sourceOf(*sound), 0, 0, 0));
    ASSERT_TRUE(waitPosted(1));
    const AudioDeviceId device = manager.deviceId();
    ASSERT_TRUE(manager.Stop());
    ASSERT_TRUE(test::eventually([&] { return manager.handledCommands() == 2; }));
    EXPECT_FALSE(manager.playerActive());
    EXPECT_EQ(PendingBufferCount(device), 0u);
    const std::uint64_t posted = notifier->postedCount();
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(notifier->postedCount(), posted) << "buffers went on playing after the stop";
    manager.Shutdown();

    const auto played = test::nonSilent16(recording());
    const auto expected = test::nonSilent16(test::referenceMp3(*sound, 1, 11025));
    ASSERT_LT(played.size(), expected.size() / 2);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), expected.begin()));
}

TEST_F(ManagerPlayTest, LaterPlaysReuseADeviceOfTheSameFormat) {
    auto child = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    auto stereo = test::stereoMp3Sound();
    ASSERT_TRUE(child && stereo);
    OBAudioManager manager(notifier);
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.Start());
    ASSERT_TRUE(playToEnd(manager, *child));
    const AudioDeviceId first = manager.deviceId();
    ASSERT_TRUE(playToEnd(manager, *child));
    EXPECT_EQ(manager.deviceId(), first);

    // Another format closes that device and opens a new one.
    ::setenv("SDL_DISKAUDIOFILE", dir.file("stereo.raw").c_str(), 1);
    ASSERT_TRUE(manager.Play(sourceOf(*stereo), 0, 0, 0));
    ASSERT_TRUE(test::eventually([&] { return manager.deviceId() != first; }));
    manager.Shutdown();

    // Both plays of the first sound went to the one device, one after the other.
    auto expected = test::nonSilent16(test::referenceMp3(*child, 1, 44100));
    const auto once = expected;
    expected.insert(expected.end(), once.begin(), once.end());
    EXPECT_TRUE(test::nonSilent16(recording()) == expected);
}

TEST_F(ManagerPlayTest, StopWhilePausedLetsTheNextPlayRun) {
    auto longSound = test::fixtureSound(test::kCakeSwf, SoundFormat::Mp3, true);
    auto child = test::fixtureSound(test::kChildSwf, SoundFormat::Mp3, false);
    ASSERT_TRUE(longSound && child);
    longSound->rate = 3;  // same device format as the next sound
    OBAudioManager manager(notifier);
    ASSERT_TRUE(manager.Init());
    ASSERT_TRUE(manager.Start());
    ASSERT_TRUE(manager.Play(sourceOf(*longSound), 0, 0, 0));
    ASSERT_TRUE(manager.Pause());
    ASSERT_TRUE(manager.Stop());
    ASSERT_TRUE(manager.Resume());  // nothing to resume: ignored
    ASSERT_TRUE(test::eventually([&] { return manager.handledCommands() == 4; }));
    const std::uint64_t posted = notifier->postedCount();
    ASSERT_TRUE(playToEnd(manager, *child));
    EXPECT_GT(notifier->postedCount(), posted);
    manager.Shutdown();
}

}  // namespace
}  // namespace kestrel
