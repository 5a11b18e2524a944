#pragma once

#include "platform/audio/audio_hardware.h"
#include "platform/audio/linux/pulse_snapshot.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/session_memory.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/types.h>
#include <vector>

namespace sonaric
{

class PulseConnection;
class PulseObjectTable;
class TapSinks;
struct StreamRecord;

/// A process's level and route carried by the sound server itself: the volume, mute and sink of each of its
/// streams (kAudioProcessPropertyVolumeScalar, kAudioProcessPropertyMute, kAudioProcessPropertyOutputDevice).
///
/// Per process it keeps a factor, a mute and a device; per stream it holds, from the first time we change it,
/// what the stream has of its own: its volume (every channel), its mute and its sink. The stream then plays at
/// own volume × factor, muted when either mute is on, on the process's device or its own sink. A stream that
/// plays in one of our tap sinks is never moved from there: only the sink its tap sends it back to changes.
/// All three back at neutral releases the process: every held stream gets its own volume, mute and sink back.
///
/// Someone else changing a held stream's volume or mute (another mixer) wins, with no tug of war: what they
/// set becomes the stream's own (volume divided by the factor), nothing is written back, and a release
/// restores that. Our own changes are told apart by comparing with what we wrote (±1 per channel).
///
/// Nothing outlives us: the server's stream memory is read before and put back after each of our changes (the
/// entries our writes can teach are journaled before the first of them), and the held streams' originals are in
/// the journal for the next start and the watchdog. PipeWire's session manager keeps a memory of its own that
/// the pulse protocol cannot reach; it ends where it was because a release writes the own values back, and a new
/// stream it starts where we put its siblings takes their own values (see docs/linux-audio.md).
///
/// Locking: the changes run under the backend's operations lock (which also guards the aggregates' `moved`
/// maps); the state here has a lock of its own, taken after the snapshot lock and never held while waiting for
/// the server, so the reads and the loop thread's events can look at it.
class StreamLevels
{
public:
    StreamLevels(PulseObjectTable& table, TapSinks& tapSinks);

    static bool isLevelProperty(AudioObjectPropertySelector selector);

    /// kAudioHardwareBadObjectError when `process` is no process object.
    OSStatus isSettable(AudioObjectID process, bool* outIsSettable) const;
    OSStatus dataSize(AudioObjectID process, AudioObjectPropertySelector selector, std::uint32_t* outDataSize) const;
    OSStatus data(
        AudioObjectID process, AudioObjectPropertySelector selector, std::uint32_t* ioDataSize, void* outData) const;

    /// Sets one property and carries it out on every stream of the process; returns once the server took it.
    OSStatus set(PulseConnection& connection, AudioObjectID process, AudioObjectPropertySelector selector,
        std::uint32_t dataSize, const void* data);
    /// Gives a stream that appeared after its process's level was set that level.
    void applyToStream(PulseConnection& connection, std::uint32_t index);
    /// Releases every process, at the end.
    void releaseAll(PulseConnection& connection);
    /// After the server came back: forgets the held streams it no longer has (a restarted server numbers its
    /// streams anew, so the pid must match too) and gives every process its level again.
    void reapply(PulseConnection& connection);
    /// Puts back what the server wrote into its stream memory after our changes had been undone there: every
    /// entry keyed by a held stream's application id, name or media role goes back to how it was before our
    /// first change, while anything is held and for a few seconds after the last release.
    void scrubRestoreMemory(PulseConnection& connection);
    /// Writes the held streams to the journal as they are now.
    void writeJournal();

    struct Arrival {
        bool apply = false; ///< a stream of a held process to give its level (applyToStream)
        bool adopted = false; ///< someone else changed a held stream: the journal needs writing
    };
    /// On the loop thread with the snapshot lock held: a stream appeared or changed.
    Arrival streamChanged(const StreamRecord& stream, bool isNew);
    /// With the snapshot lock held: a stream is gone. True when it was held on PipeWire with our values on it:
    /// they stay in the session manager's memory for the application's next stream unless its own are written
    /// there, which `writeDepartedMemory` then does (once for any number of streams of one key gone meanwhile).
    bool streamRemoved(std::uint32_t index);
    /// Writes the own values of the held streams that ended into PipeWire's session manager's memory.
    void writeDepartedMemory();

private:
    struct Level {
        float factor = 1.0f;
        bool mute = false;
        AudioObjectID device = kAudioObjectUnknown;
        QString sink; ///< the device's sink; empty: each stream's own
        bool neutral() const { return factor == 1.0f && !mute && device == kAudioObjectUnknown; }
    };
    struct Held {
        QString processKey;
        pid_t pid = -1;
        SessionMemoryKey memoryKey;
        std::vector<std::uint32_t> ownVolume;
        bool ownMute = false;
        QString ownSink;
        std::vector<std::uint32_t> lastVolume; ///< what the stream had when we last wrote or looked
        bool lastMute = false;
        QString lastSink; ///< where we last sent it
        std::vector<std::vector<std::uint32_t>> pendingVolumes; ///< written, not yet seen back in an event
        std::vector<bool> pendingMutes;

        /// Whether what we last put on the stream differs from its own (volume, mute, sink).
        bool volumeOurs() const { return !volumesClose(lastVolume, ownVolume); }
        bool muteOurs() const { return lastMute != ownMute; }
        bool sinkOurs() const { return !lastSink.isEmpty() && lastSink != ownSink; }
    };

    /// A new stream of a held process that starts where we put its siblings (or the one that just ended) takes
    /// their own values.
    void inheritFromSibling(Held& stream, const Level& level) const;
    OSStatus applyProcess(PulseConnection& connection, const QString& processKey, std::optional<std::uint32_t> only);
    std::optional<QString> knownProcess(AudioObjectID process) const;

    PulseObjectTable& m_table;
    TapSinks& m_tapSinks;
    mutable std::mutex m_mutex; ///< guards everything below
    std::map<QString, Level> m_levels; ///< by process key
    std::map<std::uint32_t, Held> m_held; ///< by stream index
    void expireMemoryLocked();

    std::vector<RestoreChange> m_restore; ///< the server's stream memory before our first change
    std::optional<RestoreTable> m_baseline; ///< the whole memory before our first change
    std::set<QString> m_memoryKeys; ///< application ids, names and media roles of the held streams
    std::chrono::steady_clock::time_point m_keepUntil; ///< scrubbing goes on until then after the last release

    std::map<QString, Held> m_departed; ///< held streams gone with our values on them, by memory key, until written
    struct Ended {
        Held stream;
        std::chrono::steady_clock::time_point until;
    };
    std::map<QString, Ended> m_ended; ///< the last held stream of each process that ended, for a few seconds
};

} // namespace sonaric
