#include "audio/tap_engine.h"

#include "audio/ca.h"

#include <algorithm>

namespace sonaric
{

namespace
{
bool sameSet(std::vector<AudioObjectID> a, std::vector<AudioObjectID> b)
{
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    std::sort(b.begin(), b.end());
    b.erase(std::unique(b.begin(), b.end()), b.end());
    return a == b;
}
} // namespace

TapEngine::TapEngine(AudioHardware& hw)
    : m_hw(hw)
{
}

TapEngine::~TapEngine()
{
    stopAll();
}

void TapEngine::setOnError(ErrorHandler handler)
{
    m_queue.async([this, handler = std::move(handler)]() mutable { m_onError = std::move(handler); });
}

void TapEngine::apply(
    const QString& appID, std::vector<AudioObjectID> processObjects, float gain, std::optional<QString> outputUID)
{
    m_requests.fetch_add(1, std::memory_order_relaxed);
    m_queue.async([this, appID, processObjects = std::move(processObjects), gain, outputUID = std::move(outputUID)] {
        if (m_outputDevice.value_or(kAudioObjectUnknown) == kAudioObjectUnknown)
            readOutputDevice();

        if (gain == 1.0f && !outputUID) {
            // Unity on the default device needs no processing: the application plays untouched.
            releaseLevel(appID);
            stopTap(appID);
            return;
        }

        const std::optional<AudioObjectID> target = targetDevice(appID, outputUID);
        if (gain <= 1.0f && applyOnServer(appID, processObjects, gain, outputUID, target)) {
            stopTap(appID); // after the server took the level: the sound never passes through unity on its way
            return;
        }
        applyWithTap(appID, processObjects, gain, outputUID, target);
        releaseLevel(appID); // after the tap carries the sound, which it then does at the application's own volume
    });
}

bool TapEngine::applyOnServer(const QString& appID, const std::vector<AudioObjectID>& processObjects, float gain,
    const std::optional<QString>& outputUID, std::optional<AudioObjectID> target)
{
    if (processObjects.empty() || !ProcessLevel::isOffered(m_hw, processObjects.front()))
        return false;
    auto& level = m_levels[appID];
    if (!level)
        level = std::make_unique<ProcessLevel>(m_hw, appID);
    level->setRouteUID(outputUID);
    try {
        // Without a route the streams stay on the device each chose; a route that cannot be looked up keeps them
        // where they are, like a tap kept torn down, until the next change.
        const AudioObjectID device = !outputUID ? kAudioObjectUnknown : target.value_or(level->device());
        level->apply(processObjects, gain, device);
        return true;
    } catch (const CAError& error) {
        // A platform that offers the properties and then fails one: the tap does the job instead.
        qCWarning(lcTapEngine, "%s: %s; tapping instead", qUtf8Printable(appID), qUtf8Printable(error.description()));
        releaseLevel(appID);
        return false;
    }
}

void TapEngine::applyWithTap(const QString& appID, std::vector<AudioObjectID> processObjects, float gain,
    std::optional<QString> outputUID, std::optional<AudioObjectID> target)
{
    if (auto it = m_taps.find(appID); it != m_taps.end() && sameSet(it->second->processObjects(), processObjects)) {
        AppTap& tap = *it->second;
        tap.state().targetGain.store(gain, std::memory_order_relaxed);
        tap.setRouteUID(outputUID);
        if (!target)
            tap.stop(); // kept torn down, like a failed move: the next change retries
        else if (tap.device() != *target)
            restart(tap, *target);
        return;
    }

    stopTap(appID);
    if (!target)
        return;
    auto tap = std::make_unique<AppTap>(m_hw, appID, std::move(processObjects), gain);
    tap->setRouteUID(outputUID);
    try {
        tap->start(*target);
    } catch (const CAError& error) {
        // Kept torn down, like a failed move: the next apply or device change finds it off target and retries.
        qCCritical(lcTapEngine, "%s", qUtf8Printable(error.description()));
        report(appID, error);
    }
    m_taps.emplace(appID, std::move(tap));
}

void TapEngine::releaseLevel(const QString& appID)
{
    if (auto node = m_levels.extract(appID))
        node.mapped()->release();
}

void TapEngine::stopTap(const QString& appID)
{
    if (auto node = m_taps.extract(appID))
        node.mapped()->stop();
}

void TapEngine::remove(const QString& appID)
{
    m_requests.fetch_add(1, std::memory_order_relaxed);
    m_queue.async([this, appID] {
        releaseLevel(appID);
        stopTap(appID);
    });
}

void TapEngine::stopAll()
{
    m_queue.sync([this] {
        for (auto& [appID, level] : m_levels)
            level->release();
        m_levels.clear();
        for (auto& [appID, tap] : m_taps)
            tap->stop();
        m_taps.clear();
    });
}

void TapEngine::outputDeviceChanged()
{
    m_queue.async([this] {
        readOutputDevice();
        retarget();
    });
}

void TapEngine::devicesChanged()
{
    m_queue.async([this] { retarget(); });
}

std::map<QString, TapEngine::TapInfo> TapEngine::taps()
{
    std::map<QString, TapInfo> info;
    m_queue.sync([&] {
        for (auto& [appID, tap] : m_taps)
            info[appID] = { tap->processObjects(), tap->routeUID(), tap->device(),
                tap->state().targetGain.load(std::memory_order_relaxed) };
    });
    return info;
}

std::map<QString, float> TapEngine::serverLevels()
{
    std::map<QString, float> levels;
    m_queue.sync([&] {
        for (auto& [appID, level] : m_levels)
            levels[appID] = level->gain();
    });
    return levels;
}

std::optional<AudioObjectID> TapEngine::targetDevice(const QString& appID, const std::optional<QString>& routeUID)
{
    if (routeUID) {
        const CA::DeviceLookup lookup = CA::lookUpDevice(m_hw, *routeUID);
        if (lookup.device)
            return *lookup.device;
        if (lookup.status != noErr) {
            // Not found is not the same as unplugged: falling back to the default here would keep the application
            // there, since no device change is coming to bring it back.
            const CAError error { QStringLiteral("Read output devices"), lookup.status };
            qCCritical(lcTapEngine, "route %s: %s", qUtf8Printable(appID), qUtf8Printable(error.description()));
            report(appID, error);
            return std::nullopt;
        }
    }
    // A default that cannot be read is built on all the same, which fails and says so. No output at all (a
    // restarting server before its sinks are back) is nothing to build on until one comes.
    if (!m_outputDevice)
        return kAudioObjectUnknown;
    if (*m_outputDevice == kAudioObjectUnknown)
        return std::nullopt;
    return *m_outputDevice;
}

void TapEngine::readOutputDevice()
{
    m_outputDevice = CA::uint32(m_hw, kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
}

void TapEngine::restart(AppTap& tap, AudioObjectID device)
{
    try {
        tap.start(device);
        return;
    } catch (const CAError& error) {
        // The torn-down tap stays: the next apply or device change finds its device off target and retries.
        qCCritical(lcTapEngine, "reroute %s: %s", qUtf8Printable(tap.appID()), qUtf8Printable(error.description()));
        report(tap.appID(), error);
    }
}

void TapEngine::retarget()
{
    for (auto& [appID, level] : m_levels) {
        if (!level->routeUID())
            continue; // follows the device its streams chose, which the server moves them off when it goes
        const std::optional<AudioObjectID> target = targetDevice(appID, level->routeUID());
        if (!target || *target == level->device())
            continue;
        try {
            level->apply(level->processObjects(), level->gain(), *target);
        } catch (const CAError& error) {
            qCCritical(lcTapEngine, "reroute %s: %s", qUtf8Printable(appID), qUtf8Printable(error.description()));
            report(appID, error);
        }
    }
    for (auto& [appID, tap] : m_taps) {
        const std::optional<AudioObjectID> target = targetDevice(appID, tap->routeUID());
        if (!target)
            tap->stop();
        else if (tap->device() != *target)
            restart(*tap, *target);
    }
}

void TapEngine::report(const QString& appID, const CAError& error)
{
    if (m_onError)
        m_onError(appID + QStringLiteral(": ") + error.description());
}

} // namespace sonaric
