// The tap's IO cycle against a plain `out = in * g` loop over the same buffers, in the same run.
// Music-like input (a mix of sines at -10 dBFS at gain 1.5: the limiter never engages) and full-scale noise at
// gain 2 (it engages on every frame). The straightforward frame loop kept in the tests runs beside them.

#include "audio/tap_io.h"

#include "audio/buffers.h"
#include "audio/reference_tap_io.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

enum Input { music = 0, noise = 1 };

struct Cycle {
    Buffers in;
    Buffers out;
    RTState state;
    float gain;

    Cycle(std::uint32_t frames, Input input)
        : in({ 2 }, frames)
        , out({ 2 }, frames)
        , gain(input == music ? 1.5f : 2.0f)
    {
        std::mt19937 random(1);
        std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
        auto& samples = in.samples(0);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const double t = double(i / 2) / 48000.0;
            samples[i] = input == music ? float(0.15 * std::sin(2 * M_PI * 220 * t)
                             + 0.1 * std::sin(2 * M_PI * 331 * t + i % 2) + 0.05 * std::sin(2 * M_PI * 1250 * t))
                                        : (unit(random) > 0 ? 1.0f : -1.0f);
        }
        state.currentGain = gain;
        state.targetGain = gain;
        state.releaseCoeff = 0.00013888f;
    }
};

void BM_PlainGain(benchmark::State& s)
{
    Cycle c(std::uint32_t(s.range(0)), Input(s.range(1)));
    volatile float gainSource = c.gain;
    for (auto _ : s) {
        const float g = gainSource;
        const float* in = c.in.samples(0).data();
        float* out = c.out.samples(0).data();
        const std::size_t n = c.in.samples(0).size();
        for (std::size_t i = 0; i < n; ++i)
            out[i] = in[i] * g;
        benchmark::ClobberMemory();
    }
}

void BM_TapIO(benchmark::State& s)
{
    Cycle c(std::uint32_t(s.range(0)), Input(s.range(1)));
    for (auto _ : s) {
        renderTapIO(c.state, c.in.list(), c.out.list());
        benchmark::ClobberMemory();
    }
}

void BM_FrameLoop(benchmark::State& s)
{
    Cycle c(std::uint32_t(s.range(0)), Input(s.range(1)));
    for (auto _ : s) {
        referenceTapIO(c.state, c.in.list(), c.out.list());
        benchmark::ClobberMemory();
    }
}

void sizes(benchmark::internal::Benchmark* b)
{
    for (int input : { music, noise })
        for (int frames : { 64, 512, 4096 })
            b->Args({ frames, input });
    b->ArgNames({ "frames", "noise" });
}

} // namespace

BENCHMARK(BM_PlainGain)->Apply(sizes);
BENCHMARK(BM_TapIO)->Apply(sizes);
BENCHMARK(BM_FrameLoop)->Apply(sizes);
BENCHMARK_MAIN();
