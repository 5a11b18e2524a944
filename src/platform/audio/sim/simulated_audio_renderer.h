#pragma once

// The simulated audio system's clock and sound: IO cycles over the hardware's objects and the record of what
// each output device played. It owns no objects; SimulatedAudioHardware lends it its own, and its lock.

#include "platform/audio/sim/simulated_audio_objects.h"

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

namespace sonaric
{

class SimulatedAudioRenderer
{
public:
    /// The objects the hardware keeps, read (and, for devices' records and processes' phases, written) under
    /// `mutex` on every cycle.
    SimulatedAudioRenderer(std::recursive_mutex& mutex, std::map<AudioObjectID, SimDevice>& devices,
        std::map<AudioObjectID, SimProcess>& processes, const std::vector<AudioObjectID>& processOrder,
        const std::map<AudioObjectID, SimTap>& taps, std::map<std::uintptr_t, SimIOProc>& ioProcs,
        const AudioObjectID& defaultOutput);
    ~SimulatedAudioRenderer();

    /// Renders `frames` frames on every device, in IO cycles of bufferFrames() (the last one may be shorter).
    void advance(std::uint32_t frames);
    std::uint32_t bufferFrames() const { return m_bufferFrames.load(std::memory_order_relaxed); }
    void setBufferFrames(std::uint32_t frames);
    /// Everything the output device with this UID played since the last call; empty for an unknown device.
    std::vector<float> takePlayed(const QString& uid);
    /// Runs advance() on a thread, paced to the wall clock, until stopRealTime() or destruction.
    void startRealTime();
    void stopRealTime();

private:
    using Device = SimDevice;
    using Process = SimProcess;

    void renderCycle(std::uint32_t frames);
    void renderProcess(Process& p, std::uint32_t frames, float* stereo);
    bool aggregateRunning(const Device& d) const;

    std::recursive_mutex& m_mutex;
    std::map<AudioObjectID, SimDevice>& m_devices;
    std::map<AudioObjectID, SimProcess>& m_processes;
    const std::vector<AudioObjectID>& m_processOrder;
    const std::map<AudioObjectID, SimTap>& m_taps;
    std::map<std::uintptr_t, SimIOProc>& m_ioProcs;
    const AudioObjectID& m_defaultOutput;
    /// Set under the mutex; atomic because the pacing thread reads it before it takes the mutex.
    std::atomic<std::uint32_t> m_bufferFrames { 512 };

    std::atomic<bool> m_realTime { false };
    std::thread m_pacer;
};

} // namespace sonaric
