#pragma once

// Shared by the Linux bench programs: the process object of a player they started, once the backend has seen
// its stream.

#include "audio/ca.h"

#include <chrono>
#include <sys/types.h>
#include <thread>

namespace sonaric::bench
{

/// The process object whose PID is `pid`, waiting up to 5 s for it to appear; 0 when it does not.
inline AudioObjectID processOf(AudioHardware& hw, pid_t pid)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (AudioObjectID id : CA::array(hw, kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList))
            if (CA::uint32(hw, id, kAudioProcessPropertyPID) == std::uint32_t(pid))
                return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

} // namespace sonaric::bench
