#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>

namespace sonaric
{

class Workspace;

/// One of the eight applications whose own volume a native connector drives: five browsers (a volume and
/// mute per playing tab) and three media applications (one volume). Carries every per-source text.
class NativeVolumeSource
{
public:
    /// In declaration order, which is also the order of `allCases()`, of the mixer's sessions and of the
    /// Connectors pane.
    enum Case { safari, chrome, edge, brave, chromium, spotify, appleMusic, appleTV };

    constexpr NativeVolumeSource(Case value)
        : m_value(value)
    {
    }

    static const std::array<NativeVolumeSource, 8>& allCases();
    /// The first source (in `allCases()` order) whose bundle identifier equals `bundleID` exactly; else the source
    /// whose application the Linux desktop knows by that id (a desktop-entry, Flatpak or Snap id, exactly).
    static std::optional<NativeVolumeSource> connector(const QString& bundleID);

    constexpr Case value() const { return m_value; }
    constexpr bool isBrowser() const { return m_value <= chromium; }

    QString bundleID() const;
    /// The name used in sentences about the running application ("Google Chrome", "Music").
    QString appName() const;
    /// The short name used in menu-bar instructions and in the mixer's native row ("Chrome").
    QString menuName() const;
    /// The connector's name in the settings and the accessibility label of its icon ("Chrome tabs").
    QString title() const;
    /// Help of the control that switches an app row to native volume.
    QString switchHelp() const;
    /// True when the workspace knows where the application is installed; asked on every call.
    bool isInstalled(const Workspace& workspace) const;

    constexpr bool operator==(const NativeVolumeSource&) const = default;

private:
    friend class NativeVolumeError;

    QString openStep() const;
    QStringList automationSteps() const;
    QStringList javaScriptSteps() const;

    Case m_value;
};

/// For QHash and QSet keys.
inline size_t qHash(NativeVolumeSource source, size_t seed = 0) noexcept
{
    return seed ^ size_t(source.value());
}

} // namespace sonaric

template <> struct std::hash<sonaric::NativeVolumeSource> {
    std::size_t operator()(sonaric::NativeVolumeSource source) const noexcept { return std::size_t(source.value()); }
};
