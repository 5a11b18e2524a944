#include "audio/output_device.h"

namespace sonaric
{

QString OutputDevice::symbolFor(std::uint32_t transport, const QString& name)
{
    const QString lower = name.toLower();
    auto has = [&](const char* word) { return lower.contains(QLatin1String(word)); };
    switch (transport) {
    case kAudioDeviceTransportTypeAirPlay:
        return QStringLiteral("airplayaudio");
    case kAudioDeviceTransportTypeBluetooth:
    case kAudioDeviceTransportTypeBluetoothLE:
        if (has("airpods max"))
            return QStringLiteral("airpodsmax");
        if (has("airpods pro"))
            return QStringLiteral("airpodspro");
        if (has("airpods"))
            return QStringLiteral("airpods");
        return QStringLiteral("headphones");
    case kAudioDeviceTransportTypeBuiltIn:
        if (has("headphone"))
            return QStringLiteral("headphones");
        if (has("macbook"))
            return QStringLiteral("laptopcomputer");
        if (has("mac mini"))
            return QStringLiteral("macmini");
        if (has("mac studio"))
            return QStringLiteral("macstudio");
        if (has("imac"))
            return QStringLiteral("desktopcomputer");
        return QStringLiteral("speaker.wave.2");
    case kAudioDeviceTransportTypeDisplayPort:
        return QStringLiteral("display");
    case kAudioDeviceTransportTypeHDMI:
        return QStringLiteral("tv");
    case kAudioDeviceTransportTypeThunderbolt:
    case kAudioDeviceTransportTypeUSB:
    case kAudioDeviceTransportTypeFireWire:
    case kAudioDeviceTransportTypePCI:
        return QStringLiteral("hifispeaker");
    case kAudioDeviceTransportTypeVirtual:
        return QStringLiteral("waveform");
    default:
        return QStringLiteral("speaker.wave.2");
    }
}

} // namespace sonaric
