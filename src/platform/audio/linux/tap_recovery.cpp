#include "platform/audio/linux/tap_recovery.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"

#include <QSet>

#include <algorithm>

namespace sonaric::TapRecovery
{

RecoveryReport run(
    PulseConnection& connection, TapJournal& journal, const std::function<bool(const QString&)>& isAbandonedByCaller)
{
    const auto abandoned = [&](const QString& owner) {
        return isAbandonedByCaller ? isAbandonedByCaller(owner) : !TapJournal::isOwnerAlive(owner);
    };
    RecoveryReport report;
    const auto sinks = PulseQuery::sinks(connection);
    const auto streams = PulseQuery::streams(connection);
    if (!sinks || !streams)
        return report;
    const QString server = connection.serverName();
    // One read: the journal may be anything a path can name, a pipe included.
    const TapJournal::Contents contents = journal.readAll();
    const auto& recorded = contents.taps;

    QSet<QString> liveSinks, deadSinks;
    for (const auto& sink : *sinks) {
        if (sink.tapUid.isEmpty())
            continue;
        (abandoned(sink.tapOwner) ? deadSinks : liveSinks).insert(sink.name);
    }

    const auto isRealSink = [&](const QString& name) {
        return std::any_of(
            sinks->begin(), sinks->end(), [&](const SinkRecord& s) { return s.name == name && s.tapUid.isEmpty(); });
    };
    QString fallback = PulseQuery::defaultSink(connection);
    if (!isRealSink(fallback)) {
        const auto real
            = std::find_if(sinks->begin(), sinks->end(), [](const SinkRecord& s) { return s.tapUid.isEmpty(); });
        fallback = real == sinks->end() ? QString() : real->name;
    }

    // Sound first: every stream left in an abandoned tap sink is silent until it is moved back.
    for (const auto& sink : *sinks) {
        if (!deadSinks.contains(sink.name))
            continue;
        const JournalTap* entry = nullptr;
        for (const auto& tap : recorded)
            if (tap.sink == sink.name)
                entry = &tap;
        for (const auto& stream : *streams) {
            if (stream.sink != sink.index)
                continue;
            QString target;
            if (entry) {
                for (const auto& moved : entry->streams)
                    if (moved.index == stream.index || (target.isEmpty() && moved.pid > 0 && moved.pid == stream.pid))
                        target = moved.originalSink;
            }
            if (!isRealSink(target))
                target = fallback;
            if (!target.isEmpty() && PulseQuery::moveStream(connection, stream.index, target))
                ++report.streams;
        }
    }

    // Then the levels: every held stream gets the volume, mute and sink it had of its own. Its process may be
    // another by now if the server reuses stream indices, so the pid has to match too.
    std::vector<JournalLevels> levels;
    for (const auto& entry : contents.levels)
        if (entry.server == server && abandoned(entry.owner))
            levels.push_back(entry);
    std::vector<RestoreChange> levelMemory;
    const auto nowStreams = levels.empty() ? std::nullopt : PulseQuery::streams(connection);
    const auto before = levels.empty() ? std::nullopt : RestoreMemory::read(connection);
    for (const auto& entry : levels) {
        if (!nowStreams)
            continue;
        levelMemory.insert(levelMemory.end(), entry.restore.begin(), entry.restore.end());
        for (const auto& held : entry.streams) {
            const auto stream = std::find_if(nowStreams->begin(), nowStreams->end(),
                [&](const StreamRecord& s) { return s.index == held.index && (held.pid <= 0 || s.pid == held.pid); });
            if (stream == nowStreams->end())
                continue;
            if (!held.originalVolume.empty() && held.originalVolume.size() == stream->volume.size()
                && held.originalVolume != stream->volume)
                PulseQuery::setStreamVolume(connection, stream->index, held.originalVolume);
            if (stream->muted != held.originalMute)
                PulseQuery::setStreamMute(connection, stream->index, held.originalMute);
            const auto current = std::find_if(
                sinks->begin(), sinks->end(), [&](const SinkRecord& s) { return s.index == stream->sink; });
            const bool inLiveTap = current != sinks->end() && liveSinks.contains(current->name);
            if (!inLiveTap && isRealSink(held.originalSink)
                && (current == sinks->end() || current->name != held.originalSink))
                PulseQuery::moveStream(connection, stream->index, held.originalSink);
            ++report.levelStreams;
        }
    }
    // Those writes taught the server too: whatever they changed goes back to how it was before them.
    // PulseAudio saves a change from its own event handler, which may come after our next request: the table is
    // read twice, and what either read shows changed is put back.
    for (int read = 0; before && report.levelStreams > 0 && read < 2; ++read) {
        connection.sync();
        if (const auto after = RestoreMemory::read(connection)) {
            const auto changes = RestoreMemory::changes(*before, *after);
            levelMemory.insert(levelMemory.end(), changes.begin(), changes.end());
        }
    }

    // The memory next: what our moves taught the server is put back as it was, and nothing may keep pointing
    // at a tap sink, or the application's next stream would be sent there.
    std::vector<RestoreChange> reverts;
    QSet<QString> handled;
    for (const auto& tap : recorded) {
        if (tap.server != server || !abandoned(tap.owner) || liveSinks.contains(tap.sink))
            continue;
        for (const auto& change : tap.restore)
            if (!handled.contains(change.name)) {
                reverts.push_back(change);
                handled.insert(change.name);
            }
    }
    // The first original of an entry is the one recorded earliest: the journal's before the ones just read.
    for (const auto& change : levelMemory)
        if (!handled.contains(change.name)) {
            reverts.push_back(change);
            handled.insert(change.name);
        }
    if (const auto table = RestoreMemory::read(connection)) {
        for (const auto& name : RestoreMemory::pointingAt(*table, QLatin1String(kTapSinkPrefix))) {
            if (handled.contains(name) || liveSinks.contains(table->at(name).device))
                continue;
            reverts.push_back({ name, std::nullopt });
            handled.insert(name);
        }
        // Only entries that still differ from what they were need a write.
        std::vector<RestoreChange> needed;
        for (const auto& change : reverts) {
            const auto current = table->find(change.name);
            const bool same = change.original ? current != table->end() && current->second == *change.original
                                              : current == table->end();
            if (!same)
                needed.push_back(change);
        }
        if (RestoreMemory::revert(connection, needed))
            report.entries = int(needed.size());
    }

    for (const auto& sink : *sinks)
        if (deadSinks.contains(sink.name) && PulseQuery::unloadModule(connection, sink.ownerModule))
            ++report.sinks;

    // A server that went away or stopped answering halfway has not been put right: keep the record for the
    // next start.
    if (!connection.isReady())
        return report;
    journal.update([&](std::vector<JournalTap>& taps) {
        std::erase_if(taps, [&](const JournalTap& tap) {
            return tap.server == server && abandoned(tap.owner) && !liveSinks.contains(tap.sink);
        });
    });
    if (!levels.empty())
        journal.updateLevels([&](std::vector<JournalLevels>& entries) {
            std::erase_if(
                entries, [&](const JournalLevels& entry) { return entry.server == server && abandoned(entry.owner); });
        });
    return report;
}

} // namespace sonaric::TapRecovery
