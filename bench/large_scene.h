#pragma once

// A busy system for the benchmarks: `applications` running applications and `processes` process objects.
// Every fifth process is an application's own, two in five are helpers that name their responsible application,
// one in five is a helper found only by its identifier, one in five a command-line process; a third play.

#include "platform/scene/scene.h"

namespace sonaric::bench
{

inline Scene largeScene(int applications, int processes)
{
    Scene scene;
    SceneDevice speakers;
    speakers.uid = QStringLiteral("spk");
    speakers.name = QStringLiteral("Speakers");
    speakers.isDefaultOutput = true;
    scene.devices.push_back(speakers);
    for (int a = 0; a < applications; ++a) {
        scene.applications.push_back(
            { 1000 + a, QStringLiteral("com.example.app%1").arg(a), QStringLiteral("Application %1").arg(a),
                a % 10 == 0 ? ActivationPolicy::accessory : ActivationPolicy::regular });
    }
    for (int p = 0; p < processes; ++p) {
        SceneProcess process;
        const int app = p % applications;
        process.pid = 100000 + p;
        switch (p % 5) {
        case 0:
            process.pid = 1000 + app;
            process.bundleID = QStringLiteral("com.example.app%1").arg(app);
            break;
        case 1:
        case 2:
            process.bundleID = QStringLiteral("com.example.app%1.helper").arg(app);
            process.responsiblePid = 1000 + app;
            break;
        case 3:
            process.bundleID = QStringLiteral("com.example.app%1.renderer").arg(app);
            break;
        default:
            break;
        }
        process.playing = p % 3 == 0;
        scene.processes.push_back(process);
    }
    return scene;
}

} // namespace sonaric::bench
