#include "audio/tap_engine.h"
#include "platform/audio/sim/simulated_audio_hardware.h"

#include "support/scenes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

constexpr float kAmplitude = 0.5f;

// Two applications on a desk with speakers (the default), headphones and a USB interface. The player plays a
// 0.5 sine; the chat application plays a quieter one at another pitch.
struct Desk {
    Desk()
        : hw(scene())
        , engine(hw)
    {
        engine.setOnError([this](const QString& message) {
            std::lock_guard lock(mutex);
            errors.push_back(message);
        });
        player = { hw.processObjects()[0], hw.processObjects()[1] };
        chat = { hw.processObjects()[2] };
    }

    static Scene scene()
    {
        Scene s;
        s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
        s.devices.push_back(outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth));
        auto usb = outputDevice("usb", QStringLiteral("Interface"), kAudioDeviceTransportTypeUSB);
        usb.inputStreams = { 2 };
        s.devices.push_back(usb);
        auto main = process(100, QStringLiteral("com.example.player"), true);
        main.signal = { SceneSignal::Kind::sine, kAmplitude, 441.0 };
        auto helper = process(101, QStringLiteral("com.example.player.helper"), false);
        auto chat = process(200, QStringLiteral("com.example.chat"), false);
        chat.signal = { SceneSignal::Kind::sine, 0.1f, 1000.0 };
        s.processes = { main, helper, chat };
        return s;
    }

    // Lets the engine finish what was asked, plays `frames` frames, and returns the loudest sample each
    // device played on its first two channels.
    std::map<QString, float> listen(std::uint32_t frames = 4800)
    {
        engine.taps();
        hw.advance(512); // one cycle for any gain ramp
        for (const char* uid : { "spk", "phones", "usb" })
            hw.takePlayed(uid);
        hw.advance(frames);
        std::map<QString, float> peaks;
        for (const char* uid : { "spk", "phones", "usb" }) {
            const auto played = hw.takePlayed(uid);
            const std::uint32_t channels = hw.outputChannels(uid);
            float peak = 0;
            for (std::size_t i = 0; channels && i < played.size(); ++i)
                if (i % channels < 2)
                    peak = std::max(peak, std::fabs(played[i]));
            peaks[uid] = peak;
        }
        return peaks;
    }

    std::vector<QString> takeErrors()
    {
        engine.taps();
        std::lock_guard lock(mutex);
        return std::exchange(errors, {});
    }

    SimulatedAudioHardware hw;
    TapEngine engine;
    std::vector<AudioObjectID> player;
    std::vector<AudioObjectID> chat;
    std::mutex mutex;
    std::vector<QString> errors;
};

const QString kPlayer = QStringLiteral("com.example.player");

} // namespace

TEST(TapEngine, ALevelIsHeardAtThatFractionOfTheOriginal)
{
    Desk desk;
    EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3);
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    auto peaks = desk.listen();
    EXPECT_NEAR(peaks["spk"], 0.5f * kAmplitude, 1e-3);
    EXPECT_EQ(peaks["phones"], 0.0f);

    desk.engine.apply(kPlayer, desk.player, 0.0f, std::nullopt);
    EXPECT_EQ(desk.listen()["spk"], 0.0f) << "muted is silent";
    EXPECT_EQ(desk.engine.taps().size(), 1u) << "a muted application keeps its tap";

    desk.engine.apply(kPlayer, desk.player, 2.5f, std::nullopt);
    EXPECT_NEAR(desk.listen()["spk"], 0.99f, 1e-3) << "a boost that would clip is limited";
    EXPECT_TRUE(desk.takeErrors().empty());
}

TEST(TapEngine, UnityOnTheDefaultDeviceNeedsNoTap)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 1.0f, std::nullopt);
    EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3);
    EXPECT_TRUE(desk.engine.taps().empty());
    EXPECT_EQ(desk.hw.callCount(SimCall::createProcessTap), 0);

    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.engine.apply(kPlayer, desk.player, 1.0f, std::nullopt);
    EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3);
    EXPECT_TRUE(desk.hw.inventory().empty()) << "returning to unity removes the tap";
}

TEST(TapEngine, ARouteSendsTheApplicationToItsDeviceOnly)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 1.0f, QStringLiteral("phones"));
    auto peaks = desk.listen();
    EXPECT_NEAR(peaks["phones"], kAmplitude, 1e-3) << "routing needs a tap even at unity";
    EXPECT_EQ(peaks["spk"], 0.0f);

    // The USB interface has input streams of its own; the tap still comes through.
    desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("usb"));
    peaks = desk.listen();
    EXPECT_NEAR(peaks["usb"], 0.5f * kAmplitude, 1e-3);
    EXPECT_EQ(peaks["phones"], 0.0f);
    EXPECT_EQ(desk.hw.inventory().aggregateDevices.size(), 1u);
}

TEST(TapEngine, AnUnpluggedRouteFallsBackToTheDefaultAndReturns)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("phones"));
    EXPECT_NEAR(desk.listen()["phones"], 0.5f * kAmplitude, 1e-3);

    desk.hw.removeDevice("phones");
    desk.engine.devicesChanged();
    EXPECT_NEAR(desk.listen()["spk"], 0.5f * kAmplitude, 1e-3);

    SceneDevice phones = outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth);
    desk.hw.addDevice(phones);
    desk.engine.devicesChanged();
    auto peaks = desk.listen();
    EXPECT_NEAR(peaks["phones"], 0.5f * kAmplitude, 1e-3);
    EXPECT_EQ(peaks["spk"], 0.0f);
    EXPECT_TRUE(desk.takeErrors().empty());

    // A route to a device that is gone from the start plays on the default as well.
    desk.engine.apply(QStringLiteral("com.example.chat"), desk.chat, 0.5f, QStringLiteral("gone"));
    EXPECT_EQ(desk.engine.taps()[QStringLiteral("com.example.chat")].device, desk.hw.objectForDevice("spk"));
}

TEST(TapEngine, TheDefaultDeviceChangingMovesTheTapsThatFollowIt)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.listen();
    desk.hw.setDefaultOutputDevice("usb");
    desk.engine.outputDeviceChanged();
    auto peaks = desk.listen();
    EXPECT_NEAR(peaks["usb"], 0.5f * kAmplitude, 1e-3);
    EXPECT_EQ(peaks["spk"], 0.0f);
}

TEST(TapEngine, UpdatesInPlaceWhenTheProcessesAreTheSame)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.engine.apply(kPlayer, desk.player, 0.25f, std::nullopt);
    desk.engine.apply(kPlayer, { desk.player[1], desk.player[0], desk.player[1] }, 0.75f, std::nullopt);
    EXPECT_NEAR(desk.listen()["spk"], 0.75f * kAmplitude, 1e-3) << "the last of quick calls wins";
    EXPECT_EQ(desk.hw.callCount(SimCall::createProcessTap), 1) << "order and duplicates do not rebuild";

    desk.engine.apply(kPlayer, { desk.player[0] }, 0.75f, std::nullopt);
    desk.engine.taps();
    EXPECT_EQ(desk.hw.callCount(SimCall::createProcessTap), 2) << "another set of processes rebuilds";
    EXPECT_EQ(desk.hw.inventory().taps.size(), 1u);
}

TEST(TapEngine, RemoveAndStopAllLeaveNothingBehind)
{
    Desk desk;
    desk.engine.remove(kPlayer); // nothing to remove
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.engine.apply(QStringLiteral("com.example.chat"), desk.chat, 0.0f, QStringLiteral("phones"));
    EXPECT_EQ(desk.engine.taps().size(), 2u);
    desk.engine.remove(QStringLiteral("com.example.chat"));
    EXPECT_EQ(desk.engine.taps().size(), 1u);
    desk.engine.stopAll();
    EXPECT_TRUE(desk.engine.taps().empty());
    EXPECT_TRUE(desk.hw.inventory().empty());
    EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3);
}

TEST(TapEngine, EveryFailedBuildStepIsReportedAndLeavesNothing)
{
    const std::pair<SimCall, const char*> steps[] = {
        { SimCall::createProcessTap, "AudioHardwareCreateProcessTap" },
        { SimCall::createAggregateDevice, "AudioHardwareCreateAggregateDevice" },
        { SimCall::createIOProc, "AudioDeviceCreateIOProcIDWithBlock" },
        { SimCall::deviceStart, "AudioDeviceStart" },
    };
    for (const auto& [call, what] : steps) {
        Desk desk;
        desk.hw.failNext(call, kAudioHardwareIllegalOperationError);
        desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
        EXPECT_EQ(desk.takeErrors(),
            std::vector { QStringLiteral("com.example.player: %1 failed (OSStatus 1852797029)").arg(what) });
        EXPECT_EQ(desk.engine.taps()[kPlayer].device, 0u) << "kept torn down";
        EXPECT_TRUE(desk.hw.inventory().empty()) << what;
        EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3) << "a failed tap leaves the application as it was";

        desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
        EXPECT_EQ(desk.engine.taps()[kPlayer].device, desk.hw.objectForDevice("spk")) << "the next apply tries again";

        // A device change retries as well, without waiting for the next change of level.
        desk.engine.remove(kPlayer);
        desk.hw.failNext(call, kAudioHardwareIllegalOperationError);
        desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
        desk.engine.devicesChanged();
        EXPECT_EQ(desk.engine.taps()[kPlayer].device, desk.hw.objectForDevice("spk")) << what;
        EXPECT_NEAR(desk.listen()["spk"], 0.5f * kAmplitude, 1e-3) << what;
        desk.takeErrors();
    }
}

TEST(TapEngine, AnUnreadableDefaultDeviceFailsOnTheDeviceUID)
{
    Desk desk;
    desk.hw.failNext(
        SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioHardwarePropertyDefaultOutputDevice);
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    EXPECT_EQ(desk.takeErrors(),
        std::vector { QStringLiteral("com.example.player: Read output device UID failed (OSStatus -1)") });
    EXPECT_TRUE(desk.hw.inventory().empty());
}

TEST(TapEngine, WithNoOutputDeviceATapWaitsQuietlyForOne)
{
    // A restarting sound server answers before its sinks are back: for a moment there is no output at all.
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 1.2f, std::nullopt);
    desk.engine.taps();
    for (const char* uid : { "spk", "phones", "usb" })
        desk.hw.removeDevice(uid);
    desk.engine.outputDeviceChanged();
    desk.engine.devicesChanged();
    EXPECT_EQ(desk.engine.taps()[kPlayer].device, 0u);
    EXPECT_TRUE(desk.hw.inventory().empty());
    EXPECT_TRUE(desk.takeErrors().empty()) << "nothing failed: there is nowhere to play";

    desk.engine.apply(kPlayer, desk.player, 1.5f, std::nullopt);
    EXPECT_EQ(desk.engine.taps()[kPlayer].device, 0u) << "a new level waits too";

    desk.hw.addDevice(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    desk.engine.devicesChanged();
    desk.engine.outputDeviceChanged();
    EXPECT_EQ(desk.engine.taps()[kPlayer].device, desk.hw.objectForDevice("spk"));
    EXPECT_NEAR(desk.listen()["spk"], 1.5f * kAmplitude, 1e-3);
    EXPECT_TRUE(desk.takeErrors().empty());
}

TEST(TapEngine, AFailedMoveKeepsTheTapAndRetriesOnTheNextChange)
{
    Desk desk;
    desk.engine.apply(kPlayer, desk.player, 0.5f, std::nullopt);
    desk.engine.taps();
    desk.hw.failNext(SimCall::deviceStart, -50);
    desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("phones"));
    EXPECT_EQ(desk.takeErrors(),
        std::vector { QStringLiteral("com.example.player: AudioDeviceStart failed (OSStatus -50)") });
    auto taps = desk.engine.taps();
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_EQ(taps[kPlayer].device, 0u) << "kept torn down";
    EXPECT_TRUE(desk.hw.inventory().empty());

    desk.engine.devicesChanged();
    EXPECT_EQ(desk.engine.taps()[kPlayer].device, desk.hw.objectForDevice("phones"));
    EXPECT_NEAR(desk.listen()["phones"], 0.5f * kAmplitude, 1e-3);
}

TEST(TapEngine, ARouteWhoseDeviceCannotBeLookedUpIsHeardUntouchedAndRetried)
{
    // Falling back to the default device would keep the application there with no error: the device is plugged
    // in, so no device change would bring it back.
    struct Case {
        SimCall call;
        AudioObjectPropertySelector selector;
        bool onPhones; ///< only a read of the headphones themselves
    };
    const Case cases[] = {
        { SimCall::getPropertyDataSize, kAudioHardwarePropertyDevices, false },
        { SimCall::getPropertyData, kAudioHardwarePropertyDevices, false },
        { SimCall::getPropertyData, kAudioDevicePropertyDeviceUID, true },
        { SimCall::getPropertyData, kAudioDevicePropertyTransportType, true },
        { SimCall::getPropertyData, kAudioDevicePropertyDeviceCanBeDefaultDevice, true },
    };
    const auto error = std::vector { QStringLiteral("com.example.player: Read output devices failed (OSStatus -50)") };
    for (const Case& c : cases) {
        Desk desk;
        const AudioObjectID phones = c.onPhones ? desk.hw.objectForDevice("phones") : 0;
        desk.engine.apply(kPlayer, desk.player, 0.5f, QStringLiteral("phones"));
        EXPECT_NEAR(desk.listen()["phones"], 0.5f * kAmplitude, 1e-3);

        // A device change whose lookup fails, then one that succeeds.
        desk.hw.failNext(c.call, -50, 1, c.selector, phones);
        desk.engine.devicesChanged();
        EXPECT_EQ(desk.takeErrors(), error) << c.selector;
        auto peaks = desk.listen();
        EXPECT_NEAR(peaks["spk"], kAmplitude, 1e-3) << "untouched on the default device";
        EXPECT_EQ(peaks["phones"], 0.0f);
        EXPECT_TRUE(desk.hw.inventory().empty());
        desk.engine.devicesChanged();
        EXPECT_NEAR(desk.listen()["phones"], 0.5f * kAmplitude, 1e-3) << c.selector;

        // The same for a change of level.
        desk.hw.failNext(c.call, -50, 1, c.selector, phones);
        desk.engine.apply(kPlayer, desk.player, 0.25f, QStringLiteral("phones"));
        EXPECT_EQ(desk.takeErrors(), error) << c.selector;
        EXPECT_NEAR(desk.listen()["spk"], kAmplitude, 1e-3);
        desk.engine.apply(kPlayer, desk.player, 0.25f, QStringLiteral("phones"));
        EXPECT_NEAR(desk.listen()["phones"], 0.25f * kAmplitude, 1e-3) << c.selector;
        EXPECT_TRUE(desk.takeErrors().empty());
    }
}
