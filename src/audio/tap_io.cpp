#include "audio/tap_io.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace sonaric
{
namespace
{

struct Layout {
    std::uint32_t channels; // at least 1
    std::uint32_t frames;
};

Layout layoutOf(const AudioBuffer& buffer)
{
    const std::uint32_t channels = std::max<std::uint32_t>(buffer.mNumberChannels, 1);
    return { channels, buffer.mDataByteSize / (std::uint32_t(sizeof(float)) * channels) };
}

float nextUp(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    ++bits;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

float nextDown(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    --bits;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// The largest peak the limiter lets through untouched at ramp gain g and limiter gain l: a frame with
// peak p engages the limiter exactly when p is above it, because l * (g * p) grows with p.
float passThreshold(float l, float g)
{
    constexpr float infinity = std::numeric_limits<float>::infinity();
    auto limits = [&](float p) { return l * (g * p) > kLimiterCeiling; };
    if (!limits(infinity))
        return infinity;
    float p = std::min(kLimiterCeiling / (l * g), std::numeric_limits<float>::max());
    while (p > 0.0f && limits(p))
        p = nextDown(p);
    while (!limits(nextUp(p)))
        p = nextUp(p);
    return p;
}

// Whether any |sample| is above the threshold. Written as an or over comparisons so that it vectorises;
// a NaN compares false, just as the frame loop's peak ignores it.
bool anyAbove(const float* samples, std::size_t count, float threshold)
{
    int above = 0;
    for (std::size_t i = 0; i < count; ++i)
        above |= std::fabs(samples[i]) > threshold;
    return above != 0;
}

// out = gain * in over `count` samples, telling whether any |in| was above the threshold: one pass for the
// common cycle, where the limiter stays idle.
bool scaleUnlessAbove(const float* in, float* out, std::size_t count, float gain, float threshold)
{
    int above = 0;
    for (std::size_t i = 0; i < count; ++i) {
        above |= std::fabs(in[i]) > threshold;
        out[i] = gain * in[i];
    }
    return above != 0;
}

// Writes output buffer `buffer` (whose first channel is output channel `first`) for a cycle in which every
// frame below `q` has the same gain `gain` and every other frame is silent.
void writeSteady(AudioBuffer& buffer, std::uint32_t first, const float* source, std::uint32_t sourceChannels,
    std::uint32_t q, float gain)
{
    const Layout out = layoutOf(buffer);
    auto* samples = static_cast<float*>(buffer.mData);
    const std::uint32_t frames = std::min(q, out.frames);
    if (first == 0 && out.channels == sourceChannels) {
        const std::size_t n = std::size_t(frames) * out.channels;
        for (std::size_t i = 0; i < n; ++i)
            samples[i] = gain * source[i];
    } else {
        for (std::uint32_t f = 0; f < frames; ++f) {
            for (std::uint32_t j = 0; j < out.channels; ++j) {
                const std::uint32_t channel = first + j;
                samples[std::size_t(f) * out.channels + j]
                    = channel < sourceChannels ? gain * source[std::size_t(f) * sourceChannels + channel] : 0.0f;
            }
        }
    }
    std::fill(samples + std::size_t(frames) * out.channels, samples + std::size_t(out.frames) * out.channels, 0.0f);
}

} // namespace

void renderTapIO(RTState& state, const AudioBufferList* input, AudioBufferList* output) noexcept
{
    const float* source = nullptr;
    std::uint32_t sourceChannels = 1;
    std::uint32_t capturedFrames = 0;
    const std::int32_t offset = state.inputOffset.load(std::memory_order_relaxed);
    if (input && offset >= 0 && std::uint32_t(offset) < input->mNumberBuffers && input->mBuffers[offset].mData) {
        const AudioBuffer& buffer = input->mBuffers[offset];
        source = static_cast<const float*>(buffer.mData);
        const Layout layout = layoutOf(buffer);
        sourceChannels = layout.channels;
        capturedFrames = layout.frames;
    }

    const std::uint32_t bufferCount = output ? output->mNumberBuffers : 0;
    std::uint32_t longest = 0;
    for (std::uint32_t b = 0; b < bufferCount; ++b)
        longest = std::max(longest, layoutOf(output->mBuffers[b]).frames);

    const float s = state.currentGain.load(std::memory_order_relaxed);
    const float t = state.targetGain.load(std::memory_order_relaxed);
    state.currentGain.store(t, std::memory_order_relaxed);
    const std::uint32_t q = source ? std::min(capturedFrames, longest) : 0;
    const float d = q >= 1 ? (t - s) / float(q) : 0.0f;

    float limiter = state.limiterGain.load(std::memory_order_relaxed);
    const float release = state.releaseCoeff.load(std::memory_order_relaxed);

    // A steady gain whose limiter is not moving and would not engage gives every frame the same gain; that
    // cycle vectorises. It produces exactly the frame loop's samples: the same g, the same L, the same G.
    if (q >= 1 && d == 0.0f && (limiter == 1.0f || limiter + release * (1.0f - limiter) == limiter)) {
        const float g = s + d * 0.0f;
        const float gain = g * limiter;
        const float threshold = passThreshold(limiter, g);
        const std::size_t count = std::size_t(q) * sourceChannels;
        AudioBuffer* only = bufferCount == 1 ? &output->mBuffers[0] : nullptr;
        if (only && only->mData && layoutOf(*only).channels == sourceChannels) {
            // The usual case: one output buffer laid out like the source. Should a frame limit after all, the
            // frame loop below writes the whole buffer again.
            auto* samples = static_cast<float*>(only->mData);
            if (!scaleUnlessAbove(source, samples, count, gain, threshold)) {
                std::fill(samples + count, samples + std::size_t(layoutOf(*only).frames) * sourceChannels, 0.0f);
                return;
            }
        } else if (!anyAbove(source, count, threshold)) {
            std::uint32_t first = 0;
            for (std::uint32_t b = 0; b < bufferCount; ++b) {
                AudioBuffer& buffer = output->mBuffers[b];
                if (buffer.mData)
                    writeSteady(buffer, first, source, sourceChannels, q, gain);
                first += layoutOf(buffer).channels;
            }
            return;
        }
    }

    for (std::uint32_t n = 0; n < longest; ++n) {
        float frameGain = 0.0f;
        const bool captured = n < q;
        if (captured) {
            const float g = s + d * float(n);
            const float* frame = source + std::size_t(n) * sourceChannels;
            float peak = 0.0f;
            for (std::uint32_t c = 0; c < sourceChannels; ++c)
                peak = std::max(peak, std::fabs(frame[c]));
            if (limiter * (g * peak) > kLimiterCeiling)
                limiter = kLimiterCeiling / (g * peak);
            else
                limiter = limiter + release * (1.0f - limiter);
            frameGain = g * limiter;
        }
        std::uint32_t first = 0;
        for (std::uint32_t b = 0; b < bufferCount; ++b) {
            AudioBuffer& buffer = output->mBuffers[b];
            const Layout out = layoutOf(buffer);
            if (buffer.mData && n < out.frames) {
                float* samples = static_cast<float*>(buffer.mData) + std::size_t(n) * out.channels;
                for (std::uint32_t j = 0; j < out.channels; ++j) {
                    const std::uint32_t channel = first + j;
                    samples[j] = captured && channel < sourceChannels
                        ? frameGain * source[std::size_t(n) * sourceChannels + channel]
                        : 0.0f;
                }
            }
            first += out.channels;
        }
    }
    state.limiterGain.store(limiter, std::memory_order_relaxed);
}

} // namespace sonaric
