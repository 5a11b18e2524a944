#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <vector>

struct pa_context;

namespace sonaric
{

class AggregateDevices;
class PulseConnection;
class PulseObjectTable;
struct DeviceChange;
class PulsePropertyReader;
class PulseReconnection;
class SerialQueue;
class StreamLevels;
class StreamMover;
class TapSinks;
struct SinkRecord;
struct ClientRecord;
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
///
/// This class is the front: it connects, keeps the snapshot current from the server's events, delivers the
/// listeners and hands each call to the part that does it — PulseObjectTable (the objects and their IDs),
/// PulsePropertyReader (property reads), TapSinks (the taps' null sinks, journal and watchdog),
/// AggregateDevices (IO procs and IO paths), StreamMover (moving streams and the server's memory of moves),
/// StreamLevels (a process's volume, mute and output device carried by its streams) and PulseReconnection (a
/// lost server). Locks: the operations lock (`m_ops`) serialises everything that changes
/// the server and guards the connection; the table's snapshot lock guards what the server's events and the
/// reads touch; the listener lock guards the listeners. One never waits for the server under the snapshot
/// lock, and takes the snapshot lock after the operations lock, never the other way round.
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
        /// The bundle identifier of a process whose streams name no application id; empty: none. The program
        /// passes the desktop entry that the process was started from (see DesktopEntries::forProcess).
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
    static std::unique_ptr<PulseAudioHardware> connect(
        Options options, QString* error, ConnectFailure* failure = nullptr);

    ~PulseAudioHardware() override;

    OSStatus getPropertyDataSize(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize,
        void* outData) override;
    OSStatus getPropertyString(
        AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue) override;
    OSStatus isPropertySettable(
        AudioObjectID object, const AudioObjectPropertyAddress& address, bool* outIsSettable) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize,
        const void* data) override;
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
    const QString& ownerToken() const;

private:
    struct Listener;

    explicit PulseAudioHardware(Options options);
    bool open(QString* error, ConnectFailure* failure);
    PulseConnection* adopt(std::unique_ptr<PulseConnection> connection);
    bool loadSnapshot();
    void subscribe();
    /// Runs `job` on the control queue under the operations lock, unless the server is away or this object
    /// is going.
    void later(std::function<void(PulseConnection&)> job);
    /// A level property's answer for `object`: bad object only when no object has that ID.
    OSStatus levelStatus(AudioObjectID object, OSStatus status) const;

    // Server events, on the connection's loop thread.
    void serverEvent(pa_context* context, unsigned facility, unsigned type, std::uint32_t index);
    /// A client's pid and names complete its streams (see ClientRecord).
    void clientEvent(pa_context* context, std::uint32_t index, bool removed);
    void clientArrived(const ClientRecord& client);
    void sinkArrived(const SinkRecord& sink);
    void streamArrived(const StreamRecord& stream);
    void defaultSinkChanged(const QString& name);
    /// Asks the server which sink is its default; the answer goes to defaultSinkChanged.
    void requestDefaultSink(pa_context* context);
    /// Tells the listeners what the change touched.
    void announce(const DeviceChange& change);
    void notify(AudioObjectPropertySelector selector);
    void announceAll();

    Options m_options;
    // Serialises every operation that changes the server (taps, moves, rebuilds) and guards m_connection.
    mutable std::mutex m_ops;
    std::unique_ptr<PulseObjectTable> m_table;
    std::unique_ptr<PulseConnection> m_connection;
    /// Server events seen so far; loadSnapshot reads again when one came in while it read.
    std::atomic<std::uint64_t> m_serverEvents { 0 };
    std::unique_ptr<PulsePropertyReader> m_properties;
    std::unique_ptr<TapSinks> m_tapSinks;
    std::unique_ptr<StreamMover> m_mover;
    std::unique_ptr<StreamLevels> m_levels;
    std::unique_ptr<AggregateDevices> m_aggregates;
    std::unique_ptr<PulseReconnection> m_reconnection;

    std::mutex m_listenerMutex;
    std::vector<Listener> m_listeners;

    // Declared last: its worker may still run jobs that use everything above while it drains.
    std::unique_ptr<SerialQueue> m_control;
};

} // namespace sonaric
