#pragma once

#include "audio/app_tap.h"
#include "audio/process_level.h"
#include "platform/audio/audio_hardware.h"
#include "platform/serial_queue.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace sonaric
{

/// Owns every application's tap and decides, per application, whether a tap is needed, can be updated in
/// place, must be rebuilt or moved to another device.
///
/// Where the platform gives processes a volume, a mute and an output device of their own, a level at or below
/// unity and a route are carried by those (a ProcessLevel) and only a boost takes a tap. Crossing unity keeps the
/// sound going: upwards the tap is built while the server still carries the level, which is then released inside
/// it; downwards the server takes the level before the tap goes.
///
/// All work runs on one serial queue; every call but stopAll() returns at once, and calls take effect in call
/// order. Failures never reach the caller: they are logged and passed as "<appID>: <description>" to the
/// error handler, on the engine's queue.
class TapEngine
{
public:
    using ErrorHandler = std::function<void(const QString& message)>;

    explicit TapEngine(AudioHardware& hw);
    ~TapEngine();
    TapEngine(const TapEngine&) = delete;
    TapEngine& operator=(const TapEngine&) = delete;

    /// Sets the handler for failure messages; it takes effect for the work queued after this call.
    void setOnError(ErrorHandler handler);

    /// The application should sound at `gain` on `outputUID` (none: the system default).
    void apply(
        const QString& appID, std::vector<AudioObjectID> processObjects, float gain, std::optional<QString> outputUID);
    void remove(const QString& appID);
    /// Tears down every tap and returns only when all are gone.
    void stopAll();
    /// The system default output device changed: re-read it and move every tap that follows it.
    void outputDeviceChanged();
    /// The device list changed: move every tap whose target device changed.
    void devicesChanged();

    /// What the engine holds for one application, read on the engine's queue.
    struct TapInfo {
        std::vector<AudioObjectID> processObjects;
        std::optional<QString> routeUID;
        AudioObjectID device = 0;
        float targetGain = 1.0f;
        bool operator==(const TapInfo&) const = default;
    };
    /// Waits for the queued work, then describes every tap held.
    std::map<QString, TapInfo> taps();
    /// Waits for the queued work, then gives the level the server carries for each application it carries one for.
    std::map<QString, float> serverLevels();
    /// How many apply and remove requests were made so far (diagnostics: a caller that sends no needless work).
    int requestCount() const { return m_requests.load(std::memory_order_relaxed); }

private:
    /// The device a tap plays on: its route's device while that is plugged in, else the default output device.
    /// Absent when there is no output device at all, and, with the failure reported, when the route's device
    /// cannot be looked up.
    std::optional<AudioObjectID> targetDevice(const QString& appID, const std::optional<QString>& routeUID);
    void restart(AppTap& tap, AudioObjectID device);
    void readOutputDevice();
    void retarget();
    void report(const QString& appID, const CAError& error);
    /// Carries the level on the server; false when the platform cannot, which leaves nothing of it behind.
    bool applyOnServer(const QString& appID, const std::vector<AudioObjectID>& processObjects, float gain,
        const std::optional<QString>& outputUID, std::optional<AudioObjectID> target);
    void applyWithTap(const QString& appID, std::vector<AudioObjectID> processObjects, float gain,
        std::optional<QString> outputUID, std::optional<AudioObjectID> target);
    void releaseLevel(const QString& appID);
    void stopTap(const QString& appID);

    AudioHardware& m_hw;
    std::map<QString, std::unique_ptr<AppTap>> m_taps;
    std::map<QString, std::unique_ptr<ProcessLevel>> m_levels;
    /// The default output device as last read, kAudioObjectUnknown when there is none; absent when the read failed.
    std::optional<AudioObjectID> m_outputDevice;
    ErrorHandler m_onError;
    std::atomic<int> m_requests { 0 };
    // Last member: destroyed first, so that queued work finishes while the taps still exist.
    SerialQueue m_queue { "Velorith.TapEngine" };
};

} // namespace sonaric
