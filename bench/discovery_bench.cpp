// The cost of grouping processes into applications, against reading the raw process list alone.
// 500 process objects and 100 running applications: every application owns a few helpers found through the
// responsible-process function, some through the identifier prefix, and a few processes stand alone.

#include "audio/process_discovery.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <benchmark/benchmark.h>

using namespace sonaric;

namespace {

Scene largeScene()
{
    Scene scene;
    SceneDevice speakers;
    speakers.uid = QStringLiteral("spk");
    speakers.name = QStringLiteral("Speakers");
    speakers.isDefaultOutput = true;
    scene.devices.push_back(speakers);
    for (int a = 0; a < 100; ++a) {
        scene.applications.push_back({ 1000 + a, QStringLiteral("com.example.app%1").arg(a),
            QStringLiteral("Application %1").arg(a), a % 10 == 0 ? ActivationPolicy::accessory : ActivationPolicy::regular });
    }
    for (int p = 0; p < 500; ++p) {
        SceneProcess process;
        const int app = p % 100;
        process.pid = 5000 + p;
        switch (p % 5) {
        case 0: // the application's own process
            process.pid = 1000 + app;
            process.bundleID = QStringLiteral("com.example.app%1").arg(app);
            break;
        case 1: // a helper that names its responsible application
        case 2:
            process.bundleID = QStringLiteral("com.example.app%1.helper").arg(app);
            process.responsiblePid = 1000 + app;
            break;
        case 3: // a helper found only by its identifier
            process.bundleID = QStringLiteral("com.example.app%1.renderer").arg(app);
            break;
        default: // a command-line process
            break;
        }
        process.playing = p % 3 == 0;
        scene.processes.push_back(process);
    }
    return scene;
}

struct Fixture {
    Scene scene = largeScene();
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
