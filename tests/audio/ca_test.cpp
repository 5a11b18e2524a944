#include "audio/ca.h"
#include "audio/ca_error.h"
#include "platform/audio/sim/simulated_audio_hardware.h"

#include "support/scenes.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

TEST(OutputDeviceSymbol, FollowsTransportThenName)
{
    struct Case {
        std::uint32_t transport;
        const char* name;
        const char* symbol;
    };
    const Case cases[] = {
        { kAudioDeviceTransportTypeAirPlay, "Kitchen", "airplayaudio" },
        { kAudioDeviceTransportTypeBluetooth, "Ann's AirPods Pro", "airpodspro" },
        { kAudioDeviceTransportTypeBluetoothLE, "AirPods Max", "airpodsmax" },
        { kAudioDeviceTransportTypeBluetooth, "AIRPODS", "airpods" },
        { kAudioDeviceTransportTypeBluetooth, "Boom Speaker", "headphones" },
        { kAudioDeviceTransportTypeBuiltIn, "External Headphones", "headphones" },
        { kAudioDeviceTransportTypeBuiltIn, "MacBook Pro Speakers", "laptopcomputer" },
        { kAudioDeviceTransportTypeBuiltIn, "Mac mini Speakers", "macmini" },
        { kAudioDeviceTransportTypeBuiltIn, "Mac Studio Speakers", "macstudio" },
        { kAudioDeviceTransportTypeBuiltIn, "iMac Speakers", "desktopcomputer" },
        { kAudioDeviceTransportTypeBuiltIn, "Line Out", "speaker.wave.2" },
        { kAudioDeviceTransportTypeDisplayPort, "Monitor", "display" },
        { kAudioDeviceTransportTypeHDMI, "TV", "tv" },
        { kAudioDeviceTransportTypeUSB, "AirPods headphones", "hifispeaker" },
        { kAudioDeviceTransportTypeThunderbolt, "Dock", "hifispeaker" },
        { kAudioDeviceTransportTypeFireWire, "Old Box", "hifispeaker" },
        { kAudioDeviceTransportTypePCI, "Card", "hifispeaker" },
        { kAudioDeviceTransportTypeVirtual, "Loopback", "waveform" },
        { 0, "Unknown", "speaker.wave.2" },
        { kAudioDeviceTransportTypeAVB, "Network", "speaker.wave.2" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(OutputDevice::symbolFor(c.transport, QString::fromUtf8(c.name)), c.symbol) << c.name;
}

TEST(CAError, DescribesStepAndStatus)
{
    EXPECT_EQ(
        CAError({ QStringLiteral("AudioDeviceStart"), -50 }).description(), "AudioDeviceStart failed (OSStatus -50)");
    EXPECT_EQ(CAError({ QStringLiteral("Read output device UID"), -1 }).description(),
        "Read output device UID failed (OSStatus -1)");
    EXPECT_EQ(
        CAError({ QStringLiteral("AudioHardwareCreateProcessTap"), kAudioHardwareIllegalOperationError }).description(),
        "AudioHardwareCreateProcessTap failed (OSStatus 1852797029)");
}

namespace
{

Scene mixedDevices()
{
    Scene s;
    s.devices.push_back(outputDevice("agg", QStringLiteral("Aggregate"), kAudioDeviceTransportTypeAggregate));
    s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    auto mic = outputDevice("mic", QStringLiteral("Microphone"), kAudioDeviceTransportTypeBuiltIn);
    mic.outputStreams.clear();
    mic.inputStreams = { 1 };
    s.devices.push_back(mic);
    auto noDefault = outputDevice("nodefault", QStringLiteral("Cannot be default"), kAudioDeviceTransportTypeUSB);
    noDefault.canBeDefaultOutput = false;
    s.devices.push_back(noDefault);
    s.devices.push_back(outputDevice("nameless", QStringLiteral(""), kAudioDeviceTransportTypeUSB));
    s.devices.push_back(outputDevice("unnamed", std::nullopt, kAudioDeviceTransportTypeHDMI));
    return s;
}

} // namespace

TEST(CAOutputDevices, ListsOnlyDevicesThatCanBeTheDefaultOutputInHardwareOrder)
{
    SimulatedAudioHardware hw(mixedDevices());
    const auto devices = CA::outputDevices(hw);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0], (OutputDevice { "spk", hw.objectForDevice("spk"), "Speakers", "speaker.wave.2" }));
    EXPECT_EQ(devices[1].name, "nameless") << "an empty name lists the device under its UID";
    EXPECT_EQ(devices[2].name, "unnamed") << "an unreadable name lists the device under its UID";
    EXPECT_EQ(devices[2].symbol, "tv");
}

TEST(CAOutputDevices, UnreadablePropertiesSkipOrDegrade)
{
    SimulatedAudioHardware hw(mixedDevices());
    const AudioObjectID spk = hw.objectForDevice("spk");
    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioDevicePropertyDeviceUID, spk);
    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioDevicePropertyTransportType,
        hw.objectForDevice("unnamed"));
    const auto devices = CA::outputDevices(hw);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].id, "nameless");
    EXPECT_EQ(devices[1].symbol, "speaker.wave.2") << "transport read as 0";

    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, 1, kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ(CA::defaultOutputDevice(hw), 0u);
    hw.failNext(SimCall::getPropertyDataSize, kAudioHardwareUnspecifiedError, 1);
    EXPECT_TRUE(CA::outputDevices(hw).empty());
}

TEST(CAOutputDevices, OnlyAggregatesOrInputsGiveAnEmptyList)
{
    Scene s;
    s.devices.push_back(outputDevice("agg", QStringLiteral("Aggregate"), kAudioDeviceTransportTypeAggregate));
    auto noDefault = outputDevice("nodefault", QStringLiteral("Input"), kAudioDeviceTransportTypeUSB);
    noDefault.canBeDefaultOutput = false;
    s.devices.push_back(noDefault);
    SimulatedAudioHardware hw(s);
    EXPECT_TRUE(CA::outputDevices(hw).empty());
}

TEST(CADevice, FindsListedDevicesOnly)
{
    SimulatedAudioHardware hw(mixedDevices());
    EXPECT_EQ(CA::device(hw, "spk"), hw.objectForDevice("spk"));
    EXPECT_EQ(CA::device(hw, "agg"), std::nullopt);
    EXPECT_EQ(CA::device(hw, "SPK"), std::nullopt);
    hw.removeDevice("spk");
    EXPECT_EQ(CA::device(hw, "spk"), std::nullopt);
    EXPECT_EQ(CA::defaultOutputDevice(hw), hw.objectForDevice("nameless"));
}

TEST(CAArray, TruncatesToWholeElements)
{
    SimulatedAudioHardware hw(mixedDevices());
    EXPECT_EQ(CA::array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyDevices).size(), 6u);
    EXPECT_TRUE(CA::array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList).empty());
    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, 1);
    EXPECT_TRUE(CA::array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyDevices).empty());
}
