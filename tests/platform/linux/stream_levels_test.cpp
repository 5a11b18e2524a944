// Levels and routes carried by the sound server (the process volume, mute and output device properties) against
// a real server: what the streams get, what a tap does with them, what someone else's change does, and that
// nothing of it outlives us (release, quit, SIGKILL), in the server's memory neither.

#include "audio/ca.h"
#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <pulse/volume.h>

#include <csignal>
#include <thread>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

namespace
{

struct Seen {
    std::uint32_t index = 0;
    std::vector<std::uint32_t> volume;
    bool muted = false;
    QString sink;
};

std::vector<std::uint32_t> stereo(double linear)
{
    const std::uint32_t v = pa_sw_volume_from_linear(linear);
    return { v, v };
}

class StreamLevelsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveServer())
            GTEST_SKIP() << "needs a sound server: run through with_sound_server.sh";
        journal = qEnvironmentVariable("SONARIC_SOUND_SERVER_DIR") + QStringLiteral("/levels-journal.json");
        ASSERT_TRUE(observer.connect(2000, nullptr));
        memoryBefore = RestoreMemory::read(observer);
        hw = connectHardware();
        ASSERT_TRUE(hw);
    }

    std::unique_ptr<PulseAudioHardware> connectHardware() { return connectTestHardware(journal); }
    AudioObjectID processOf(pid_t pid) { return waitForProcessObject(*hw, pid); }

    AudioObjectID device(const QString& uid) { return CA::device(*hw, uid).value_or(0); }

    template <typename T> OSStatus set(AudioObjectID object, AudioObjectPropertySelector selector, T value)
    {
        return hw->setPropertyData(object, globalAddress(selector), sizeof value, &value);
    }

    void release(AudioObjectID process)
    {
        ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, AudioObjectID(kAudioObjectUnknown)), noErr);
        ASSERT_EQ(set(process, kAudioProcessPropertyMute, std::uint32_t(0)), noErr);
        ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 1.0f), noErr);
    }

    /// The streams of `pid` as the server has them now.
    std::vector<Seen> streamsOf(pid_t pid)
    {
        std::vector<Seen> seen;
        const auto sinks = PulseQuery::sinks(observer).value_or(std::vector<SinkRecord> {});
        for (const auto& s : PulseQuery::streams(observer).value_or(std::vector<StreamRecord> {})) {
            const auto sink
                = std::find_if(sinks.begin(), sinks.end(), [&](const auto& k) { return k.index == s.sink; });
            if (s.pid == pid)
                seen.push_back({ s.index, s.volume, s.muted, sink == sinks.end() ? QString() : sink->name });
        }
        return seen;
    }

    /// Waits until every stream of `pid` (at least `count`) satisfies `check`.
    bool streamsSettle(pid_t pid, const std::function<bool(const Seen&)>& check, std::size_t count = 1)
    {
        std::vector<Seen> seen;
        const bool settled = waitFor(
            [&] {
                seen = streamsOf(pid);
                return seen.size() >= count && std::all_of(seen.begin(), seen.end(), check);
            },
            3s);
        for (const auto& s : settled ? std::vector<Seen> {} : seen)
            ADD_FAILURE() << "stream " << s.index << " on " << s.sink.toStdString() << " at "
                          << (s.volume.empty() ? 0u : s.volume[0]) << (s.muted ? ", muted" : "");
        return settled;
    }

    static bool near(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](std::uint32_t x, std::uint32_t y) {
            return std::abs(std::int64_t(x) - std::int64_t(y)) <= 2;
        });
    }

    /// The server remembers for later streams exactly what it remembered before the test. (It adds entries that
    /// remember nothing for each new stream by itself; PipeWire's table stays empty, see docs/linux-audio.md.)
    void expectMemoryUntouched()
    {
        const auto remembered = [](const RestoreTable& table) {
            RestoreTable result;
            for (const auto& [name, entry] : table)
                if (name.startsWith("sink-input") && (!entry.device.isEmpty() || !entry.volume.empty() || entry.mute))
                    result[name] = entry;
            return result;
        };
        std::optional<RestoreTable> now;
        if (memoryBefore
            && !waitFor(
                [&] {
                    now = RestoreMemory::read(observer);
                    return now && remembered(*now) == remembered(*memoryBefore);
                },
                2s)) {
            for (const auto& change :
                RestoreMemory::changes(remembered(*memoryBefore), remembered(now.value_or(RestoreTable {}))))
                ADD_FAILURE() << "remembered differently now: " << change.name.toStdString() << " (was "
                              << (change.original ? change.original->device.toStdString() + " "
                                             + std::to_string(change.original->volume.size()) + " channels"
                                                  : std::string("absent"))
                              << ")";
            for (const auto& [name, entry] : remembered(*memoryBefore))
                if (!now || !remembered(*now).count(name))
                    ADD_FAILURE() << "forgotten: " << name.toStdString();
        }
    }

    struct Tap {
        AudioObjectID tap = 0, aggregate = 0;
        AudioDeviceIOProcID proc = nullptr;
    };
    /// Taps `process` into `output` as the engine does for a boost, and waits until its streams are in.
    Tap startTap(AudioObjectID process, const QString& uuid, const QString& output)
    {
        Tap t;
        auto description = CATapDescription::stereoMixdownOfProcesses({ process });
        description.uuid = uuid;
        description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
        EXPECT_EQ(hw->createProcessTap(description, &t.tap), noErr);
        const QVariantMap dictionary { { kAudioAggregateDeviceUIDKey, uuid + ".aggregate" },
            { kAudioAggregateDeviceMainSubDeviceKey, output }, { kAudioAggregateDeviceIsPrivateKey, true },
            { kAudioAggregateDeviceSubDeviceListKey,
                QVariantList { QVariantMap { { kAudioSubDeviceUIDKey, output } } } },
            { kAudioAggregateDeviceTapListKey, QVariantList { QVariantMap { { kAudioSubTapUIDKey, uuid } } } } };
        EXPECT_EQ(hw->createAggregateDevice(dictionary, &t.aggregate), noErr);
        EXPECT_EQ(hw->createIOProcIDWithBlock(&t.proc, t.aggregate, nullptr, [](auto...) {}), noErr);
        EXPECT_EQ(hw->deviceStart(t.aggregate, t.proc), noErr);
        EXPECT_TRUE(waitFor([&] { return hw->isTapping(t.aggregate); }, 5s));
        return t;
    }
    void stopTap(const Tap& t)
    {
        hw->deviceStop(t.aggregate, t.proc);
        hw->destroyIOProcID(t.aggregate, t.proc);
        hw->destroyAggregateDevice(t.aggregate);
        hw->destroyProcessTap(t.tap);
    }

    QString journal;
    PulseConnection observer { QStringLiteral("levels observer") };
    std::optional<RestoreTable> memoryBefore;
    std::unique_ptr<PulseAudioHardware> hw;
};

TEST_F(StreamLevelsTest, ThePropertiesAreSettableOnProcessesOnlyAndReadBackAsSet)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Props", "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    const AudioObjectID headphones = device("headphones");
    ASSERT_NE(headphones, 0u);
    const float half = 0.5f;
    const std::uint32_t on = 1;
    const double wrongSize = 0.5;
    const float tooLoud = 1.5f;

    struct Case {
        const char* what;
        AudioObjectID object;
        AudioObjectPropertySelector selector;
        const void* value;
        std::uint32_t size;
        OSStatus expected;
    };
    const Case cases[] = {
        { "volume", process, kAudioProcessPropertyVolumeScalar, &half, 4, noErr },
        { "mute", process, kAudioProcessPropertyMute, &on, 4, noErr },
        { "device", process, kAudioProcessPropertyOutputDevice, &headphones, 4, noErr },
        { "wrong size", process, kAudioProcessPropertyVolumeScalar, &wrongSize, 8, kAudioHardwareBadPropertySizeError },
        { "above unity", process, kAudioProcessPropertyVolumeScalar, &tooLoud, 4, kAudio_ParamError },
        { "no such device", process, kAudioProcessPropertyOutputDevice, &on, 4, kAudioHardwareBadDeviceError },
        { "no such object", 424242, kAudioProcessPropertyMute, &on, 4, kAudioHardwareBadObjectError },
        { "not a process", headphones, kAudioProcessPropertyMute, &on, 4, kAudioHardwareUnknownPropertyError },
        { "read-only", process, kAudioProcessPropertyPID, &on, 4, kAudioHardwareIllegalOperationError },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hw->setPropertyData(c.object, globalAddress(c.selector), c.size, c.value), c.expected) << c.what;
        bool settable = false;
        const OSStatus settableStatus = hw->isPropertySettable(c.object, globalAddress(c.selector), &settable);
        if (c.expected == noErr) {
            EXPECT_TRUE(settableStatus == noErr && settable) << c.what;
        } else if (c.expected == kAudioHardwareBadObjectError || c.expected == kAudioHardwareUnknownPropertyError) {
            EXPECT_EQ(settableStatus, c.expected) << c.what;
        } else if (c.expected == kAudioHardwareIllegalOperationError) {
            EXPECT_TRUE(settableStatus == noErr && !settable) << c.what;
        }
    }

    float volume = 0;
    std::uint32_t mute = 0, size = 4;
    AudioObjectID routed = 0;
    ASSERT_EQ(hw->getPropertyData(process, globalAddress(kAudioProcessPropertyVolumeScalar), &size, &volume), noErr);
    ASSERT_EQ(hw->getPropertyData(process, globalAddress(kAudioProcessPropertyMute), &size, &mute), noErr);
    ASSERT_EQ(hw->getPropertyData(process, globalAddress(kAudioProcessPropertyOutputDevice), &size, &routed), noErr);
    EXPECT_EQ(volume, 0.5f);
    EXPECT_EQ(mute, 1u);
    EXPECT_EQ(routed, headphones);
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)) && s.muted && s.sink == "headphones"; }));

    release(process);
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, HalfIsHeardAtHalfWithoutATapAndALaterStreamGetsItToo)
{
    ChildProcess player(
        testPlayerPath(), { "--app-id", "org.example.Half", "--role", "music", "--second-stream-after", "1500" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);

    EXPECT_EQ(sinkNames().size(), 2) << qPrintable(sinkNames().join(' '));
    // Both streams: the first one set directly, the second as it appears.
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)); }, 2));
    // (Two sines of one frequency may cancel: what is heard is measured with one stream below.)
    EXPECT_LE(recordSink("speakers", 300).peak, 1.02f);

    release(process);
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(1.0)); }, 2));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, OneStreamAtHalfPlaysAtHalfTheAmplitude)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.One" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    ASSERT_GT(recordSink("speakers", 300).peak, 0.9f);
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_TRUE(streamsSettle(player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)); }));
    const float peak = recordSink("speakers", 400).peak;
    EXPECT_NEAR(peak, 0.5f, 0.05f);
    EXPECT_EQ(sinkNames().size(), 2);
    release(process);
}

TEST_F(StreamLevelsTest, AStreamInATapIsNotMovedOnlyWhereTheTapSendsItBackChanges)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Tapped", "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);

    // Crossing unity downwards: the level is set while the stream is in the tap, then the tap is torn down.
    const Tap boost = startTap(process, "0f0e0d0c-aaaa-bbbb-cccc-00000000000a", "speakers");
    const QString tapSink = sinksOfProcess(player.pid()).value(0);
    ASSERT_TRUE(tapSink.startsWith("sonaric_tap_"));
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, device("headphones")), noErr);
    EXPECT_TRUE(streamsSettle(player.pid(), [&](const Seen& s) { return near(s.volume, stereo(0.5)); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sinksOfProcess(player.pid()), QStringList { tapSink });
    stopTap(boost);
    EXPECT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "headphones" }; }, 3s));

    // Upwards: the tap is built on the level's device, then the level is released with the stream in it; when
    // the tap ends the stream goes back to its own sink.
    const Tap again = startTap(process, "0f0e0d0c-aaaa-bbbb-cccc-00000000000b", "headphones");
    release(process);
    EXPECT_TRUE(sinksOfProcess(player.pid()).value(0).startsWith("sonaric_tap_"));
    stopTap(again);
    EXPECT_TRUE(
        streamsSettle(player.pid(), [](const Seen& s) { return s.sink == "speakers" && near(s.volume, stereo(1.0)); }));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, AnotherMixersChangeBecomesTheStreamsOwnAndIsNotFoughtOver)
{
    // A name of its own each run: the server remembers the other mixer's change, as it should, and the next run
    // would start there.
    static int run = 0;
    const QString name = QStringLiteral("Other %1.%2").arg(getpid()).arg(++run);
    ChildProcess player(testPlayerPath(), { "--app-id", name, "--name", name, "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_TRUE(streamsSettle(player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)); }));

    const auto seen = streamsOf(player.pid());
    ASSERT_EQ(seen.size(), 1u);
    const QString index = QString::number(seen[0].index);
    pactl({ "set-sink-input-volume", index, "40%" });
    pactl({ "set-sink-input-mute", index, "1" });
    const std::vector<std::uint32_t> outside { PA_VOLUME_NORM * 40 / 100, PA_VOLUME_NORM * 40 / 100 };
    ASSERT_TRUE(streamsSettle(player.pid(), [&](const Seen& s) { return near(s.volume, outside) && s.muted; }));
    // Nothing is written back: the stream stays as the other mixer left it.
    for (int i = 0; i < 6; ++i) {
        std::this_thread::sleep_for(100ms);
        const auto seen = streamsOf(player.pid());
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_TRUE(near(seen[0].volume, outside) && seen[0].muted) << "round " << i;
    }

    // The release gives back what the other mixer set, as the stream's own: 40 % over the factor of 0.5.
    release(process);
    const std::uint32_t own = pa_sw_volume_divide(PA_VOLUME_NORM * 40 / 100, pa_sw_volume_from_linear(0.5));
    EXPECT_TRUE(streamsSettle(player.pid(), [&](const Seen& s) { return near(s.volume, { own, own }) && s.muted; }));
}

TEST_F(StreamLevelsTest, AStreamThatReplacesTheOnlyHeldOneGetsTheLevelOnce)
{
    // A player between tracks closes its stream and opens the next at once: PipeWire's session manager starts the
    // new one where we put the old one, before its memory has been put right.
    ChildProcess player(testPlayerPath(),
        { "--app-id", "org.example.Tracks", "--role", "music", "--amplitude", "0.1", "--reopen-after", "2500" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    const auto first = streamsOf(player.pid());
    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, device("headphones")), noErr);

    // The next stream, once it is held (the journal lists it before it is written to).
    const auto held = [&](std::uint32_t index) {
        for (const auto& levels : TapJournal(journal).readLevels())
            for (const auto& stream : levels.streams)
                if (stream.index == index)
                    return true;
        return false;
    };
    ASSERT_TRUE(waitFor(
        [&] {
            const auto seen = streamsOf(player.pid());
            return seen.size() == 1 && seen[0].index != first[0].index && held(seen[0].index);
        },
        5s));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)) && s.sink == "headphones"; }));

    release(process);
    EXPECT_TRUE(streamsSettle(
        player.pid(), [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, QuitAndSigkillLeaveNothingBehindForTheApplicationsNextStream)
{
    enum class End { SonaricQuits, SonaricIsKilled, ApplicationQuits };
    for (const End end : { End::SonaricQuits, End::SonaricIsKilled, End::ApplicationQuits }) {
        const bool kill = end == End::SonaricIsKilled;
        const QString app = QStringList { "org.example.Quit", "org.example.Killed", "org.example.Left" }[int(end)];
        SCOPED_TRACE(app.toStdString());
        {
            ChildProcess player(testPlayerPath(), { "--app-id", app, "--role", "music", "--amplitude", "0.1" });
            ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 5s));
            std::unique_ptr<ChildProcess> holder;
            if (kill) {
                holder = std::make_unique<ChildProcess>(tapHolderPath(),
                    QStringList { "--pid", QString::number(player.pid()), "--gain", "0.25", "--level", "1", "--device",
                        "headphones", "--journal", journal });
                ASSERT_EQ(holder->readLine(15000), QStringLiteral("ready"));
            } else {
                const AudioObjectID process = processOf(player.pid());
                ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.25f), noErr);
                ASSERT_EQ(set(process, kAudioProcessPropertyMute, std::uint32_t(1)), noErr);
                ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, device("headphones")), noErr);
            }
            ASSERT_TRUE(streamsSettle(
                player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.25)) && s.sink == "headphones"; }));

            // Where the application quits, it goes (at the end of this block) while its level is held: no stream
            // is left to put back.
            if (end != End::ApplicationQuits) {
                if (kill)
                    holder->kill(SIGKILL); // the watchdog puts it back
                else
                    hw.reset(); // quitting puts it back
                EXPECT_TRUE(streamsSettle(player.pid(),
                    [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
            }
        }
        // The application's next stream starts where it always did, also while the level of the one that went
        // is still held. PipeWire's session manager learnt our values from the stream that went: a stream of
        // ours with its key puts them right a moment after it, and is gone again.
        if (end == End::ApplicationQuits && serverKind() == "pipewire") {
            const auto writing = [&] {
                const auto streams = PulseQuery::streams(observer).value_or(std::vector<StreamRecord> {});
                return std::any_of(streams.begin(), streams.end(),
                    [](const StreamRecord& s) { return s.internal && s.mediaRole == "music"; });
            };
            EXPECT_TRUE(waitFor(writing, 3s));
            EXPECT_TRUE(waitFor([&] { return !writing(); }, 3s));
        }
        ChildProcess again(testPlayerPath(), { "--app-id", app, "--role", "music", "--amplitude", "0.1" });
        EXPECT_TRUE(streamsSettle(again.pid(),
            [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
        if (end == End::ApplicationQuits)
            hw.reset();
        EXPECT_TRUE(waitFor([&] { return TapJournal(journal).readLevels().empty(); }, 2s));
        expectMemoryUntouched();
        if (!hw)
            hw = connectHardware();
    }
}

} // namespace
