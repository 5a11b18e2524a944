#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace sonaric
{

class AggregateDevices;
class PulseConnection;
class PulseObjectTable;
class SerialQueue;
class TapSinks;

/// What the backend does when the server goes away: keeps the objects readable for a grace period while it
/// connects again every 250 ms, makes every object vanish once the grace period is over, and, when a server
/// answers, rebuilds the tap sinks and restarts the running aggregate devices behind the same IDs.
///
/// Locking: the connection's state handler runs on its loop thread and only flips the table's connected flag
/// under the snapshot lock; everything else runs on the control queue, and takes the backend's operations
/// lock from adopting a new connection to the end of the rebuild.
class PulseReconnection
{
public:
    struct Hooks {
        /// Makes a new connection the backend's, subscribes to its events and reads the server through it (the
        /// operations lock is held); returns it when the server's lists were read, else null.
        std::function<PulseConnection*(std::unique_ptr<PulseConnection>)> adopt;
        /// Tells the listeners that the devices, the default device and the process list may have changed.
        std::function<void()> announce;
    };

    PulseReconnection(PulseObjectTable& table, TapSinks& tapSinks, AggregateDevices& aggregates, std::mutex& operations,
        SerialQueue& control, int requestTimeoutMs, int serverGraceMs, Hooks hooks);

    /// The connection's state handler, on its loop thread.
    void connectionStateChanged(bool ready);

private:
    void reconnect();
    void serverLost();
    void rebuild(PulseConnection& connection);

    PulseObjectTable& m_table;
    TapSinks& m_tapSinks;
    AggregateDevices& m_aggregates;
    std::mutex& m_operations;
    SerialQueue& m_control;
    int m_requestTimeoutMs;
    int m_serverGraceMs;
    Hooks m_hooks;
};

} // namespace sonaric
