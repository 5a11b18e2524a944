#pragma once

#include "audio/ca_error.h"
#include "audio/rt_state.h"
#include "platform/audio/audio_hardware.h"

#include <QLoggingCategory>

#include <memory>
#include <optional>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcTapEngine)

namespace sonaric
{

/// One application's tap: a private process tap over its process objects, a private aggregate device that
/// plays into the chosen output device and reads the tap, and an IO block that copies the captured sound to
/// the device with the application's gain and a peak limiter.
///
/// Lives on the tap engine's queue. Whenever device() is non-zero, the tap, the aggregate device and the IO
/// proc all exist and the aggregate device is started.
class AppTap
{
public:
    AppTap(AudioHardware& hw, QString appID, std::vector<AudioObjectID> processObjects, float gain);
    ~AppTap();
    AppTap(const AppTap&) = delete;
    AppTap& operator=(const AppTap&) = delete;

    /// Builds everything anew for `outputDevice`. Throws CAError; a failed start leaves the tap idle.
    void start(AudioObjectID outputDevice);
    /// Tears everything down: IO proc, aggregate device, process tap. Idempotent.
    void stop();

    const QString& appID() const { return m_appID; }
    const std::vector<AudioObjectID>& processObjects() const { return m_processObjects; }
    const std::optional<QString>& routeUID() const { return m_routeUID; }
    void setRouteUID(std::optional<QString> uid) { m_routeUID = std::move(uid); }
    AudioObjectID device() const { return m_device; }
    AudioObjectID tapID() const { return m_tapID; }
    AudioObjectID aggregateID() const { return m_aggregateID; }
    AudioDeviceIOProcID ioProcID() const { return m_ioProcID; }
    RTState& state() { return *m_state; }

    /// Buffers in the device's stream configuration for `scope`; 0 when it cannot be read.
    static int bufferCount(AudioHardware& hw, AudioObjectID device, AudioObjectPropertyScope scope);
    /// The block run once per IO cycle; it holds only the state record, never the tap.
    static AudioDeviceIOBlock makeIOBlock(RTState* state);
    /// The limiter's per-sample release for a one-pole 150 ms time constant at `sampleRate`.
    static float releaseCoefficient(double sampleRate);

private:
    AudioHardware& m_hw;
    const QString m_appID;
    std::vector<AudioObjectID> m_processObjects;
    std::optional<QString> m_routeUID;
    AudioObjectID m_device = 0;
    AudioObjectID m_tapID = 0;
    AudioObjectID m_aggregateID = 0;
    AudioDeviceIOProcID m_ioProcID = nullptr;
    const std::unique_ptr<RTState> m_state;
};

} // namespace sonaric
