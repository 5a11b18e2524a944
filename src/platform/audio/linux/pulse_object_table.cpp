#include "platform/audio/linux/pulse_object_table.h"

#include <algorithm>

namespace sonaric
{

namespace
{

bool byIndex(const StreamRecord& a, const StreamRecord& b)
{
    return a.index < b.index;
}

template <typename Table> typename Table::mapped_type take(Table& table, AudioObjectID id)
{
    const auto it = table.find(id);
    if (it == table.end())
        return nullptr;
    auto object = std::move(it->second);
    table.erase(it);
    return object;
}

} // namespace

void PulseObjectTable::replaceSnapshot(const QString& serverName, const QString& defaultSink, std::uint32_t defaultRate,
    std::vector<SinkRecord> sinks, std::vector<StreamRecord> streams, std::vector<ClientRecord> clients)
{
    m_clients.clear();
    for (auto& client : clients)
        m_clients.insert_or_assign(client.index, std::move(client));
    m_serverName = serverName;
    m_defaultSink = defaultSink;
    m_defaultRate = defaultRate ? defaultRate : 48000;
    m_sinks = std::move(sinks);
    m_streams = std::move(streams);
    std::sort(m_streams.begin(), m_streams.end(), byIndex);
    for (auto& stream : m_streams)
        if (const auto client = m_clients.find(stream.client); client != m_clients.end())
            stream.completeFrom(client->second);
    for (const auto& sink : m_sinks)
        if (sink.isDevice())
            idFor(m_deviceIds, sink.name);
    for (const auto& stream : m_streams)
        if (!stream.internal)
            idFor(m_processIds, stream.processKey());
    m_connected = true;
    m_changed.notify_all();
}

void PulseObjectTable::clearSnapshot()
{
    m_sinks.clear();
    m_streams.clear();
    m_clients.clear();
    m_defaultSink.clear();
}

DeviceChange PulseObjectTable::removeSink(std::uint32_t index)
{
    const AudioObjectID defaultBefore = defaultDeviceID();
    DeviceChange change;
    const auto it = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const SinkRecord& s) { return s.index == index; });
    if (it != m_sinks.end()) {
        change.devices = it->isDevice();
        m_sinks.erase(it);
    }
    change.defaultDevice = defaultDeviceID() != defaultBefore;
    m_changed.notify_all();
    return change;
}

DeviceChange PulseObjectTable::updateSink(const SinkRecord& sink)
{
    const AudioObjectID defaultBefore = defaultDeviceID();
    DeviceChange change;
    const auto it
        = std::find_if(m_sinks.begin(), m_sinks.end(), [&](const SinkRecord& s) { return s.index == sink.index; });
    if (sink.isDevice()) {
        idFor(m_deviceIds, sink.name);
        change.devices = it == m_sinks.end() || it->description != sink.description || it->name != sink.name;
    }
    if (it == m_sinks.end())
        m_sinks.push_back(sink);
    else
        *it = sink;
    change.defaultDevice = defaultDeviceID() != defaultBefore;
    m_changed.notify_all();
    return change;
}

bool PulseObjectTable::removeStream(std::uint32_t index)
{
    const auto before = processIDs();
    std::erase_if(m_streams, [&](const StreamRecord& s) { return s.index == index; });
    return processIDs() != before;
}

PulseObjectTable::StreamUpdate PulseObjectTable::updateStream(const StreamRecord& arrived)
{
    StreamRecord stream = arrived;
    if (const auto client = m_clients.find(stream.client); client != m_clients.end())
        stream.completeFrom(client->second);
    StreamUpdate update;
    const auto before = processIDs();
    const auto it = std::find_if(
        m_streams.begin(), m_streams.end(), [&](const StreamRecord& s) { return s.index == stream.index; });
    update.isNew = it == m_streams.end();
    if (update.isNew)
        m_streams.insert(std::upper_bound(m_streams.begin(), m_streams.end(), stream, byIndex), stream);
    else
        *it = stream;
    if (!stream.internal)
        idFor(m_processIds, stream.processKey());
    update.processListChanged = processIDs() != before;
    m_changed.notify_all();
    return update;
}

bool PulseObjectTable::updateClient(const ClientRecord& client)
{
    m_clients.insert_or_assign(client.index, client);
    const auto before = processIDs();
    for (auto& stream : m_streams)
        if (stream.completeFrom(client) && !stream.internal)
            idFor(m_processIds, stream.processKey());
    return processIDs() != before;
}

void PulseObjectTable::removeClient(std::uint32_t index)
{
    m_clients.erase(index);
}

DeviceChange PulseObjectTable::setDefaultSink(const QString& name)
{
    const AudioObjectID defaultBefore = defaultDeviceID();
    m_defaultSink = name;
    return { .defaultDevice = defaultDeviceID() != defaultBefore };
}

const SinkRecord* PulseObjectTable::waitForSink(
    std::unique_lock<std::mutex>& lock, const QString& name, std::chrono::milliseconds timeout) const
{
    m_changed.wait_for(lock, timeout, [&] { return sinkNamed(name); });
    return sinkNamed(name);
}

const SinkRecord* PulseObjectTable::sinkNamed(const QString& name) const
{
    for (const auto& sink : m_sinks)
        if (sink.name == name)
            return &sink;
    return nullptr;
}

const SinkRecord* PulseObjectTable::sinkWithIndex(std::uint32_t index) const
{
    for (const auto& sink : m_sinks)
        if (sink.index == index)
            return &sink;
    return nullptr;
}

std::vector<std::uint32_t> PulseObjectTable::streamsIn(std::uint32_t sinkIndex) const
{
    std::vector<std::uint32_t> streams;
    for (const auto& stream : m_streams)
        if (stream.sink == sinkIndex)
            streams.push_back(stream.index);
    return streams;
}

const SinkRecord* PulseObjectTable::deviceSink(AudioObjectID id) const
{
    for (const auto& [name, device] : m_deviceIds)
        if (device == id) {
            const SinkRecord* sink = sinkNamed(name);
            return sink && sink->isDevice() ? sink : nullptr;
        }
    return nullptr;
}

std::vector<const StreamRecord*> PulseObjectTable::processStreams(AudioObjectID id) const
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

std::vector<AudioObjectID> PulseObjectTable::deviceIDs() const
{
    std::vector<AudioObjectID> ids;
    for (const auto& sink : m_sinks)
        if (sink.isDevice())
            ids.push_back(m_deviceIds.at(sink.name));
    return ids;
}

std::vector<AudioObjectID> PulseObjectTable::processIDs() const
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

AudioObjectID PulseObjectTable::defaultDeviceID() const
{
    if (const SinkRecord* sink = sinkNamed(m_defaultSink); sink && sink->isDevice())
        return m_deviceIds.at(sink->name);
    const SinkRecord* first = nullptr;
    for (const SinkRecord& sink : m_sinks)
        if (sink.isDevice() && (!first || sink.index < first->index))
            first = &sink;
    return first ? m_deviceIds.at(first->name) : 0;
}

std::optional<QString> PulseObjectTable::processKey(AudioObjectID id) const
{
    const auto it
        = std::find_if(m_processIds.begin(), m_processIds.end(), [&](const auto& entry) { return entry.second == id; });
    if (it == m_processIds.end())
        return std::nullopt;
    return it->first;
}

ProcessTapRecord* PulseObjectTable::tap(AudioObjectID id) const
{
    const auto it = m_taps.find(id);
    return it == m_taps.end() ? nullptr : it->second.get();
}

AggregateDeviceRecord* PulseObjectTable::aggregate(AudioObjectID id) const
{
    const auto it = m_aggregates.find(id);
    return it == m_aggregates.end() ? nullptr : it->second.get();
}

void PulseObjectTable::addTap(AudioObjectID id, std::unique_ptr<ProcessTapRecord> tap)
{
    m_taps.emplace(id, std::move(tap));
}

std::unique_ptr<ProcessTapRecord> PulseObjectTable::takeTap(AudioObjectID id)
{
    return take(m_taps, id);
}

void PulseObjectTable::addAggregate(AudioObjectID id, std::unique_ptr<AggregateDeviceRecord> aggregate)
{
    m_aggregates.emplace(id, std::move(aggregate));
}

std::unique_ptr<AggregateDeviceRecord> PulseObjectTable::takeAggregate(AudioObjectID id)
{
    return take(m_aggregates, id);
}

void PulseObjectTable::clearObjects()
{
    m_aggregates.clear();
    m_taps.clear();
}

AudioObjectID PulseObjectTable::idFor(std::map<QString, AudioObjectID>& table, const QString& key)
{
    auto [it, inserted] = table.try_emplace(key, 0);
    if (inserted)
        it->second = m_nextId++;
    return it->second;
}

} // namespace sonaric
