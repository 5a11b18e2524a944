#include "audio/app_tap.h"
#include "audio/tap_io.h"

#include "audio/buffers.h"
#include "audio/reference_tap_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

void fill(Buffers& b, std::size_t buffer, float value)
{
    std::fill(b.samples(buffer).begin(), b.samples(buffer).end(), value);
}

void prime(RTState& s, float current, float target, float release = 0.0001f)
{
    s.currentGain = current;
    s.targetGain = target;
    s.releaseCoeff = release;
}

} // namespace

TEST(TapIO, RampsLinearlyOverOneBufferThenHoldsTheTarget)
{
    Buffers in({ 2 }, 100), out({ 2 }, 100);
    fill(in, 0, 0.4f);
    RTState state;
    prime(state, 1.0f, 0.5f);
    renderTapIO(state, in.list(), out.list());
    const float d = (0.5f - 1.0f) / 100.0f;
    for (int n = 0; n < 100; ++n) {
        EXPECT_EQ(out.samples(0)[2 * n], (1.0f + d * float(n)) * 0.4f) << n;
        EXPECT_EQ(out.samples(0)[2 * n + 1], out.samples(0)[2 * n]);
    }
    EXPECT_EQ(state.currentGain, 0.5f);

    renderTapIO(state, in.list(), out.list());
    for (float sample : out.samples(0))
        EXPECT_EQ(sample, 0.5f * 0.4f);
    EXPECT_EQ(state.limiterGain, 1.0f);
}

TEST(TapIO, LimitsFullScaleAtDoubleGainAndReleasesAfterwards)
{
    Buffers in({ 2 }, 512), out({ 2 }, 512);
    fill(in, 0, 1.0f);
    const float release = AppTap::releaseCoefficient(48000.0);
    RTState state;
    prime(state, 2.0f, 2.0f, release);
    for (int cycle = 0; cycle < 4; ++cycle) {
        renderTapIO(state, in.list(), out.list());
        for (float sample : out.samples(0)) {
            EXPECT_GE(sample, 0.99f - 1e-6f);
            // The instant attack brings every limited frame to exactly 0.99; a frame between two attacks may
            // rise by one release step.
            EXPECT_LE(sample, 0.99f + 2.0f * release);
        }
    }
    EXPECT_EQ(out.samples(0)[0], 0.99f);
    const float limited = state.limiterGain;
    EXPECT_NEAR(limited, 0.495f, 1e-4f);

    fill(in, 0, 0.0f);
    renderTapIO(state, in.list(), out.list());
    for (float sample : out.samples(0))
        EXPECT_EQ(sample, 0.0f);
    const double expected = 1.0 - (1.0 - limited) * std::pow(1.0 - release, 512.0);
    EXPECT_NEAR(state.limiterGain, expected, 1e-4);
    EXPECT_GT(state.limiterGain, limited);
}

TEST(TapIO, OutputChannelKCarriesSourceChannelKAcrossBuffers)
{
    Buffers in({ 2 }, 8);
    for (int n = 0; n < 8; ++n) {
        in.samples(0)[2 * n] = 0.1f * float(n + 1);
        in.samples(0)[2 * n + 1] = -0.05f * float(n + 1);
    }
    RTState state;
    prime(state, 0.5f, 0.5f);

    Buffers fourChannels({ 4 }, 8);
    fill(fourChannels, 0, 9.0f);
    renderTapIO(state, in.list(), fourChannels.list());
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(fourChannels.samples(0)[4 * n], 0.5f * in.samples(0)[2 * n]);
        EXPECT_EQ(fourChannels.samples(0)[4 * n + 1], 0.5f * in.samples(0)[2 * n + 1]);
        EXPECT_EQ(fourChannels.samples(0)[4 * n + 2], 0.0f);
        EXPECT_EQ(fourChannels.samples(0)[4 * n + 3], 0.0f);
    }

    Buffers twoMono({ 1, 1 }, 8);
    renderTapIO(state, in.list(), twoMono.list());
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(twoMono.samples(0)[n], 0.5f * in.samples(0)[2 * n]);
        EXPECT_EQ(twoMono.samples(1)[n], 0.5f * in.samples(0)[2 * n + 1]);
    }

    // A null buffer is skipped but still counts its channel: the right channel lands in the second buffer.
    Buffers withNull({ 1, 1 }, 8);
    withNull.setNull(0);
    renderTapIO(state, in.list(), withNull.list());
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(withNull.samples(1)[n], 0.5f * in.samples(0)[2 * n + 1]);
}

TEST(TapIO, SilenceWithoutASourceAndBeyondTheCapturedFrames)
{
    Buffers in({ 2 }, 4), out({ 2 }, 8);
    fill(in, 0, 0.25f);
    fill(out, 0, 7.0f);
    RTState state;
    prime(state, 1.0f, 1.0f);
    renderTapIO(state, in.list(), out.list());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out.samples(0)[i], 0.25f);
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(out.samples(0)[i], 0.0f) << "frames without input are silent";

    fill(out, 0, 7.0f);
    state.inputOffset = 1; // no such input buffer
    state.targetGain = 0.3f;
    renderTapIO(state, in.list(), out.list());
    for (float sample : out.samples(0))
        EXPECT_EQ(sample, 0.0f);
    EXPECT_EQ(state.currentGain, 0.3f) << "the gain moves on even without a source";

    fill(out, 0, 7.0f);
    state.inputOffset = 0;
    in.setNull(0);
    renderTapIO(state, in.list(), out.list());
    for (float sample : out.samples(0))
        EXPECT_EQ(sample, 0.0f);
}

TEST(TapIO, ReadsTheTapBehindTheDevicesOwnInputs)
{
    Buffers in({ 2, 2 }, 16), out({ 2 }, 16);
    fill(in, 0, 0.125f); // the output device's own input
    fill(in, 1, 0.5f); // the tap
    RTState state;
    prime(state, 1.0f, 1.0f);
    state.inputOffset = 1;
    renderTapIO(state, in.list(), out.list());
    for (float sample : out.samples(0))
        EXPECT_EQ(sample, 0.5f);
}

TEST(TapIO, MatchesTheFrameLoopSampleForSample)
{
    // Segments of steady and changing gains over quiet and clipping input, so that the limiter engages,
    // releases and settles; every cycle has a random length, input length and buffer layout. Every output
    // sample and the state must match the plain frame loop bit for bit.
    struct Segment {
        float gain;
        float amplitude;
        int cycles;
    };
    const Segment segments[] = { { 0.5f, 0.3f, 200 }, { 2.5f, 1.0f, 40 }, { 2.5f, 0.3f, 600 }, { 1.7f, 0.3f, 100 },
        { 0.0f, 0.5f, 30 }, { 2.0f, 1.0f, 20 }, { 0.8f, 0.9f, 300 } };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const std::vector<std::vector<std::uint32_t>> layouts { { 2 }, { 2 }, { 1, 1 }, { 4 }, { 2, 2 }, { 1 }, { 3 } };
    const float release = AppTap::releaseCoefficient(48000);
    RTState fast, plain;
    prime(fast, 1.0f, 1.0f, release);
    prime(plain, 1.0f, 1.0f, release);
    int settled = 0;
    for (const Segment& segment : segments) {
        fast.targetGain = segment.gain;
        plain.targetGain = segment.gain;
        for (int cycle = 0; cycle < segment.cycles; ++cycle) {
            const std::uint32_t frames = std::uint32_t(1 + random() % 600);
            const auto& layout = layouts[random() % layouts.size()];
            const std::uint32_t sourceChannels = random() % 6 == 0 ? 1 : 2;
            Buffers in({ sourceChannels }, frames - (random() % 4 == 0 ? frames / 3 : 0));
            for (float& s : in.samples(0))
                s = segment.amplitude * unit(random);
            const float l = fast.limiterGain;
            settled += fast.currentGain == segment.gain && l + release * (1.0f - l) == l;
            Buffers outFast(layout, frames), outPlain(layout, frames);
            renderTapIO(fast, in.list(), outFast.list());
            referenceTapIO(plain, in.list(), outPlain.list());
            for (std::size_t b = 0; b < layout.size(); ++b)
                ASSERT_EQ(
                    std::memcmp(outFast.samples(b).data(), outPlain.samples(b).data(), outFast.samples(b).size() * 4),
                    0)
                    << "gain " << segment.gain << " cycle " << cycle << " buffer " << b;
            ASSERT_EQ(fast.limiterGain.load(), plain.limiterGain.load());
            ASSERT_EQ(fast.currentGain.load(), plain.currentGain.load());
        }
    }
    EXPECT_GT(settled, 300) << "cycles with a settled limiter and a steady gain were exercised";
    EXPECT_LT(fast.limiterGain, 1.0f) << "the limiter engaged at some point";
}

TEST(TapIO, ReleaseCoefficientFollowsTheSampleRate)
{
    EXPECT_NEAR(AppTap::releaseCoefficient(48000.0), 0.00013888, 1e-8);
    EXPECT_NEAR(AppTap::releaseCoefficient(44100.0), 0.00015116, 1e-8);
    EXPECT_NEAR(AppTap::releaseCoefficient(8000.0), 0.00083299, 1e-8);
    EXPECT_EQ(AppTap::releaseCoefficient(4000.0), AppTap::releaseCoefficient(8000.0));
    EXPECT_EQ(AppTap::releaseCoefficient(std::nan("")), AppTap::releaseCoefficient(8000.0));
}
