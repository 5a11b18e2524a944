#pragma once

// Property values in the HAL's binary layout, for the audio hardware backends: the simulated one builds each
// value's bytes and copies them out, the Linux one writes straight into the caller's buffer.

#include "platform/audio/audio_hardware.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sonaric
{

/// Appends a fixed-size value (an ID, a flag, a sample rate) to a property's bytes.
template <typename T> void appendPropertyValue(std::vector<std::byte>& out, const T& value)
{
    const auto* bytes = reinterpret_cast<const std::byte*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

/// A stream configuration: an AudioBufferList with one buffer, holding no data, per entry of `channels`.
std::vector<std::byte> audioBufferListBytes(const std::vector<std::uint32_t>& channels);

/// Writes a fixed-size value into the caller's buffer, which must have room for all of it.
template <typename T> OSStatus writePropertyValue(const T& value, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize || !outData || *ioDataSize < sizeof(T))
        return kAudioHardwareBadPropertySizeError;
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return noErr;
}

/// Writes as many whole IDs as the caller's buffer holds; a read of size 0 needs no buffer.
OSStatus writePropertyIDs(const std::vector<AudioObjectID>& ids, std::uint32_t* ioDataSize, void* outData);

/// Writes a value built as bytes (a stream configuration), which must fit whole.
OSStatus writePropertyBytes(const std::vector<std::byte>& bytes, std::uint32_t* ioDataSize, void* outData);

} // namespace sonaric
