#include "audio/process_level.h"

#include <QLoggingCategory>

#include <algorithm>
#include <utility>

Q_DECLARE_LOGGING_CATEGORY(lcTapEngine)

namespace sonaric
{

namespace
{
template <typename T>
OSStatus set(AudioHardware& hw, AudioObjectID process, AudioObjectPropertySelector selector, T value)
{
    return hw.setPropertyData(process, globalAddress(selector), sizeof value, &value);
}

bool isGone(OSStatus status)
{
    return status == kAudioHardwareBadObjectError;
}
} // namespace

ProcessLevel::ProcessLevel(AudioHardware& hw, QString appID)
    : m_hw(hw)
    , m_appID(std::move(appID))
{
}

ProcessLevel::~ProcessLevel()
{
    release();
}

bool ProcessLevel::isOffered(AudioHardware& hw, AudioObjectID process)
{
    bool settable = false;
    return hw.isPropertySettable(process, globalAddress(kAudioProcessPropertyVolumeScalar), &settable) == noErr
        && settable;
}

void ProcessLevel::apply(std::vector<AudioObjectID> processObjects, float gain, AudioObjectID device)
{
    // By value: the engine re-applies a level with the level's own process list.
    const std::vector<AudioObjectID> before = std::exchange(m_processObjects, std::move(processObjects));
    const auto listed = [](const std::vector<AudioObjectID>& list, AudioObjectID process) {
        return std::find(list.begin(), list.end(), process) != list.end();
    };
    for (AudioObjectID process : before) {
        if (!listed(m_processObjects, process))
            releaseProcess(process);
    }
    const float oldGain = std::exchange(m_gain, gain);
    const AudioObjectID oldDevice = std::exchange(m_device, device);

    // Only what changed is written (a slider drag changes the volume alone); a process new to the application gets
    // all three.
    const bool muted = gain <= 0.0f;
    for (AudioObjectID process : m_processObjects) {
        const bool known = listed(before, process);
        // Muting leaves the volume alone: unmuting then finds it where it was, and another mixer shows the
        // stream muted rather than at zero.
        if (!muted && (!known || gain != oldGain)) {
            if (OSStatus status = set(m_hw, process, kAudioProcessPropertyVolumeScalar, gain); status != noErr)
                throw CAError { QStringLiteral("Set the stream volume"), status };
        }
        if (!known || muted != (oldGain <= 0.0f)) {
            if (OSStatus status = set(m_hw, process, kAudioProcessPropertyMute, std::uint32_t(muted)); status != noErr)
                throw CAError { QStringLiteral("Set the stream mute"), status };
        }
        if (!known || device != oldDevice) {
            if (OSStatus status = set(m_hw, process, kAudioProcessPropertyOutputDevice, device); status != noErr)
                throw CAError { QStringLiteral("Move the streams"), status };
        }
    }
}

void ProcessLevel::release()
{
    for (AudioObjectID process : m_processObjects)
        releaseProcess(process);
    m_processObjects.clear();
    m_gain = 1.0f;
    m_device = kAudioObjectUnknown;
}

void ProcessLevel::releaseProcess(AudioObjectID process)
{
    // Each property is put back on its own: one that fails must not keep the others where we set them.
    const OSStatus statuses[] = {
        set(m_hw, process, kAudioProcessPropertyOutputDevice, AudioObjectID(kAudioObjectUnknown)),
        set(m_hw, process, kAudioProcessPropertyMute, std::uint32_t(0)),
        set(m_hw, process, kAudioProcessPropertyVolumeScalar, 1.0f),
    };
    for (OSStatus status : statuses) {
        if (status != noErr && !isGone(status)) {
            qCWarning(
                lcTapEngine, "release %s: process %u: OSStatus %d", qUtf8Printable(m_appID), process, int(status));
            break;
        }
    }
}

} // namespace sonaric
