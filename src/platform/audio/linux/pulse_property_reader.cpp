#include "platform/audio/linux/pulse_property_reader.h"

#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/property_data.h"

#include <QFile>

#include <algorithm>
#include <vector>

namespace sonaric
{

namespace
{

/// A sink's stream configuration: one interleaved stream of `channels`, or none.
OSStatus writeStreamConfiguration(std::uint32_t channels, std::uint32_t* ioDataSize, void* outData)
{
    return writePropertyBytes(
        audioBufferListBytes(channels ? std::vector<std::uint32_t> { channels } : std::vector<std::uint32_t> {}),
        ioDataSize, outData);
}

} // namespace

PulsePropertyReader::PulsePropertyReader(
    const PulseObjectTable& table, std::function<QString(pid_t)> bundleIdentifierForProcess)
    : m_table(table)
    , m_bundleIdentifierForProcess(std::move(bundleIdentifierForProcess))
{
}

OSStatus PulsePropertyReader::dataSize(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize)
{
    if (!outDataSize)
        return kAudio_ParamError;
    // Large enough for any value; the read reports the exact size.
    thread_local std::vector<std::uint8_t> buffer(64 * 1024);
    std::uint32_t size = std::uint32_t(buffer.size());
    const OSStatus status = data(object, address, &size, buffer.data());
    if (status == noErr)
        *outDataSize = size;
    return status;
}

OSStatus PulsePropertyReader::data(
    AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData)
{
    if (!ioDataSize)
        return kAudio_ParamError;
    const auto selector = address.mSelector;
    std::lock_guard lock(m_table.mutex());

    if (object == kAudioObjectSystemObject) {
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writePropertyValue(kAudioSystemObjectClassID, ioDataSize, outData);
        case kAudioHardwarePropertyDevices:
            return writePropertyIDs(m_table.deviceIDs(), ioDataSize, outData);
        case kAudioHardwarePropertyProcessObjectList:
            return writePropertyIDs(m_table.processIDs(), ioDataSize, outData);
        case kAudioHardwarePropertyDefaultOutputDevice:
            return writePropertyValue(m_table.defaultDeviceID(), ioDataSize, outData);
        case kAudioHardwarePropertyTapList: {
            std::vector<AudioObjectID> ids;
            for (const auto& [id, tap] : m_table.taps())
                ids.push_back(id);
            return writePropertyIDs(ids, ioDataSize, outData);
        }
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (const SinkRecord* sink = m_table.deviceSink(object)) {
        const bool input = address.mScope == kAudioObjectPropertyScopeInput;
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writePropertyValue(kAudioDeviceClassID, ioDataSize, outData);
        case kAudioDevicePropertyTransportType:
            return writePropertyValue(transportType(sink->traits), ioDataSize, outData);
        case kAudioDevicePropertyDeviceCanBeDefaultDevice:
            return writePropertyValue(std::uint32_t(!input && isOfferedAsOutput(sink->traits)), ioDataSize, outData);
        case kAudioDevicePropertyDeviceIsAlive:
            return writePropertyValue(std::uint32_t(1), ioDataSize, outData);
        case kAudioDevicePropertyNominalSampleRate:
            return writePropertyValue(double(sink->rate), ioDataSize, outData);
        case kAudioDevicePropertyStreamConfiguration:
            return writeStreamConfiguration(input ? 0 : sink->channels, ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (const auto streams = m_table.processStreams(object); !streams.empty()) {
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writePropertyValue(kAudioProcessClassID, ioDataSize, outData);
        case kAudioProcessPropertyPID:
            return writePropertyValue(std::int32_t(streams.front()->pid), ioDataSize, outData);
        case kAudioProcessPropertyIsRunningOutput:
            return writePropertyValue(std::uint32_t(std::any_of(streams.begin(), streams.end(),
                                          [](const StreamRecord* s) { return !s->corked; })),
                ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }

    if (m_table.tap(object)) {
        if (selector == kAudioObjectPropertyClass)
            return writePropertyValue(kAudioTapClassID, ioDataSize, outData);
        return kAudioHardwareUnknownPropertyError;
    }

    if (const AggregateDeviceRecord* aggregate = m_table.aggregate(object)) {
        const ProcessTapRecord* tap = m_table.tap(aggregate->tap);
        const SinkRecord* output = m_table.sinkNamed(aggregate->outputSink);
        switch (selector) {
        case kAudioObjectPropertyClass:
            return writePropertyValue(kAudioAggregateDeviceClassID, ioDataSize, outData);
        case kAudioDevicePropertyTransportType:
            return writePropertyValue(kAudioDeviceTransportTypeAggregate, ioDataSize, outData);
        case kAudioDevicePropertyDeviceCanBeDefaultDevice:
            return writePropertyValue(std::uint32_t(0), ioDataSize, outData);
        case kAudioDevicePropertyDeviceIsAlive:
            return writePropertyValue(std::uint32_t(m_table.connected() && output && tap), ioDataSize, outData);
        case kAudioDevicePropertyNominalSampleRate:
            return writePropertyValue(double(tap ? tap->rate : m_table.defaultRate()), ioDataSize, outData);
        case kAudioDevicePropertyStreamConfiguration:
            // Sinks have no input streams of their own, so the tap's stereo stream is the only (and last) input.
            if (address.mScope == kAudioObjectPropertyScopeInput)
                return writeStreamConfiguration(tap ? 2 : 0, ioDataSize, outData);
            return writeStreamConfiguration(output ? output->channels : 2, ioDataSize, outData);
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    return kAudioHardwareBadObjectError;
}

OSStatus PulsePropertyReader::string(AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue)
{
    if (!outValue)
        return kAudio_ParamError;
    const auto selector = address.mSelector;
    std::lock_guard lock(m_table.mutex());
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
    if (const SinkRecord* sink = m_table.deviceSink(object))
        return answer(
            kAudioDevicePropertyDeviceUID, [&] { return sink->name; },
            [&] { return sink->description.isEmpty() ? sink->name : sink->description; });
    if (const auto streams = m_table.processStreams(object); !streams.empty())
        return answer(
            kAudioProcessPropertyBundleID, [&] { return bundleIdentifier(object); },
            [&] { return processName(streams, commandName); });
    if (const ProcessTapRecord* tap = m_table.tap(object))
        return answer(
            kAudioTapPropertyUID, [&] { return tap->uid; }, [&] { return tap->name; });
    if (const AggregateDeviceRecord* aggregate = m_table.aggregate(object))
        return answer(
            kAudioDevicePropertyDeviceUID, [&] { return aggregate->uid; }, [&] { return aggregate->name; });
    return kAudioHardwareBadObjectError;
}

QString PulsePropertyReader::processName(
    const std::vector<const StreamRecord*>& streams, const std::function<QString(pid_t)>& commandName)
{
    // Command-line players (paplay, pw-play, mpv) have no desktop entry: this is the only name they have.
    for (QString StreamRecord::*field : { &StreamRecord::applicationName, &StreamRecord::binary })
        for (const StreamRecord* stream : streams)
            if (!(stream->*field).trimmed().isEmpty())
                return (stream->*field).trimmed();
    if (streams.empty() || streams.front()->pid <= 0 || !commandName)
        return {};
    return commandName(streams.front()->pid);
}

QString PulsePropertyReader::commandName(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).trimmed();
}

QString PulsePropertyReader::bundleIdentifier(AudioObjectID process) const
{
    const auto streams = m_table.processStreams(process);
    for (const auto* stream : streams)
        if (!stream->applicationId.isEmpty())
            return stream->applicationId;
    if (streams.empty() || streams.front()->pid <= 0 || !m_bundleIdentifierForProcess)
        return {};
    const pid_t pid = streams.front()->pid;
    auto cached = m_bundleCache.find(pid);
    if (cached == m_bundleCache.end())
        cached = m_bundleCache.emplace(pid, m_bundleIdentifierForProcess(pid)).first;
    return cached->second;
}

} // namespace sonaric
