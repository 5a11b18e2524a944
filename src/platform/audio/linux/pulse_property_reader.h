#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

#include <functional>
#include <map>
#include <sys/types.h>
#include <vector>

namespace sonaric
{

class PulseObjectTable;
struct StreamRecord;

/// Answers the property addresses of the backend's objects from the object table's snapshot, so a read never
/// waits for the server and is safe from any thread.
///
/// Locking: each read takes the table's snapshot lock for its whole answer; the bundle identifier cache is
/// guarded by the same lock.
class PulsePropertyReader
{
public:
    /// `bundleIdentifierForProcess` names a process whose streams carry no application id; may be empty.
    PulsePropertyReader(const PulseObjectTable& table, std::function<QString(pid_t)> bundleIdentifierForProcess);

    OSStatus dataSize(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* outDataSize);
    OSStatus data(
        AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t* ioDataSize, void* outData);
    OSStatus string(AudioObjectID object, const AudioObjectPropertyAddress& address, QString* outValue);

    /// A process object's name: the application name its streams (or their client) give, else its binary,
    /// else `commandName(pid)` (the kernel's command name); empty when none of these is known.
    static QString processName(
        const std::vector<const StreamRecord*>& streams, const std::function<QString(pid_t)>& commandName);
    /// The command name in /proc/PID/comm; empty when the process is gone or unreadable.
    static QString commandName(pid_t pid);

private:
    // The caller holds the table's lock.
    QString bundleIdentifier(AudioObjectID process) const;

    const PulseObjectTable& m_table;
    std::function<QString(pid_t)> m_bundleIdentifierForProcess;
    mutable std::map<pid_t, QString> m_bundleCache;
};

} // namespace sonaric
