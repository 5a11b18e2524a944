#include "native/native_volume_source.h"

#include "platform/workspace/workspace.h"

namespace sonaric
{

const std::array<NativeVolumeSource, 7>& NativeVolumeSource::allCases()
{
    static const std::array<NativeVolumeSource, 7> cases { safari, chrome, edge, brave, spotify, appleMusic, appleTV };
    return cases;
}

std::optional<NativeVolumeSource> NativeVolumeSource::connector(const QString& bundleID)
{
    for (const NativeVolumeSource source : allCases()) {
        if (source.bundleID() == bundleID)
            return source;
    }
    return std::nullopt;
}

QString NativeVolumeSource::bundleID() const
{
    switch (m_value) {
    case safari:
        return QStringLiteral("com.apple.Safari");
    case chrome:
        return QStringLiteral("com.google.Chrome");
    case edge:
        return QStringLiteral("com.microsoft.edgemac");
    case brave:
        return QStringLiteral("com.brave.Browser");
    case spotify:
        return QStringLiteral("com.spotify.client");
    case appleMusic:
        return QStringLiteral("com.apple.Music");
    case appleTV:
        return QStringLiteral("com.apple.TV");
    }
    return {};
}

QString NativeVolumeSource::appName() const
{
    switch (m_value) {
    case safari:
        return QStringLiteral("Safari");
    case chrome:
        return QStringLiteral("Google Chrome");
    case edge:
        return QStringLiteral("Microsoft Edge");
    case brave:
        return QStringLiteral("Brave Browser");
    case spotify:
        return QStringLiteral("Spotify");
    case appleMusic:
        return QStringLiteral("Music");
    case appleTV:
        return QStringLiteral("TV");
    }
    return {};
}

QString NativeVolumeSource::menuName() const
{
    switch (m_value) {
    case safari:
        return QStringLiteral("Safari");
    case chrome:
        return QStringLiteral("Chrome");
    case edge:
        return QStringLiteral("Edge");
    case brave:
        return QStringLiteral("Brave");
    case spotify:
        return QStringLiteral("Spotify");
    case appleMusic:
        return QStringLiteral("Music");
    case appleTV:
        return QStringLiteral("TV");
    }
    return {};
}

QString NativeVolumeSource::title() const
{
    switch (m_value) {
    case safari:
        return QStringLiteral("Safari tabs");
    case chrome:
        return QStringLiteral("Chrome tabs");
    case edge:
        return QStringLiteral("Edge tabs");
    case brave:
        return QStringLiteral("Brave tabs");
    case spotify:
        return QStringLiteral("Spotify");
    case appleMusic:
        return QStringLiteral("Apple Music");
    case appleTV:
        return QStringLiteral("Apple TV");
    }
    return {};
}

QString NativeVolumeSource::openStep() const
{
    switch (m_value) {
    case spotify:
        return QStringLiteral("Open the Spotify desktop app.");
    case appleMusic:
        return QStringLiteral("Open the Music app.");
    case appleTV:
        return QStringLiteral("Open the TV app.");
    default:
        return QStringLiteral("Open ") + appName() + QStringLiteral(".");
    }
}

QString NativeVolumeSource::switchHelp() const
{
    const QString fixIt = QStringLiteral(" If it can't connect, Settings > Connectors shows how to fix it.");
    if (isBrowser())
        return QStringLiteral("Give each playing tab its own volume (YouTube, Netflix, Twitch and more).") + fixIt;
    return QStringLiteral("Control ") + menuName() + QStringLiteral("'s own volume.") + fixIt;
}

QStringList NativeVolumeSource::automationSteps() const
{
    return { QStringLiteral("Open System Settings > Privacy & Security > Automation."),
        QStringLiteral("Under Sonaric, turn on ") + appName() + QStringLiteral(".") };
}

QStringList NativeVolumeSource::javaScriptSteps() const
{
    switch (m_value) {
    case safari:
        return {
            QStringLiteral(
                "In Safari, choose Safari > Settings > Advanced and turn on \"Show features for web developers\"."),
            QStringLiteral(
                "In Safari Settings, open the Developer tab and turn on \"Allow JavaScript from Apple Events\".")
        };
    case chrome:
    case edge:
    case brave:
        return { QStringLiteral("In ") + menuName()
            + QStringLiteral("'s menu bar, choose View > Developer > Allow JavaScript from Apple Events.") };
    default:
        return {};
    }
}

bool NativeVolumeSource::isInstalled(const Workspace& workspace) const
{
    return !workspace.urlForApplication(bundleID()).isNull();
}

} // namespace sonaric
