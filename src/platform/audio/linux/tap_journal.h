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

/// A stream whose volume, mute or sink we changed in place (a level carried by the server) and what it had of
/// its own, to be put back.
struct JournalHeldStream {
    std::uint32_t index = 0;
    pid_t pid = -1;
    QString originalSink;
    std::vector<std::uint32_t> originalVolume; ///< pa_volume_t per channel
    bool originalMute = false;
    bool operator==(const JournalHeldStream&) const = default;
};

/// What recovery needs to undo one instance's levels if it dies.
struct JournalLevels {
    QString owner;
    QString server;
    std::vector<JournalHeldStream> streams;
    std::vector<RestoreChange> restore; ///< stream-restore entries as they were before our changes
    bool operator==(const JournalLevels&) const = default;
};

/// The on-disk record of live taps and levels, so that a crash can be undone by the next start or by the watchdog.
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

    struct Contents {
        std::vector<JournalTap> taps;
        std::vector<JournalLevels> levels;
    };

    const QString& path() const { return m_path; }
    /// Taps and levels from one read of the file.
    Contents readAll() const;
    std::vector<JournalTap> read() const;
    /// Applies `change` to the current content under the journal's lock and writes the result.
    bool update(const std::function<void(std::vector<JournalTap>&)>& change);
    /// The held streams, under "levels" beside the taps; a journal written before levels existed has none.
    std::vector<JournalLevels> readLevels() const;
    bool updateLevels(const std::function<void(std::vector<JournalLevels>&)>& change);

    /// Records that `stream` was moved into `sink`; the first original of a stream is kept.
    bool addStream(const QString& sink, const JournalStream& stream);
    /// Records restore entries as they were before a move; an entry already recorded keeps its first value.
    bool addRestore(const QString& sink, const std::vector<RestoreChange>& changes);

private:
    bool write(const std::function<void(Contents&)>& change);

    QString m_path;
};

} // namespace sonaric
