#pragma once

#include "platform/audio/audio_hardware.h"

#include <QString>

namespace sonaric
{

/// A failed Core Audio step of a tap build: the step or call, and the status it returned (-1 where the step
/// is not a single call).
struct CAError {
    QString what;
    OSStatus status = -1;

    /// "AudioDeviceStart failed (OSStatus -50)"
    QString description() const { return QStringLiteral("%1 failed (OSStatus %2)").arg(what).arg(status); }
    bool operator==(const CAError&) const = default;
};

} // namespace sonaric
