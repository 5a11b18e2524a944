// Levels and routes carried by the sound server (the process volume, mute and output device properties) against
// a real server: what the streams get, what a tap does with them, what someone else's change does, and that
// nothing of it outlives us (release, quit, SIGKILL), in the server's memory neither.

#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <pulse/def.h>
#include <pulse/volume.h>

#include <csignal>
#include <thread>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

namespace
{

struct Seen {
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

    std::unique_ptr<PulseAudioHardware> connectHardware()
    {
        PulseAudioHardware::Options options;
        options.journalPath = journal;
        options.watchdogPath = QStringLiteral(SONARIC_WATCHDOG);
        QString error;
        auto result = PulseAudioHardware::connect(options, &error);
        EXPECT_TRUE(result) << qPrintable(error);
        return result;
    }

    AudioObjectID processOf(pid_t pid)
    {
        AudioObjectID found = 0;
        waitFor(
            [&] {
                std::uint32_t size = 0;
                hw->getPropertyDataSize(
                    kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList), &size);
                std::vector<AudioObjectID> ids(size / 4);
                hw->getPropertyData(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyProcessObjectList),
                    &size, ids.data());
                for (AudioObjectID id : ids) {
                    std::int32_t p = 0;
                    std::uint32_t s = 4;
                    if (hw->getPropertyData(id, globalAddress(kAudioProcessPropertyPID), &s, &p) == noErr && p == pid)
                        found = id;
                }
                return found != 0;
            },
            5s);
        return found;
    }

    AudioObjectID device(const QString& uid)
    {
        std::uint32_t size = 0;
        hw->getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &size);
        std::vector<AudioObjectID> ids(size / 4);
        hw->getPropertyData(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &size, ids.data());
        for (AudioObjectID id : ids) {
            QString u;
            hw->getPropertyString(id, globalAddress(kAudioDevicePropertyDeviceUID), &u);
            if (u == uid)
                return id;
        }
        return 0;
    }

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
        const auto sinks = PulseQuery::sinks(observer);
        const auto streams = PulseQuery::streams(observer);
        if (!sinks || !streams)
            return seen;
        for (const auto& s : *streams) {
            if (s.pid != pid)
                continue;
            Seen one { s.volume, s.muted, {} };
            for (const auto& sink : *sinks)
                if (sink.index == s.sink)
                    one.sink = sink.name;
            seen.push_back(one);
        }
        return seen;
    }

    std::uint32_t streamIndexOf(pid_t pid)
    {
        for (const auto& s : PulseQuery::streams(observer).value_or(std::vector<StreamRecord> {}))
            if (s.pid == pid)
                return s.index;
        return PA_INVALID_INDEX;
    }

    /// Waits until every stream of `pid` (at least `count`) satisfies `check`.
    bool streamsSettle(pid_t pid, const std::function<bool(const Seen&)>& check, std::size_t count = 1)
    {
        return waitFor(
            [&] {
                const auto seen = streamsOf(pid);
                return seen.size() >= count && std::all_of(seen.begin(), seen.end(), check);
            },
            3s);
    }

    static bool near(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
    {
        if (a.size() != b.size())
            return false;
        for (std::size_t c = 0; c < a.size(); ++c)
            if (std::abs(std::int64_t(a[c]) - std::int64_t(b[c])) > 2)
                return false;
        return true;
    }

    /// The server remembers for later streams exactly what it remembered before the test.
    void expectMemoryUntouched()
    {
        if (!memoryBefore)
            return;
        // PipeWire's session manager writes its memory a moment after a change.
        // The server adds an entry that remembers nothing for each new stream (and the recorder's) by itself.
        const auto remembered = [](const RestoreTable& table) {
            RestoreTable result;
            for (const auto& [name, entry] : table)
                if (name.startsWith("sink-input") && (!entry.device.isEmpty() || !entry.volume.empty() || entry.mute))
                    result[name] = entry;
            return result;
        };
        std::optional<RestoreTable> now;
        const bool same = waitFor(
            [&] {
                now = RestoreMemory::read(observer);
                return now && remembered(*now) == remembered(*memoryBefore);
            },
            2s);
        if (now) {
            *now = remembered(*now);
            *memoryBefore = remembered(*memoryBefore);
        }
        QStringList changed;
        if (now) {
            for (const auto& change : RestoreMemory::changes(*memoryBefore, *now))
                changed << change.name + "=" + now->at(change.name).device + "/"
                        + QString::number(now->at(change.name).volume.empty() ? 0u : now->at(change.name).volume[0])
                        + "/" + QString::number(now->at(change.name).mute);
            for (const auto& [name, entry] : *memoryBefore)
                if (!now->contains(name))
                    changed << name + " removed";
        }
        EXPECT_TRUE(same) << "remembered entries changed: " << qPrintable(changed.join(", "));
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

TEST_F(StreamLevelsTest, AStreamInATapOnlyGetsWhereTheTapSendsItBackChanged)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Tapped", "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.uuid = "0f0e0d0c-aaaa-bbbb-cccc-00000000000a";
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    AudioObjectID tap = 0, aggregate = 0;
    ASSERT_EQ(hw->createProcessTap(description, &tap), noErr);
    const QVariantMap dictionary { { kAudioAggregateDeviceNameKey, "levels" },
        { kAudioAggregateDeviceUIDKey, "levels.aggregate" }, { kAudioAggregateDeviceMainSubDeviceKey, "speakers" },
        { kAudioAggregateDeviceIsPrivateKey, true }, { kAudioAggregateDeviceTapAutoStartKey, true },
        { kAudioAggregateDeviceSubDeviceListKey,
            QVariantList { QVariantMap { { kAudioSubDeviceUIDKey, "speakers" } } } },
        { kAudioAggregateDeviceTapListKey,
            QVariantList { QVariantMap { { kAudioSubTapUIDKey, description.uuid } } } } };
    ASSERT_EQ(hw->createAggregateDevice(dictionary, &aggregate), noErr);
    AudioDeviceIOProcID proc = nullptr;
    ASSERT_EQ(hw->createIOProcIDWithBlock(&proc, aggregate, nullptr, [](auto...) {}), noErr);
    ASSERT_EQ(hw->deviceStart(aggregate, proc), noErr);
    ASSERT_TRUE(waitFor([&] { return hw->isTapping(aggregate); }, 5s));
    const QString tapSink = sinksOfProcess(player.pid()).value(0);
    ASSERT_TRUE(tapSink.startsWith("sonaric_tap_"));

    // Volume and mute apply in the tap; the device only changes the way back.
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, device("headphones")), noErr);
    EXPECT_TRUE(streamsSettle(player.pid(), [&](const Seen& s) { return near(s.volume, stereo(0.5)); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sinksOfProcess(player.pid()), QStringList { tapSink });

    // The way up: the tap is torn down with the level still routed, and the stream lands on the level's device.
    hw->deviceStop(aggregate, proc);
    hw->destroyIOProcID(aggregate, proc);
    hw->destroyAggregateDevice(aggregate);
    hw->destroyProcessTap(tap);
    EXPECT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "headphones" }; }, 3s));

    release(process);
    EXPECT_TRUE(
        streamsSettle(player.pid(), [](const Seen& s) { return s.sink == "speakers" && near(s.volume, stereo(1.0)); }));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, ARouteReleasedWhileTheStreamIsInATapSendsItBackToItsOwnSink)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Up", "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    ASSERT_EQ(set(process, kAudioProcessPropertyOutputDevice, device("headphones")), noErr);
    ASSERT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "headphones" }; }, 3s));

    // Crossing unity upwards: the tap first, then the level released while the stream is in the tap.
    auto description = CATapDescription::stereoMixdownOfProcesses({ process });
    description.uuid = "0f0e0d0c-aaaa-bbbb-cccc-00000000000b";
    description.muteBehavior = CATapMuteBehavior::CATapMutedWhenTapped;
    AudioObjectID tap = 0, aggregate = 0;
    ASSERT_EQ(hw->createProcessTap(description, &tap), noErr);
    const QVariantMap dictionary { { kAudioAggregateDeviceNameKey, "up" }, { kAudioAggregateDeviceUIDKey, "up.agg" },
        { kAudioAggregateDeviceMainSubDeviceKey, "headphones" }, { kAudioAggregateDeviceIsPrivateKey, true },
        { kAudioAggregateDeviceTapAutoStartKey, true },
        { kAudioAggregateDeviceSubDeviceListKey,
            QVariantList { QVariantMap { { kAudioSubDeviceUIDKey, "headphones" } } } },
        { kAudioAggregateDeviceTapListKey,
            QVariantList { QVariantMap { { kAudioSubTapUIDKey, description.uuid } } } } };
    ASSERT_EQ(hw->createAggregateDevice(dictionary, &aggregate), noErr);
    AudioDeviceIOProcID proc = nullptr;
    ASSERT_EQ(hw->createIOProcIDWithBlock(&proc, aggregate, nullptr, [](auto...) {}), noErr);
    ASSERT_EQ(hw->deviceStart(aggregate, proc), noErr);
    ASSERT_TRUE(waitFor([&] { return hw->isTapping(aggregate); }, 5s));
    release(process);
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(sinksOfProcess(player.pid()).value(0).startsWith("sonaric_tap_"));

    hw->deviceStop(aggregate, proc);
    hw->destroyIOProcID(aggregate, proc);
    hw->destroyAggregateDevice(aggregate);
    hw->destroyProcessTap(tap);
    EXPECT_TRUE(waitFor([&] { return sinksOfProcess(player.pid()) == QStringList { "speakers" }; }, 3s));
    expectMemoryUntouched();
}

TEST_F(StreamLevelsTest, AnotherMixersChangeBecomesTheStreamsOwnAndIsNotFoughtOver)
{
    ChildProcess player(testPlayerPath(), { "--app-id", "org.example.Other", "--amplitude", "0.1" });
    const AudioObjectID process = processOf(player.pid());
    ASSERT_NE(process, 0u);
    ASSERT_EQ(set(process, kAudioProcessPropertyVolumeScalar, 0.5f), noErr);
    ASSERT_TRUE(streamsSettle(player.pid(), [](const Seen& s) { return near(s.volume, stereo(0.5)); }));

    const QString index = QString::number(streamIndexOf(player.pid()));
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

TEST_F(StreamLevelsTest, QuitAndSigkillLeaveNothingBehindForTheApplicationsNextStream)
{
    for (const bool kill : { false, true }) {
        SCOPED_TRACE(kill ? "SIGKILL" : "quit");
        const QString app = kill ? "org.example.Killed" : "org.example.Quit";
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

            if (kill)
                holder->kill(SIGKILL); // the watchdog puts it back
            else
                hw.reset(); // quitting puts it back
            EXPECT_TRUE(streamsSettle(player.pid(),
                [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
        }
        // The application's next stream starts where it always did.
        ChildProcess again(testPlayerPath(), { "--app-id", app, "--role", "music", "--amplitude", "0.1" });
        EXPECT_TRUE(streamsSettle(again.pid(),
            [](const Seen& s) { return near(s.volume, stereo(1.0)) && !s.muted && s.sink == "speakers"; }));
        EXPECT_TRUE(waitFor([&] { return TapJournal(journal).readLevels().empty(); }, 2s));
        expectMemoryUntouched();
        if (!hw)
            hw = connectHardware();
    }
}

} // namespace
