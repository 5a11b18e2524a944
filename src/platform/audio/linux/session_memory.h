#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace sonaric
{

/// What PipeWire's session manager keys its memory of a stream by: the first of media role, application id and
/// application name the stream has.
struct SessionMemoryKey {
    QString mediaRole;
    QString applicationId;
    QString applicationName;
};

/// A stream's own values: what the session manager should start the application's next stream with.
struct SessionMemoryValues {
    std::vector<std::uint32_t> volume; ///< pa_volume_t per channel
    bool mute = false;
    QString sink; ///< empty: leave where the memory sends it
};

/// Writes a stream's own values into PipeWire's session manager's memory (WirePlumber's restore-stream), which
/// the pulse protocol cannot reach directly. It remembers what a client last set on a stream and starts the
/// next stream of the same key there; a stream that ended while we held its level leaves our values in it.
/// So a silent stream of the same key is opened, corked: once the memory has been applied to it (its volume
/// is `remembered`, or after a short wait), the own values are set on it, the memory takes them, and the stream
/// is closed. Blocks for about half a second; false when the server could not be reached or refused a step.
bool writeSessionMemory(
    const SessionMemoryKey& key, const SessionMemoryValues& own, const std::vector<std::uint32_t>& remembered);

} // namespace sonaric
