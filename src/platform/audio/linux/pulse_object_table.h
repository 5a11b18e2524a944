#pragma once

#include "platform/audio/audio_hardware.h"
#include "platform/audio/linux/aggregate_io_path.h"
#include "platform/audio/linux/pulse_snapshot.h"
#include "platform/audio/linux/restore_memory.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sonaric
{

/// A process tap: a null sink of ours that the tapped processes' streams are moved into.
///
/// `module` and `sinkIndex` change under both locks once the tap is in the table (server events read the
/// sink index on the loop thread); the rest is set before the tap enters the table and never changes.
struct ProcessTapRecord {
    QString uid;
    QString name;
    std::vector<QString> processKeys;
    QString sinkName;
    std::uint32_t sinkIndex = 0xffffffffu;
    std::uint32_t module = 0xffffffffu;
    QString monitor;
    std::uint32_t rate = 48000;
};

/// An aggregate device: one tap played into one sink through an IO block.
///
/// `ioPath` and `movedIn` change only under both locks (server events and the state reads look at them on
/// other threads); `procs` is changed under both and read under either; `runningProc`, `moved` and `restore`
/// belong to the operations lock alone.
struct AggregateDeviceRecord {
    QString uid;
    QString name;
    QString outputSink;
    AudioObjectID tap = 0;
    std::map<AudioDeviceIOProcID, AudioDeviceIOBlock> procs;
    AudioDeviceIOProcID runningProc = nullptr; ///< the started IO proc; what a rebuild restarts
    std::unique_ptr<AggregateIOPath> ioPath; ///< what carries the sound while the device runs
    bool movedIn = false;
    std::map<std::uint32_t, QString> moved; ///< stream index → the sink it came from
    std::vector<RestoreChange> restore; ///< stream memory before our moves, put back after each
};

/// What a sink event or a new default changed of what the backend lists. The default output device follows the
/// sinks as well as the name the server gives (a restarting server names its default before it has loaded that
/// sink), so it can change with a sink's arrival or departure.
struct DeviceChange {
    bool devices = false; ///< a device came or went, or one was renamed
    bool defaultDevice = false; ///< defaultDeviceID() is another
};

/// What the backend knows: the server's sinks and streams as its events keep them, and the audio objects
/// standing for them (devices by sink name, processes by process key) and for our own taps and aggregate
/// devices, each with its stable object ID.
///
/// Locking: everything here is guarded by mutex(), the snapshot lock, which the caller holds for every call
/// but mutex() itself; it is never held while waiting for the server. The tap and aggregate tables, and an
/// aggregate's IO path, change only while the caller also holds the backend's operations lock, so code holding
/// that lock alone may walk taps() and aggregates() (but not the snapshot). The real-time IO path never
/// comes here.
class PulseObjectTable
{
public:
    using Taps = std::map<AudioObjectID, std::unique_ptr<ProcessTapRecord>>;
    using Aggregates = std::map<AudioObjectID, std::unique_ptr<AggregateDeviceRecord>>;

    std::mutex& mutex() const { return m_mutex; }

    // Connection state.
    bool connected() const { return m_connected; }
    void setConnected(bool connected) { m_connected = connected; }
    bool stopping() const { return m_stopping; }
    void setStopping() { m_stopping = true; }

    // The snapshot, replaced whole after a (re)connection and kept current by server events.
    void replaceSnapshot(const QString& serverName, const QString& defaultSink, std::uint32_t defaultRate,
        std::vector<SinkRecord> sinks, std::vector<StreamRecord> streams, std::vector<ClientRecord> clients = {});
    /// Forgets every sink and stream (a server gone for good).
    void clearSnapshot();
    DeviceChange removeSink(std::uint32_t index);
    DeviceChange updateSink(const SinkRecord& sink);
    /// Returns whether the process list changed.
    bool removeStream(std::uint32_t index);
    struct StreamUpdate {
        bool isNew = false;
        bool processListChanged = false;
    };
    /// The stream is completed from its client (when known) before it is stored.
    StreamUpdate updateStream(const StreamRecord& stream);
    /// Completes the client's streams; returns whether the process list changed (a stream that came before
    /// its client's pid was known moves to its process).
    bool updateClient(const ClientRecord& client);
    void removeClient(std::uint32_t index);
    DeviceChange setDefaultSink(const QString& name);
    /// Waits (releasing `lock`, which holds mutex()) until a sink of this name is in the snapshot.
    const SinkRecord* waitForSink(
        std::unique_lock<std::mutex>& lock, const QString& name, std::chrono::milliseconds timeout) const;

    const QString& serverName() const { return m_serverName; }
    const QString& defaultSink() const { return m_defaultSink; }
    std::uint32_t defaultRate() const { return m_defaultRate; }
    const std::vector<SinkRecord>& sinks() const { return m_sinks; }
    const std::vector<StreamRecord>& streams() const { return m_streams; }
    const SinkRecord* sinkNamed(const QString& name) const;
    const SinkRecord* sinkWithIndex(std::uint32_t index) const;
    /// Indices of the streams playing into a sink.
    std::vector<std::uint32_t> streamsIn(std::uint32_t sinkIndex) const;

    // Devices and processes.
    const SinkRecord* deviceSink(AudioObjectID id) const;
    std::vector<const StreamRecord*> processStreams(AudioObjectID id) const;
    std::vector<AudioObjectID> deviceIDs() const;
    std::vector<AudioObjectID> processIDs() const;
    /// The default sink's device. A server that names no device as its default (pipewire-pulse says
    /// "@DEFAULT_SINK@" until its session manager picks one; a default may be the placeholder or a tap's sink)
    /// plays a new stream on a sink of its own choosing: the first device it lists stands for that one.
    /// 0 when there is no device at all.
    AudioObjectID defaultDeviceID() const;
    /// The process key of a process object, absent for an unknown ID.
    std::optional<QString> processKey(AudioObjectID id) const;

    // Our own objects.
    AudioObjectID newObjectID() { return m_nextId++; }
    AudioDeviceIOProcID newProcID() { return reinterpret_cast<AudioDeviceIOProcID>(m_nextProc++); }
    const Taps& taps() const { return m_taps; }
    const Aggregates& aggregates() const { return m_aggregates; }
    ProcessTapRecord* tap(AudioObjectID id) const;
    AggregateDeviceRecord* aggregate(AudioObjectID id) const;
    void addTap(AudioObjectID id, std::unique_ptr<ProcessTapRecord> tap);
    std::unique_ptr<ProcessTapRecord> takeTap(AudioObjectID id);
    void addAggregate(AudioObjectID id, std::unique_ptr<AggregateDeviceRecord> aggregate);
    std::unique_ptr<AggregateDeviceRecord> takeAggregate(AudioObjectID id);
    void clearObjects();

private:
    AudioObjectID idFor(std::map<QString, AudioObjectID>& table, const QString& key);

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed; ///< sinks or streams changed
    bool m_connected = false;
    bool m_stopping = false;
    QString m_serverName;
    QString m_defaultSink;
    std::uint32_t m_defaultRate = 48000;
    std::vector<SinkRecord> m_sinks;
    std::vector<StreamRecord> m_streams; ///< by index
    std::map<std::uint32_t, ClientRecord> m_clients; ///< by index
    std::map<QString, AudioObjectID> m_deviceIds;
    std::map<QString, AudioObjectID> m_processIds;
    Taps m_taps;
    Aggregates m_aggregates;
    AudioObjectID m_nextId = 16;
    std::uintptr_t m_nextProc = 1;
};

} // namespace sonaric
