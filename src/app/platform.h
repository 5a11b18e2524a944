#pragma once

// The composition root's choice of platform: the real Linux services when a sound server answers, otherwise
// the simulated system built from a scene.

#include "platform/audio/audio_hardware.h"
#include "platform/bundle/bundle_services.h"
#include "platform/scripting/scripting.h"
#include "platform/workspace/workspace.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <memory>

namespace sonaric
{

class SimulatedAudioHardware;

struct PlatformChoice {
    enum class Kind { automatic, sim, linux };
    Kind kind = Kind::automatic;
    QString sceneFile; ///< empty: the built-in demo scene
    QString error; ///< set when the arguments or environment make no sense
};

/// Reads --platform=sim|linux and --scene FILE (also --scene=FILE), falling back to SONARIC_PLATFORM and
/// SONARIC_SCENE. Arguments win over the environment.
PlatformChoice parsePlatformChoice(const QStringList& arguments, const QProcessEnvironment& environment);

/// The platform services the program runs on.
struct Platform {
    std::unique_ptr<AudioHardware> audio;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<Scripting> scripting;
    /// This program's own bundle, update images and signatures (the updater's platform).
    std::unique_ptr<BundleServices> bundles;
    SimulatedAudioHardware* simulated = nullptr; ///< set when the audio hardware is the simulated system
    QString description; ///< one line for standard error: which platform and why
    /// One plain line the mixer and the tooltip show on the simulated system, so nobody takes the demo for
    /// their own desktop; empty on the real one.
    QString notice;
    QString error; ///< set when no platform could be built (bad scene file, unavailable backend)
};

Platform makePlatform(const PlatformChoice& choice);

} // namespace sonaric
