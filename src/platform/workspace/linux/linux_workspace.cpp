#include "platform/workspace/linux/linux_workspace.h"

#include "platform/workspace/linux_application_ids.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>

#include <unistd.h>

namespace sonaric
{

LinuxWorkspace::LinuxWorkspace(DesktopEntries entries, QString procRoot)
    : m_entries(std::move(entries))
    , m_procRoot(std::move(procRoot))
{
}

std::optional<LinuxWorkspace::ProcessInfo> LinuxWorkspace::process(pid_t pid) const
{
    if (pid <= 0)
        return std::nullopt;
    QFile stat(QStringLiteral("%1/%2/stat").arg(m_procRoot).arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 2).split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    // A zombie has ended and only waits for its parent to collect it (a container whose first process never does
    // keeps it for good): it runs nothing, and its empty command line would pass for a browser without a profile.
    if (fields[0] == "Z" || fields[0] == "X")
        return std::nullopt;
    ProcessInfo info;
    info.parent = fields[1].toInt();
    info.startTime = QString::fromLatin1(fields[19]);
    {
        std::lock_guard lock(m_mutex);
        const auto cached = m_cache.find(pid);
        if (cached != m_cache.end() && cached->second.startTime == info.startTime)
            return cached->second;
    }
    info.entry = m_entries.forProcess(pid);
    std::lock_guard lock(m_mutex);
    m_cache[pid] = info;
    return info;
}

std::optional<RunningApplication> LinuxWorkspace::application(pid_t pid, const ProcessInfo& info) const
{
    if (!info.entry)
        return std::nullopt;
    // A child started from the same entry is a helper of its parent, not an application of its own.
    if (const auto parent = process(info.parent); parent && parent->entry && parent->entry->id == info.entry->id)
        return std::nullopt;
    return RunningApplication { pid, info.entry->id, info.entry->name,
        info.entry->shown ? ActivationPolicy::regular : ActivationPolicy::accessory };
}

std::vector<RunningApplication> LinuxWorkspace::runningApplications() const
{
    std::vector<RunningApplication> apps;
    std::vector<pid_t> pids;
    for (const QString& name : QDir(m_procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const pid_t pid = name.toInt(&ok);
        if (ok && pid > 0)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    {
        // Forget processes that are gone, so the cache does not grow for ever.
        std::lock_guard lock(m_mutex);
        std::erase_if(
            m_cache, [&](const auto& entry) { return !std::binary_search(pids.begin(), pids.end(), entry.first); });
    }
    for (pid_t pid : pids) {
        const auto info = process(pid);
        if (!info)
            continue;
        if (auto app = application(pid, *info))
            apps.push_back(*app);
    }
    return apps;
}

std::optional<RunningApplication> LinuxWorkspace::runningApplication(pid_t pid) const
{
    const auto info = process(pid);
    if (!info)
        return std::nullopt;
    if (auto app = application(pid, *info))
        return app;
    // A helper still carries its application's identity, but is no application of its own.
    if (info->entry)
        return RunningApplication { pid, info->entry->id, info->entry->name, ActivationPolicy::prohibited };
    return std::nullopt;
}

std::optional<DesktopEntry> LinuxWorkspace::entry(const QString& bundleIdentifier) const
{
    if (auto entry = m_entries.byId(bundleIdentifier))
        return entry;
    // The connectors ask by their own identifiers ("org.chromium.Chromium"); the desktop knows the same
    // application by its entry's id ("chromium"), whichever of its packages is installed.
    if (const LinuxApplication* application = LinuxApplicationIds::builtIn().forBundleID(bundleIdentifier)) {
        for (const QString& id : application->allDesktopIDs()) {
            if (auto entry = m_entries.byId(id))
                return entry;
        }
    }
    return std::nullopt;
}

QString LinuxWorkspace::urlForApplication(const QString& bundleIdentifier) const
{
    const auto found = entry(bundleIdentifier);
    return found ? found->path : QString();
}

QString LinuxWorkspace::iconForApplication(const QString& bundleIdentifier) const
{
    const auto found = entry(bundleIdentifier);
    return found ? found->icon : QString();
}

pid_t LinuxWorkspace::responsibleProcess(pid_t pid) const
{
    pid_t current = pid;
    // The chain is short; the bound only guards against a table that changes under us.
    for (int depth = 0; depth < 64 && current > 1; ++depth) {
        const auto info = process(current);
        if (!info)
            break;
        if (application(current, *info))
            return current;
        current = info->parent;
    }
    return pid;
}

ResponsibleProcessFunction LinuxWorkspace::responsibleProcessFunction() const
{
    return [this](pid_t pid) { return responsibleProcess(pid); };
}

pid_t LinuxWorkspace::processIdentifier() const
{
    return getpid();
}

bool LinuxWorkspace::openURL(const QUrl& url)
{
    // The desktop's portal or xdg-open; it needs the GUI application object the program runs with.
    return QDesktopServices::openUrl(url);
}

} // namespace sonaric
