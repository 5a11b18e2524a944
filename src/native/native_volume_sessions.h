#pragma once

// What the composition root wires the connectors from: the controller each source needs and one session per
// connector around it. Tests and benches hand in controllers of their own for some sources.

#include "native/native_volume_session.h"

#include <functional>
#include <memory>
#include <vector>

namespace sonaric
{

class Scripting;
class Workspace;

/// The controller that drives `source`: the page media script for a browser, app volume scripting for an
/// application. Both keep references to `scripting` and `workspace`.
std::unique_ptr<NativeVolumeControlling> makeNativeVolumeController(
    NativeVolumeSource source, Scripting& scripting, const Workspace& workspace);

using NativeVolumeControllerFactory = std::function<std::unique_ptr<NativeVolumeControlling>(NativeVolumeSource)>;

/// One session per connector, in the order of `NativeVolumeSource::allCases()`, each driving the controller
/// `controllers` makes for its source; their debounce runs on `clock` (null: each session's own timers).
std::vector<std::unique_ptr<NativeVolumeSession>> makeNativeVolumeSessions(
    const NativeVolumeControllerFactory& controllers, DelayClock* clock = nullptr);

} // namespace sonaric
