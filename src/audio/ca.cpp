#include "audio/ca.h"

namespace sonaric::CA
{

std::vector<std::uint32_t> array(AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector)
{
    std::vector<std::uint32_t> values;
    readArray(hw, object, selector, &values);
    return values;
}

OSStatus readArray(
    AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector, std::vector<std::uint32_t>* values)
{
    values->clear();
    const auto address = globalAddress(selector);
    std::uint32_t size = 0;
    if (OSStatus status = hw.getPropertyDataSize(object, address, &size))
        return status;
    values->resize(size / sizeof(std::uint32_t));
    if (values->empty())
        return noErr;
    std::uint32_t room = std::uint32_t(values->size() * sizeof(std::uint32_t));
    if (OSStatus status = hw.getPropertyData(object, address, &room, values->data())) {
        values->clear();
        return status;
    }
    values->resize(room / sizeof(std::uint32_t));
    return noErr;
}

std::optional<QString> string(AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector)
{
    QString value;
    if (hw.getPropertyString(object, globalAddress(selector), &value) != noErr || value.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> uint32(
    AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope)
{
    std::uint32_t value = 0;
    std::uint32_t size = sizeof(value);
    if (hw.getPropertyData(object, { selector, scope, kAudioObjectPropertyElementMain }, &size, &value) != noErr)
        return std::nullopt;
    return value;
}

std::vector<OutputDevice> outputDevices(AudioHardware& hw)
{
    std::vector<OutputDevice> devices;
    for (AudioObjectID object : array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyDevices)) {
        const std::uint32_t transport = uint32(hw, object, kAudioDevicePropertyTransportType).value_or(0);
        // Aggregate devices, our own private ones included, are never offered.
        if (transport == kAudioDeviceTransportTypeAggregate)
            continue;
        const auto canBeDefault
            = uint32(hw, object, kAudioDevicePropertyDeviceCanBeDefaultDevice, kAudioObjectPropertyScopeOutput);
        if (!canBeDefault || *canBeDefault == 0)
            continue;
        const auto uid = string(hw, object, kAudioDevicePropertyDeviceUID);
        if (!uid)
            continue;
        const QString name = string(hw, object, kAudioObjectPropertyName).value_or(*uid);
        devices.push_back({ *uid, object, name, OutputDevice::symbolFor(transport, name) });
    }
    return devices;
}

std::optional<AudioObjectID> device(AudioHardware& hw, const QString& uid)
{
    for (const OutputDevice& d : outputDevices(hw))
        if (d.id == uid)
            return d.objectID;
    return std::nullopt;
}

DeviceLookup lookUpDevice(AudioHardware& hw, const QString& uid)
{
    std::vector<AudioObjectID> objects;
    if (OSStatus status = readArray(hw, kAudioObjectSystemObject, kAudioHardwarePropertyDevices, &objects))
        return { std::nullopt, status };
    // The same devices as outputDevices() offers; an unreadable UID could be the one looked for.
    OSStatus failed = noErr;
    for (AudioObjectID object : objects) {
        QString value;
        if (OSStatus status = hw.getPropertyString(object, globalAddress(kAudioDevicePropertyDeviceUID), &value)) {
            failed = failed ? failed : status;
            continue;
        }
        if (value != uid)
            continue;
        std::uint32_t transport = 0;
        std::uint32_t canBeDefault = 0;
        std::uint32_t valueSize = sizeof(std::uint32_t);
        if (OSStatus status
            = hw.getPropertyData(object, globalAddress(kAudioDevicePropertyTransportType), &valueSize, &transport))
            return { std::nullopt, status };
        valueSize = sizeof(std::uint32_t);
        const AudioObjectPropertyAddress output { kAudioDevicePropertyDeviceCanBeDefaultDevice,
            kAudioObjectPropertyScopeOutput, kAudioObjectPropertyElementMain };
        if (OSStatus status = hw.getPropertyData(object, output, &valueSize, &canBeDefault))
            return { std::nullopt, status };
        if (transport != kAudioDeviceTransportTypeAggregate && canBeDefault != 0)
            return { object, noErr };
    }
    return { std::nullopt, failed };
}

AudioObjectID defaultOutputDevice(AudioHardware& hw)
{
    return uint32(hw, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice).value_or(0);
}

} // namespace sonaric::CA
