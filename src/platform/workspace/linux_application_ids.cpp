#include "platform/workspace/linux_application_ids.h"

namespace sonaric
{

LinuxApplicationIds::LinuxApplicationIds(std::vector<LinuxApplication> applications)
    : m_applications(std::move(applications))
{
}

const LinuxApplicationIds& LinuxApplicationIds::builtIn()
{
    static const LinuxApplicationIds table({
        {
            QStringLiteral("com.google.Chrome"),
            QStringLiteral("Google Chrome"),
            { QStringLiteral("google-chrome"), QStringLiteral("google-chrome-beta"),
                QStringLiteral("google-chrome-unstable") },
            { QStringLiteral("com.google.Chrome") },
            {},
            {},
            { { QStringLiteral("google-chrome"), QStringLiteral("google-chrome") },
                { QStringLiteral("google-chrome-beta"), QStringLiteral("google-chrome-beta") },
                { QStringLiteral("google-chrome-unstable"), QStringLiteral("google-chrome-unstable") } },
            QStringLiteral("chrome://extensions"),
        },
        {
            QStringLiteral("com.microsoft.edgemac"),
            QStringLiteral("Microsoft Edge"),
            { QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-beta"),
                QStringLiteral("microsoft-edge-dev") },
            { QStringLiteral("com.microsoft.Edge") },
            {},
            {},
            { { QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge") },
                { QStringLiteral("microsoft-edge-beta"), QStringLiteral("microsoft-edge-beta") },
                { QStringLiteral("microsoft-edge-dev"), QStringLiteral("microsoft-edge-dev") } },
            QStringLiteral("edge://extensions"),
        },
        {
            QStringLiteral("com.brave.Browser"),
            QStringLiteral("Brave"),
            { QStringLiteral("brave-browser"), QStringLiteral("brave-browser-beta"),
                QStringLiteral("brave-browser-nightly") },
            { QStringLiteral("com.brave.Browser") },
            { QStringLiteral("brave_brave") },
            {},
            { { QStringLiteral("brave-browser"), QStringLiteral("BraveSoftware/Brave-Browser") },
                { QStringLiteral("brave-browser-beta"), QStringLiteral("BraveSoftware/Brave-Browser-Beta") },
                { QStringLiteral("brave-browser-nightly"), QStringLiteral("BraveSoftware/Brave-Browser-Nightly") } },
            QStringLiteral("brave://extensions"),
        },
        {
            QStringLiteral("org.chromium.Chromium"),
            QStringLiteral("Chromium"),
            // Debian's entry is chromium.desktop; Ubuntu's older packages and some others use chromium-browser.
            { QStringLiteral("chromium"), QStringLiteral("chromium-browser") },
            { QStringLiteral("org.chromium.Chromium") },
            { QStringLiteral("chromium_chromium") },
            {},
            { { QStringLiteral("chromium"), QStringLiteral("chromium") },
                { QStringLiteral("chromium-browser"), QStringLiteral("chromium") } },
            QStringLiteral("chrome://extensions"),
        },
        {
            QStringLiteral("com.spotify.client"),
            QStringLiteral("Spotify"),
            { QStringLiteral("spotify") },
            { QStringLiteral("com.spotify.Client") },
            { QStringLiteral("spotify_spotify") },
            { QStringLiteral("spotify") },
            {},
            {},
        },
    });
    return table;
}

const LinuxApplication* LinuxApplicationIds::forBundleID(const QString& bundleID) const
{
    for (const LinuxApplication& application : m_applications) {
        if (application.bundleID == bundleID)
            return &application;
    }
    return nullptr;
}

const LinuxApplication* LinuxApplicationIds::forDesktopID(const QString& id) const
{
    if (id.isEmpty())
        return nullptr;
    const QString bare = id.endsWith(QLatin1String(".desktop")) ? id.chopped(8) : id;
    for (const LinuxApplication& application : m_applications) {
        if (application.allDesktopIDs().contains(bare))
            return &application;
    }
    return nullptr;
}

std::optional<QString> LinuxApplicationIds::bundleIDFor(const QString& desktopID) const
{
    const LinuxApplication* application = forDesktopID(desktopID);
    if (!application)
        return std::nullopt;
    return application->bundleID;
}

} // namespace sonaric
