#include "platform/audio/linux/stream_mover.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace sonaric
{

namespace
{

bool tapsProcess(const ProcessTapRecord& tap, const QString& processKey)
{
    return std::find(tap.processKeys.begin(), tap.processKeys.end(), processKey) != tap.processKeys.end();
}

} // namespace

StreamMover::StreamMover(PulseObjectTable& table, TapJournal& journal)
    : m_table(table)
    , m_journal(journal)
{
}

bool StreamMover::connected() const
{
    std::lock_guard lock(m_table.mutex());
    return m_table.connected();
}

void StreamMover::moveIn(
    PulseConnection& connection, AudioObjectID aggregateID, const std::vector<std::uint32_t>& onlyStreams)
{
    AggregateDeviceRecord* aggregate = nullptr;
    QString tapSink;
    std::vector<std::pair<StreamRecord, QString>> toMove;
    {
        std::lock_guard lock(m_table.mutex());
        aggregate = m_table.aggregate(aggregateID);
        if (!aggregate || !aggregate->ioPath || !m_table.connected() || m_table.stopping())
            return;
        const ProcessTapRecord* tap = m_table.tap(aggregate->tap);
        if (!tap)
            return;
        tapSink = tap->sinkName;
        for (const auto& stream : m_table.streams()) {
            if (stream.internal || stream.sink == tap->sinkIndex || !tapsProcess(*tap, stream.processKey()))
                continue;
            if (!onlyStreams.empty()
                && std::find(onlyStreams.begin(), onlyStreams.end(), stream.index) == onlyStreams.end())
                continue;
            const SinkRecord* from = m_table.sinkWithIndex(stream.sink);
            toMove.emplace_back(stream, from ? from->name : QString());
        }
    }
    if (!toMove.empty()) {
        const auto before = RestoreMemory::read(connection);
        for (const auto& [stream, from] : toMove)
            m_journal.addStream(tapSink, { stream.index, stream.pid, from });
        for (const auto& [stream, from] : toMove)
            if (PulseQuery::moveStream(connection, stream.index, tapSink))
                aggregate->moved[stream.index] = from;
        // The move taught the server to send this application (and anything sharing its role) into the tap
        // sink next time; put its memory back as it was.
        if (before) {
            connection.sync();
            if (const auto after = RestoreMemory::read(connection)) {
                const auto changes = RestoreMemory::changes(*before, *after);
                m_journal.addRestore(tapSink, changes);
                for (const auto& change : changes)
                    if (std::none_of(aggregate->restore.begin(), aggregate->restore.end(),
                            [&](const RestoreChange& r) { return r.name == change.name; }))
                        aggregate->restore.push_back(change);
                RestoreMemory::revert(connection, changes);
            }
        }
    }
    std::lock_guard lock(m_table.mutex());
    aggregate->movedIn = aggregate->ioPath != nullptr;
}

void StreamMover::moveBack(PulseConnection& connection, AggregateDeviceRecord& aggregate, const ProcessTapRecord& tap)
{
    if (!connected()) {
        aggregate.moved.clear();
        return;
    }
    std::vector<std::pair<std::uint32_t, QString>> moves;
    {
        std::lock_guard lock(m_table.mutex());
        for (const auto& stream : m_table.streams()) {
            if (stream.sink != tap.sinkIndex || stream.internal)
                continue;
            const auto moved = aggregate.moved.find(stream.index);
            QString target = moved == aggregate.moved.end() ? QString() : moved->second;
            const SinkRecord* sink = m_table.sinkNamed(target);
            if (!sink || !sink->tapUid.isEmpty())
                target = m_table.defaultSink();
            moves.emplace_back(stream.index, target);
        }
    }
    const auto before = RestoreMemory::read(connection);
    for (const auto& [index, target] : moves)
        PulseQuery::moveStream(connection, index, target);
    if (before) {
        connection.sync();
        if (const auto after = RestoreMemory::read(connection)) {
            // Back to what the table held before we ever moved this application.
            auto changes = RestoreMemory::changes(*before, *after);
            for (auto& change : changes)
                for (const auto& original : aggregate.restore)
                    if (original.name == change.name)
                        change.original = original.original;
            RestoreMemory::revert(connection, changes);
        }
    }
    aggregate.moved.clear();
    aggregate.restore.clear();
    m_journal.update([&](std::vector<JournalTap>& taps) {
        for (auto& t : taps)
            if (t.sink == tap.sinkName) {
                t.streams.clear();
                t.restore.clear();
            }
    });
}

void StreamMover::evict(PulseConnection& connection, std::uint32_t index)
{
    QString target;
    {
        std::lock_guard lock(m_table.mutex());
        if (!m_table.connected() || m_table.stopping())
            return;
        const auto& streams = m_table.streams();
        const auto stream
            = std::find_if(streams.begin(), streams.end(), [&](const StreamRecord& s) { return s.index == index; });
        const SinkRecord* current = stream == streams.end() ? nullptr : m_table.sinkWithIndex(stream->sink);
        if (!current || current->tapUid.isEmpty())
            return;
        for (const auto& [id, tap] : m_table.taps())
            if (tap->sinkIndex == current->index && tapsProcess(*tap, stream->processKey()))
                return;
        const SinkRecord* fallback = m_table.sinkNamed(m_table.defaultSink());
        if (!fallback || !fallback->tapUid.isEmpty())
            return;
        target = fallback->name;
    }
    PulseQuery::moveStream(connection, index, target);
}

void StreamMover::scrubRestoreMemory(PulseConnection& connection)
{
    // Some servers write their memory a moment after the move; whatever still points at a tap sink is put back.
    {
        std::lock_guard lock(m_table.mutex());
        if (!m_table.connected() || m_table.stopping() || m_table.taps().empty())
            return;
    }
    const auto table = RestoreMemory::read(connection);
    if (!table)
        return;
    std::vector<RestoreChange> changes;
    for (const auto& name : RestoreMemory::pointingAt(*table, QLatin1String(kTapSinkPrefix))) {
        RestoreChange change { name, std::nullopt };
        for (const auto& [id, aggregate] : m_table.aggregates())
            for (const auto& original : aggregate->restore)
                if (original.name == name)
                    change.original = original.original;
        changes.push_back(change);
    }
    RestoreMemory::revert(connection, changes);
}

std::vector<AudioObjectID> StreamMover::aggregatesToJoin(const StreamRecord& stream) const
{
    std::vector<AudioObjectID> join;
    if (stream.internal)
        return join;
    for (const auto& [id, aggregate] : m_table.aggregates()) {
        if (!aggregate->movedIn)
            continue;
        const ProcessTapRecord* tap = m_table.tap(aggregate->tap);
        if (!tap || tap->sinkIndex == stream.sink)
            continue;
        if (tapsProcess(*tap, stream.processKey()))
            join.push_back(id);
    }
    return join;
}

bool StreamMover::strayedIntoTap(const StreamRecord& stream) const
{
    if (stream.internal)
        return false;
    bool strayed = false;
    for (const auto& [id, tap] : m_table.taps())
        if (tap->sinkIndex == stream.sink && !tapsProcess(*tap, stream.processKey()))
            strayed = true;
    return strayed;
}

} // namespace sonaric
