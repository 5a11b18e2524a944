#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>

namespace sonaric
{

class PulseConnection;
class PulseObjectTable;
class StreamMover;
struct AggregateDeviceRecord;

/// The aggregate devices: their IO procs, and starting and stopping the IO path that carries a tap sink's
/// sound through the IO block into the sub-device (inside PipeWire's graph where it can, else through pulse
/// streams).
///
/// Locking: every call but the three state reads is made under the backend's operations lock, which guards an
/// aggregate's running proc; the table and an aggregate's IO path, moved-in flag and IO procs change under the
/// table's snapshot lock too, taken here for each step and never held while a path starts or stops. The IO
/// path's real-time thread runs only the IO block, over buffers allocated before it starts.
class AggregateDevices
{
public:
    /// `moveInLater` moves the tapped streams of a device into its tap, later and on another thread; it is
    /// called when the tap's sound first arrives.
    AggregateDevices(PulseObjectTable& table, StreamMover& mover, bool pipeWireGraph,
        std::function<void(AudioObjectID)> moveInLater);
    ~AggregateDevices();

    /// The playback queue's target of a path through pulse streams.
    void setLatencyMs(std::uint32_t latencyMs) { m_latencyMs = latencyMs; }

    /// An aggregate device as described, not yet checked against the server.
    struct Description {
        std::unique_ptr<AggregateDeviceRecord> record;
        QString tapUID;
        QString mainSubDevice;
    };
    /// Reads a description; noErr when it is one a sound server can carry (one sub-device, one tap).
    static OSStatus describe(const CFDictionary& description, AudioObjectID* outDeviceID, Description* out);

    OSStatus create(Description description, AudioObjectID* outDeviceID);
    OSStatus destroy(PulseConnection& connection, AudioObjectID deviceID);
    OSStatus createIOProc(AudioObjectID device, AudioDeviceIOBlock block, AudioDeviceIOProcID* outProcID);
    OSStatus destroyIOProc(PulseConnection& connection, AudioObjectID device, AudioDeviceIOProcID procID);
    OSStatus start(AudioObjectID device, AudioDeviceIOProcID procID);
    OSStatus stop(PulseConnection& connection, AudioObjectID device, AudioDeviceIOProcID procID);
    /// Stops the running devices that read a tap.
    void stopReadersOf(PulseConnection& connection, AudioObjectID tapID);
    /// Stops every device, at the end.
    void stopAll(PulseConnection& connection);
    /// After a reconnection: restarts every device that ran, with the same IO block. The streams of a device
    /// whose tap is not in `keptTaps` are no longer in its sink.
    void restartAfterReconnect(const std::set<AudioObjectID>& keptTaps);

    // State reads; they take the snapshot lock only.
    bool isTapping(AudioObjectID aggregateID) const;
    std::uint64_t underruns(AudioObjectID aggregateID) const;
    std::uint64_t totalUnderruns() const;

private:
    /// The device and one of its IO procs; the caller holds the snapshot lock.
    OSStatus withProc(AudioObjectID device, AudioDeviceIOProcID procID, AggregateDeviceRecord** outAggregate) const;
    OSStatus startPath(AudioObjectID id, AggregateDeviceRecord& aggregate);
    void stopPath(PulseConnection& connection, AggregateDeviceRecord& aggregate);
    bool serverIsPipeWire() const;

    PulseObjectTable& m_table;
    StreamMover& m_mover;
    bool m_pipeWireGraph = true;
    std::function<void(AudioObjectID)> m_moveInLater;
    std::uint32_t m_latencyMs = 10;
};

} // namespace sonaric
