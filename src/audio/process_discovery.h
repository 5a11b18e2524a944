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
    QString name; ///< the hardware's own name for the process; null when unreadable or empty
    bool operator==(const RawProcess&) const = default;
};

/// Bundle identifiers that are never listed.
const std::set<QString>& hidden();

/// Every process object, in the hardware's order. `listStatus`, when given, receives the status of the
/// process list's read: a list that could not be read comes back empty, like a list with no processes.
std::vector<RawProcess> rawProcesses(AudioHardware& hw, OSStatus* listStatus = nullptr);
/// The grouped applications, named by the workspace's application, else the hardware's name for the process,
/// else its bundle identifier, else its pid; sorted by name ignoring case in the collation of the current locale (the
/// root collation in the C locale).
std::vector<AudioApp> apps(AudioHardware& hw, const Workspace& workspace, OSStatus* listStatus = nullptr);

} // namespace sonaric::ProcessDiscovery
