#pragma once

#include <QLoggingCategory>

namespace sonaric
{

/// The tray's logging category, "Tray": which protocol was chosen and why, registrations, what a host refused.
Q_DECLARE_LOGGING_CATEGORY(lcTray)

} // namespace sonaric
