#include "native/native_volume_error.h"

namespace sonaric
{

namespace
{

const QString kTryAgain = QStringLiteral("Click Try Again.");

} // namespace

NativeVolumeError NativeVolumeError::failure(NativeVolumeSource source, const QString& detail)
{
    if (detail == QStringLiteral("not-running"))
        return { source.appName() + QStringLiteral(" isn't open."), { source.openStep(), kTryAgain } };
    const QString fix = source.isBrowser() ? QStringLiteral("Reload the tab.")
                                           : QStringLiteral("Restart ") + source.menuName() + QStringLiteral(".");
    return { source.title() + QStringLiteral(" returned an invalid volume."), { fix, kTryAgain } };
}

NativeVolumeError NativeVolumeError::scriptFailure(
    NativeVolumeSource source, int number, const QString& reported, const std::optional<QStringList>& platformSteps)
{
    // The text comes from the other application or the scripting system; a blank one would show an empty error.
    const QString detail = reported.trimmed().isEmpty()
        ? source.appName() + QStringLiteral(" returned error ") + QString::number(number) + QStringLiteral(".")
        : reported;
    if (number == -1743)
        return { QStringLiteral("Sonaric isn't allowed to control ") + source.appName() + QStringLiteral("."),
            platformSteps.value_or(source.automationSteps()) << kTryAgain };
    if (source.isBrowser()
        && (detail.contains(QStringLiteral("JavaScript from Apple Events"), Qt::CaseInsensitive)
            || detail.contains(QStringLiteral("JavaScript through AppleScript"), Qt::CaseInsensitive)))
        return { source.appName() + QStringLiteral(" is blocking JavaScript from Apple Events."),
            platformSteps.value_or(source.javaScriptSteps()) << kTryAgain };
    return { detail, platformSteps.value_or(source.automationSteps() + source.javaScriptSteps()) << kTryAgain };
}

} // namespace sonaric
