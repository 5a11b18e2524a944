#include "platform/audio/linux/transport_type.h"

#include "platform/audio/audio_hardware.h"

#include <gtest/gtest.h>

using namespace sonaric;

TEST(TransportType, FromBusPortFormFactorAndApi)
{
    EXPECT_EQ(transportType({ .bus = "usb", .api = "alsa" }), kAudioDeviceTransportTypeUSB);
    EXPECT_EQ(transportType({ .bus = "bluetooth", .formFactor = "headset", .api = "bluez5" }),
        kAudioDeviceTransportTypeBluetooth);
    EXPECT_EQ(transportType({ .api = "bluez5" }), kAudioDeviceTransportTypeBluetooth);
    // An internal card: its speakers and headphone jack are built in, its HDMI output is HDMI.
    EXPECT_EQ(
        transportType({ .bus = "pci", .formFactor = "internal", .api = "alsa" }), kAudioDeviceTransportTypeBuiltIn);
    EXPECT_EQ(transportType({ .bus = "pci", .formFactor = "internal", .activePortType = "hdmi", .api = "alsa" }),
        kAudioDeviceTransportTypeHDMI);
    EXPECT_EQ(transportType({ .bus = "pci", .activePortName = "hdmi-output-0", .api = "alsa" }),
        kAudioDeviceTransportTypeHDMI);
    EXPECT_EQ(transportType({ .bus = "pci", .api = "alsa" }), kAudioDeviceTransportTypePCI);
    EXPECT_EQ(transportType({ .api = "raop" }), kAudioDeviceTransportTypeAirPlay);
    EXPECT_EQ(transportType({ .api = "alsa" }), kAudioDeviceTransportTypeBuiltIn);
    // A null sink has nothing but a class.
    EXPECT_EQ(transportType({ .deviceClass = "abstract" }), kAudioDeviceTransportTypeVirtual);
}

TEST(TransportType, FiltersAndMonitorsAreNotOffered)
{
    EXPECT_TRUE(isOfferedAsOutput({ .deviceClass = "abstract" }));
    EXPECT_TRUE(isOfferedAsOutput({ .bus = "usb", .deviceClass = "sound" }));
    EXPECT_FALSE(isOfferedAsOutput({ .deviceClass = "filter" }));
    EXPECT_FALSE(isOfferedAsOutput({ .deviceClass = "monitor" }));
    EXPECT_FALSE(isOfferedAsOutput({ .isFilter = true }));
}
