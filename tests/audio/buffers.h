#pragma once

// Audio buffer lists owned by a test.

#include "platform/audio/audio_hardware.h"

#include <vector>

namespace sonaric::test
{

class Buffers
{
public:
    /// One buffer per entry of `channels`, each holding `frames` frames.
    Buffers(std::vector<std::uint32_t> channels, std::uint32_t frames)
        : m_header(audioBufferListSize(std::uint32_t(channels.size())))
        , m_data(channels.size())
    {
        list()->mNumberBuffers = std::uint32_t(channels.size());
        for (std::size_t i = 0; i < channels.size(); ++i) {
            m_data[i].assign(std::size_t(std::max<std::uint32_t>(channels[i], 1)) * frames, 0.0f);
            list()->mBuffers[i] = { channels[i], std::uint32_t(m_data[i].size() * sizeof(float)), m_data[i].data() };
        }
    }
    AudioBufferList* list() { return reinterpret_cast<AudioBufferList*>(m_header.data()); }
    std::vector<float>& samples(std::size_t buffer) { return m_data[buffer]; }
    void setNull(std::size_t buffer) { list()->mBuffers[buffer].mData = nullptr; }

private:
    std::vector<std::byte> m_header;
    std::vector<std::vector<float>> m_data;
};

} // namespace sonaric::test
