#include "platform/audio/property_data.h"

#include <algorithm>

namespace sonaric
{

std::vector<std::byte> audioBufferListBytes(const std::vector<std::uint32_t>& channels)
{
    std::vector<std::byte> out(audioBufferListSize(std::uint32_t(channels.size())));
    auto* list = reinterpret_cast<AudioBufferList*>(out.data());
    list->mNumberBuffers = std::uint32_t(channels.size());
    for (std::size_t i = 0; i < channels.size(); ++i)
        list->mBuffers[i] = AudioBuffer { channels[i], 0, nullptr };
    return out;
}

OSStatus writePropertyIDs(const std::vector<AudioObjectID>& ids, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize || (!outData && *ioDataSize > 0))
        return kAudioHardwareBadPropertySizeError;
    const std::size_t count = std::min<std::size_t>(ids.size(), *ioDataSize / sizeof(AudioObjectID));
    if (count)
        std::memcpy(outData, ids.data(), count * sizeof(AudioObjectID));
    *ioDataSize = std::uint32_t(count * sizeof(AudioObjectID));
    return noErr;
}

OSStatus writePropertyBytes(const std::vector<std::byte>& bytes, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize || !outData || *ioDataSize < bytes.size())
        return kAudioHardwareBadPropertySizeError;
    std::memcpy(outData, bytes.data(), bytes.size());
    *ioDataSize = std::uint32_t(bytes.size());
    return noErr;
}

} // namespace sonaric
