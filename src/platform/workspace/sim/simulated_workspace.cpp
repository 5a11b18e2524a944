#include "platform/workspace/sim/simulated_workspace.h"

#include <algorithm>
#include <unistd.h>

namespace sonaric
{

SimulatedWorkspace::SimulatedWorkspace(const Scene& scene)
    : m_running(scene.applications)
    , m_installed(scene.installed)
    , m_icons(scene.applicationIcons)
    , m_ownPid(scene.ownPid.value_or(::getpid()))
    , m_hasResponsibleFunction(scene.hasResponsibleProcessFunction)
{
    for (const auto& p : scene.processes)
        if (p.responsiblePid)
            m_responsible[p.pid] = *p.responsiblePid;
}

std::vector<RunningApplication> SimulatedWorkspace::runningApplications() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

std::optional<RunningApplication> SimulatedWorkspace::runningApplication(pid_t pid) const
{
    std::lock_guard lock(m_mutex);
    auto it
        = std::find_if(m_running.begin(), m_running.end(), [&](const auto& a) { return a.processIdentifier == pid; });
    if (it == m_running.end())
        return std::nullopt;
    return *it;
}

QString SimulatedWorkspace::urlForApplication(const QString& bundleIdentifier) const
{
    std::lock_guard lock(m_mutex);
    const bool running = std::any_of(
        m_running.begin(), m_running.end(), [&](const auto& a) { return a.bundleIdentifier == bundleIdentifier; });
    const bool installed = std::find(m_installed.begin(), m_installed.end(), bundleIdentifier) != m_installed.end();
    if (bundleIdentifier.isEmpty() || !(running || installed))
        return {};
    return QStringLiteral("file:///Applications/%1.app").arg(bundleIdentifier);
}

QString SimulatedWorkspace::iconForApplication(const QString& bundleIdentifier) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_icons.find(bundleIdentifier);
    return it == m_icons.end() ? QString() : it->second;
}

ResponsibleProcessFunction SimulatedWorkspace::responsibleProcessFunction() const
{
    if (!m_hasResponsibleFunction)
        return {};
    return [this](pid_t pid) {
        std::lock_guard lock(m_mutex);
        auto it = m_responsible.find(pid);
        return it == m_responsible.end() ? pid : it->second;
    };
}

pid_t SimulatedWorkspace::processIdentifier() const
{
    return m_ownPid;
}

bool SimulatedWorkspace::openURL(const QUrl& url)
{
    std::lock_guard lock(m_mutex);
    m_opened.push_back(url);
    return true;
}

std::vector<QUrl> SimulatedWorkspace::openedURLs() const
{
    std::lock_guard lock(m_mutex);
    return m_opened;
}

void SimulatedWorkspace::launch(RunningApplication app)
{
    std::lock_guard lock(m_mutex);
    m_running.push_back(std::move(app));
}

void SimulatedWorkspace::terminate(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_running, [&](const auto& a) { return a.processIdentifier == pid; });
}

void SimulatedWorkspace::setResponsible(pid_t process, pid_t responsible)
{
    std::lock_guard lock(m_mutex);
    m_responsible[process] = responsible;
}

void SimulatedWorkspace::setInstalled(const QString& bundleIdentifier, bool installed)
{
    std::lock_guard lock(m_mutex);
    std::erase(m_installed, bundleIdentifier);
    if (installed)
        m_installed.push_back(bundleIdentifier);
}

} // namespace sonaric
