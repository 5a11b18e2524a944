#pragma once

#include "platform/tray/status_item.h"

#include <memory>

namespace sonaric
{

/// The status item this session can show, chosen once at start: a StatusNotifierItem when
/// org.kde.StatusNotifierWatcher has an owner on the session bus (KDE Plasma, GNOME with the AppIndicator
/// extension, xfce4-panel, waybar, LXQt, ...), else an XEmbed icon when an X11 system tray is there (needs a
/// QApplication), else an item without a button. The log (category "Tray") says which and why.
std::unique_ptr<StatusItem> makeLinuxStatusItem(QObject* parent = nullptr);

} // namespace sonaric
