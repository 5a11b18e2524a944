#include "platform/audio/linux/aggregate_devices.h"

#include "platform/audio/linux/pipewire_aggregate_device.h"
#include "platform/audio/linux/pulse_aggregate_device.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/stream_mover.h"

#include <pulse/pulseaudio.h>

#include <vector>

namespace sonaric
{

AggregateDevices::AggregateDevices(
    PulseObjectTable& table, StreamMover& mover, bool pipeWireGraph, std::function<void(AudioObjectID)> moveInLater)
    : m_table(table)
    , m_mover(mover)
    , m_pipeWireGraph(pipeWireGraph)
    , m_moveInLater(std::move(moveInLater))
{
}

AggregateDevices::~AggregateDevices() = default;

OSStatus AggregateDevices::describe(const CFDictionary& description, AudioObjectID* outDeviceID, Description* out)
{
    if (!outDeviceID)
        return kAudio_ParamError;
    *outDeviceID = 0;
    auto aggregate = std::make_unique<AggregateDeviceRecord>();
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
    out->tapUID = taps.front().toMap().value(kAudioSubTapUIDKey).toString();
    out->mainSubDevice = description.value(kAudioAggregateDeviceMainSubDeviceKey).toString();
    out->record = std::move(aggregate);
    return noErr;
}

OSStatus AggregateDevices::create(Description description, AudioObjectID* outDeviceID)
{
    auto& aggregate = description.record;
    std::lock_guard lock(m_table.mutex());
    if (!m_table.connected())
        return kAudioHardwareNotRunningError;
    const SinkRecord* output = m_table.sinkNamed(aggregate->outputSink);
    if (!output || !output->isDevice()
        || (!description.mainSubDevice.isEmpty() && description.mainSubDevice != aggregate->outputSink))
        return kAudioHardwareBadDeviceError;
    for (const auto& [id, tap] : m_table.taps())
        if (tap->uid == description.tapUID)
            aggregate->tap = id;
    if (!aggregate->tap)
        return kAudioHardwareBadObjectError;
    for (const auto& [id, existing] : m_table.aggregates())
        if (existing->uid == aggregate->uid)
            return kAudioHardwareIllegalOperationError;
    const AudioObjectID id = m_table.newObjectID();
    m_table.addAggregate(id, std::move(aggregate));
    *outDeviceID = id;
    return noErr;
}

OSStatus AggregateDevices::destroy(PulseConnection& connection, AudioObjectID deviceID)
{
    std::unique_ptr<AggregateDeviceRecord> aggregate;
    {
        std::lock_guard lock(m_table.mutex());
        aggregate = m_table.takeAggregate(deviceID);
        if (!aggregate)
            return kAudioHardwareBadObjectError;
    }
    stopPath(connection, *aggregate);
    return noErr;
}

OSStatus AggregateDevices::createIOProc(AudioObjectID device, AudioDeviceIOBlock block, AudioDeviceIOProcID* outProcID)
{
    std::lock_guard lock(m_table.mutex());
    AggregateDeviceRecord* aggregate = m_table.aggregate(device);
    if (!aggregate)
        return m_table.tap(device) || m_table.deviceSink(device) ? kAudioHardwareUnsupportedOperationError
                                                                 : kAudioHardwareBadDeviceError;
    const AudioDeviceIOProcID proc = m_table.newProcID();
    aggregate->procs.emplace(proc, std::move(block));
    *outProcID = proc;
    return noErr;
}

OSStatus AggregateDevices::withProc(
    AudioObjectID device, AudioDeviceIOProcID procID, AggregateDeviceRecord** outAggregate) const
{
    AggregateDeviceRecord* aggregate = m_table.aggregate(device);
    if (!aggregate)
        return kAudioHardwareBadDeviceError;
    if (!aggregate->procs.count(procID))
        return kAudio_ParamError;
    *outAggregate = aggregate;
    return noErr;
}

OSStatus AggregateDevices::destroyIOProc(PulseConnection& connection, AudioObjectID device, AudioDeviceIOProcID procID)
{
    if (const OSStatus status = stop(connection, device, procID); status != noErr)
        return status;
    // The device cannot have gone meanwhile: that too takes the operations lock.
    std::lock_guard lock(m_table.mutex());
    m_table.aggregate(device)->procs.erase(procID);
    return noErr;
}

OSStatus AggregateDevices::start(AudioObjectID device, AudioDeviceIOProcID procID)
{
    AggregateDeviceRecord* aggregate = nullptr;
    {
        std::lock_guard lock(m_table.mutex());
        if (const OSStatus status = withProc(device, procID, &aggregate); status != noErr)
            return status;
        if (!m_table.connected())
            return kAudioHardwareNotRunningError;
    }
    if (aggregate->ioPath && aggregate->runningProc == procID)
        return noErr;
    if (aggregate->ioPath)
        return kAudioHardwareIllegalOperationError;
    aggregate->runningProc = procID;
    const OSStatus status = startPath(device, *aggregate);
    if (status != noErr)
        aggregate->runningProc = nullptr;
    return status;
}

OSStatus AggregateDevices::stop(PulseConnection& connection, AudioObjectID device, AudioDeviceIOProcID procID)
{
    AggregateDeviceRecord* aggregate = nullptr;
    {
        std::lock_guard lock(m_table.mutex());
        if (const OSStatus status = withProc(device, procID, &aggregate); status != noErr)
            return status;
    }
    if (aggregate->runningProc == procID)
        stopPath(connection, *aggregate);
    return noErr;
}

void AggregateDevices::stopReadersOf(PulseConnection& connection, AudioObjectID tapID)
{
    std::vector<AggregateDeviceRecord*> readers;
    {
        std::lock_guard lock(m_table.mutex());
        for (const auto& [id, aggregate] : m_table.aggregates())
            if (aggregate->tap == tapID && aggregate->ioPath)
                readers.push_back(aggregate.get());
    }
    for (AggregateDeviceRecord* aggregate : readers)
        stopPath(connection, *aggregate);
}

void AggregateDevices::stopAll(PulseConnection& connection)
{
    for (const auto& [id, aggregate] : m_table.aggregates())
        stopPath(connection, *aggregate);
}

void AggregateDevices::restartAfterReconnect(const std::set<AudioObjectID>& keptTaps)
{
    for (const auto& [id, aggregate] : m_table.aggregates()) {
        if (!aggregate->runningProc)
            continue;
        std::unique_ptr<AggregateIOPath> ioPath;
        {
            // Server events and the state reads look at both on other threads.
            std::lock_guard lock(m_table.mutex());
            ioPath = std::move(aggregate->ioPath);
            aggregate->movedIn = false;
        }
        if (ioPath)
            ioPath->stop();
        // Streams still in a kept tap sink stay there and keep the sinks they came from.
        if (!keptTaps.contains(aggregate->tap))
            aggregate->moved.clear();
        startPath(id, *aggregate);
    }
}

OSStatus AggregateDevices::startPath(AudioObjectID id, AggregateDeviceRecord& aggregate)
{
    AggregateIOPath::Config config;
    {
        std::lock_guard lock(m_table.mutex());
        const ProcessTapRecord* tap = m_table.tap(aggregate.tap);
        const SinkRecord* output = m_table.sinkNamed(aggregate.outputSink);
        if (!tap || tap->sinkIndex == PA_INVALID_INDEX)
            return kAudioHardwareBadObjectError;
        if (!output)
            return kAudioHardwareBadDeviceError;
        config.tapSink = tap->sinkName;
        config.tapMonitor = tap->monitor;
        config.outputSink = aggregate.outputSink;
        config.rate = tap->rate;
        config.outputChannels = output->channels;
        config.latencyMs = m_latencyMs;
        config.block = aggregate.procs.at(aggregate.runningProc);
    }
    // The monitor of a fresh null sink can stay silent for a while; until it delivers, the application
    // keeps playing where it was, so the switch into the tap is seamless.
    const auto moveInOnFirstData = [this, id] { m_moveInLater(id); };
    std::unique_ptr<AggregateIOPath> ioPath;
    if (m_pipeWireGraph && serverIsPipeWire()) {
        // Inside PipeWire's graph the path adds nothing to the latency; through pulse streams it adds two of
        // the pulse server's quanta at least. The streams remain for when PipeWire itself is out of reach.
        ioPath = std::make_unique<PipeWireAggregateDevice>(config);
        QString error;
        if (!ioPath->start(moveInOnFirstData, &error)) {
            qWarning(
                "sonaric: tapping through PipeWire's graph failed (%s); using pulse streams", qUtf8Printable(error));
            ioPath.reset();
        }
    }
    if (!ioPath) {
        ioPath = std::make_unique<PulseAggregateDevice>(std::move(config));
        if (!ioPath->start(moveInOnFirstData, nullptr))
            return kAudioHardwareUnspecifiedError;
    }
    std::lock_guard lock(m_table.mutex());
    aggregate.ioPath = std::move(ioPath);
    return noErr;
}

bool AggregateDevices::serverIsPipeWire() const
{
    std::lock_guard lock(m_table.mutex());
    return m_table.serverName().contains(QLatin1String("PipeWire"));
}

void AggregateDevices::stopPath(PulseConnection& connection, AggregateDeviceRecord& aggregate)
{
    aggregate.runningProc = nullptr;
    if (!aggregate.ioPath)
        return;
    // Flush first: what is still queued for the device would otherwise play a second time after the
    // application is back on it.
    aggregate.ioPath->flush();
    const ProcessTapRecord* tap = nullptr;
    {
        std::lock_guard lock(m_table.mutex());
        tap = m_table.tap(aggregate.tap);
        aggregate.movedIn = false;
    }
    if (tap)
        m_mover.moveBack(connection, aggregate, *tap);
    std::unique_ptr<AggregateIOPath> ioPath;
    {
        std::lock_guard lock(m_table.mutex());
        ioPath = std::move(aggregate.ioPath);
    }
    ioPath->stop();
}

bool AggregateDevices::isTapping(AudioObjectID aggregateID) const
{
    std::lock_guard lock(m_table.mutex());
    const AggregateDeviceRecord* aggregate = m_table.aggregate(aggregateID);
    return aggregate && aggregate->ioPath && aggregate->ioPath->isRunning() && aggregate->movedIn;
}

std::uint64_t AggregateDevices::underruns(AudioObjectID aggregateID) const
{
    std::lock_guard lock(m_table.mutex());
    const AggregateDeviceRecord* aggregate = m_table.aggregate(aggregateID);
    return aggregate && aggregate->ioPath ? aggregate->ioPath->underruns() : 0;
}

std::uint64_t AggregateDevices::totalUnderruns() const
{
    std::lock_guard lock(m_table.mutex());
    std::uint64_t total = 0;
    for (const auto& [id, aggregate] : m_table.aggregates())
        if (aggregate->ioPath)
            total += aggregate->ioPath->underruns();
    return total;
}

} // namespace sonaric
