#include "native/native_volume_source.h"

#include "platform/workspace/linux_application_ids.h"
#include "platform/workspace/workspace.h"

namespace sonaric
{

const std::array<NativeVolumeSource, 8>& NativeVolumeSource::allCases()
{
    static const std::array<NativeVolumeSource, 8> cases { safari, chrome, edge, brave, chromium, spotify, appleMusic,
        appleTV };
    return cases;
}

std::optional<NativeVolumeSource> NativeVolumeSource::connector(const QString& bundleID)
{
    for (const NativeVolumeSource source : allCases()) {
        if (source.bundleID() == bundleID)
            return source;
    }
    // The Linux workspace reports desktop-entry ids ("google-chrome", "com.spotify.Client").
    if (const auto known = LinuxApplicationIds::builtIn().bundleIDFor(bundleID)) {
        for (const NativeVolumeSource source : allCases()) {
            if (source.bundleID() == *known)
                return source;
        }
    }
    return std::nullopt;
}

namespace
{
struct Texts {
    const char* bundleID;
    const char* appName;
    const char* menuName;
    const char* title;
};

// Indexed by the source, in declaration order.
constexpr Texts texts[] = {
    { "com.apple.Safari", "Safari", "Safari", "Safari tabs" },
    { "com.google.Chrome", "Google Chrome", "Chrome", "Chrome tabs" },
    { "com.microsoft.edgemac", "Microsoft Edge", "Edge", "Edge tabs" },
    { "com.brave.Browser", "Brave Browser", "Brave", "Brave tabs" },
    { "org.chromium.Chromium", "Chromium", "Chromium", "Chromium tabs" },
    { "com.spotify.client", "Spotify", "Spotify", "Spotify" },
    { "com.apple.Music", "Music", "Music", "Apple Music" },
    { "com.apple.TV", "TV", "TV", "Apple TV" },
};
} // namespace

QString NativeVolumeSource::bundleID() const
{
    return QString::fromLatin1(texts[m_value].bundleID);
}

QString NativeVolumeSource::appName() const
{
    return QString::fromLatin1(texts[m_value].appName);
}

QString NativeVolumeSource::menuName() const
{
    return QString::fromLatin1(texts[m_value].menuName);
}

QString NativeVolumeSource::title() const
{
    return QString::fromLatin1(texts[m_value].title);
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
    case chromium:
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
