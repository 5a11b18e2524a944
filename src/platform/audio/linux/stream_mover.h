#pragma once

#include "platform/audio/audio_hardware.h"

#include <cstdint>
#include <vector>

namespace sonaric
{

class PulseConnection;
class PulseObjectTable;
class TapJournal;
struct AggregateDeviceRecord;
struct ProcessTapRecord;
struct StreamRecord;

/// Moves the tapped applications' streams into their tap sink and back, and keeps the server's memory of
/// those moves (its stream-restore table) as it was before them, with the originals in the journal.
///
/// Locking: the moves, the eviction and the scrub run under the backend's operations lock, which also guards
/// an aggregate's moved streams and remembered restore entries; the snapshot and an aggregate's moved-in flag
/// are read and changed under the table's snapshot lock, never held while waiting for the server. The two
/// questions about an arriving stream are asked with the snapshot lock held.
class StreamMover
{
public:
    StreamMover(PulseObjectTable& table, TapJournal& journal);

    /// Moves the tapped streams of a running aggregate device (or only `onlyStreams` of them) into its tap.
    void moveIn(PulseConnection& connection, AudioObjectID aggregateID, const std::vector<std::uint32_t>& onlyStreams);
    /// Moves what plays in the tap sink back where it came from (the default device when that is gone).
    void moveBack(PulseConnection& connection, AggregateDeviceRecord& aggregate, const ProcessTapRecord& tap);
    /// Sends a stream that landed in a tap sink it does not belong to back to the default device.
    void evict(PulseConnection& connection, std::uint32_t index);
    /// Puts back every entry of the server's memory that points at a tap sink.
    void scrubRestoreMemory(PulseConnection& connection);

    /// The tapping aggregate devices that a new stream of a tapped application should join.
    std::vector<AudioObjectID> aggregatesToJoin(const StreamRecord& stream) const;
    /// Whether a stream plays in a tap sink that does not tap its process: the server's memory of a move sent it.
    bool strayedIntoTap(const StreamRecord& stream) const;

private:
    bool connected() const;

    PulseObjectTable& m_table;
    TapJournal& m_journal;
};

} // namespace sonaric
