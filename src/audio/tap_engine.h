#pragma once

#include "audio/app_tap.h"
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
    /// How many apply and remove requests were made so far (diagnostics: a caller that sends no needless work).
    int requestCount() const { return m_requests.load(std::memory_order_relaxed); }

private:
    /// The device a tap plays on: its route's device while that is plugged in, else the default output device.
    /// Absent, with the failure reported, when the route's device cannot be looked up.
    std::optional<AudioObjectID> targetDevice(const QString& appID, const std::optional<QString>& routeUID);
    void restart(AppTap& tap, AudioObjectID device);
    void retarget();
    void report(const QString& appID, const CAError& error);

    AudioHardware& m_hw;
    std::map<QString, std::unique_ptr<AppTap>> m_taps;
    AudioObjectID m_outputDevice = 0;
    ErrorHandler m_onError;
    std::atomic<int> m_requests { 0 };
    // Last member: destroyed first, so that queued work finishes while the taps still exist.
    SerialQueue m_queue { "Velorith.TapEngine" };
};

} // namespace sonaric
