#include "platform/audio/linux/pulse_reconnection.h"

#include "platform/audio/linux/aggregate_devices.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/tap_sinks.h"
#include "platform/serial_queue.h"

#include <chrono>
#include <thread>

namespace sonaric
{

PulseReconnection::PulseReconnection(PulseObjectTable& table, TapSinks& tapSinks, AggregateDevices& aggregates,
    std::mutex& operations, SerialQueue& control, int requestTimeoutMs, int serverGraceMs, Hooks hooks)
    : m_table(table)
    , m_tapSinks(tapSinks)
    , m_aggregates(aggregates)
    , m_operations(operations)
    , m_control(control)
    , m_requestTimeoutMs(requestTimeoutMs)
    , m_serverGraceMs(serverGraceMs)
    , m_hooks(std::move(hooks))
{
}

void PulseReconnection::connectionStateChanged(bool ready)
{
    if (ready)
        return;
    std::lock_guard lock(m_table.mutex());
    if (m_table.stopping() || !m_table.connected())
        return;
    m_table.setConnected(false);
    m_control.async([this] { reconnect(); });
}

void PulseReconnection::reconnect()
{
    const auto lost = std::chrono::steady_clock::now();
    bool vanished = false;
    for (;;) {
        {
            std::lock_guard lock(m_table.mutex());
            if (m_table.stopping() || m_table.connected())
                return;
        }
        auto connection = std::make_unique<PulseConnection>(
            QStringLiteral("Sonaric"), QList<QPair<QString, QString>> {}, m_requestTimeoutMs);
        if (connection->connect(500, nullptr)) {
            std::lock_guard ops(m_operations);
            m_tapSinks.setServer(connection->serverName());
            if (PulseConnection* adopted = m_hooks.adopt(std::move(connection))) {
                rebuild(*adopted);
                m_hooks.announce();
                return;
            }
        }
        if (!vanished && std::chrono::steady_clock::now() - lost > std::chrono::milliseconds(m_serverGraceMs)) {
            vanished = true;
            serverLost();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

void PulseReconnection::serverLost()
{
    {
        std::lock_guard lock(m_table.mutex());
        m_table.clearSnapshot();
    }
    m_hooks.announce();
}

void PulseReconnection::rebuild(PulseConnection& connection)
{
    // A server that restarted lost every tap sink and stream of ours (the applications reconnect on their own);
    // one that only stopped answering for a while still has them. Rebuild what is gone behind the same tap IDs,
    // keep what is still there, and restart what was running, so the engine above sees nothing.
    const auto kept = m_tapSinks.restoreAfterReconnect(connection);
    // A tap destroyed while the server did not answer could not unload its sink: do it now, sending whatever
    // plays in it to the default device (a tap that wants the application takes it from there).
    m_tapSinks.unloadOrphans(connection);
    m_aggregates.restartAfterReconnect(kept);
}

} // namespace sonaric
