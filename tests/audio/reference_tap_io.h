#pragma once

// The tap's IO cycle written as plainly as possible, frame by frame. The real block must produce exactly the
// same samples, whatever shortcuts it takes.

#include "audio/rt_state.h"
#include "platform/audio/audio_hardware.h"

#include <algorithm>
#include <cmath>

namespace sonaric::test
{

inline void referenceTapIO(RTState& state, const AudioBufferList* input, AudioBufferList* output)
{
    auto channelsOf = [](const AudioBuffer& b) { return std::max<std::uint32_t>(b.mNumberChannels, 1); };
    auto framesOf = [&](const AudioBuffer& b) { return b.mDataByteSize / (4 * channelsOf(b)); };

    const float* source = nullptr;
    std::uint32_t a = 1, c = 0;
    const std::int32_t offset = state.inputOffset;
    if (std::uint32_t(offset) < input->mNumberBuffers && input->mBuffers[offset].mData) {
        source = static_cast<const float*>(input->mBuffers[offset].mData);
        a = channelsOf(input->mBuffers[offset]);
        c = framesOf(input->mBuffers[offset]);
    }
    std::uint32_t k = 0;
    for (std::uint32_t b = 0; b < output->mNumberBuffers; ++b)
        k = std::max(k, framesOf(output->mBuffers[b]));

    const float s = state.currentGain, t = state.targetGain;
    state.currentGain = t;
    const std::uint32_t q = std::min(c, k);
    const float d = q >= 1 ? (t - s) / float(q) : 0.0f;
    float l = state.limiterGain;
    const float r = state.releaseCoeff;

    for (std::uint32_t n = 0; n < k; ++n) {
        float gain = 0;
        if (source && n < q) {
            const float g = s + d * float(n);
            float p = 0;
            for (std::uint32_t ch = 0; ch < a; ++ch)
                p = std::max(p, std::fabs(source[n * a + ch]));
            if (l * (g * p) > 0.99f)
                l = 0.99f / (g * p);
            else
                l = l + r * (1.0f - l);
            gain = g * l;
        }
        std::uint32_t v = 0;
        for (std::uint32_t b = 0; b < output->mNumberBuffers; ++b) {
            AudioBuffer& buffer = output->mBuffers[b];
            const std::uint32_t m = channelsOf(buffer);
            if (buffer.mData && n < framesOf(buffer)) {
                for (std::uint32_t j = 0; j < m; ++j) {
                    static_cast<float*>(buffer.mData)[n * m + j]
                        = source && n < q && v + j < a ? gain * source[n * a + v + j] : 0.0f;
                }
            }
            v += m;
        }
    }
    state.limiterGain = l;
}

} // namespace sonaric::test
