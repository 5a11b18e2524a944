#include "platform/audio/linux/transport_type.h"

#include "platform/audio/audio_hardware.h"

namespace sonaric
{

namespace
{

std::uint32_t fromWord(const QString& word)
{
    const QString w = word.toLower();
    if (w.isEmpty())
        return kAudioDeviceTransportTypeUnknown;
    if (w.contains(u"bluetooth") || w.startsWith(u"bluez") || w == u"a2dp" || w == u"headset-head-unit")
        return kAudioDeviceTransportTypeBluetooth;
    if (w.contains(u"usb"))
        return kAudioDeviceTransportTypeUSB;
    if (w.contains(u"hdmi"))
        return kAudioDeviceTransportTypeHDMI;
    if (w.contains(u"displayport") || w == u"dp")
        return kAudioDeviceTransportTypeDisplayPort;
    if (w.contains(u"firewire") || w == u"ieee1394")
        return kAudioDeviceTransportTypeFireWire;
    if (w.contains(u"thunderbolt"))
        return kAudioDeviceTransportTypeThunderbolt;
    if (w == u"raop" || w.contains(u"airplay"))
        return kAudioDeviceTransportTypeAirPlay;
    if (w == u"avb")
        return kAudioDeviceTransportTypeAVB;
    if (w == u"pci" || w == u"isa")
        return kAudioDeviceTransportTypePCI;
    return kAudioDeviceTransportTypeUnknown;
}

} // namespace

std::uint32_t transportType(const SinkTraits& traits)
{
    // The bus says how the device is attached; a port type or form factor refines an internal card (an HDMI
    // output of a PCI card is shown as HDMI, its headphone jack as built-in).
    for (const QString& word : { traits.activePortType, traits.formFactor }) {
        const auto type = fromWord(word);
        if (type == kAudioDeviceTransportTypeHDMI || type == kAudioDeviceTransportTypeDisplayPort
            || type == kAudioDeviceTransportTypeBluetooth || type == kAudioDeviceTransportTypeUSB)
            return type;
    }
    if (traits.activePortName.toLower().contains(u"hdmi"))
        return kAudioDeviceTransportTypeHDMI;
    if (const auto type = fromWord(traits.bus); type != kAudioDeviceTransportTypeUnknown) {
        if (type == kAudioDeviceTransportTypePCI && !traits.formFactor.isEmpty())
            return kAudioDeviceTransportTypeBuiltIn;
        return type;
    }
    if (const auto type = fromWord(traits.api); type != kAudioDeviceTransportTypeUnknown)
        return type;
    const QString form = traits.formFactor.toLower();
    if (form == u"internal" || form == u"speaker" || form == u"headphone" || form == u"handset")
        return kAudioDeviceTransportTypeBuiltIn;
    if (traits.api.toLower() == u"alsa" || traits.hasHardwareFlag)
        return kAudioDeviceTransportTypeBuiltIn;
    return kAudioDeviceTransportTypeVirtual;
}

bool isOfferedAsOutput(const SinkTraits& traits)
{
    const QString cls = traits.deviceClass.toLower();
    return !traits.isFilter && cls != u"filter" && cls != u"monitor";
}

} // namespace sonaric
