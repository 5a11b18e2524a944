#pragma once

// A workspace that answers from whichever simulated workspace the bench runs now, so an engine's icon
// provider can outlive the scenes a test goes through.

#include "platform/workspace/workspace.h"

namespace sonaric::test
{

class ForwardingWorkspace final : public Workspace
{
public:
    void setTarget(Workspace* target) { m_target = target; }
    /// How often the icon of an application was asked for.
    int iconQueries() const { return m_iconQueries; }

    std::vector<RunningApplication> runningApplications() const override
    {
        return m_target ? m_target->runningApplications() : std::vector<RunningApplication> {};
    }
    std::optional<RunningApplication> runningApplication(pid_t pid) const override
    {
        return m_target ? m_target->runningApplication(pid) : std::nullopt;
    }
    QString urlForApplication(const QString& bundleIdentifier) const override
    {
        return m_target ? m_target->urlForApplication(bundleIdentifier) : QString();
    }
    QString iconForApplication(const QString& bundleIdentifier) const override
    {
        ++m_iconQueries;
        return m_target ? m_target->iconForApplication(bundleIdentifier) : QString();
    }
    ResponsibleProcessFunction responsibleProcessFunction() const override
    {
        return m_target ? m_target->responsibleProcessFunction() : ResponsibleProcessFunction {};
    }
    pid_t processIdentifier() const override { return m_target ? m_target->processIdentifier() : 0; }
    bool openURL(const QUrl& url) override { return m_target && m_target->openURL(url); }

private:
    Workspace* m_target = nullptr;
    mutable int m_iconQueries = 0;
};

} // namespace sonaric::test
