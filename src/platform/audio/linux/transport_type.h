#pragma once

#include <QString>

#include <cstdint>

namespace sonaric
{

/// What the server tells about a sink that decides how it is presented as an output device.
struct SinkTraits {
    QString bus {}; ///< device.bus: "usb", "bluetooth", "pci", "firewire", "thunderbolt" ...
    QString formFactor {}; ///< device.form_factor: "internal", "headphone", "speaker", "hdmi" ...
    QString activePortType {}; ///< the active port's type, when the server reports one ("hdmi", "usb", "bluetooth" ...)
    QString activePortName {}; ///< the active port's name ("analog-output-headphones", "hdmi-output-0" ...)
    QString api {}; ///< device.api: "alsa", "bluez5", "bluez", "raop", "airplay" ...
    QString deviceClass {}; ///< device.class: "sound", "abstract", "filter", "monitor" ...
    bool hasHardwareFlag = false; ///< the sink drives real hardware
    bool isFilter = false; ///< the sink feeds another sink (device.master_device, node.virtual, a filter chain)
};

/// The transport type (a kAudioDeviceTransportType… code) a sink is shown with.
std::uint32_t transportType(const SinkTraits& traits);

/// Whether the sink is offered as an output device: filters over other sinks and monitors are not.
bool isOfferedAsOutput(const SinkTraits& traits);

} // namespace sonaric
