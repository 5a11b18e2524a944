#pragma once

// The objects of the simulated audio system, shared by SimulatedAudioHardware (which answers for them and
// changes them) and SimulatedAudioRenderer (which plays them).

#include "platform/audio/audio_hardware.h"
#include "platform/scene/scene.h"

#include <cstdint>
#include <vector>

namespace sonaric
{

struct SimDevice {
    AudioObjectID id = 0;
    SceneDevice scene; ///< as the scene describes it
    // Aggregate devices made by the program.
    bool isAggregate = false;
    CFDictionary description;
    AudioObjectID subDevice = 0;
    std::vector<AudioObjectID> taps;
    int aliveAfterReads = 0; ///< a new aggregate device reports alive only after this many reads
    std::vector<float> played; ///< real devices: what they played, interleaved
};

struct SimProcess {
    AudioObjectID id = 0;
    SceneProcess scene;
    std::uint64_t phaseFrames = 0;
    std::uint32_t noiseState = 0x12345678;
};

struct SimTap {
    AudioObjectID id = 0;
    CATapDescription description;
};

struct SimIOProc {
    AudioObjectID device = 0;
    AudioDeviceIOBlock block;
    bool running = false;
};

/// The channels of a device's streams together.
inline std::uint32_t totalChannels(const std::vector<std::uint32_t>& streams)
{
    std::uint32_t total = 0;
    for (std::uint32_t c : streams)
        total += c;
    return total;
}

} // namespace sonaric
