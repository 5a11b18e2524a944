#pragma once

// The description of a simulated system: its devices, running applications and audio processes.
// Loaded from JSON (see docs/scenes.md); the simulated services are built from it.

#include "platform/audio/audio_hardware.h"
#include "platform/workspace/workspace.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace sonaric
{

/// What a process plays while it runs output. Samples are generated per channel of a stereo pair.
struct SceneSignal {
    enum class Kind { sine, silence, fullScale, noise };
    Kind kind = Kind::sine;
    float amplitude = 0.5f;
    double frequency = 440.0;
    bool operator==(const SceneSignal&) const = default;
};

struct SceneDevice {
    AudioObjectID objectID = 0; ///< 0: assigned when the hardware is built
    QString uid;
    std::optional<QString> name; ///< absent: the name cannot be read
    std::uint32_t transport = kAudioDeviceTransportTypeBuiltIn;
    bool canBeDefaultOutput = true;
    bool isDefaultOutput = false;
    double sampleRate = 48000.0;
    std::vector<std::uint32_t> outputStreams { 2 }; ///< channels per output buffer
    std::vector<std::uint32_t> inputStreams; ///< channels per input buffer of the device itself
    bool operator==(const SceneDevice&) const = default;
};

struct SceneProcess {
    AudioObjectID objectID = 0; ///< 0: assigned when the hardware is built
    pid_t pid = 0;
    QString bundleID; ///< null: the process has no bundle identifier
    bool playing = false;
    QString name; ///< null: the hardware has no name for the process
    std::optional<pid_t> responsiblePid; ///< absent: the process is responsible for itself
    SceneSignal signal;
    bool operator==(const SceneProcess&) const = default;
};

struct Scene {
    std::vector<SceneDevice> devices;
    std::vector<RunningApplication> applications;
    std::vector<SceneProcess> processes;
    std::vector<QString> installed; ///< bundle identifiers installed besides the running applications
    std::map<QString, QString> applicationIcons; ///< bundle identifier → icon theme name or absolute file path
    std::optional<pid_t> ownPid; ///< this program's pid inside the scene; absent: the real one
    bool hasResponsibleProcessFunction = true;
};

struct SceneLoadResult {
    std::optional<Scene> scene;
    QString error; ///< one line naming the source and the problem, when `scene` is absent
};

/// Parses a scene; `source` names the text in error messages (a file path, or "demo scene").
SceneLoadResult parseScene(const QByteArray& json, const QString& source);
/// Reads and parses a scene file.
SceneLoadResult loadSceneFile(const QString& path);
/// The built-in demo scene: a desk with several devices and applications.
Scene demoScene();

} // namespace sonaric
