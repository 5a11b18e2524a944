#pragma once

#include "native/native_volume_source.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace sonaric
{

/// A connector failure as the user sees it: one sentence and numbered fix-it steps (possibly none).
class NativeVolumeError
{
public:
    NativeVolumeError() = default;
    NativeVolumeError(QString message, QStringList steps = {})
        : message(std::move(message))
        , steps(std::move(steps))
    {
    }

    /// A script that ran but gave no usable answer: "not-running", or anything else (callers pass "invalid").
    static NativeVolumeError failure(NativeVolumeSource source, const QString& detail);
    /// An error the scripting system or the target application reported: its number (0 when none) and text
    /// (a blank text reads "<App> returned error <number>.").
    /// `platformSteps`, when the scripting service gave them, are the fix-it steps that are true on the platform
    /// in use; they replace the Automation and JavaScript steps.
    static NativeVolumeError scriptFailure(NativeVolumeSource source, int number, const QString& detail,
        const std::optional<QStringList>& platformSteps = std::nullopt);

    /// The localized description: the message.
    QString errorDescription() const { return message; }

    QString message;
    QStringList steps;

    bool operator==(const NativeVolumeError&) const = default;
};

} // namespace sonaric
