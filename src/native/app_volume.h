#pragma once

#include "native/native_volume_controlling.h"
#include "platform/serial_queue.h"

#include <optional>
#include <utility>

namespace sonaric
{

class Scripting;

/// The native controller of Spotify, Music and TV: reads and sets the application's own player volume (and
/// its mute, where it has one) with one short AppleScript per operation. Spotify has no scriptable mute, so
/// mute is emulated there by volume 0 while the level to report is remembered.
class AppVolume final : public NativeVolumeControlling
{
public:
    /// A reply read back: the volume as a fraction 0 … 1 and the mute, when the application reports one.
    using Reply = std::pair<float, std::optional<bool>>;

    AppVolume(NativeVolumeSource source, Scripting& scripting);

    NativeVolumeSource source() const { return m_source; }

    void connect(CancellationToken cancellation, Completion done) override;
    void read(const NativeVolumeConnection& current, CancellationToken cancellation, Completion done) override;
    void set(const NativeVolumeChanges& desired, const NativeVolumeConnection& current, CancellationToken cancellation,
        Completion done) override;
    void finishPendingOperations(std::function<void()> done) override;

    /// The script that optionally sets a volume (percent) and a mute, then reads them back.
    static QString appleScript(NativeVolumeSource source, std::optional<int> volume, std::optional<bool> muted);
    /// The reply text of that script; absent when it is not a volume (and optional mute).
    static std::optional<Reply> parse(const QString& reply);

private:
    Reply execute(std::optional<int> volume, std::optional<bool> muted);
    NativeVolumeConnection connection(const Reply& reply);
    NativeVolumeConnection readNow(const CancellationToken& cancellation);
    NativeVolumeConnection setNow(const NativeVolumeChanges& desired, const CancellationToken& cancellation);

    const NativeVolumeSource m_source;
    Scripting& m_scripting;
    /// The level that was playing when mute was emulated by volume 0; present only while that mute holds.
    std::optional<float> m_mutedVolume;
    SerialQueue m_queue; // last: destroyed (drained) first, while the members above still exist
};

} // namespace sonaric
