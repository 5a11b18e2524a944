#pragma once

#include "audio/ca_error.h"
#include "platform/audio/audio_hardware.h"

#include <QString>

#include <optional>
#include <vector>

namespace sonaric
{

/// One application's level and route carried by the sound server itself: the volume, mute and output device of
/// its process objects. No tap, no IO block and no copy of the sound: what a level at or below unity and a route
/// need where the platform offers it (kAudioProcessPropertyVolumeScalar and its neighbours).
///
/// Lives on the tap engine's queue.
class ProcessLevel
{
public:
    ProcessLevel(AudioHardware& hw, QString appID);
    ~ProcessLevel();
    ProcessLevel(const ProcessLevel&) = delete;
    ProcessLevel& operator=(const ProcessLevel&) = delete;

    /// Whether the platform can carry a level on this process object.
    static bool isOffered(AudioHardware& hw, AudioObjectID process);

    /// Sets every process to `gain` (0…1; 0 mutes) on `device` (kAudioObjectUnknown: the device each stream
    /// chose), writing only what changed. Processes no longer listed are released. Throws CAError; the processes are
    /// then left as far as they got, and release() puts them back.
    void apply(std::vector<AudioObjectID> processObjects, float gain, AudioObjectID device);
    /// Puts every process back at its own volume, mute and device. A process that has gone is not an error.
    /// Idempotent.
    void release();

    const QString& appID() const { return m_appID; }
    const std::vector<AudioObjectID>& processObjects() const { return m_processObjects; }
    const std::optional<QString>& routeUID() const { return m_routeUID; }
    void setRouteUID(std::optional<QString> uid) { m_routeUID = std::move(uid); }
    float gain() const { return m_gain; }
    AudioObjectID device() const { return m_device; }

private:
    void releaseProcess(AudioObjectID process);

    AudioHardware& m_hw;
    const QString m_appID;
    std::vector<AudioObjectID> m_processObjects;
    std::optional<QString> m_routeUID;
    float m_gain = 1.0f;
    AudioObjectID m_device = kAudioObjectUnknown;
};

} // namespace sonaric
