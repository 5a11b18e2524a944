#include "platform/audio/linux/stream_levels.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/tap_journal.h"
#include "platform/audio/linux/tap_sinks.h"
#include "platform/audio/property_data.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sonaric
{

namespace
{

/// How long a held stream that ended still tells where its process's next stream was started by the memory.
constexpr auto kEndedKept = std::chrono::seconds(3);

std::vector<std::uint32_t> scaled(const std::vector<std::uint32_t>& volume, float factor)
{
    // pa_volume_t is cubic, so multiplying two of them multiplies the linear amplitudes.
    const pa_volume_t by = pa_sw_volume_from_linear(double(factor));
    std::vector<std::uint32_t> result;
    for (auto v : volume)
        result.push_back(pa_sw_volume_multiply(v, by));
    return result;
}

std::vector<std::uint32_t> unscaled(const std::vector<std::uint32_t>& volume, float factor)
{
    const pa_volume_t by = pa_sw_volume_from_linear(double(factor));
    std::vector<std::uint32_t> result;
    for (auto v : volume)
        result.push_back(std::min<std::uint32_t>(pa_sw_volume_divide(v, by), PA_VOLUME_MAX));
    return result;
}

AggregateDeviceRecord* aggregateReading(const PulseObjectTable& table, std::uint32_t sinkIndex)
{
    for (const auto& [id, aggregate] : table.aggregates()) {
        const ProcessTapRecord* tap = table.tap(aggregate->tap);
        if (tap && tap->sinkIndex == sinkIndex)
            return aggregate.get();
    }
    return nullptr;
}

} // namespace

StreamLevels::StreamLevels(PulseObjectTable& table, TapSinks& tapSinks)
    : m_table(table)
    , m_tapSinks(tapSinks)
{
}

bool StreamLevels::isLevelProperty(AudioObjectPropertySelector selector)
{
    return selector == kAudioProcessPropertyVolumeScalar || selector == kAudioProcessPropertyMute
        || selector == kAudioProcessPropertyOutputDevice;
}

std::optional<QString> StreamLevels::knownProcess(AudioObjectID process) const
{
    // A process whose streams have all ended keeps its ID: its level still waits for its next stream.
    std::lock_guard lock(m_table.mutex());
    return m_table.processKey(process);
}

OSStatus StreamLevels::isSettable(AudioObjectID process, bool* outIsSettable) const
{
    if (!outIsSettable)
        return kAudio_ParamError;
    if (!knownProcess(process))
        return kAudioHardwareBadObjectError;
    *outIsSettable = true;
    return noErr;
}

OSStatus StreamLevels::dataSize(
    AudioObjectID process, AudioObjectPropertySelector selector, std::uint32_t* outDataSize) const
{
    if (!outDataSize)
        return kAudio_ParamError;
    if (!knownProcess(process))
        return kAudioHardwareBadObjectError;
    *outDataSize = selector == kAudioProcessPropertyVolumeScalar ? sizeof(float) : sizeof(std::uint32_t);
    return noErr;
}

OSStatus StreamLevels::data(
    AudioObjectID process, AudioObjectPropertySelector selector, std::uint32_t* ioDataSize, void* outData) const
{
    if (!ioDataSize)
        return kAudio_ParamError;
    const auto key = knownProcess(process);
    if (!key)
        return kAudioHardwareBadObjectError;
    std::lock_guard lock(m_mutex);
    const auto found = m_levels.find(*key);
    const Level level = found == m_levels.end() ? Level {} : found->second;
    switch (selector) {
    case kAudioProcessPropertyVolumeScalar:
        return writePropertyValue(level.factor, ioDataSize, outData);
    case kAudioProcessPropertyMute:
        return writePropertyValue(std::uint32_t(level.mute), ioDataSize, outData);
    default:
        return writePropertyValue(level.device, ioDataSize, outData);
    }
}

OSStatus StreamLevels::set(PulseConnection& connection, AudioObjectID process, AudioObjectPropertySelector selector,
    std::uint32_t dataSize, const void* data)
{
    const std::uint32_t expected
        = selector == kAudioProcessPropertyVolumeScalar ? sizeof(float) : sizeof(std::uint32_t);
    if (!data)
        return kAudio_ParamError;
    if (dataSize != expected)
        return kAudioHardwareBadPropertySizeError;
    QString key, sink;
    float factor = 1.0f;
    std::uint32_t value = 0;
    if (selector == kAudioProcessPropertyVolumeScalar) {
        std::memcpy(&factor, data, sizeof factor);
        if (!std::isfinite(factor) || factor < 0.0f || factor > 1.0f)
            return kAudio_ParamError;
    } else {
        std::memcpy(&value, data, sizeof value);
    }
    {
        std::lock_guard lock(m_table.mutex());
        const auto known = m_table.processKey(process);
        if (!known)
            return kAudioHardwareBadObjectError;
        key = *known;
        if (selector == kAudioProcessPropertyOutputDevice && value != kAudioObjectUnknown) {
            const SinkRecord* device = m_table.deviceSink(value);
            if (!device)
                return kAudioHardwareBadDeviceError;
            sink = device->name;
        }
    }
    {
        std::lock_guard lock(m_mutex);
        Level& level = m_levels[key];
        if (selector == kAudioProcessPropertyVolumeScalar)
            level.factor = factor;
        else if (selector == kAudioProcessPropertyMute)
            level.mute = value != 0;
        else {
            level.device = value;
            level.sink = sink;
        }
    }
    return applyProcess(connection, key, std::nullopt);
}

void StreamLevels::applyToStream(PulseConnection& connection, std::uint32_t index)
{
    QString key;
    {
        std::lock_guard lock(m_table.mutex());
        const auto& streams = m_table.streams();
        const auto stream
            = std::find_if(streams.begin(), streams.end(), [&](const StreamRecord& s) { return s.index == index; });
        if (stream == streams.end())
            return;
        key = stream->processKey();
    }
    applyProcess(connection, key, index);
}

void StreamLevels::releaseAll(PulseConnection& connection)
{
    std::vector<QString> keys;
    {
        std::lock_guard lock(m_mutex);
        for (auto& [key, level] : m_levels) {
            level = Level {};
            keys.push_back(key);
        }
    }
    for (const auto& key : keys)
        applyProcess(connection, key, std::nullopt);
}

void StreamLevels::inheritFromSibling(Held& stream, const Level& level) const
{
    // A session manager's memory (PipeWire's WirePlumber, which the pulse protocol cannot reach) starts a new
    // stream where we put its process's other streams: at our volume, our mute, on our device. Taken as its
    // own, the level would then apply twice and a release would leave it there. What starts exactly where we
    // put a sibling has that sibling's own values.
    const auto take = [&](const Held& sibling, bool volumeOurs, bool muteOurs, const QString& sinkOurs) {
        if (volumeOurs && volumesClose(stream.ownVolume, sibling.lastVolume))
            stream.ownVolume = sibling.ownVolume;
        if (muteOurs && stream.ownMute && !sibling.ownMute)
            stream.ownMute = false;
        if (!sinkOurs.isEmpty() && stream.ownSink == sinkOurs && !sibling.ownSink.isEmpty())
            stream.ownSink = sibling.ownSink;
    };
    for (const auto& [index, sibling] : m_held)
        if (sibling.processKey == stream.processKey)
            return take(sibling, level.factor != 1.0f, level.mute, level.sink);
    // The only held stream may have just ended, the application opening its next one at once (a player between
    // tracks): the memory has not been put right yet and starts it where we put the one that ended.
    const auto ended = m_ended.find(stream.processKey);
    if (ended == m_ended.end() || std::chrono::steady_clock::now() >= ended->second.until)
        return;
    const Held& last = ended->second.stream;
    take(last, last.volumeOurs(), last.muteOurs(), last.sinkOurs() ? last.lastSink : QString());
}

void StreamLevels::reapply(PulseConnection& connection)
{
    std::vector<QString> keys;
    {
        std::lock_guard tableLock(m_table.mutex());
        std::lock_guard lock(m_mutex);
        const auto& streams = m_table.streams();
        m_ended.clear();
        std::erase_if(m_held, [&](const auto& entry) {
            return std::none_of(streams.begin(), streams.end(), [&](const StreamRecord& s) {
                return s.index == entry.first && s.processKey() == entry.second.processKey;
            });
        });
        for (const auto& [key, level] : m_levels)
            keys.push_back(key);
    }
    writeJournal();
    for (const auto& key : keys)
        applyProcess(connection, key, std::nullopt);
}

OSStatus StreamLevels::applyProcess(
    PulseConnection& connection, const QString& processKey, std::optional<std::uint32_t> only)
{
    struct Step {
        std::uint32_t index;
        std::optional<std::vector<std::uint32_t>> volume;
        std::optional<bool> mute;
        QString moveTo;
        QString tapSink; ///< the tap sink the stream plays in; its return target changes instead of a move
        QString returnTo;
    };
    std::vector<Step> steps;
    bool newlyHeld = false;
    bool neutral = false;
    {
        std::lock_guard tableLock(m_table.mutex());
        std::lock_guard lock(m_mutex);
        const auto found = m_levels.find(processKey);
        const Level level = found == m_levels.end() ? Level {} : found->second;
        neutral = level.neutral();
        for (const auto& stream : m_table.streams()) {
            if (stream.internal || stream.processKey() != processKey || (only && *only != stream.index))
                continue;
            const SinkRecord* current = m_table.sinkWithIndex(stream.sink);
            AggregateDeviceRecord* tapReader
                = current && !current->tapUid.isEmpty() ? aggregateReading(m_table, current->index) : nullptr;
            auto held = m_held.find(stream.index);
            if (held == m_held.end()) {
                if (neutral)
                    continue;
                Held h;
                h.processKey = processKey;
                h.pid = stream.pid;
                h.memoryKey = { stream.mediaRole, stream.applicationId, stream.applicationName };
                h.ownVolume = stream.volume;
                h.ownMute = stream.muted;
                h.lastVolume = stream.volume;
                h.lastMute = stream.muted;
                if (tapReader) {
                    const auto from = tapReader->moved.find(stream.index);
                    h.ownSink = from == tapReader->moved.end() ? QString() : from->second;
                } else if (current && current->tapUid.isEmpty()) {
                    h.ownSink = current->name;
                    h.lastSink = current->name;
                }
                inheritFromSibling(h, level);
                expireMemoryLocked();
                for (const QString& key : { stream.applicationId, stream.applicationName, stream.mediaRole })
                    if (!key.isEmpty())
                        m_memoryKeys.insert(key);
                held = m_held.emplace(stream.index, std::move(h)).first;
                newlyHeld = true;
            }
            Held& h = held->second;
            Step step { stream.index, {}, {}, {}, {}, {} };
            // The snapshot may not show our last writes yet, and what we last wrote may have been undone by
            // someone else: either differing is a reason to write.
            if (const auto volume = scaled(h.ownVolume, level.factor);
                !volumesClose(volume, stream.volume) || !volumesClose(volume, h.lastVolume)) {
                step.volume = volume;
                h.pendingVolumes.push_back(volume);
                h.lastVolume = volume;
            }
            if (const bool mute = level.mute || h.ownMute; mute != stream.muted || mute != h.lastMute) {
                step.mute = mute;
                h.pendingMutes.push_back(mute);
                h.lastMute = mute;
            }
            const QString target = level.sink.isEmpty() ? h.ownSink : level.sink;
            if (tapReader) {
                // The tap owns where the stream plays until it is torn down; it then sends it here.
                if (!target.isEmpty()) {
                    tapReader->moved[stream.index] = target;
                    step.tapSink = current->name;
                    step.returnTo = target;
                }
            } else if (!target.isEmpty() && current && (current->name != target || h.lastSink != target)
                && m_table.sinkNamed(target)) {
                step.moveTo = target;
                h.lastSink = target;
            }
            steps.push_back(std::move(step));
        }
    }
    // The originals are on disk before the server hears of any change.
    if (newlyHeld) {
        m_tapSinks.ensureWatchdog();
        writeJournal();
    }
    for (const auto& step : steps) {
        if (step.tapSink.isEmpty())
            continue;
        m_tapSinks.journal().update([&](std::vector<JournalTap>& taps) {
            for (auto& tap : taps)
                if (tap.sink == step.tapSink)
                    for (auto& moved : tap.streams)
                        if (moved.index == step.index)
                            moved.originalSink = step.returnTo;
        });
    }

    const bool writes = std::any_of(
        steps.begin(), steps.end(), [](const Step& s) { return s.volume || s.mute || !s.moveTo.isEmpty(); });
    std::vector<std::uint32_t> failed;
    if (writes) {
        const auto before = RestoreMemory::read(connection);
        bool recorded = false;
        if (before) {
            std::lock_guard lock(m_mutex);
            if (!m_baseline)
                m_baseline = before;
            // Every entry our writes may teach, as it was before the first of them, goes to the journal first: the
            // server may save a change after we read it back, and a crash must not leave that in place.
            for (const QString& key : m_memoryKeys)
                for (const char* prefix : { "sink-input-by-media-role:", "sink-input-by-application-id:",
                         "sink-input-by-application-name:" }) {
                    const QString name = QLatin1String(prefix) + key;
                    if (std::any_of(
                            m_restore.begin(), m_restore.end(), [&](const RestoreChange& r) { return r.name == name; }))
                        continue;
                    const auto original = m_baseline->find(name);
                    m_restore.push_back({ name,
                        original == m_baseline->end() ? std::nullopt : std::optional<RestoreEntry>(original->second) });
                    recorded = true;
                }
        }
        if (recorded)
            writeJournal();
        for (const auto& step : steps) {
            bool ok = true;
            if (step.volume)
                ok = PulseQuery::setStreamVolume(connection, step.index, *step.volume) && ok;
            if (step.mute)
                ok = PulseQuery::setStreamMute(connection, step.index, *step.mute) && ok;
            if (!step.moveTo.isEmpty())
                ok = PulseQuery::moveStream(connection, step.index, step.moveTo) && ok;
            if (!ok)
                failed.push_back(step.index);
        }
        // The server saves a volume, mute or sink a client sets as that application's own for its next stream
        // (PulseAudio's stream-restore; PipeWire's session manager through the same table): put it back.
        if (before) {
            connection.sync();
            if (const auto after = RestoreMemory::read(connection)) {
                auto changes = RestoreMemory::changes(*before, *after);
                {
                    std::lock_guard lock(m_mutex);
                    for (auto& change : changes) {
                        const auto first = std::find_if(m_restore.begin(), m_restore.end(),
                            [&](const RestoreChange& r) { return r.name == change.name; });
                        if (first == m_restore.end())
                            m_restore.push_back(change);
                        else
                            change.original = first->original;
                    }
                }
                if (!changes.empty())
                    writeJournal();
                RestoreMemory::revert(connection, changes);
            }
        }
    }

    // A write that failed on a stream that has since ended is no failure.
    bool lost = false;
    {
        std::lock_guard tableLock(m_table.mutex());
        for (std::uint32_t index : failed)
            lost = lost || std::any_of(m_table.streams().begin(), m_table.streams().end(), [&](const StreamRecord& s) {
                return s.index == index;
            });
    }
    if (neutral && !lost) {
        {
            std::lock_guard lock(m_mutex);
            std::erase_if(m_held, [&](const auto& entry) {
                return entry.second.processKey == processKey && (!only || entry.first == *only);
            });
            if (!only)
                m_levels.erase(processKey);
            // The server may write its memory of the release a moment later still.
            if (m_held.empty())
                m_keepUntil = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        }
        writeJournal();
    }
    if (!lost)
        return noErr;
    return connection.isReady() ? kAudioHardwareUnspecifiedError : kAudioHardwareNotRunningError;
}

void StreamLevels::expireMemoryLocked()
{
    if (!m_held.empty() || std::chrono::steady_clock::now() < m_keepUntil)
        return;
    m_restore.clear();
    m_baseline.reset();
    m_memoryKeys.clear();
}

void StreamLevels::scrubRestoreMemory(PulseConnection& connection)
{
    std::vector<RestoreChange> originals;
    RestoreTable baseline;
    std::set<QString> keys;
    {
        std::lock_guard lock(m_mutex);
        expireMemoryLocked();
        if (!m_baseline)
            return;
        originals = m_restore;
        baseline = *m_baseline;
        keys = m_memoryKeys;
    }
    const auto table = RestoreMemory::read(connection);
    if (!table)
        return;
    // PulseAudio keys its memory "sink-input-by-media-role:music" and the like.
    const auto ours = [&](const QString& name) {
        return name.startsWith(QLatin1String("sink-input")) && keys.count(name.mid(name.indexOf(QLatin1Char(':')) + 1));
    };
    std::map<QString, std::optional<RestoreEntry>> wanted;
    for (const auto& [name, entry] : baseline)
        if (ours(name))
            wanted[name] = entry;
    for (const auto& [name, entry] : *table)
        if (ours(name) && !wanted.count(name))
            wanted[name] = std::nullopt;
    for (const auto& change : originals)
        wanted[change.name] = change.original;
    std::vector<RestoreChange> needed;
    for (const auto& [name, original] : wanted) {
        const auto current = table->find(name);
        const bool same = original ? current != table->end() && current->second == *original : current == table->end();
        if (!same)
            needed.push_back({ name, original });
    }
    if (needed.empty())
        return;
    bool record = false;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& change : needed)
            if (std::none_of(m_restore.begin(), m_restore.end(),
                    [&](const RestoreChange& r) { return r.name == change.name; })) {
                m_restore.push_back(change);
                record = !m_held.empty();
            }
    }
    if (record)
        writeJournal();
    RestoreMemory::revert(connection, needed);
}

void StreamLevels::writeJournal()
{
    JournalLevels entry { m_tapSinks.ownerToken(), m_tapSinks.server(), {}, {} };
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [index, held] : m_held)
            entry.streams.push_back({ index, held.pid, held.ownSink, held.ownVolume, held.ownMute });
        if (!m_held.empty())
            entry.restore = m_restore;
    }
    m_tapSinks.journal().updateLevels([&](std::vector<JournalLevels>& levels) {
        std::erase_if(levels, [&](const JournalLevels& l) { return l.owner == entry.owner; });
        if (!entry.streams.empty() || !entry.restore.empty())
            levels.push_back(entry);
    });
}

StreamLevels::Arrival StreamLevels::streamChanged(const StreamRecord& stream, bool isNew)
{
    Arrival arrival;
    if (stream.internal)
        return arrival;
    std::lock_guard lock(m_mutex);
    const auto held = m_held.find(stream.index);
    if (held == m_held.end()) {
        const auto level = m_levels.find(stream.processKey());
        arrival.apply = isNew && level != m_levels.end() && !level->second.neutral();
        return arrival;
    }
    Held& h = held->second;
    const auto level = m_levels.find(h.processKey);
    const float factor = level == m_levels.end() ? 1.0f : level->second.factor;

    // An event may still show one of our earlier writes; what matches none of them came from someone else.
    if (!stream.volume.empty()) {
        const auto ours = std::find_if(h.pendingVolumes.begin(), h.pendingVolumes.end(),
            [&](const auto& written) { return volumesClose(written, stream.volume); });
        if (ours != h.pendingVolumes.end()) {
            h.pendingVolumes.erase(h.pendingVolumes.begin(), ours + 1);
        } else if (!volumesClose(h.lastVolume, stream.volume)) {
            if (factor > 0.0f)
                h.ownVolume = unscaled(stream.volume, factor);
            h.lastVolume = stream.volume;
            h.pendingVolumes.clear();
            arrival.adopted = true;
        }
    }
    const auto ourMute = std::find(h.pendingMutes.begin(), h.pendingMutes.end(), stream.muted);
    if (ourMute != h.pendingMutes.end()) {
        h.pendingMutes.erase(h.pendingMutes.begin(), ourMute + 1);
    } else if (stream.muted != h.lastMute) {
        h.ownMute = stream.muted;
        h.lastMute = stream.muted;
        h.pendingMutes.clear();
        arrival.adopted = true;
    }
    return arrival;
}

bool StreamLevels::streamRemoved(std::uint32_t index)
{
    std::lock_guard lock(m_mutex);
    const auto held = m_held.find(index);
    if (held == m_held.end())
        return false;
    const Held h = std::move(held->second);
    m_held.erase(held);
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_ended, [&](const auto& entry) { return entry.second.until <= now; });
    m_ended.insert_or_assign(h.processKey, Ended { h, now + kEndedKept });
    // PulseAudio's memory is put right by the scrubbing; PipeWire's session manager keeps its own.
    if (!m_table.serverName().contains(QLatin1String("PipeWire")) || !(h.volumeOurs() || h.muteOurs() || h.sinkOurs()))
        return false;
    const bool first = m_departed.empty();
    const SessionMemoryKey& key = h.memoryKey;
    m_departed.insert_or_assign(key.mediaRole + u'\n' + key.applicationId + u'\n' + key.applicationName, h);
    return first;
}

void StreamLevels::writeDepartedMemory()
{
    std::map<QString, Held> departed;
    {
        std::lock_guard lock(m_mutex);
        departed.swap(m_departed);
    }
    // The memory holds what we last wrote; it is to hold the stream's own values.
    for (const auto& [name, h] : departed)
        writeSessionMemory(h.memoryKey, { h.ownVolume, h.ownMute, h.sinkOurs() ? h.ownSink : QString() }, h.lastVolume);
}

} // namespace sonaric
