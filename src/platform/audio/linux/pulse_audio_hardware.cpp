#include "platform/audio/linux/pulse_audio_hardware.h"

#include "platform/audio/linux/aggregate_devices.h"
#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_property_reader.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/pulse_reconnection.h"
#include "platform/audio/linux/stream_levels.h"
#include "platform/audio/linux/stream_mover.h"
#include "platform/audio/linux/tap_recovery.h"
#include "platform/audio/linux/tap_sinks.h"
#include "platform/dispatch_queue.h"
#include "platform/serial_queue.h"

#include <pulse/ext-stream-restore.h>
#include <pulse/pulseaudio.h>

namespace sonaric
{

namespace
{

constexpr AudioObjectPropertySelector kWildcard = fourCharCode("****");

} // namespace

struct PulseAudioHardware::Listener {
    AudioObjectID object;
    AudioObjectPropertyAddress address;
    DispatchQueue* queue;
    AudioObjectPropertyListenerBlock block;
};

// Construction and connection

PulseAudioHardware::PulseAudioHardware(Options options)
    : m_options(std::move(options))
    , m_table(std::make_unique<PulseObjectTable>())
    , m_control(std::make_unique<SerialQueue>("sonaric.pulse.control"))
{
    m_properties = std::make_unique<PulsePropertyReader>(*m_table, m_options.bundleIdentifierForProcess);
    m_tapSinks = std::make_unique<TapSinks>(*m_table, m_options.journalPath, m_options.watchdogPath);
    m_mover = std::make_unique<StreamMover>(*m_table, m_tapSinks->journal());
    m_levels = std::make_unique<StreamLevels>(*m_table, *m_tapSinks);
    m_aggregates = std::make_unique<AggregateDevices>(*m_table, *m_mover, m_options.pipeWireGraph,
        [this](AudioObjectID id) { later([this, id](PulseConnection& c) { m_mover->moveIn(c, id, {}); }); });
    m_reconnection = std::make_unique<PulseReconnection>(*m_table, *m_tapSinks, *m_aggregates, m_ops, *m_control,
        m_options.requestTimeoutMs, m_options.serverGraceMs,
        PulseReconnection::Hooks {
            [this](std::unique_ptr<PulseConnection> connection) {
                PulseConnection* adopted = adopt(std::move(connection));
                // After the rebuild (which runs on the same queue): the streams may be new ones.
                if (adopted)
                    later([this](PulseConnection& c) { m_levels->reapply(c); });
                return adopted;
            },
            [this] { announceAll(); },
        });
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
    m_tapSinks->setServer(connection->serverName());
    if (m_options.recoverAtStart)
        TapRecovery::run(*connection, m_tapSinks->journal());
    if (!adopt(std::move(connection))) {
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
        m_options.latencyMs = serverName().contains(QLatin1String("PipeWire")) ? 8 : 10;
    m_aggregates->setLatencyMs(m_options.latencyMs);
    return true;
}

PulseConnection* PulseAudioHardware::adopt(std::unique_ptr<PulseConnection> connection)
{
    m_connection = std::move(connection);
    subscribe();
    return loadSnapshot() ? m_connection.get() : nullptr;
}

void PulseAudioHardware::subscribe()
{
    PulseConnection& connection = *m_connection;
    connection.setStateHandler([this](bool ready) { m_reconnection->connectionStateChanged(ready); });
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
        pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT | PA_SUBSCRIPTION_MASK_SERVER
            | PA_SUBSCRIPTION_MASK_CLIENT),
        nullptr, nullptr));
    // A server without a stream-restore database simply never calls this back.
    pa_ext_stream_restore_set_subscribe_cb(
        context,
        [](pa_context*, void* self) {
            auto* hardware = static_cast<PulseAudioHardware*>(self);
            hardware->later([hardware](PulseConnection& c) {
                hardware->m_mover->scrubRestoreMemory(c);
                hardware->m_levels->scrubRestoreMemory(c);
            });
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
        auto clients = PulseQuery::clients(*m_connection);
        auto streams = PulseQuery::streams(*m_connection);
        if (!sinks || !streams || !clients)
            return false;
        std::lock_guard lock(m_table->mutex());
        if (m_serverEvents.load() != eventsBefore && attempt < 4)
            continue;
        m_table->replaceSnapshot(
            info.name, info.defaultSink, info.rate, std::move(*sinks), std::move(*streams), std::move(*clients));
        return true;
    }
}

PulseAudioHardware::~PulseAudioHardware()
{
    {
        std::lock_guard lock(m_table->mutex());
        m_table->setStopping();
    }
    // Let queued maintenance finish, then put every application back where it was.
    m_control->sync([] {});
    {
        std::lock_guard ops(m_ops);
        if (m_connection) {
            // Levels first: a stream still in a tap then goes back to its own sink when the tap stops.
            m_levels->releaseAll(*m_connection);
            m_aggregates->stopAll(*m_connection);
            // What the server saved of the release after we read its memory; nothing scrubs it once we are gone.
            m_connection->sync();
            m_levels->scrubRestoreMemory(*m_connection);
            m_tapSinks->unloadAll(*m_connection);
        }
        // The loop thread still reads both tables while it handles events.
        std::lock_guard lock(m_table->mutex());
        m_table->clearObjects();
    }
    // The loop thread goes first: its events post work to the control queue until it stops. The watchdog
    // goes last, once nothing of ours is left for it to undo.
    m_connection.reset();
    m_control.reset();
    m_tapSinks.reset();
}

void PulseAudioHardware::later(std::function<void(PulseConnection&)> job)
{
    m_control->async([this, job = std::move(job)] {
        std::lock_guard ops(m_ops);
        {
            std::lock_guard lock(m_table->mutex());
            if (!m_table->connected() || m_table->stopping())
                return;
        }
        job(*m_connection);
    });
}

bool PulseAudioHardware::isConnected() const
{
    std::lock_guard lock(m_table->mutex());
    return m_table->connected();
}

QString PulseAudioHardware::serverName() const
{
    std::lock_guard lock(m_table->mutex());
    return m_table->serverName();
}

const QString& PulseAudioHardware::ownerToken() const
{
    return m_tapSinks->ownerToken();
}

// Server events (on the connection's loop thread)

void PulseAudioHardware::serverEvent(pa_context* context, unsigned facility, unsigned type, std::uint32_t index)
{
    // The context comes with the event: the connection object may already be on its way out.
    ++m_serverEvents;
    const bool removed = type == PA_SUBSCRIPTION_EVENT_REMOVE;
    if (facility == PA_SUBSCRIPTION_EVENT_SINK) {
        if (removed) {
            DeviceChange change;
            {
                std::lock_guard lock(m_table->mutex());
                change = m_table->removeSink(index);
            }
            announce(change);
        } else if (pa_operation* op = pa_context_get_sink_info_by_index(
                       context, index,
                       [](pa_context*, const pa_sink_info* info, int eol, void* self) {
                           if (!eol && info)
                               static_cast<PulseAudioHardware*>(self)->sinkArrived(SinkRecord::from(*info));
                       },
                       this)) {
            pa_operation_unref(op);
        }
        // A sink that comes or goes can change which one is the default without a server event for it
        // (pipewire-pulse picks its default anew and says nothing): ask, after the sink's own details.
        if (type == PA_SUBSCRIPTION_EVENT_NEW || removed)
            requestDefaultSink(context);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SINK_INPUT) {
        if (removed) {
            bool listChanged = false;
            bool departed = false;
            {
                std::lock_guard lock(m_table->mutex());
                listChanged = m_table->removeStream(index);
                departed = m_levels->streamRemoved(index);
            }
            if (departed)
                later([this](PulseConnection&) { m_levels->writeDepartedMemory(); });
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
    } else if (facility == PA_SUBSCRIPTION_EVENT_CLIENT) {
        clientEvent(context, index, removed);
    } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        requestDefaultSink(context);
    }
}

void PulseAudioHardware::requestDefaultSink(pa_context* context)
{
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

void PulseAudioHardware::clientEvent(pa_context* context, std::uint32_t index, bool removed)
{
    if (removed) {
        std::lock_guard lock(m_table->mutex());
        m_table->removeClient(index);
        return;
    }
    if (pa_operation* op = pa_context_get_client_info(
            context, index,
            [](pa_context*, const pa_client_info* info, int eol, void* self) {
                if (!eol && info)
                    static_cast<PulseAudioHardware*>(self)->clientArrived(ClientRecord::from(*info));
            },
            this))
        pa_operation_unref(op);
}

void PulseAudioHardware::clientArrived(const ClientRecord& client)
{
    bool listChanged = false;
    {
        std::lock_guard lock(m_table->mutex());
        listChanged = m_table->updateClient(client);
    }
    if (listChanged)
        notify(kAudioHardwarePropertyProcessObjectList);
}

void PulseAudioHardware::sinkArrived(const SinkRecord& sink)
{
    DeviceChange change;
    {
        std::lock_guard lock(m_table->mutex());
        change = m_table->updateSink(sink);
    }
    announce(change);
}

void PulseAudioHardware::streamArrived(const StreamRecord& stream)
{
    PulseObjectTable::StreamUpdate update;
    bool evict = false;
    std::vector<AudioObjectID> join;
    StreamLevels::Arrival level;
    {
        std::lock_guard lock(m_table->mutex());
        update = m_table->updateStream(stream);
        // A new stream of a process with a level gets it; a change someone else made to a held stream is taken
        // as the stream's own.
        level = m_levels->streamChanged(stream, update.isNew);
        // A new stream of a tapped application joins the tap as soon as it appears.
        if (update.isNew)
            join = m_mover->aggregatesToJoin(stream);
        // A stream of anyone else that lands in a tap sink was sent there by the server's memory of a move
        // (PipeWire's session manager keeps that memory where the pulse protocol cannot reach it): it goes
        // straight back to the default device.
        evict = m_mover->strayedIntoTap(stream);
    }
    if (evict)
        later([this, index = stream.index](PulseConnection& c) { m_mover->evict(c, index); });
    if (level.apply)
        later([this, index = stream.index](PulseConnection& c) { m_levels->applyToStream(c, index); });
    if (level.adopted)
        later([this](PulseConnection&) { m_levels->writeJournal(); });
    for (AudioObjectID id : join)
        later([this, id, index = stream.index](PulseConnection& c) { m_mover->moveIn(c, id, { index }); });
    if (update.processListChanged)
        notify(kAudioHardwarePropertyProcessObjectList);
}

void PulseAudioHardware::defaultSinkChanged(const QString& name)
{
    DeviceChange change;
    {
        std::lock_guard lock(m_table->mutex());
        change = m_table->setDefaultSink(name);
    }
    announce(change);
}

void PulseAudioHardware::announce(const DeviceChange& change)
{
    if (change.devices)
        notify(kAudioHardwarePropertyDevices);
    if (change.defaultDevice)
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

void PulseAudioHardware::announceAll()
{
    for (auto selector : { kAudioHardwarePropertyDevices, kAudioHardwarePropertyDefaultOutputDevice,
             kAudioHardwarePropertyProcessObjectList })
        notify(selector);
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

// Property reads

OSStatus PulseAudioHardware::getPropertyDataSize(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize)
{
    if (StreamLevels::isLevelProperty(address.mSelector))
        return levelStatus(object, m_levels->dataSize(object, address.mSelector, outDataSize));
    return m_properties->dataSize(object, address, outDataSize);
}

OSStatus PulseAudioHardware::getPropertyData(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData)
{
    if (StreamLevels::isLevelProperty(address.mSelector))
        return levelStatus(object, m_levels->data(object, address.mSelector, ioDataSize, outData));
    return m_properties->data(object, address, ioDataSize, outData);
}

OSStatus PulseAudioHardware::getPropertyString(
    AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue)
{
    return m_properties->string(object, address, outValue);
}

OSStatus PulseAudioHardware::isPropertySettable(
    AudioObjectID object, const AudioObjectPropertyAddress& address, bool* outIsSettable)
{
    if (!outIsSettable)
        return kAudio_ParamError;
    if (StreamLevels::isLevelProperty(address.mSelector))
        return levelStatus(object, m_levels->isSettable(object, outIsSettable));
    // Everything else that can be read is read-only.
    std::uint32_t size = 0;
    const OSStatus status = m_properties->dataSize(object, address, &size);
    if (status == noErr)
        *outIsSettable = false;
    return status;
}

OSStatus PulseAudioHardware::setPropertyData(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize, const void* data)
{
    if (!StreamLevels::isLevelProperty(address.mSelector)) {
        bool settable = false;
        const OSStatus status = isPropertySettable(object, address, &settable);
        return status == noErr ? kAudioHardwareIllegalOperationError : status;
    }
    std::lock_guard ops(m_ops);
    {
        std::lock_guard lock(m_table->mutex());
        if (!m_table->connected())
            return kAudioHardwareNotRunningError;
    }
    return levelStatus(object, m_levels->set(*m_connection, object, address.mSelector, dataSize, data));
}

OSStatus PulseAudioHardware::levelStatus(AudioObjectID object, OSStatus status) const
{
    // The level properties belong to process objects; any other object that exists does not have them.
    if (status != kAudioHardwareBadObjectError)
        return status;
    std::uint32_t size = 0;
    return m_properties->dataSize(object, globalAddress(kAudioObjectPropertyClass), &size) == noErr
        ? kAudioHardwareUnknownPropertyError
        : status;
}

// Process taps

OSStatus PulseAudioHardware::createProcessTap(const CATapDescription& description, AudioObjectID* outTapID)
{
    if (const OSStatus status = TapSinks::check(description, outTapID); status != noErr)
        return status;
    std::lock_guard ops(m_ops);
    return m_tapSinks->create(*m_connection, description, outTapID);
}

OSStatus PulseAudioHardware::destroyProcessTap(AudioObjectID tapID)
{
    std::lock_guard ops(m_ops);
    {
        std::lock_guard lock(m_table->mutex());
        if (!m_table->tap(tapID))
            return kAudioHardwareBadObjectError;
    }
    m_aggregates->stopReadersOf(*m_connection, tapID);
    m_tapSinks->destroy(*m_connection, tapID);
    return noErr;
}

// Aggregate devices

OSStatus PulseAudioHardware::createAggregateDevice(const CFDictionary& description, AudioObjectID* outDeviceID)
{
    AggregateDevices::Description described;
    if (const OSStatus status = AggregateDevices::describe(description, outDeviceID, &described); status != noErr)
        return status;
    std::lock_guard ops(m_ops);
    return m_aggregates->create(std::move(described), outDeviceID);
}

OSStatus PulseAudioHardware::destroyAggregateDevice(AudioObjectID deviceID)
{
    std::lock_guard ops(m_ops);
    return m_aggregates->destroy(*m_connection, deviceID);
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
    return m_aggregates->createIOProc(device, std::move(block), outProcID);
}

OSStatus PulseAudioHardware::destroyIOProcID(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    return m_aggregates->destroyIOProc(*m_connection, device, procID);
}

OSStatus PulseAudioHardware::deviceStart(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    return m_aggregates->start(device, procID);
}

OSStatus PulseAudioHardware::deviceStop(AudioObjectID device, AudioDeviceIOProcID procID)
{
    std::lock_guard ops(m_ops);
    return m_aggregates->stop(*m_connection, device, procID);
}

bool PulseAudioHardware::isTapping(AudioObjectID aggregate) const
{
    return m_aggregates->isTapping(aggregate);
}

std::uint64_t PulseAudioHardware::underruns(AudioObjectID aggregate) const
{
    return m_aggregates->underruns(aggregate);
}

std::uint64_t PulseAudioHardware::totalUnderruns() const
{
    return m_aggregates->totalUnderruns();
}

} // namespace sonaric
