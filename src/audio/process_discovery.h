#pragma once

// Turns the hardware's audio processes into the applications the mixer lists: helpers fold into the
// application that owns them, system processes are hidden, names come from the workspace.

#include "audio/audio_app.h"
#include "platform/audio/audio_hardware.h"
#include "platform/workspace/workspace.h"

#include <set>
#include <vector>

namespace sonaric::ProcessDiscovery
{

/// One process object before grouping.
struct RawProcess {
    AudioObjectID object = 0;
    pid_t pid = -1; ///< -1 when unreadable
    QString bundleID; ///< null when unreadable or empty
    bool isRunningOutput = false;
    bool operator==(const RawProcess&) const = default;
};

/// Bundle identifiers that are never listed.
const std::set<QString>& hidden();

/// Every process object, in the hardware's order.
std::vector<RawProcess> rawProcesses(AudioHardware& hw);
/// The grouped applications, sorted by name ignoring case in the collation of the current locale (the root
/// collation in the C locale).
std::vector<AudioApp> apps(AudioHardware& hw, const Workspace& workspace);

} // namespace sonaric::ProcessDiscovery
