#include "platform/audio/linux/tap_sinks.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_object_table.h"
#include "platform/audio/linux/pulse_query.h"

#include <QUuid>

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace sonaric
{

namespace
{

/// A tap sink name from a tap UID: only characters that need no quoting in module arguments.
QString tapSinkName(const QString& uid)
{
    QString clean;
    for (QChar c : uid)
        if (c.isLetterOrNumber() && c.unicode() < 128)
            clean += c.toLower();
    return QLatin1String(kTapSinkPrefix) + clean.left(32);
}

} // namespace

TapSinks::TapSinks(PulseObjectTable& table, const QString& journalPath, const QString& watchdogPath)
    : m_table(table)
    , m_owner(TapJournal::newOwnerToken())
    , m_journal(journalPath.isEmpty() ? TapJournal::defaultPath() : journalPath)
    , m_watchdog(watchdogPath)
{
}

bool TapSinks::connected() const
{
    std::lock_guard lock(m_table.mutex());
    return m_table.connected();
}

OSStatus TapSinks::check(const CATapDescription& description, AudioObjectID* outTapID)
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
    return noErr;
}

OSStatus TapSinks::create(PulseConnection& connection, const CATapDescription& description, AudioObjectID* outTapID)
{
    auto tap = std::make_unique<ProcessTapRecord>();
    {
        std::lock_guard lock(m_table.mutex());
        if (!m_table.connected())
            return kAudioHardwareNotRunningError;
        for (AudioObjectID process : description.processes) {
            const auto key = m_table.processKey(process);
            if (!key)
                return kAudioHardwareBadObjectError;
            tap->processKeys.push_back(*key);
        }
        tap->uid = description.uuid.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : description.uuid;
        for (const auto& [id, existing] : m_table.taps())
            if (existing->uid == tap->uid)
                return kAudioHardwareIllegalOperationError;
        tap->name = description.name;
        tap->sinkName = tapSinkName(tap->uid);
        // The rate of the sink the application plays on now, which is usually where the tap will play too: a
        // tap path without resampling is both cheaper and truer.
        const SinkRecord* current = m_table.sinkNamed(m_table.defaultSink());
        for (const auto& stream : m_table.streams())
            if (stream.processKey() == tap->processKeys.front())
                for (const auto& sink : m_table.sinks())
                    if (sink.index == stream.sink && sink.tapUid.isEmpty())
                        current = &sink;
        tap->rate = current ? current->rate : m_table.defaultRate();
    }
    m_watchdog.ensureRunning(m_owner, m_journal.path());
    // Journal first: a crash right after the sink appears must still find what to undo.
    m_journal.update([&](std::vector<JournalTap>& taps) {
        taps.push_back(JournalTap { m_owner, m_server, tap->sinkName, {}, {} });
    });
    if (!load(connection, *tap)) {
        forget(tap->sinkName);
        // A server that went away or stopped answering meanwhile is not running, as for a call made after.
        return connection.isReady() ? kAudioHardwareUnspecifiedError : kAudioHardwareNotRunningError;
    }
    std::lock_guard lock(m_table.mutex());
    const AudioObjectID id = m_table.newObjectID();
    m_table.addTap(id, std::move(tap));
    *outTapID = id;
    return noErr;
}

bool TapSinks::load(PulseConnection& connection, ProcessTapRecord& tap)
{
    // `device.routes` keeps the sink out of WirePlumber's stream memory: its restore-stream script (0.4) saves
    // the volume of every sink without that property under the sink's name, and each tap's name is new, so
    // the memory would grow by an entry per tap, forever. Saying "state.restore-props=false" instead does not
    // work there: the script compares the property's text with a boolean.
    const QString arguments
        = QStringLiteral("sink_name=%1 sink_properties='device.description=\"Sonaric tap\" %2=%3 %4=%5 "
                         "device.routes=1' "
                         "rate=%6 channels=2 channel_map=front-left,front-right format=float32le")
              .arg(tap.sinkName, QLatin1String(kTapSinkProperty), tap.sinkName.mid(int(qstrlen(kTapSinkPrefix))),
                  QLatin1String(kTapOwnerProperty), m_owner)
              .arg(tap.rate);
    const auto module = PulseQuery::loadModule(connection, QStringLiteral("module-null-sink"), arguments);
    if (!module)
        return false;
    tap.module = *module;
    std::unique_lock lock(m_table.mutex());
    const SinkRecord* sink = m_table.waitForSink(lock, tap.sinkName, std::chrono::seconds(2));
    if (!sink) {
        lock.unlock();
        PulseQuery::unloadModule(connection, tap.module);
        tap.module = PA_INVALID_INDEX;
        return false;
    }
    tap.sinkIndex = sink->index;
    tap.monitor = sink->monitorSource.isEmpty() ? tap.sinkName + QStringLiteral(".monitor") : sink->monitorSource;
    tap.rate = sink->rate;
    return true;
}

void TapSinks::destroy(PulseConnection& connection, AudioObjectID tapID)
{
    std::unique_ptr<ProcessTapRecord> tap;
    {
        std::lock_guard lock(m_table.mutex());
        tap = m_table.takeTap(tapID);
    }
    // Anything still in the sink (a stream that raced in) goes to the default device, not into the void.
    if (connected() && tap->sinkIndex != PA_INVALID_INDEX) {
        std::vector<std::uint32_t> stranded;
        QString fallback;
        {
            std::lock_guard lock(m_table.mutex());
            stranded = m_table.streamsIn(tap->sinkIndex);
            fallback = m_table.defaultSink();
        }
        for (auto index : stranded)
            PulseQuery::moveStream(connection, index, fallback);
    }
    if (connected() && tap->module != PA_INVALID_INDEX)
        PulseQuery::unloadModule(connection, tap->module);
    forget(tap->sinkName);
}

void TapSinks::unloadAll(PulseConnection& connection)
{
    for (const auto& [id, tap] : m_table.taps()) {
        if (tap->module != PA_INVALID_INDEX && connected())
            PulseQuery::unloadModule(connection, tap->module);
        forget(tap->sinkName);
    }
}

void TapSinks::forget(const QString& sinkName)
{
    m_journal.update([&](std::vector<JournalTap>& taps) {
        std::erase_if(taps, [&](const JournalTap& t) { return t.sink == sinkName; });
    });
}

std::set<AudioObjectID> TapSinks::restoreAfterReconnect(PulseConnection& connection)
{
    // A server that restarted lost every tap sink of ours; one that only stopped answering for a while still
    // has them. Rebuild what is gone behind the same tap IDs and keep what is still there.
    std::set<AudioObjectID> kept;
    for (const auto& [id, tap] : m_table.taps()) {
        {
            // Server events read the sink index on the loop thread.
            std::lock_guard lock(m_table.mutex());
            const SinkRecord* sink = m_table.sinkNamed(tap->sinkName);
            if (sink && sink->tapOwner == m_owner) {
                tap->module = sink->ownerModule;
                tap->sinkIndex = sink->index;
                kept.insert(id);
                continue;
            }
            tap->module = PA_INVALID_INDEX;
            tap->sinkIndex = PA_INVALID_INDEX;
        }
        // Named here: clang before 16 cannot capture a structured binding in a lambda.
        const QString sinkName = tap->sinkName;
        m_journal.update([&](std::vector<JournalTap>& taps) {
            for (auto& t : taps)
                if (t.sink == sinkName) {
                    t.server = m_server;
                    t.streams.clear();
                }
        });
        load(connection, *tap);
    }
    return kept;
}

void TapSinks::unloadOrphans(PulseConnection& connection)
{
    std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> orphans;
    QString fallback;
    {
        std::lock_guard lock(m_table.mutex());
        for (const auto& sink : m_table.sinks()) {
            if (sink.tapOwner != m_owner
                || std::any_of(m_table.taps().begin(), m_table.taps().end(),
                    [&](const auto& entry) { return entry.second->sinkName == sink.name; }))
                continue;
            orphans.emplace_back(sink.ownerModule, m_table.streamsIn(sink.index));
        }
        fallback = m_table.defaultSink();
    }
    for (const auto& [module, streams] : orphans) {
        for (std::uint32_t stream : streams)
            PulseQuery::moveStream(connection, stream, fallback);
        PulseQuery::unloadModule(connection, module);
    }
}

} // namespace sonaric
