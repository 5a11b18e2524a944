#pragma once

#include "platform/audio/linux/restore_memory.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <sys/types.h>
#include <vector>

namespace sonaric
{

/// A stream we moved into a tap sink and where it came from.
struct JournalStream {
    std::uint32_t index = 0;
    pid_t pid = -1;
    QString originalSink;
    bool operator==(const JournalStream&) const = default;
};

/// What recovery needs to undo one tap if its owner dies.
struct JournalTap {
    QString owner; ///< the owning instance (see ownerToken)
    QString server; ///< the server the tap lives on
    QString sink; ///< the tap sink's name
    std::vector<JournalStream> streams;
    std::vector<RestoreChange> restore; ///< stream-restore entries as they were before our moves
    bool operator==(const JournalTap&) const = default;
};

/// The on-disk record of live taps, so that a crash can be undone by the next start or by the watchdog.
/// Every change is a locked read-modify-write of one JSON file, replaced atomically.
class TapJournal
{
public:
    explicit TapJournal(QString path);

    /// $XDG_STATE_HOME/sonaric/audio-taps.json (~/.local/state when the variable is unset).
    static QString defaultPath();
    /// A token naming this process and one instance in it: "<pid>:<start time>:<random>".
    static QString newOwnerToken();
    /// Whether the process named by an owner token still runs (the same pid with the same start time).
    static bool isOwnerAlive(const QString& owner);

    const QString& path() const { return m_path; }
    std::vector<JournalTap> read() const;
    /// Applies `change` to the current content under the journal's lock and writes the result.
    bool update(const std::function<void(std::vector<JournalTap>&)>& change);

    /// Records that `stream` was moved into `sink`; the first original of a stream is kept.
    bool addStream(const QString& sink, const JournalStream& stream);
    /// Records restore entries as they were before a move; an entry already recorded keeps its first value.
    bool addRestore(const QString& sink, const std::vector<RestoreChange>& changes);

private:
    QString m_path;
};

} // namespace sonaric
