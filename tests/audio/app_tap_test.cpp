#include "audio/app_tap.h"
#include "platform/audio/sim/simulated_audio_hardware.h"

#include "support/scenes.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

Scene tapScene()
{
    Scene s;
    s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    auto usb = outputDevice("usb", QStringLiteral("Interface"), kAudioDeviceTransportTypeUSB);
    usb.inputStreams = { 2, 1 };
    usb.sampleRate = 44100;
    s.devices.push_back(usb);
    s.processes.push_back(process(100, QStringLiteral("com.example.player"), true));
    s.processes.push_back(process(101, QStringLiteral("com.example.player.helper"), true));
    return s;
}

} // namespace

TEST(AppTap, BuildsAPrivateTapAndAggregateDeviceOnTheOutputDevice)
{
    SimulatedAudioHardware hw(tapScene());
    const auto objects = hw.processObjects();
    AppTap tap(hw, QStringLiteral("com.example.player"), objects, 0.5f);
    const AudioObjectID spk = hw.objectForDevice("spk");
    tap.start(spk);

    EXPECT_EQ(tap.device(), spk);
    const auto inventory = hw.inventory();
    ASSERT_EQ(inventory.taps, std::vector { tap.tapID() });
    ASSERT_EQ(inventory.aggregateDevices, std::vector { tap.aggregateID() });
    EXPECT_EQ(inventory.runningIOProcs, 1);

    const auto description = hw.tapDescription(tap.tapID());
    ASSERT_TRUE(description);
    EXPECT_EQ(description->processes, objects);
    EXPECT_EQ(description->name, "Velorith com.example.player");
    EXPECT_TRUE(description->isPrivate);
    EXPECT_FALSE(description->isExclusive);
    EXPECT_FALSE(description->isMono);
    EXPECT_EQ(description->muteBehavior, CATapMuteBehavior::CATapMutedWhenTapped);

    const CFDictionary aggregate = hw.aggregateDescription(tap.aggregateID());
    EXPECT_EQ(aggregate.keys(),
        (QStringList { "master", "name", "private", "stacked", "subdevices", "tapautostart", "taps", "uid" }));
    EXPECT_EQ(aggregate["name"], "Velorith-com.example.player");
    EXPECT_TRUE(aggregate["uid"].toString().startsWith("org.sonaric.Sonaric."));
    EXPECT_EQ(aggregate["master"], "spk");
    EXPECT_EQ(aggregate["private"], true);
    EXPECT_EQ(aggregate["stacked"], false);
    EXPECT_EQ(aggregate["tapautostart"], true);
    EXPECT_EQ(aggregate["subdevices"].toList(), (QVariantList { CFDictionary { { "uid", "spk" } } }));
    EXPECT_EQ(aggregate["taps"].toList(),
        (QVariantList { CFDictionary { { "uid", description->uuid }, { "drift", true } } }));

    EXPECT_EQ(tap.state().inputOffset, 0);
    EXPECT_FLOAT_EQ(tap.state().releaseCoeff, AppTap::releaseCoefficient(48000));
    EXPECT_EQ(tap.state().targetGain, 0.5f);
    EXPECT_EQ(tap.state().currentGain, 0.5f) << "no fade-in";
}

TEST(AppTap, RestartOnAnotherDeviceRebuildsWithFreshIdentities)
{
    SimulatedAudioHardware hw(tapScene());
    AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 2.0f);
    tap.start(hw.objectForDevice("spk"));
    const QString firstTap = hw.tapDescription(tap.tapID())->uuid;
    const QString firstAggregate = hw.aggregateDescription(tap.aggregateID())["uid"].toString();
    tap.state().limiterGain = 0.7f;

    tap.start(hw.objectForDevice("usb"));
    EXPECT_EQ(tap.device(), hw.objectForDevice("usb"));
    EXPECT_EQ(hw.inventory().taps.size(), 1u);
    EXPECT_EQ(hw.inventory().aggregateDevices.size(), 1u);
    EXPECT_NE(hw.tapDescription(tap.tapID())->uuid, firstTap);
    EXPECT_NE(hw.aggregateDescription(tap.aggregateID())["uid"].toString(), firstAggregate);
    // The device's own two input streams come first: the tap is the third input buffer.
    EXPECT_EQ(tap.state().inputOffset, 2);
    EXPECT_FLOAT_EQ(tap.state().releaseCoeff, AppTap::releaseCoefficient(44100));
    EXPECT_EQ(tap.state().limiterGain, 0.7f) << "the limiter's state carries over a restart";
}

TEST(AppTap, EveryFailedStepThrowsItsErrorAndLeavesNothingBehind)
{
    struct Case {
        SimCall call;
        const char* what;
        OSStatus reported = -50;
        AudioObjectPropertySelector selector = 0;
    };
    const Case cases[] = {
        { SimCall::createProcessTap, "AudioHardwareCreateProcessTap" },
        { SimCall::createAggregateDevice, "AudioHardwareCreateAggregateDevice" },
        { SimCall::createIOProc, "AudioDeviceCreateIOProcIDWithBlock" },
        { SimCall::deviceStart, "AudioDeviceStart" },
        // Without the input layout the block would play the device's own input in place of the application.
        { SimCall::getPropertyDataSize, "Read aggregate device input streams", -1,
            kAudioDevicePropertyStreamConfiguration },
        { SimCall::getPropertyData, "Read aggregate device input streams", -1,
            kAudioDevicePropertyStreamConfiguration },
    };
    for (const Case& c : cases) {
        SimulatedAudioHardware hw(tapScene());
        AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 0.5f);
        hw.failNext(c.call, -50, 1, c.selector);
        try {
            tap.start(hw.objectForDevice("usb"));
            ADD_FAILURE() << c.what << " did not fail";
        } catch (const CAError& error) {
            EXPECT_EQ(error, (CAError { c.what, c.reported }));
        }
        EXPECT_TRUE(hw.inventory().empty()) << c.what;
        EXPECT_EQ(tap.device(), 0u);
        EXPECT_EQ(tap.tapID(), 0u);
        EXPECT_EQ(tap.aggregateID(), 0u);
        EXPECT_EQ(tap.ioProcID(), nullptr);
    }
}

TEST(AppTap, UnreadableDeviceUIDFailsBeforeBuildingAnything)
{
    SimulatedAudioHardware hw(tapScene());
    AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 0.5f);
    try {
        tap.start(4242);
        ADD_FAILURE() << "started on a device that does not exist";
    } catch (const CAError& error) {
        EXPECT_EQ(error.description(), "Read output device UID failed (OSStatus -1)");
    }
    EXPECT_EQ(hw.callCount(SimCall::createProcessTap), 0);
    EXPECT_TRUE(hw.inventory().empty());
}

TEST(AppTap, UnreadableSampleRateFallsBackTo48kHz)
{
    SimulatedAudioHardware hw(tapScene());
    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioDevicePropertyNominalSampleRate);
    AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 0.5f);
    tap.start(hw.objectForDevice("usb"));
    EXPECT_FLOAT_EQ(tap.state().releaseCoeff, AppTap::releaseCoefficient(48000));
}

TEST(AppTap, StoppingAnIdleTapDoesNothing)
{
    SimulatedAudioHardware hw(tapScene());
    {
        AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 0.5f);
        tap.stop();
        tap.stop();
    }
    for (SimCall call :
        { SimCall::deviceStop, SimCall::destroyIOProc, SimCall::destroyAggregateDevice, SimCall::destroyProcessTap })
        EXPECT_EQ(hw.callCount(call), 0);
}

namespace
{

// The calls that build or tear down something, in the order they were made.
std::vector<SimCall> buildCalls(const SimulatedAudioHardware& hw)
{
    std::vector<SimCall> calls;
    for (const auto& logged : hw.callLog())
        if (logged.call != SimCall::getPropertyData && logged.call != SimCall::getPropertyDataSize)
            calls.push_back(logged.call);
    return calls;
}

} // namespace

TEST(AppTap, BuildsAndTearsDownInItsFixedOrder)
{
    SimulatedAudioHardware hw(tapScene());
    AppTap tap(hw, QStringLiteral("app"), hw.processObjects(), 0.5f);
    tap.start(hw.objectForDevice("spk"));
    EXPECT_EQ(buildCalls(hw),
        (std::vector {
            SimCall::createProcessTap, SimCall::createAggregateDevice, SimCall::createIOProc, SimCall::deviceStart }));
    // The reads between: the device UID first, then the aggregate device's liveness, input layout and rate.
    std::vector<AudioObjectPropertySelector> reads;
    for (const auto& logged : hw.callLog())
        if (logged.call == SimCall::getPropertyData && (reads.empty() || reads.back() != logged.selector))
            reads.push_back(logged.selector);
    EXPECT_EQ(reads,
        (std::vector { kAudioDevicePropertyDeviceUID, kAudioDevicePropertyDeviceIsAlive,
            kAudioDevicePropertyStreamConfiguration, kAudioDevicePropertyNominalSampleRate }));

    const auto before = buildCalls(hw).size();
    // Teardown statuses are ignored: a failing step does not stop the ones after it.
    hw.failNext(SimCall::deviceStop, kAudioHardwareIllegalOperationError, 1);
    tap.stop();
    const auto calls = buildCalls(hw);
    EXPECT_EQ(std::vector(calls.begin() + before, calls.end()),
        (std::vector { SimCall::deviceStop, SimCall::destroyIOProc, SimCall::destroyAggregateDevice,
            SimCall::destroyProcessTap }));
    EXPECT_TRUE(hw.inventory().empty());
}
