#pragma once

// The one table of how the applications that Sonaric's native connectors drive are known on a Linux desktop:
// their desktop-entry ids (distribution packages, Flatpak, Snap), their MPRIS bus names and, for browsers, the
// user folder their profile lives in. Everything above the platform layer speaks of an application by its
// bundle identifier ("com.google.Chrome"); this table is where those identifiers meet what the Linux workspace
// and the session bus report ("google-chrome", "com.spotify.Client", "org.mpris.MediaPlayer2.spotify").

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace sonaric
{

/// How one desktop entry of a browser keeps its profile.
struct LinuxBrowserFlavour {
    QString desktopID; ///< "google-chrome-beta"
    QString configFolder; ///< the default profile folder below $XDG_CONFIG_HOME ("google-chrome-beta")
    bool operator==(const LinuxBrowserFlavour&) const = default;
};

/// One application of the table.
struct LinuxApplication {
    QString bundleID; ///< the identifier the rest of the program uses ("org.chromium.Chromium")
    QString name; ///< how the application calls itself on Linux ("Chromium"), for texts of the platform layer
    QStringList desktopIDs; ///< ids of its packaged desktop entries, without ".desktop"
    QStringList flatpakIDs; ///< Flatpak application ids (also the ids of their exported desktop entries)
    QStringList snapDesktopIDs; ///< ids of the desktop entries a Snap exports ("chromium_chromium")
    QStringList mprisNames; ///< bus names below org.mpris.MediaPlayer2. of its media player interface
    std::vector<LinuxBrowserFlavour> browserFlavours; ///< browsers only: per packaged entry, its profile folder
    QString extensionsPage; ///< browsers only: the page that lists extensions ("chrome://extensions")

    bool isBrowser() const { return !browserFlavours.empty(); }
    /// Every id a desktop entry of this application can have, packaged, Flatpak and Snap.
    QStringList allDesktopIDs() const { return desktopIDs + flatpakIDs + snapDesktopIDs; }
};

class LinuxApplicationIds
{
public:
    explicit LinuxApplicationIds(std::vector<LinuxApplication> applications);

    /// Spotify, Google Chrome, Microsoft Edge, Brave, Chromium; Safari, Music and TV have no Linux build.
    static const LinuxApplicationIds& builtIn();

    const std::vector<LinuxApplication>& applications() const { return m_applications; }
    /// The row of a bundle identifier (exact, case-sensitive).
    const LinuxApplication* forBundleID(const QString& bundleID) const;
    /// The row whose desktop-entry id (packaged, Flatpak or Snap; with or without ".desktop") is `id` exactly.
    const LinuxApplication* forDesktopID(const QString& id) const;
    /// The bundle identifier an application id of the Linux workspace stands for; absent when the table does not
    /// know it.
    std::optional<QString> bundleIDFor(const QString& desktopID) const;

private:
    std::vector<LinuxApplication> m_applications;
};

} // namespace sonaric
