#pragma once

#include "platform/scene/scene.h"
#include "platform/workspace/workspace.h"

#include <map>
#include <mutex>

namespace sonaric
{

/// The workspace of a scene: its running applications, what is installed, and who is responsible for which
/// process.
class SimulatedWorkspace final : public Workspace
{
public:
    explicit SimulatedWorkspace(const Scene& scene);

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> runningApplication(pid_t pid) const override;
    QString urlForApplication(const QString& bundleIdentifier) const override;
    QString iconForApplication(const QString& bundleIdentifier) const override;
    ResponsibleProcessFunction responsibleProcessFunction() const override;
    pid_t processIdentifier() const override;
    /// Records the URL instead of opening it; `openedURLs` lists them in order.
    bool openURL(const QUrl& url) override;
    std::vector<QUrl> openedURLs() const;

    void launch(RunningApplication app);
    void terminate(pid_t pid);
    void setResponsible(pid_t process, pid_t responsible);
    void setInstalled(const QString& bundleIdentifier, bool installed);

private:
    mutable std::mutex m_mutex;
    std::vector<RunningApplication> m_running;
    std::vector<QString> m_installed;
    std::map<QString, QString> m_icons;
    std::map<pid_t, pid_t> m_responsible;
    std::vector<QUrl> m_opened;
    pid_t m_ownPid;
    bool m_hasResponsibleFunction;
};

} // namespace sonaric
