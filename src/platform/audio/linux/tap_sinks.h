#pragma once

#include "platform/audio/audio_hardware.h"
#include "platform/audio/linux/tap_journal.h"
#include "platform/audio/linux/tap_watchdog.h"

#include <QString>

#include <set>

namespace sonaric
{

class PulseConnection;
class PulseObjectTable;
struct ProcessTapRecord;

/// The process taps' null sinks: loading and unloading them under this instance's owner token, with the
/// journal written first and the watchdog started with the first tap, so that a crash at any point leaves
/// something to undo them by.
///
/// Locking: every call is made under the backend's operations lock, which also guards the server string, the
/// journal's use and the watchdog; the object table is read and changed under its snapshot lock, taken here
/// for each step and never held while waiting for the server.
class TapSinks
{
public:
    TapSinks(PulseObjectTable& table, const QString& journalPath, const QString& watchdogPath);

    /// The owner token written into this instance's tap sinks and journal.
    const QString& ownerToken() const { return m_owner; }
    TapJournal& journal() { return m_journal; }
    /// The server the taps live on, as the journal records it.
    void setServer(const QString& server) { m_server = server; }
    const QString& server() const { return m_server; }
    /// Starts the watchdog if it does not run yet: before anything of ours that a crash would leave behind.
    void ensureWatchdog() { m_watchdog.ensureRunning(m_owner, m_journal.path()); }

    /// What a process tap can be on a sound server; noErr when `description` is one.
    static OSStatus check(const CATapDescription& description, AudioObjectID* outTapID);
    /// Loads a tap sink for `description` (already checked) and enters the tap in the table.
    OSStatus create(PulseConnection& connection, const CATapDescription& description, AudioObjectID* outTapID);
    /// Takes the tap out of the table and unloads its sink, sending whatever still plays there to the default
    /// device. The aggregate devices reading it have been stopped.
    void destroy(PulseConnection& connection, AudioObjectID tapID);
    /// Unloads every tap sink, at the end; the table keeps the taps.
    void unloadAll(PulseConnection& connection);

    /// After a reconnection: keeps the tap sinks the server still has, loads the others again behind the same
    /// tap IDs, and returns the taps kept.
    std::set<AudioObjectID> restoreAfterReconnect(PulseConnection& connection);
    /// After a reconnection: unloads the tap sinks of ours that no tap stands for (a tap destroyed while the
    /// server did not answer), sending whatever plays in them to the default device.
    void unloadOrphans(PulseConnection& connection);

private:
    bool load(PulseConnection& connection, ProcessTapRecord& tap);
    void forget(const QString& sinkName);
    bool connected() const;

    PulseObjectTable& m_table;
    QString m_owner;
    QString m_server;
    TapJournal m_journal;
    TapWatchdog m_watchdog;
};

} // namespace sonaric
