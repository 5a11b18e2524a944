#include "platform/audio/sim/simulated_audio_hardware.h"

#include "support/manual_queue.h"
#include "support/scenes.h"

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

Scene deskScene()
{
    Scene s;
    s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    s.devices.push_back(outputDevice("usb", QStringLiteral("Interface"), kAudioDeviceTransportTypeUSB));
    s.processes.push_back(process(100, QStringLiteral("com.example.player"), true));
    s.processes.push_back(process(200, QString(), false));
    return s;
}

std::vector<AudioObjectID> objectList(SimulatedAudioHardware& hw, AudioObjectPropertySelector selector)
{
    std::uint32_t size = 0;
    EXPECT_EQ(hw.getPropertyDataSize(kAudioObjectSystemObject, globalAddress(selector), &size), noErr);
    std::vector<AudioObjectID> ids(size / 4);
    EXPECT_EQ(hw.getPropertyData(kAudioObjectSystemObject, globalAddress(selector), &size, ids.data()), noErr);
    return ids;
}

std::uint32_t readUInt32(SimulatedAudioHardware& hw, AudioObjectID object, AudioObjectPropertyAddress address)
{
    std::uint32_t value = 0xdeadbeef;
    std::uint32_t size = 4;
    EXPECT_EQ(hw.getPropertyData(object, address, &size, &value), noErr);
    return value;
}

} // namespace

TEST(SimulatedAudioHardware, AnswersDeviceAndProcessProperties)
{
    SimulatedAudioHardware hw(deskScene());
    const auto devices = objectList(hw, kAudioHardwarePropertyDevices);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(
        readUInt32(hw, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice)), devices[0]);
    EXPECT_EQ(
        readUInt32(hw, devices[1], globalAddress(kAudioDevicePropertyTransportType)), kAudioDeviceTransportTypeUSB);
    EXPECT_EQ(readUInt32(
                  hw, devices[1], { kAudioDevicePropertyDeviceCanBeDefaultDevice, kAudioObjectPropertyScopeOutput, 0 }),
        1u);
    EXPECT_EQ(
        readUInt32(hw, devices[1], { kAudioDevicePropertyDeviceCanBeDefaultDevice, kAudioObjectPropertyScopeInput, 0 }),
        0u);
    QString uid;
    EXPECT_EQ(hw.getPropertyString(devices[1], globalAddress(kAudioDevicePropertyDeviceUID), &uid), noErr);
    EXPECT_EQ(uid, "usb");

    const auto processes = objectList(hw, kAudioHardwarePropertyProcessObjectList);
    ASSERT_EQ(processes.size(), 2u);
    EXPECT_EQ(readUInt32(hw, processes[0], globalAddress(kAudioProcessPropertyPID)), 100u);
    EXPECT_EQ(readUInt32(hw, processes[0], globalAddress(kAudioProcessPropertyIsRunningOutput)), 1u);
    EXPECT_EQ(readUInt32(hw, processes[1], globalAddress(kAudioProcessPropertyIsRunningOutput)), 0u);
    QString bundle = QStringLiteral("unchanged");
    EXPECT_EQ(hw.getPropertyString(processes[1], globalAddress(kAudioProcessPropertyBundleID), &bundle), noErr);
    EXPECT_TRUE(bundle.isEmpty());

    std::uint32_t size = 4;
    std::uint32_t value = 0;
    EXPECT_EQ(
        hw.getPropertyData(999, globalAddress(kAudioProcessPropertyPID), &size, &value), kAudioHardwareBadObjectError);
    EXPECT_EQ(hw.getPropertyData(devices[0], globalAddress(kAudioProcessPropertyPID), &size, &value),
        kAudioHardwareUnknownPropertyError);
}

TEST(SimulatedAudioHardware, InjectedFailuresHitOnlyTheirTarget)
{
    SimulatedAudioHardware hw(deskScene());
    const AudioObjectID usb = hw.objectForDevice("usb");
    hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioDevicePropertyDeviceUID, usb);
    QString uid;
    EXPECT_EQ(
        hw.getPropertyString(usb, globalAddress(kAudioDevicePropertyDeviceUID), &uid), kAudioHardwareUnspecifiedError);
    EXPECT_EQ(
        hw.getPropertyString(usb, globalAddress(kAudioDevicePropertyDeviceUID), &uid), kAudioHardwareUnspecifiedError);
    EXPECT_EQ(
        hw.getPropertyString(hw.objectForDevice("spk"), globalAddress(kAudioDevicePropertyDeviceUID), &uid), noErr);

    hw.failNext(SimCall::getPropertyDataSize, -50, 1);
    std::uint32_t size = 0;
    EXPECT_EQ(
        hw.getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &size), -50);
    EXPECT_EQ(
        hw.getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &size), noErr);
    EXPECT_EQ(size, 8u);
}

TEST(SimulatedAudioHardware, SceneChangesFireTheirListenersOnTheGivenQueue)
{
    SimulatedAudioHardware hw(deskScene());
    ManualQueue queue;
    std::vector<AudioObjectPropertySelector> heard;
    for (auto selector : { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
             kAudioHardwarePropertyProcessObjectList }) {
        ASSERT_EQ(hw.addPropertyListenerBlock(kAudioObjectSystemObject, globalAddress(selector), queue,
                      [&](std::uint32_t count, const AudioObjectPropertyAddress* addresses) {
                          ASSERT_EQ(count, 1u);
                          heard.push_back(addresses[0].mSelector);
                      }),
            noErr);
    }

    hw.addProcess(process(300, QStringLiteral("com.example.new"), true));
    EXPECT_TRUE(heard.empty()) << "delivered on the queue, not inline";
    queue.drain();
    EXPECT_EQ(heard, std::vector { kAudioHardwarePropertyProcessObjectList });

    heard.clear();
    hw.removeDevice("spk"); // the default goes, so the default changes too
    queue.drain();
    EXPECT_EQ(heard, (std::vector { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice }));
    EXPECT_EQ(readUInt32(hw, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice)),
        hw.objectForDevice("usb"));

    heard.clear();
    hw.setDefaultOutputDevice("usb"); // already the default: nothing changes
    hw.addDevice(outputDevice("bt", QStringLiteral("Buds"), kAudioDeviceTransportTypeBluetooth));
    queue.drain();
    EXPECT_EQ(heard, std::vector { kAudioHardwarePropertyDevices });
}

TEST(SimulatedAudioHardware, EmptySceneAnswersEmptyLists)
{
    SimulatedAudioHardware hw(Scene {});
    std::uint32_t size = 123;
    EXPECT_EQ(
        hw.getPropertyDataSize(kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDevices), &size), noErr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(readUInt32(hw, kAudioObjectSystemObject, globalAddress(kAudioHardwarePropertyDefaultOutputDevice)), 0u);
    hw.advance(1024);
    EXPECT_TRUE(hw.inventory().empty());
}
