#include "platform/audio/linux/pulse_audio_hardware.h"

#include "platform/audio/linux/pipewire_aggregate_device.h"
#include "platform/audio/linux/pulse_aggregate_device.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/pulse_snapshot.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"
#include "platform/audio/linux/tap_recovery.h"
#include "platform/dispatch_queue.h"
#include "platform/serial_queue.h"
#include "platform/workspace/linux/desktop_entries.h"

#include <QFileInfo>
#include <QUuid>

#include <pulse/ext-stream-restore.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sonaric
{

namespace
{

constexpr AudioObjectPropertySelector kWildcard = fourCC("****");

/// A tap sink name from a tap UID: only characters that need no quoting in module arguments.
QString tapSinkName(const QString& uid)
{
    QString clean;
    for (QChar c : uid)
        if (c.isLetterOrNumber() && c.unicode() < 128)
            clean += c.toLower();
    return QLatin1String(kTapSinkPrefix) + clean.left(32);
}

template <typename T> OSStatus writeValue(const T& value, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize || !outData || *ioDataSize < sizeof(T))
        return kAudioHardwareBadPropertySizeError;
    std::memcpy(outData, &value, sizeof(T));
    *ioDataSize = sizeof(T);
    return noErr;
}

OSStatus writeIDs(const std::vector<AudioObjectID>& ids, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize || (!outData && *ioDataSize > 0))
        return kAudioHardwareBadPropertySizeError;
    const std::size_t count = std::min<std::size_t>(ids.size(), *ioDataSize / sizeof(AudioObjectID));
    if (count)
        std::memcpy(outData, ids.data(), count * sizeof(AudioObjectID));
    *ioDataSize = std::uint32_t(count * sizeof(AudioObjectID));
    return noErr;
}

OSStatus writeBufferList(std::uint32_t channels, std::uint32_t* ioDataSize, void* outData)
{
    const std::uint32_t buffers = channels ? 1 : 0;
    const auto size = std::uint32_t(audioBufferListSize(buffers));
    if (!ioDataSize || !outData || *ioDataSize < size)
        return kAudioHardwareBadPropertySizeError;
    std::memset(outData, 0, size);
    auto* list = static_cast<AudioBufferList*>(outData);
    list->mNumberBuffers = buffers;
    if (buffers)
        list->mBuffers[0].mNumberChannels = channels;
    *ioDataSize = size;
    return noErr;
}

QString findWatchdog(const QString& configured)
{
    if (!configured.isEmpty())
        return configured == QLatin1String("none") ? QString() : configured;
    const QString beside = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    for (const QString& candidate : {
             QFileInfo(beside).absolutePath() + QStringLiteral("/sonaric-audio-watchdog"),
             QFileInfo(beside).absolutePath() + QStringLiteral("/../libexec/sonaric/sonaric-audio-watchdog"),
#ifdef SONARIC_WATCHDOG_BUILD_PATH
             QStringLiteral(SONARIC_WATCHDOG_BUILD_PATH),
#endif
         }) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

} // namespace

struct PulseAudioHardware::Tap {
    QString uid;
    QString name;
    std::vector<QString> processKeys;
    QString sinkName;
    std::uint32_t sinkIndex = PA_INVALID_INDEX;
    std::uint32_t module = PA_INVALID_INDEX;
    QString monitor;
    std::uint32_t rate = 48000;
};

struct PulseAudioHardware::Aggregate {
    QString uid;
    QString name;
    QString outputSink;
    AudioObjectID tap = 0;
    std::map<AudioDeviceIOProcID, AudioDeviceIOBlock> procs;
    AudioDeviceIOProcID runningProc = nullptr; ///< the started IO proc; what a rebuild restarts
    std::unique_ptr<AggregateIOPath> engine;
    bool movedIn = false;
    std::map<std::uint32_t, QString> moved; ///< stream index → the sink it came from
    std::vector<RestoreChange> restore; ///< stream memory before our moves, put back after each
};

struct PulseAudioHardware::Listener {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    DispatchQueue* queue;
    AudioObjectPropertyListenerBlock block;
};

// Construction and connection

PulseAudioHardware::PulseAudioHardware(Options options)
    : m_options(std::move(options))
    , m_owner(TapJournal::newOwnerToken())
    , m_journal(std::make_unique<TapJournal>(
          m_options.journalPath.isEmpty() ? TapJournal::defaultPath() : m_options.journalPath))
    , m_control(std::make_unique<SerialQueue>("sonaric.pulse.control"))
{
}

std::unique_ptr<AudioHardware> PulseAudioHardware::connect(QString* error, ConnectFailure* failure)
{
    Options options;
    auto entries = std::make_shared<DesktopEntries>(DesktopEntries::load());
    options.bundleIdentifierForProcess = [entries](pid_t pid) {
        const auto entry = entries->forProcess(pid);
        return entry ? entry->id : QString();
    };
    return connect(std::move(options), error, failure);
}

std::unique_ptr<PulseAudioHardware> PulseAudioHardware::connect(
    Options options, QString* error, ConnectFailure* failure)
{
    if (failure)
        *failure = ConnectFailure::none;
    std::unique_ptr<PulseAudioHardware> hardware(new PulseAudioHardware(std::move(options)));
    if (!hardware->open(error, failure))
        return nullptr;
    return hardware;
}

bool PulseAudioHardware::open(QString* error, ConnectFailure* failure)
{
    const auto fail = [&](ConnectFailure why, const QString& text) {
        if (failure)
            *failure = why;
        if (error && !text.isEmpty())
            *error = text;
        return false;
    };
    auto connection = std::make_unique<PulseConnection>(
        QStringLiteral("Sonaric"), QList<QPair<QString, QString>> {}, m_options.requestTimeoutMs);
    if (!connection->connect(m_options.connectTimeoutMs, error))
        return fail(connection->stoppedAnswering() ? ConnectFailure::stoppedAnswering : ConnectFailure::noServer, {});
    m_serverString = connection->serverName();
    if (m_options.recoverAtStart)
        TapRecovery::run(*connection, *m_journal);
    m_connection = std::move(connection);
    subscribe();
    if (!loadSnapshot()) {
        if (m_connection->stoppedAnswering())
            return fail(ConnectFailure::stoppedAnswering,
                QStringLiteral("the sound server stopped answering (no reply within %1 ms)")
                    .arg(m_options.requestTimeoutMs));
        return fail(ConnectFailure::noServer, QStringLiteral("the sound server did not list its devices"));
    }
    // The playback starts once the queue holds this plus one capture fragment. PipeWire's pulse server
    // moves sound in whole quanta (5.33 ms at least) and its queue length says little about what it holds,
    // so 8 ms there makes three quanta: one more than the path needs, to ride out a late capture.
    if (m_options.latencyMs == 0)
        m_options.latencyMs = serverIsPipeWire() ? 8 : 10;
    return true;
}

void PulseAudioHardware::subscribe()
{
    PulseConnection& connection = *m_connection;
    connection.setStateHandler([this](bool ready) { connectionStateChanged(ready); });
    PulseConnection::Lock lock(connection);
    pa_context* context = connection.context();
    pa_context_set_subscribe_callback(
        context,
        [](pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
            static_cast<PulseAudioHardware*>(self)->serverEvent(
                context, type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK, type & PA_SUBSCRIPTION_EVENT_TYPE_MASK, index);
        },
        this);
    connection.wait(pa_context_subscribe(context,
        pa_subscription_mask_t(
            PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER),
        nullptr, nullptr));
    // A server without a stream-restore database simply never calls this back.
    pa_ext_stream_restore_set_subscribe_cb(
        context,
        [](pa_context*, void* self) {
            auto* hardware = static_cast<PulseAudioHardware*>(self);
            hardware->m_control->async([hardware] { hardware->scrubRestoreMemory(); });
        },
        this);
    if (pa_operation* op = pa_ext_stream_restore_subscribe(context, 1, nullptr, nullptr))
        pa_operation_unref(op);
}

bool PulseAudioHardware::loadSnapshot()
{
    // Server events keep being handled while the lists are read, and a sink or stream that an event brings in
    // can be newer than the list that is about to replace the snapshot: a sink loaded meanwhile would be lost
    // until its next change. So the lists are read again when an event came in between, a few times at most.
    struct Info {
        PulseConnection* connection = nullptr;
        QString name, defaultSink;
        std::uint32_t rate = 48000;
        bool read = false;
    };
    for (int attempt = 1;; ++attempt) {
        const std::uint64_t eventsBefore = m_serverEvents.load();
        Info info;
        info.connection = m_connection.get();
        bool answered = false;
        {
            PulseConnection::Lock lock(*m_connection);
            answered = m_connection->wait(pa_context_get_server_info(
                m_connection->context(),
                [](pa_context*, const pa_server_info* i, void* data) {
                    auto* out = static_cast<Info*>(data);
                    if (i) {
                        out->read = true;
                        out->name = QString::fromUtf8(i->server_name);
                        out->defaultSink = i->default_sink_name ? QString::fromUtf8(i->default_sink_name) : QString();
                        out->rate = i->sample_spec.rate;
                    }
                    out->connection->signal();
                },
                &info));
        }
        if (!answered || !info.read)
            return false;
        auto sinks = PulseQuery::sinks(*m_connection);
        auto streams = PulseQuery::streams(*m_connection);
        if (!sinks || !streams)
            return false;
        std::sort(streams->begin(), streams->end(), [](const auto& a, const auto& b) { return a.index < b.index; });
        std::lock_guard lock(m_mutex);
        if (m_serverEvents.load() != eventsBefore && attempt < 4)
            continue;
        m_serverName = info.name;
        m_defaultSink = info.defaultSink;
        m_defaultRate = info.rate ? info.rate : 48000;
        m_sinks = std::move(*sinks);
        m_streams = std::move(*streams);
        for (const auto& sink : m_sinks)
            if (sink.tapUid.isEmpty())
                idFor(m_deviceIds, sink.name);
        for (const auto& stream : m_streams)
            if (!stream.internal)
                idFor(m_processIds, stream.processKey());
        m_connected = true;
        m_changed.notify_all();
        return true;
    }
}

PulseAudioHardware::~PulseAudioHardware()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    // Let queued maintenance finish, then put every application back where it was.
    m_control->sync([] {});
    {
        std::lock_guard ops(m_ops);
        for (auto& [id, aggregate] : m_aggregates)
            stopAggregate(*aggregate);
        // Not a structured binding: clang before 16 cannot capture one in the lambda below.
        for (auto& entry : m_taps) {
            Tap* tap = entry.second.get();
            if (tap->module != PA_INVALID_INDEX && m_connected)
                PulseQuery::unloadModule(*m_connection, tap->module);
            m_journal->update([&](std::vector<JournalTap>& taps) {
                std::erase_if(taps, [&](const JournalTap& t) { return t.sink == tap->sinkName; });
            });
        }
        // The loop thread still reads both tables while it handles events.
        std::lock_guard lock(m_mutex);
        m_aggregates.clear();
        m_taps.clear();
    }
    // The loop thread goes first: its events post work to the control queue until it stops.
    m_connection.reset();
    m_control.reset();
    if (m_watchdogPipe >= 0)
        ::close(m_watchdogPipe);
    if (m_watchdog > 0) {
        for (int i = 0; i < 200 && waitpid(m_watchdog, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool PulseAudioHardware::isConnected() const
{
    std::lock_guard lock(m_mutex);
    return m_connected;
}

QString PulseAudioHardware::serverName() const
{
    std::lock_guard lock(m_mutex);
    return m_serverName;
}

// The server going away and coming back

void PulseAudioHardware::connectionStateChanged(bool ready)
{
    if (ready)
        return;
    std::lock_guard lock(m_mutex);
    if (m_stopping || !m_connected)
        return;
    m_connected = false;
    m_control->async([this] { reconnect(); });
}

void PulseAudioHardware::reconnect()
{
    const auto lost = std::chrono::steady_clock::now();
    bool vanished = false;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping || m_connected)
                return;
        }
        auto connection = std::make_unique<PulseConnection>(
            QStringLiteral("Sonaric"), QList<QPair<QString, QString>> {}, m_options.requestTimeoutMs);
        if (connection->connect(500, nullptr)) {
            std::lock_guard ops(m_ops);
            m_serverString = connection->serverName();
            m_connection = std::move(connection);
            subscribe();
            if (loadSnapshot()) {
                rebuildAfterReconnect();
                for (auto selector : { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
                         kAudioHardwarePropertyProcessObjectList })
                    notify(selector);
                return;
            }
        }
        if (!vanished && std::chrono::steady_clock::now() - lost > std::chrono::milliseconds(m_options.serverGraceMs)) {
            vanished = true;
            serverLost();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
}

void PulseAudioHardware::serverLost()
{
    {
        std::lock_guard lock(m_mutex);
        m_sinks.clear();
        m_streams.clear();
        m_defaultSink.clear();
    }
    for (auto selector : { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
             kAudioHardwarePropertyProcessObjectList })
        notify(selector);
}

void PulseAudioHardware::rebuildAfterReconnect()
{
    // A server that restarted lost every tap sink and stream of ours (the applications reconnect on their own);
    // one that only stopped answering for a while still has them. Rebuild what is gone behind the same tap IDs,
    // keep what is still there, and restart what was running, so the engine above sees nothing.
    std::set<AudioObjectID> kept;
    for (auto& entry : m_taps) {
        Tap* tap = entry.second.get();
        {
            std::lock_guard lock(m_mutex);
            const SinkRecord* sink = sinkNamed(tap->sinkName);
            if (sink && sink->tapOwner == m_owner) {
                tap->module = sink->ownerModule;
                tap->sinkIndex = sink->index;
                kept.insert(entry.first);
                continue;
            }
        }
        {
            // Server events read the sink index on the loop thread.
            std::lock_guard lock(m_mutex);
            tap->module = PA_INVALID_INDEX;
            tap->sinkIndex = PA_INVALID_INDEX;
        }
        m_journal->update([&](std::vector<JournalTap>& taps) {
            for (auto& t : taps)
                if (t.sink == tap->sinkName) {
                    t.server = m_serverString;
                    t.streams.clear();
                }
        });
        loadTapSink(*tap);
    }
    // A tap destroyed while the server did not answer could not unload its sink: do it now, sending whatever
    // plays in it to the default device (a tap that wants the application takes it from there).
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> orphans;
    QString fallback;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& sink : m_sinks) {
            if (sink.tapOwner != m_owner || std::any_of(m_taps.begin(), m_taps.end(), [&](const auto& entry) {
                    return entry.second->sinkName == sink.name;
                }))
                continue;
            std::vector<std::uint32_t> streams;
            for (const auto& stream : m_streams)
                if (stream.sink == sink.index)
                    streams.push_back(stream.index);
            orphans.emplace_back(sink.ownerModule, std::move(streams));
        }
        fallback = m_defaultSink;
    }
    for (const auto& [module, streams] : orphans) {
        for (std::uint32_t stream : streams)
            PulseQuery::moveStream(*m_connection, stream, fallback);
        PulseQuery::unloadModule(*m_connection, module);
    }
    for (auto& [id, aggregate] : m_aggregates) {
        if (!aggregate->runningProc)
            continue;
        std::unique_ptr<AggregateIOPath> engine;
        {
            // Server events and the state reads look at both on other threads.
            std::lock_guard lock(m_mutex);
            engine = std::move(aggregate->engine);
            aggregate->movedIn = false;
        }
        if (engine)
            engine->stop();
        // Streams still in a kept tap sink stay there and keep the sinks they came from.
        if (!kept.contains(aggregate->tap))
            aggregate->moved.clear();
        startAggregate(id, *aggregate);
    }
}

// Server events (on the connection's loop thread)

void PulseAudioHardware::serverEvent(pa_context* context, unsigned facility, unsigned type, std::uint32_t index)
{
    // The context comes with the event: the connection object may already be on its way out.
    ++m_serverEvents;
    const bool removed = type == PA_SUBSCRIPTION_EVENT_REMOVE;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (removed) {
            bool wasDevice = false;
            {
                std::lock_guard lock(m_mutex);
                const auto it = std::find_if(
                    m_sinks.begin(), m_sinks.end(), [&](const SinkRecord& s) { return s.index == index; });
                if (it != m_sinks.end()) {
                    wasDevice = it->tapUid.isEmpty();
                    m_sinks.erase(it);
                }
                m_changed.notify_all();
            }
            if (wasDevice)
                notify(kAudioHardwarePropertyDevices);
            return;
        }
        if (pa_operation* op = pa_context_get_sink_info_by_index(
                context, index,
                [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                    if (!eol && info)
                        static_cast<PulseAudioHardware*>(self)->sinkArrived(SinkRecord::from(*info));
                },
                this))
            pa_operation_unref(op);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        if (removed) {
            bool listChanged = false;
            {
                std::lock_guard lock(m_mutex);
                const auto before = processIDs();
                std::erase_if(m_streams, [&](const StreamRecord& s) { return s.index == index; });
                listChanged = processIDs() != before;
            }
            if (listChanged)
                notify(kAudioHardwarePropertyProcessObjectList);
            return;
        }
        if (pa_operation* op = pa_context_get_sink_input_info(
                context, index,
                [](pa_context*, const pa_sink_input_info* info, int eol, void* self) {
                    if (!eol && info)
                        static_cast<PulseAudioHardware*>(self)->streamArrived(StreamRecord::from(*info));
                },
                this))
            pa_operation_unref(op);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        if (pa_operation* op = pa_context_get_server_info(
                context,
                [](pa_context*, const pa_server_info* info, void* self) {
                    if (info)
                        static_cast<PulseAudioHardware*>(self)->defaultSinkChanged(
                            info->default_sink_name ? QString::fromUtf8(info->default_sink_name) : QString());
                },
                this))
            pa_operation_unref(op);
    }
}

void PulseAudioHardware::sinkArrived(const SinkRecord& sink)
{
    bool deviceListChanged = false;
    {
        std::lock_guard lock(m_mutex);
        const auto it
            = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const SinkRecord& s) { return s.index == sink.index; });
        if (sink.tapUid.isEmpty()) {
            idFor(m_deviceIds, sink.name);
            deviceListChanged = it == m_sinks.end() || it->description != sink.description || it->name != sink.name;
        }
        if (it == m_sinks.end())
            m_sinks.push_back(sink);
        else
            *it = sink;
        m_changed.notify_all();
    }
    if (deviceListChanged)
        notify(kAudioHardwarePropertyDevices);
}

void PulseAudioHardware::streamArrived(const StreamRecord& stream)
{
    bool listChanged = false;
    bool evict = false;
    std::vector<AudioObjectID> follow;
    {
        std::lock_guard lock(m_mutex);
        const auto before = processIDs();
        const auto it = std::find_if(
            m_streams.begin(), m_streams.end(), [&](const StreamRecord& s) { return s.index == stream.index; });
        const bool isNew = it == m_streams.end();
        if (isNew) {
            m_streams.insert(std::upper_bound(m_streams.begin(), m_streams.end(), stream,
                                 [](const auto& a, const auto& b) { return a.index < b.index; }),
                stream);
        } else {
            *it = stream;
        }
        if (!stream.internal)
            idFor(m_processIds, stream.processKey());
        listChanged = processIDs() != before;
        // A new stream of a tapped application joins the tap as soon as it appears.
        if (isNew && !stream.internal) {
            for (const auto& [id, aggregate] : m_aggregates) {
                if (!aggregate->movedIn)
                    continue;
                const auto tap = m_taps.find(aggregate->tap);
                if (tap == m_taps.end() || tap->second->sinkIndex == stream.sink)
                    continue;
                const auto& keys = tap->second->processKeys;
                if (std::find(keys.begin(), keys.end(), stream.processKey()) != keys.end())
                    follow.push_back(id);
            }
        }
        // A stream of anyone else that lands in a tap sink was sent there by the server's memory of a move
        // (PipeWire's session manager keeps that memory where the pulse protocol cannot reach it): it goes
        // straight back to the default device.
        if (!stream.internal) {
            for (const auto& [id, tap] : m_taps) {
                if (tap->sinkIndex != stream.sink)
                    continue;
                const auto& keys = tap->processKeys;
                if (std::find(keys.begin(), keys.end(), stream.processKey()) == keys.end())
                    evict = true;
            }
        }
        m_changed.notify_all();
    }
    if (evict)
        m_control->async([this, index = stream.index] { evictStream(index); });
    for (AudioObjectID id : follow)
        m_control->async([this, id, index = stream.index] { moveIn(id, { index }); });
    if (listChanged)
        notify(kAudioHardwarePropertyProcessObjectList);
}

void PulseAudioHardware::defaultSinkChanged(const QString& name)
{
    {
        std::lock_guard lock(m_mutex);
        if (name == m_defaultSink)
            return;
        m_defaultSink = name;
    }
    notify(kAudioHardwarePropertyDefaultOutputDevice);
}

void PulseAudioHardware::notify(AudioObjectPropertySelector selector)
{
    const AudioObjectPropertyAddress address = globalAddress(selector);
    std::lock_guard lock(m_listenerMutex);
    for (const auto& listener : m_listeners) {
        if (listener.object != kAudioObjectSystemObject
            || (listener.address.mSelector != selector && listener.address.mSelector != kWildcard))
            continue;
        listener.queue->async([block = listener.block, address] { block(1, &address); });
    }
}

OSStatus PulseAudioHardware::addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
    DispatchQueue& queue, AudioObjectPropertyListenerBlock block)
{
    if (!block)
        return kAudio_ParamError;
    std::lock_guard lock(m_listenerMutex);
    m_listeners.push_back({ object, address, &queue, std::move(block) });
    return noErr;
}

// Snapshot lookups

AudioObjectID PulseAudioHardware::idFor(std::map<QString, AudioObjectID>& table, const QString& key)
{
    auto [it, inserted] = table.try_emplace(key, 0);
    if (inserted)
        it->second = m_nextId++;
    return it->second;
}

const SinkRecord* PulseAudioHardware::sinkNamed(const QString& name) const
{
    for (const auto& sink : m_sinks)
        if (sink.name == name)
            return &sink;
    return nullptr;
}

const SinkRecord* PulseAudioHardware::deviceSink(AudioObjectID id) const
{
    for (const auto& [name, device] : m_deviceIds)
        if (device == id) {
            const SinkRecord* sink = sinkNamed(name);
            return sink && sink->tapUid.isEmpty() ? sink : nullptr;
        }
    return nullptr;
}

std::vector<const StreamRecord*> PulseAudioHardware::processStreams(AudioObjectID id) const
{
    std::vector<const StreamRecord*> streams;
    for (const auto& [key, process] : m_processIds) {
        if (process != id)
            continue;
        for (const auto& stream : m_streams)
            if (!stream.internal && stream.processKey() == key)
                streams.push_back(&stream);
    }
    return streams;
}

std::vector<AudioObjectID> PulseAudioHardware::deviceIDs() const
{
    std::vector<AudioObjectID> ids;
    for (const auto& sink : m_sinks)
        if (sink.tapUid.isEmpty())
            ids.push_back(m_deviceIds.at(sink.name));
    return ids;
}

std::vector<AudioObjectID> PulseAudioHardware::processIDs() const
{
    std::vector<AudioObjectID> ids;
    for (const auto& stream : m_streams) {
        if (stream.internal)
            continue;
        const auto it = m_processIds.find(stream.processKey());
        if (it != m_processIds.end() && std::find(ids.begin(), ids.end(), it->second) == ids.end())
            ids.push_back(it->second);
    }
    return ids;
}

QString PulseAudioHardware::bundleIdentifier(AudioObjectID process) const
{
    const auto streams = processStreams(process);
    for (const auto* stream : streams)
        if (!stream->applicationId.isEmpty())
            return stream->applicationId;
    if (streams.empty() || streams.front()->pid <= 0 || !m_options.bundleIdentifierForProcess)
        return {};
    const pid_t pid = streams.front()->pid;
    auto cached = m_bundleCache.find(pid);
    if (cached == m_bundleCache.end())
        cached = m_bundleCache.emplace(pid, m_options.bundleIdentifierForProcess(pid)).first;
    return cached->second;
}

// Property reads

OSStatus PulseAudioHardware::getPropertyDataSize(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize)
{
    if (!outDataSize)
        return kAudio_ParamError;
    // Large enough for any value; the read reports the exact size.
    thread_local std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint32_t size = std::uint32_t(buffer.size());
    const OSStatus status = getPropertyData(object, address, &size, buffer.data());
    if (status == noErr)
        *outDataSize = size;
    return status;
}

OSStatus PulseAudioHardware::getPropertyData(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize)
        return kAudio_ParamError;
    const auto selector = address.mSelector;
    std::lock_guard lock(m_mutex);

    if (object == kAudioObjectSystemObject) {
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writeValue(kAudioSystemObjectClassID, ioDataSize, outData);
        case kAudioHardwarePropertyDevices:
            return writeIDs(deviceIDs(), ioDataSize, outData);
        case kAudioHardwarePropertyProcessObjectList:
            return writeIDs(processIDs(), ioDataSize, outData);
        case kAudioHardwarePropertyDefaultOutputDevice: {
            const SinkRecord* sink = sinkNamed(m_defaultSink);
            const AudioObjectID id = sink && sink->tapUid.isEmpty() ? m_deviceIds.at(sink->name) : 0;
            return writeValue(id, ioDataSize, outData);
        }
        case kAudioHardwarePropertyTapList: {
            std::vector<AudioObjectID> ids;
            for (const auto& [id, tap] : m_taps)
                ids.push_back(id);
            return writeIDs(ids, ioDataSize, outData);
        }
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (const SinkRecord* sink = deviceSink(object)) {
        const bool input = address.mScope == kAudioObjectPropertyScopeInput;
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writeValue(kAudioDeviceClassID, ioDataSize, outData);
        case kAudioDevicePropertyTransportType:
            return writeValue(transportType(sink->traits), ioDataSize, outData);
        case kAudioDevicePropertyDeviceCanBeDefaultDevice:
            return writeValue(std::uint32_t(!input && isOfferedAsOutput(sink->traits)), ioDataSize, outData);
        case kAudioDevicePropertyDeviceIsAlive:
            return writeValue(std::uint32_t(1), ioDataSize, outData);
        case kAudioDevicePropertyNominalSampleRate:
            return writeValue(double(sink->rate), ioDataSize, outData);
        case kAudioDevicePropertyStreamConfiguration:
            return writeBufferList(input ? 0 : sink->channels, ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (const auto streams = processStreams(object); !streams.empty()) {
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writeValue(kAudioProcessClassID, ioDataSize, outData);
        case kAudioProcessPropertyPID:
            return writeValue(std::int32_t(streams.front()->pid), ioDataSize, outData);
        case kAudioProcessPropertyIsRunningOutput:
            return writeValue(std::uint32_t(std::any_of(
                                  streams.begin(), streams.end(), [](const StreamRecord* s) { return !s->corked; })),
                ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (m_taps.count(object)) {
        if (selector == kAudioObjectPropertyClass)
            return writeValue(kAudioTapClassID, ioDataSize, outData);
        return kAudioHardwareUnknownPropertyError;
    }

    if (const auto it = m_aggregates.find(object); it != m_aggregates.end()) {
        const Aggregate& aggregate = *it->second;
        const auto tap = m_taps.find(aggregate.tap);
        const SinkRecord* output = sinkNamed(aggregate.outputSink);
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writeValue(kAudioAggregateDeviceClassID, ioDataSize, outData);
        case kAudioDevicePropertyTransportType:
            return writeValue(kAudioDeviceTransportTypeAggregate, ioDataSize, outData);
        case kAudioDevicePropertyDeviceCanBeDefaultDevice:
            return writeValue(std::uint32_t(0), ioDataSize, outData);
        case kAudioDevicePropertyDeviceIsAlive:
            return writeValue(std::uint32_t(m_connected && output && tap != m_taps.end()), ioDataSize, outData);
        case kAudioDevicePropertyNominalSampleRate:
            return writeValue(double(tap != m_taps.end() ? tap->second->rate : m_defaultRate), ioDataSize, outData);
        case kAudioDevicePropertyStreamConfiguration:
            // Sinks have no input streams of their own, so the tap's stereo stream is the only (and last) input.
            if (address.mScope == kAudioObjectPropertyScopeInput)
                return writeBufferList(tap != m_taps.end() ? 2 : 0, ioDataSize, outData);
            return writeBufferList(output ? output->channels : 2, ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    return kAudioHardwareBadObjectError;
}

OSStatus PulseAudioHardware::getPropertyString(
    AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue)
{
    if (!outValue)
        return kAudio_ParamError;
    const auto selector = address.mSelector;
    std::lock_guard lock(m_mutex);
    // Every object here has an identifier string and a name.
    const auto answer = [&](AudioObjectPropertySelector idSelector, const auto& id, const auto& name) -> OSStatus {
        if (selector == idSelector) {
            *outValue = id();
            return noErr;
        }
        if (selector == kAudioObjectPropertyName) {
            *outValue = name();
            return noErr;
        }
        return kAudioHardwareUnknownPropertyError;
    };
    if (object == kAudioObjectSystemObject)
        return kAudioHardwareUnknownPropertyError;
    if (const SinkRecord* sink = deviceSink(object))
        return answer(
            kAudioDevicePropertyDeviceUID, [&] { return sink->name; },
            [&] { return sink->description.isEmpty() ? sink->name : sink->description; });
    if (const auto streams = processStreams(object); !streams.empty())
        return answer(
            kAudioProcessPropertyBundleID, [&] { return bundleIdentifier(object); },
            [&] { return streams.front()->applicationName; });
    if (const auto it = m_taps.find(object); it != m_taps.end())
        return answer(
            kAudioTapPropertyUID, [&] { return it->second->uid; }, [&] { return it->second->name; });
    if (const auto it = m_aggregates.find(object); it != m_aggregates.end())
        return answer(
            kAudioDevicePropertyDeviceUID, [&] { return it->second->uid; }, [&] { return it->second->name; });
    return kAudioHardwareBadObjectError;
}

// Process taps

OSStatus PulseAudioHardware::createProcessTap(const CATapDescription& description, AudioObjectID* outTapID)
{
    if (!outTapID)
        return kAudio_ParamError;
    *outTapID = 0;
    if (description.processes.empty())
        return kAudio_ParamError;
    // Only a sink of our own can take an application's streams away from its device, so a tap always mutes
    // what it captures, and taps over "everything but" are not offered.
    if (description.isExclusive || description.muteBehavior == CATapMuteBehavior::CATapUnmuted)
        return kAudioHardwareUnsupportedOperationError;

    std::lock_guard ops(m_ops);
    auto tap = std::make_unique<Tap>();
    {
        std::lock_guard lock(m_mutex);
        if (!m_connected)
            return kAudioHardwareNotRunningError;
        for (AudioObjectID process : description.processes) {
            const auto it = std::find_if(
                m_processIds.begin(), m_processIds.end(), [&](const auto& entry) { return entry.second == process; });
            if (it == m_processIds.end())
                return kAudioHardwareBadObjectError;
            tap->processKeys.push_back(it->first);
        }
        tap->uid = description.uuid.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : description.uuid;
        for (const auto& [id, existing] : m_taps)
            if (existing->uid == tap->uid)
                return kAudioHardwareIllegalOperationError;
        tap->name = description.name;
        tap->sinkName = tapSinkName(tap->uid);
        // The rate of the sink the application plays on now, which is usually where the tap will play too: a
        // tap path without resampling is both cheaper and truer.
        const SinkRecord* current = sinkNamed(m_defaultSink);
        for (const auto& stream : m_streams)
            if (stream.processKey() == tap->processKeys.front())
                for (const auto& sink : m_sinks)
                    if (sink.index == stream.sink && sink.tapUid.isEmpty())
                        current = &sink;
        tap->rate = current ? current->rate : m_defaultRate;
    }
    ensureWatchdog();
    // Journal first: a crash right after the sink appears must still find what to undo.
    m_journal->update([&](std::vector<JournalTap>& taps) {
        taps.push_back(JournalTap { m_owner, m_serverString, tap->sinkName, {}, {} });
    });
    if (!loadTapSink(*tap)) {
        m_journal->update([&](std::vector<JournalTap>& taps) {
            std::erase_if(taps, [&](const JournalTap& t) { return t.sink == tap->sinkName; });
        });
        // A server that went away or stopped answering meanwhile is not running, as for a call made after.
        return m_connection->isReady() ? kAudioHardwareUnspecifiedError : kAudioHardwareNotRunningError;
    }
    std::lock_guard lock(m_mutex);
    const AudioObjectID id = m_nextId++;
    m_taps.emplace(id, std::move(tap));
    *outTapID = id;
    return noErr;
}

bool PulseAudioHardware::loadTapSink(Tap& tap)
{
    const QString arguments
        = QStringLiteral("sink_name=%1 sink_properties='device.description=\"Sonaric tap\" %2=%3 %4=%5' "
                         "rate=%6 channels=2 channel_map=front-left,front-right format=float32le")
              .arg(tap.sinkName, QLatin1String(kTapSinkProperty), tap.sinkName.mid(int(qstrlen(kTapSinkPrefix))),
                  QLatin1String(kTapOwnerProperty), m_owner)
              .arg(tap.rate);
    const auto module = PulseQuery::loadModule(*m_connection, QStringLiteral("module-null-sink"), arguments);
    if (!module)
        return false;
    tap.module = *module;
    std::unique_lock lock(m_mutex);
    const bool appeared = m_changed.wait_for(lock, std::chrono::seconds(2), [&] { return sinkNamed(tap.sinkName); });
    if (!appeared) {
        lock.unlock();
        PulseQuery::unloadModule(*m_connection, tap.module);
        tap.module = PA_INVALID_INDEX;
        return false;
    }
    const SinkRecord* sink = sinkNamed(tap.sinkName);
    tap.sinkIndex = sink->index;
    tap.monitor = sink->monitorSource.isEmpty() ? tap.sinkName + QStringLiteral(".monitor") : sink->monitorSource;
    tap.rate = sink->rate;
    return true;
}

OSStatus PulseAudioHardware::destroyProcessTap(AudioObjectID tapID)
{
    std::lock_guard ops(m_ops);
    std::vector<Aggregate*> readers;
    {
        std::lock_guard lock(m_mutex);
        if (!m_taps.count(tapID))
            return kAudioHardwareBadObjectError;
        for (const auto& [id, aggregate] : m_aggregates)
            if (aggregate->tap == tapID && aggregate->engine)
                readers.push_back(aggregate.get());
    }
    for (Aggregate* aggregate : readers)
        stopAggregate(*aggregate);
    std::unique_ptr<Tap> tap;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_taps.find(tapID);
        tap = std::move(it->second);
        m_taps.erase(it);
    }
    // Anything still in the sink (a stream that raced in) goes to the default device, not into the void.
    if (m_connected && tap->sinkIndex != PA_INVALID_INDEX) {
        std::vector<std::uint32_t> stranded;
        QString fallback;
        {
            std::lock_guard lock(m_mutex);
            for (const auto& stream : m_streams)
                if (stream.sink == tap->sinkIndex)
                    stranded.push_back(stream.index);
            fallback = m_defaultSink;
        }
        for (auto index : stranded)
            PulseQuery::moveStream(*m_connection, index, fallback);
    }
    if (m_connected && tap->module != PA_INVALID_INDEX)
        PulseQuery::unloadModule(*m_connection, tap->module);
    m_journal->update([&](std::vector<JournalTap>& taps) {
        std::erase_if(taps, [&](const JournalTap& t) { return t.sink == tap->sinkName; });
    });
    return noErr;
}

// Aggregate devices

OSStatus PulseAudioHardware::createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID)
{
    if (!outDeviceID)
        return kAudio_ParamError;
    *outDeviceID = 0;
    auto aggregate = std::make_unique<Aggregate>();
    aggregate->uid = description.value(kAudioAggregateDeviceUIDKey).toString();
    aggregate->name = description.value(kAudioAggregateDeviceNameKey).toString();
    const QVariantList subdevices = description.value(kAudioAggregateDeviceSubDeviceListKey).toList();
    const QVariantList taps = description.value(kAudioAggregateDeviceTapListKey).toList();
    if (aggregate->uid.isEmpty())
        return kAudio_ParamError;
    // One device and one tap is what a tap path needs; mixing several is not something a sink can do.
    if (subdevices.size() != 1 || taps.size() != 1)
        return kAudioHardwareUnsupportedOperationError;
    aggregate->outputSink = subdevices.front().toMap().value(kAudioSubDeviceUIDKey).toString();
    const QString tapUID = taps.front().toMap().value(kAudioSubTapUIDKey).toString();
    const QString main = description.value(kAudioAggregateDeviceMainSubDeviceKey).toString();

    std::lock_guard ops(m_ops);
    std::lock_guard lock(m_mutex);
    if (!m_connected)
        return kAudioHardwareNotRunningError;
    const SinkRecord* output = sinkNamed(aggregate->outputSink);
    if (!output || !output->tapUid.isEmpty() || (!main.isEmpty() && main != aggregate->outputSink))
        return kAudioHardwareBadDeviceError;
    for (const auto& [id, tap] : m_taps)
        if (tap->uid == tapUID)
            aggregate->tap = id;
    if (!aggregate->tap)
        return kAudioHardwareBadObjectError;
    for (const auto& [id, existing] : m_aggregates)
        if (existing->uid == aggregate->uid)
            return kAudioHardwareIllegalOperationError;
    const AudioObjectID id = m_nextId++;
    m_aggregates.emplace(id, std::move(aggregate));
    *outDeviceID = id;
    return noErr;
}

OSStatus PulseAudioHardware::destroyAggregateDevice(AudioObjectID deviceID)
{
    std::lock_guard ops(m_ops);
    std::unique_ptr<Aggregate> aggregate;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_aggregates.find(deviceID);
        if (it == m_aggregates.end())
            return kAudioHardwareBadObjectError;
        aggregate = std::move(it->second);
        m_aggregates.erase(it);
    }
    stopAggregate(*aggregate);
    return noErr;
}

OSStatus PulseAudioHardware::createIOProcIDWithBlock(
    AudioDeviceIOProcID* outProcID, AudioObjectID device, DispatchQueue* queue, AudioDeviceIOBlock block)
{
    if (!outProcID || !block)
        return kAudio_ParamError;
    *outProcID = nullptr;
    // The IO block runs on the device's own thread; handing it to a queue would add a queue's latency.
    if (queue)
        return kAudioHardwareUnsupportedOperationError;
    std::lock_guard ops(m_ops);
    std::lock_guard lock(m_mutex);
    const auto it = m_aggregates.find(device);
    if (it == m_aggregates.end())
        return m_taps.count(device) || deviceSink(device) ? kAudioHardwareUnsupportedOperationError
                                                          : kAudioHardwareBadDeviceError;
    auto* proc = reinterpret_cast<AudioDeviceIOProcID>(m_nextProc++);
    it->second->procs.emplace(proc, std::move(block));
    *outProcID = proc;
    return noErr;
}

OSStatus PulseAudioHardware::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    Aggregate* aggregate = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_aggregates.find(device);
        if (it == m_aggregates.end())
            return kAudioHardwareBadDeviceError;
        aggregate = it->second.get();
        if (!aggregate->procs.count(procID))
            return kAudio_ParamError;
    }
    if (aggregate->runningProc == procID)
        stopAggregate(*aggregate);
    std::lock_guard lock(m_mutex);
    aggregate->procs.erase(procID);
    return noErr;
}

OSStatus PulseAudioHardware::deviceStart(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    Aggregate* aggregate = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_aggregates.find(device);
        if (it == m_aggregates.end())
            return kAudioHardwareBadDeviceError;
        aggregate = it->second.get();
        if (!aggregate->procs.count(procID))
            return kAudio_ParamError;
        if (!m_connected)
            return kAudioHardwareNotRunningError;
    }
    if (aggregate->engine && aggregate->runningProc == procID)
        return noErr;
    if (aggregate->engine)
        return kAudioHardwareIllegalOperationError;
    aggregate->runningProc = procID;
    const OSStatus status = startAggregate(device, *aggregate);
    if (status != noErr)
        aggregate->runningProc = nullptr;
    return status;
}

OSStatus PulseAudioHardware::startAggregate(AudioObjectID id, Aggregate& aggregate)
{
    AggregateIOPath::Config config;
    {
        std::lock_guard lock(m_mutex);
        const auto tap = m_taps.find(aggregate.tap);
        const SinkRecord* output = sinkNamed(aggregate.outputSink);
        if (tap == m_taps.end() || tap->second->sinkIndex == PA_INVALID_INDEX)
            return kAudioHardwareBadObjectError;
        if (!output)
            return kAudioHardwareBadDeviceError;
        config.tapSink = tap->second->sinkName;
        config.tapMonitor = tap->second->monitor;
        config.outputSink = aggregate.outputSink;
        config.rate = tap->second->rate;
        config.outputChannels = output->channels;
        config.latencyMs = m_options.latencyMs;
        config.block = aggregate.procs.at(aggregate.runningProc);
    }
    // The monitor of a fresh null sink can stay silent for a while; until it delivers, the application
    // keeps playing where it was, so the switch into the tap is seamless.
    const auto moveInOnFirstData = [this, id] { m_control->async([this, id] { moveIn(id, {}); }); };
    std::unique_ptr<AggregateIOPath> engine;
    if (m_options.pipeWireGraph && serverIsPipeWire()) {
        // Inside PipeWire's graph the path adds nothing to the latency; through pulse streams it adds two of
        // the pulse server's quanta at least. The streams remain for when PipeWire itself is out of reach.
        engine = std::make_unique<PipeWireAggregateDevice>(config);
        QString error;
        if (!engine->start(moveInOnFirstData, &error)) {
            qWarning(
                "sonaric: tapping through PipeWire's graph failed (%s); using pulse streams", qUtf8Printable(error));
            engine.reset();
        }
    }
    if (!engine) {
        engine = std::make_unique<PulseAggregateDevice>(std::move(config));
        if (!engine->start(moveInOnFirstData, nullptr))
            return kAudioHardwareUnspecifiedError;
    }
    std::lock_guard lock(m_mutex);
    aggregate.engine = std::move(engine);
    return noErr;
}

bool PulseAudioHardware::serverIsPipeWire() const
{
    return serverName().contains(QLatin1String("PipeWire"));
}

OSStatus PulseAudioHardware::deviceStop(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    Aggregate* aggregate = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_aggregates.find(device);
        if (it == m_aggregates.end())
            return kAudioHardwareBadDeviceError;
        aggregate = it->second.get();
        if (!aggregate->procs.count(procID))
            return kAudio_ParamError;
    }
    if (aggregate->runningProc == procID)
        stopAggregate(*aggregate);
    return noErr;
}

void PulseAudioHardware::stopAggregate(Aggregate& aggregate)
{
    aggregate.runningProc = nullptr;
    if (!aggregate.engine)
        return;
    // Flush first: what is still queued for the device would otherwise play a second time after the
    // application is back on it.
    aggregate.engine->flush();
    const Tap* tap = nullptr;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_taps.find(aggregate.tap);
        tap = it == m_taps.end() ? nullptr : it->second.get();
        aggregate.movedIn = false;
    }
    if (tap)
        moveBack(aggregate, *tap);
    std::unique_ptr<AggregateIOPath> engine;
    {
        std::lock_guard lock(m_mutex);
        engine = std::move(aggregate.engine);
    }
    engine->stop();
}

bool PulseAudioHardware::isTapping(AudioObjectID aggregateID) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_aggregates.find(aggregateID);
    return it != m_aggregates.end() && it->second->engine && it->second->engine->isRunning() && it->second->movedIn;
}

std::uint64_t PulseAudioHardware::underruns(AudioObjectID aggregateID) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_aggregates.find(aggregateID);
    return it != m_aggregates.end() && it->second->engine ? it->second->engine->underruns() : 0;
}

std::uint64_t PulseAudioHardware::totalUnderruns() const
{
    std::lock_guard lock(m_mutex);
    std::uint64_t total = 0;
    for (const auto& [id, aggregate] : m_aggregates)
        if (aggregate->engine)
            total += aggregate->engine->underruns();
    return total;
}

// Moving streams in and out

void PulseAudioHardware::moveIn(AudioObjectID aggregateID, const std::vector<std::uint32_t>& onlyStreams)
{
    std::lock_guard ops(m_ops);
    Aggregate* aggregate = nullptr;
    QString tapSink;
    std::uint32_t tapIndex = PA_INVALID_INDEX;
    std::vector<std::pair<StreamRecord, QString>> toMove;
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_aggregates.find(aggregateID);
        if (it == m_aggregates.end() || !it->second->engine || !m_connected || m_stopping)
            return;
        aggregate = it->second.get();
        const auto tap = m_taps.find(aggregate->tap);
        if (tap == m_taps.end())
            return;
        tapSink = tap->second->sinkName;
        tapIndex = tap->second->sinkIndex;
        const auto& keys = tap->second->processKeys;
        for (const auto& stream : m_streams) {
            if (stream.internal || stream.sink == tapIndex
                || std::find(keys.begin(), keys.end(), stream.processKey()) == keys.end())
                continue;
            if (!onlyStreams.empty()
                && std::find(onlyStreams.begin(), onlyStreams.end(), stream.index) == onlyStreams.end())
                continue;
            QString from;
            for (const auto& sink : m_sinks)
                if (sink.index == stream.sink)
                    from = sink.name;
            toMove.emplace_back(stream, from);
        }
    }
    if (!toMove.empty()) {
        const auto before = RestoreMemory::read(*m_connection);
        for (const auto& [stream, from] : toMove)
            m_journal->addStream(tapSink, { stream.index, stream.pid, from });
        std::vector<std::uint32_t> movedNow;
        for (const auto& [stream, from] : toMove) {
            if (PulseQuery::moveStream(*m_connection, stream.index, tapSink)) {
                aggregate->moved[stream.index] = from;
                movedNow.push_back(stream.index);
            }
        }
        // The move taught the server to send this application (and anything sharing its role) into the tap
        // sink next time; put its memory back as it was.
        if (before) {
            m_connection->sync();
            if (const auto after = RestoreMemory::read(*m_connection)) {
                const auto changes = RestoreMemory::changes(*before, *after);
                m_journal->addRestore(tapSink, changes);
                for (const auto& change : changes)
                    if (std::none_of(aggregate->restore.begin(), aggregate->restore.end(),
                            [&](const RestoreChange& r) { return r.name == change.name; }))
                        aggregate->restore.push_back(change);
                RestoreMemory::revert(*m_connection, changes);
            }
        }
    }
    std::lock_guard lock(m_mutex);
    aggregate->movedIn = aggregate->engine != nullptr;
}

void PulseAudioHardware::moveBack(Aggregate& aggregate, const Tap& tap)
{
    if (!m_connected) {
        aggregate.moved.clear();
        return;
    }
    std::vector<std::pair<std::uint32_t, QString>> moves;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& stream : m_streams) {
            if (stream.sink != tap.sinkIndex || stream.internal)
                continue;
            const auto moved = aggregate.moved.find(stream.index);
            QString target = moved == aggregate.moved.end() ? QString() : moved->second;
            const SinkRecord* sink = sinkNamed(target);
            if (!sink || !sink->tapUid.isEmpty())
                target = m_defaultSink;
            moves.emplace_back(stream.index, target);
        }
    }
    const auto before = RestoreMemory::read(*m_connection);
    for (const auto& [index, target] : moves)
        PulseQuery::moveStream(*m_connection, index, target);
    if (before) {
        m_connection->sync();
        if (const auto after = RestoreMemory::read(*m_connection)) {
            // Back to what the table held before we ever moved this application.
            auto changes = RestoreMemory::changes(*before, *after);
            for (auto& change : changes)
                for (const auto& original : aggregate.restore)
                    if (original.name == change.name)
                        change.original = original.original;
            RestoreMemory::revert(*m_connection, changes);
        }
    }
    aggregate.moved.clear();
    aggregate.restore.clear();
    m_journal->update([&](std::vector<JournalTap>& taps) {
        for (auto& t : taps)
            if (t.sink == tap.sinkName) {
                t.streams.clear();
                t.restore.clear();
            }
    });
}

void PulseAudioHardware::evictStream(std::uint32_t index)
{
    std::lock_guard ops(m_ops);
    QString target;
    {
        std::lock_guard lock(m_mutex);
        if (!m_connected || m_stopping)
            return;
        const auto stream
            = std::find_if(m_streams.begin(), m_streams.end(), [&](const StreamRecord& s) { return s.index == index; });
        const SinkRecord* current = nullptr;
        for (const auto& sink : m_sinks)
            if (stream != m_streams.end() && sink.index == stream->sink)
                current = &sink;
        if (!current || current->tapUid.isEmpty())
            return;
        for (const auto& [id, tap] : m_taps) {
            const auto& keys = tap->processKeys;
            if (tap->sinkIndex == current->index
                && std::find(keys.begin(), keys.end(), stream->processKey()) != keys.end())
                return;
        }
        const SinkRecord* fallback = sinkNamed(m_defaultSink);
        if (!fallback || !fallback->tapUid.isEmpty())
            return;
        target = fallback->name;
    }
    PulseQuery::moveStream(*m_connection, index, target);
}

void PulseAudioHardware::scrubRestoreMemory()
{
    // Some servers write their memory a moment after the move; whatever still points at a tap sink is put back.
    std::lock_guard ops(m_ops);
    {
        std::lock_guard lock(m_mutex);
        if (!m_connected || m_stopping || m_taps.empty())
            return;
    }
    const auto table = RestoreMemory::read(*m_connection);
    if (!table)
        return;
    std::vector<RestoreChange> changes;
    for (const auto& name : RestoreMemory::pointingAt(*table, QLatin1String(kTapSinkPrefix))) {
        RestoreChange change { name, std::nullopt };
        for (const auto& [id, aggregate] : m_aggregates)
            for (const auto& original : aggregate->restore)
                if (original.name == name)
                    change.original = original.original;
        changes.push_back(change);
    }
    RestoreMemory::revert(*m_connection, changes);
}

// Watchdog

void PulseAudioHardware::ensureWatchdog()
{
    if (m_watchdog > 0)
        return;
    const QString path = findWatchdog(m_options.watchdogPath);
    if (path.isEmpty())
        return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The watchdog reads its standard input; end of file means this process is gone, however it died.
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    const QByteArray program = path.toLocal8Bit();
    const QByteArray owner = m_owner.toUtf8();
    const QByteArray journal = m_journal->path().toLocal8Bit();
    char* argv[]
        = { const_cast<char*>(program.constData()), const_cast<char*>("--owner"), const_cast<char*>(owner.constData()),
              const_cast<char*>("--journal"), const_cast<char*>(journal.constData()), nullptr };
    pid_t pid = -1;
    const int result = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (result != 0) {
        ::close(fds[1]);
        return;
    }
    m_watchdog = pid;
    m_watchdogPipe = fds[1];
}

} // namespace sonaric
