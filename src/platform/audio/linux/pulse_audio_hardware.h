#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <vector>

struct pa_context;

namespace sonaric
{

class AggregateIOPath;
class PulseConnection;
class SerialQueue;
class TapJournal;
struct SinkRecord;
struct StreamRecord;

/// The audio hardware service on the PulseAudio client API; works with PulseAudio and PipeWire's pulse
/// server.
///
/// Sinks are output devices (UID = sink name). A process object stands for one client process (its
/// `application.process.id`) and all of its playback streams. A process tap is a null sink of ours; an
/// aggregate device captures that sink's monitor and plays into its sub-device through the IO block, and
/// while it runs the tapped processes' streams are moved into the tap sink, new ones as they appear.
///
/// Object IDs are stable for the life of the object: a device keeps its ID by sink name and a process by
/// pid, also across a restart of the server. When the server goes away the objects stay readable for a
/// short grace period; if it comes back the taps and running aggregate devices are rebuilt behind the same
/// IDs, otherwise every device and process vanishes (listeners fire) until it does.
///
/// Reads are served from a snapshot kept current by server events and never wait for the server; the
/// operations on taps and aggregate devices do. Do not call those from a listener running on this object's
/// own threads (listeners are always delivered on the queue given).
class PulseAudioHardware final : public AudioHardware
{
public:
    struct Options {
        int connectTimeoutMs = 1000;
        /// How long any request may go unanswered; a server that lets one pass counts as gone until it
        /// answers a new connection (see PulseConnection).
        int requestTimeoutMs = 3000;
        /// Where the crash journal lives; empty: TapJournal::defaultPath().
        QString journalPath;
        /// The watchdog executable; empty: found beside this program or in the build tree. "none": no watchdog.
        QString watchdogPath;
        /// Undo the taps of dead Sonaric instances while connecting.
        bool recoverAtStart = true;
        /// Target of the playback queue of a tap path through pulse streams; 0: chosen for the server.
        std::uint32_t latencyMs = 0;
        /// On PipeWire, run tap paths inside its graph rather than through pulse streams.
        bool pipeWireGraph = true;
        /// How long objects outlive a lost server before they vanish.
        int serverGraceMs = 5000;
        /// The bundle identifier of a process whose streams name no application id; empty: none.
        std::function<QString(pid_t)> bundleIdentifierForProcess;
    };

    /// Why no hardware object came of a connect.
    enum class ConnectFailure {
        none,
        noServer, ///< nothing took the connection (or the server went away while it was being read)
        stoppedAnswering, ///< a server took the connection and then left it or a request unanswered
    };

    /// Connects to the running PulseAudio or PipeWire server; null (and `error` set) when none answers
    /// within about a second, or when the server stops answering while it is being read (a few seconds).
    static std::unique_ptr<AudioHardware> connect(QString* error, ConnectFailure* failure = nullptr);
    static std::unique_ptr<PulseAudioHardware> connect(
        Options options, QString* error, ConnectFailure* failure = nullptr);

    ~PulseAudioHardware() override;

    OSStatus getPropertyDataSize(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize,
        void* outData) override;
    OSStatus getPropertyString(
        AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue) override;
    OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
        DispatchQueue& queue, AudioObjectPropertyListenerBlock block) override;
    OSStatus createProcessTap(const CATapDescription& description, AudioObjectID* outTapID) override;
    OSStatus destroyProcessTap(AudioObjectID tapID) override;
    OSStatus createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID) override;
    OSStatus destroyAggregateDevice(AudioObjectID deviceID) override;
    OSStatus createIOProcIDWithBlock(
        AudioDeviceIOProcID* outProcID, AudioObjectID device, DispatchQueue* queue, AudioDeviceIOBlock block) override;
    OSStatus destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStart(AudioObjectID device, AudioDeviceIOProcID procID) override;
    OSStatus deviceStop(AudioObjectID device, AudioDeviceIOProcID procID) override;

    /// Whether the server currently answers.
    bool isConnected() const;
    /// The server's own name ("pulseaudio", "PulseAudio (on PipeWire 0.3.65)").
    QString serverName() const;
    /// Whether the aggregate device's IO path runs and the tapped streams have been moved into its tap.
    bool isTapping(AudioObjectID aggregate) const;
    /// Playback underruns of an aggregate device's IO path since it started.
    std::uint64_t underruns(AudioObjectID aggregate) const;
    /// Playback underruns of every running tap path since each started; for measurements.
    std::uint64_t totalUnderruns() const;
    /// The owner token written into this instance's tap sinks and journal.
    const QString& ownerToken() const { return m_owner; }

private:
    struct Tap;
    struct Aggregate;
    struct Listener;

    explicit PulseAudioHardware(Options options);
    bool open(QString* error, ConnectFailure* failure);
    bool loadSnapshot();
    void subscribe();
    void connectionStateChanged(bool ready);
    void reconnect();
    void serverLost();
    void rebuildAfterReconnect();

    // Server events, on the connection's loop thread.
    void serverEvent(pa_context* context, unsigned facility, unsigned type, std::uint32_t index);
    void sinkArrived(const SinkRecord& sink);
    void streamArrived(const StreamRecord& stream);
    void defaultSinkChanged(const QString& name);
    void notify(AudioObjectPropertySelector selector);

    // Tap maintenance; the caller holds m_ops.
    bool loadTapSink(Tap& tap);
    OSStatus startAggregate(AudioObjectID id, Aggregate& aggregate);
    bool serverIsPipeWire() const;
    void stopAggregate(Aggregate& aggregate);
    void moveIn(AudioObjectID aggregateID, const std::vector<std::uint32_t>& onlyStreams);
    void moveBack(Aggregate& aggregate, const Tap& tap);
    void evictStream(std::uint32_t index);
    void scrubRestoreMemory();
    void ensureWatchdog();

    // Snapshot lookups; the caller holds m_mutex.
    const SinkRecord* sinkNamed(const QString& name) const;
    const SinkRecord* deviceSink(AudioObjectID id) const;
    std::vector<const StreamRecord*> processStreams(AudioObjectID id) const;
    std::vector<AudioObjectID> deviceIDs() const;
    std::vector<AudioObjectID> processIDs() const;
    AudioObjectID idFor(std::map<QString, AudioObjectID>& table, const QString& key);
    QString bundleIdentifier(AudioObjectID process) const;

    Options m_options;
    QString m_owner;
    std::unique_ptr<TapJournal> m_journal;

    // Serialises every operation that changes the server (taps, moves, rebuilds).
    mutable std::mutex m_ops;
    // Guards the snapshot and the object tables below; never held while waiting for the server.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unique_ptr<PulseConnection> m_connection;
    bool m_connected = false;
    bool m_stopping = false;
    QString m_serverName;
    QString m_serverString;
    QString m_defaultSink;
    std::uint32_t m_defaultRate = 48000;
    std::vector<SinkRecord> m_sinks;
    std::vector<StreamRecord> m_streams;
    std::map<QString, AudioObjectID> m_deviceIds;
    std::map<QString, AudioObjectID> m_processIds;
    std::map<AudioObjectID, std::unique_ptr<Tap>> m_taps;
    std::map<AudioObjectID, std::unique_ptr<Aggregate>> m_aggregates;
    AudioObjectID m_nextId = 16;
    /// Server events seen so far; loadSnapshot reads again when one came in while it read.
    std::atomic<std::uint64_t> m_serverEvents { 0 };
    std::uintptr_t m_nextProc = 1;
    mutable std::map<pid_t, QString> m_bundleCache;

    std::mutex m_listenerMutex;
    std::vector<Listener> m_listeners;

    pid_t m_watchdog = -1;
    int m_watchdogPipe = -1;

    // Declared last: its worker may still run jobs that use everything above while it drains.
    std::unique_ptr<SerialQueue> m_control;
};

} // namespace sonaric
