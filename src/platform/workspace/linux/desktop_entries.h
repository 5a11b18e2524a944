#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace sonaric
{

/// An application's freedesktop desktop entry, reduced to what identifies and names it.
struct DesktopEntry {
    QString id; ///< the desktop-file id without ".desktop" ("org.gnome.Totem"), our bundle identifier
    QString path; ///< the .desktop file
    QString name; ///< Name, localized for the current locale
    QString executable; ///< the base name of Exec's program ("totem"), empty when there is none
    QString tryExec;
    QString startupWMClass;
    QString icon; ///< Icon: an icon theme name or an absolute file path, empty when there is none
    bool shown = true; ///< neither NoDisplay nor Hidden
    bool operator==(const DesktopEntry&) const = default;
};

/// The installed desktop entries, and which of them a running process belongs to.
class DesktopEntries
{
public:
    /// Reads $XDG_DATA_HOME/applications and $XDG_DATA_DIRS/*/applications; earlier directories win.
    static DesktopEntries load();
    /// Reads the given "applications" directories, earlier ones first.
    static DesktopEntries load(const QStringList& directories, const QStringList& locales);
    /// The locale names to try for localized keys, most specific first ("de_AT", "de").
    static QStringList currentLocales();
    /// Parses one desktop file; absent when it is not a valid application entry.
    static std::optional<DesktopEntry> parse(const QString& path, const QString& id, const QStringList& locales);

    const std::vector<DesktopEntry>& entries() const { return m_entries; }
    std::optional<DesktopEntry> byId(const QString& id) const;
    /// The entry a process was started from: the launcher's hint in its environment when there is one, else
    /// its executable, command name or window class matched against Exec, TryExec, StartupWMClass and ids.
    std::optional<DesktopEntry> forProcess(pid_t pid) const;
    /// Matching by what a process reports of itself, for tests and for callers that read /proc already.
    std::optional<DesktopEntry> forProgram(const QString& executable, const QString& argv0, const QString& comm) const;

private:
    std::vector<DesktopEntry> m_entries;
};

} // namespace sonaric
