#pragma once

#include "platform/workspace/linux/desktop_entries.h"
#include "platform/workspace/workspace.h"

#include <QString>

#include <map>
#include <mutex>

namespace sonaric
{

/// The workspace on a Linux desktop: processes from /proc, applications from desktop entries.
///
/// A process is an application when it was started from a desktop entry and its parent was not started from
/// the same one; its desktop-file id (without ".desktop") is its bundle identifier and the entry's localized
/// name its name. It is regular when the entry is shown in menus, an accessory otherwise. The processes an
/// application starts (a browser's renderers and audio service) are not applications themselves: the
/// responsible-process function walks the parent chain up to the application that owns them.
class LinuxWorkspace final : public Workspace
{
public:
    /// `procRoot` is where the process table is read ("/proc"; tests may point elsewhere).
    explicit LinuxWorkspace(
        DesktopEntries entries = DesktopEntries::load(), QString procRoot = QStringLiteral("/proc"));

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> runningApplication(pid_t pid) const override;
    QString urlForApplication(const QString& bundleIdentifier) const override;
    QString iconForApplication(const QString& bundleIdentifier) const override;
    ResponsibleProcessFunction responsibleProcessFunction() const override;
    pid_t processIdentifier() const override;
    bool openURL(const QUrl& url) override;

    /// The application responsible for `pid`: the nearest process up the parent chain (itself included) that
    /// is an application; `pid` itself when there is none.
    pid_t responsibleProcess(pid_t pid) const;

private:
    struct ProcessInfo {
        pid_t parent = 0;
        QString startTime;
        std::optional<DesktopEntry> entry;
    };
    /// What /proc says about a process, cached for as long as the same process (pid and start time) lives.
    std::optional<ProcessInfo> process(pid_t pid) const;
    std::optional<RunningApplication> application(pid_t pid, const ProcessInfo& info) const;
    /// The entry with this id, or the installed entry of a connector application known by its bundle identifier.
    std::optional<DesktopEntry> entry(const QString& bundleIdentifier) const;

    DesktopEntries m_entries;
    QString m_procRoot;
    mutable std::mutex m_mutex;
    mutable std::map<pid_t, ProcessInfo> m_cache;
};

} // namespace sonaric
