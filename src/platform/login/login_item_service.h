#pragma once

#include <QString>

namespace sonaric
{

/// The program's own login item: whether the desktop starts it when the user logs in. Main thread only; the
/// calls are synchronous.
class LoginItemService
{
public:
    /// The registration as the desktop records it.
    enum class Status {
        /// No login item of ours.
        notRegistered,
        /// Registered and the desktop will start it.
        enabled,
        /// Registered, but the user still has to allow it in the desktop's settings.
        requiresApproval,
        /// The desktop cannot find the program the item would start.
        notFound,
    };

    virtual ~LoginItemService() = default;

    virtual Status status() const = 0;
    /// Registers the running program; returns the reason in words when it could not, else an empty string.
    virtual QString registerMainApp() = 0;
    /// Removes the registration; returns the reason in words when it could not, else an empty string.
    virtual QString unregisterMainApp() = 0;
};

} // namespace sonaric
