#pragma once

// The workspace service: the running applications and what the desktop knows about installed ones.

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <sys/types.h>
#include <vector>

namespace sonaric
{

enum class ActivationPolicy {
    regular, ///< an ordinary application with a window and a Dock (or task bar) presence
    accessory, ///< a utility without a Dock presence
    prohibited, ///< a background process
};

/// One running application as the workspace reports it.
struct RunningApplication {
    pid_t processIdentifier = 0;
    QString bundleIdentifier; ///< null when the application has none
    QString localizedName; ///< null when the application has none
    ActivationPolicy activationPolicy = ActivationPolicy::prohibited;
    bool operator==(const RunningApplication&) const = default;
};

/// The process responsible for another process (the application that launched a helper).
using ResponsibleProcessFunction = std::function<pid_t(pid_t)>;

class Workspace
{
public:
    virtual ~Workspace() = default;

    /// The running applications, in the workspace's order.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
    /// The running application for a pid, whatever its activation policy; none when no application has it.
    virtual std::optional<RunningApplication> runningApplication(pid_t pid) const = 0;
    /// Where the application with this bundle identifier is installed; null when it is not.
    virtual QString urlForApplication(const QString& bundleIdentifier) const = 0;
    /// The icon of the application with this bundle identifier: an icon theme name or an absolute file path;
    /// empty when the application is unknown or names no icon.
    virtual QString iconForApplication(const QString& bundleIdentifier) const = 0;
    /// The responsible-process function when the platform has one; empty otherwise.
    virtual ResponsibleProcessFunction responsibleProcessFunction() const = 0;
    /// This program's own process identifier.
    virtual pid_t processIdentifier() const = 0;
    /// Hands `url` to the desktop's handler for it (a web address to the browser); false when none took it.
    virtual bool openURL(const QUrl& url) = 0;
};

} // namespace sonaric
