// A mixer refresh in which nothing changed, against the discovery it starts with, in the same run.
// 200 applications over 500 process objects, a quarter of them with saved levels (and so with taps).

#include "large_scene.h"

#include "audio/process_discovery.h"
#include "model/mixer_model.h"
#include "native/native_volume_sessions.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/main_queue.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace sonaric;

namespace
{

struct Fixture {
    Scene description = bench::largeScene(200, 500);
    SimulatedAudioHardware hw { description };
    SimulatedWorkspace workspace { description };
    SimulatedScripting scripting;
    MainQueue mainQueue;
    QTemporaryDir dir;
    QSettings settings { dir.filePath(QStringLiteral("bench.conf")), QSettings::IniFormat };
    std::unique_ptr<MixerModel> model;

    Fixture()
    {
        QVariantMap levels;
        for (int a = 0; a < 200; a += 4)
            levels.insert(QStringLiteral("com.example.app%1").arg(a), 0.5f);
        settings.setValue(QStringLiteral("volumes"), levels);
        model = std::make_unique<MixerModel>(
            hw, workspace, settings, mainQueue, makeNativeVolumeSessions([this](NativeVolumeSource source) {
                return makeNativeVolumeController(source, scripting, workspace);
            }));
        model->engine().taps();
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_Discovery(benchmark::State& state)
{
    auto& f = fixture();
    for (auto _ : state) {
        auto apps = ProcessDiscovery::apps(f.hw, f.workspace);
        benchmark::DoNotOptimize(apps.data());
    }
}

void BM_RefreshUnchanged(benchmark::State& state)
{
    auto& f = fixture();
    const int before = f.model->engine().requestCount();
    for (auto _ : state)
        f.model->refresh();
    if (f.model->engine().requestCount() != before)
        state.SkipWithError("an unchanged refresh sent work to the engine");
    state.counters["apps"] = double(f.model->apps().size());
}

} // namespace

BENCHMARK(BM_Discovery)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RefreshUnchanged)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
