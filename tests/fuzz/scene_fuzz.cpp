// Scene files come from the command line (--scene FILE, SONARIC_SCENE): whatever a user points Sonaric at.
// Loading one gives a scene or one line naming the problem; a scene builds the simulated system, which lists
// its applications and devices and renders a cycle, as `sonaric --scene FILE --list` and the demo do.

#include "audio/ca.h"
#include "audio/process_discovery.h"
#include "fuzz/fuzz_support.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/scene/scene.h"
#include "platform/workspace/sim/simulated_workspace.h"

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const SceneLoadResult loaded = parseScene(fuzz::bytes(data, size), QStringLiteral("fuzz.json"));
    if (!loaded.scene) {
        fuzz::expect(loaded.error.startsWith(QStringLiteral("fuzz.json: ")), "an error names its source");
        fuzz::expect(!loaded.error.contains(u'\n') && !loaded.error.contains(u'\r'), "an error is one line");
        return 0;
    }
    fuzz::expect(loaded.error.isEmpty(), "a loaded scene has no error");
    SimulatedAudioHardware hw(*loaded.scene);
    SimulatedWorkspace workspace(*loaded.scene);
    for (const AudioApp& app : ProcessDiscovery::apps(hw, workspace))
        fuzz::expect(!app.processObjects.empty(), "every listed application has a process object");
    const auto devices = CA::outputDevices(hw);
    CA::defaultOutputDevice(hw);
    fuzz::expect(devices.size() <= loaded.scene->devices.size(), "no device that the scene does not hold");
    hw.advance(hw.bufferFrames());
    return 0;
}
