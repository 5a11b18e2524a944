#pragma once

// Typed reads of the audio hardware. Every failed read degrades to absence (empty, null, 0), except in
// readArray() and lookUpDevice(), which say that they failed; nothing throws.

#include "audio/output_device.h"
#include "platform/audio/audio_hardware.h"

#include <optional>
#include <vector>

namespace sonaric::CA
{

/// An array property of 32-bit elements (object lists); empty when the read fails.
std::vector<std::uint32_t> array(AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector);
/// The same read for callers that must tell a failed read from an empty list: the status of the read that
/// failed (and no values), else noErr.
OSStatus readArray(
    AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector, std::vector<std::uint32_t>* values);
/// A string property; absent when the read fails, yields no string, or yields an empty one.
std::optional<QString> string(AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector);
/// A 32-bit property in the given scope; absent when the read fails.
std::optional<std::uint32_t> uint32(AudioHardware& hw, AudioObjectID object, AudioObjectPropertySelector selector,
    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal);

/// The devices the user may send sound to, in the hardware's order.
std::vector<OutputDevice> outputDevices(AudioHardware& hw);
/// The object of the listed output device with this UID; absent when none is listed under it.
std::optional<AudioObjectID> device(AudioHardware& hw, const QString& uid);
/// An output device looked up by UID where a failed read must not pass for an absent device.
struct DeviceLookup {
    std::optional<AudioObjectID> device; ///< the listed output device with the UID
    OSStatus status = noErr; ///< without a device: the first read that failed, if any did
};
/// Like device(), but a device list, or a listed device's UID, or the matching device's details that cannot be
/// read make the lookup fail instead of finding nothing: the device may well be there.
DeviceLookup lookUpDevice(AudioHardware& hw, const QString& uid);
/// The system default output device; 0 when it cannot be read.
AudioObjectID defaultOutputDevice(AudioHardware& hw);

} // namespace sonaric::CA
