// The cost of grouping processes into applications, against reading the raw process list alone.
// 500 process objects and 100 running applications.

#include "large_scene.h"

#include "audio/process_discovery.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <benchmark/benchmark.h>

using namespace sonaric;

namespace
{

struct Fixture {
    Scene scene = bench::largeScene(100, 500);
    SimulatedAudioHardware hw { scene };
    SimulatedWorkspace workspace { scene };
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_RawProcesses(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto raw = ProcessDiscovery::rawProcesses(f.hw);
        benchmark::DoNotOptimize(raw.data());
    }
    state.counters["objects"] = double(ProcessDiscovery::rawProcesses(f.hw).size());
}

void BM_Apps(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto apps = ProcessDiscovery::apps(f.hw, f.workspace);
        benchmark::DoNotOptimize(apps.data());
    }
    state.counters["apps"] = double(ProcessDiscovery::apps(f.hw, f.workspace).size());
}

} // namespace

BENCHMARK(BM_RawProcesses)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Apps)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
