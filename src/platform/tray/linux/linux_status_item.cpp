#include "platform/tray/linux/linux_status_item.h"

#include "platform/tray/linux/no_tray_status_item.h"
#include "platform/tray/linux/status_notifier_item.h"
#include "platform/tray/linux/tray_log.h"
#include "platform/tray/linux/xembed_status_item.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSystemTrayIcon>

namespace sonaric
{

Q_LOGGING_CATEGORY(lcTray, "Tray")

namespace
{

bool statusNotifierWatcherPresent()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

} // namespace

std::unique_ptr<StatusItem> makeLinuxStatusItem(QObject* parent)
{
    if (statusNotifierWatcherPresent()) {
        auto item = std::make_unique<StatusNotifierItem>(parent);
        if (item->hasButton()) {
            qCInfo(lcTray) << "tray: StatusNotifierItem" << item->serviceName();
            return item;
        }
        qCWarning(lcTray) << "a StatusNotifierWatcher is on the session bus but the item could not be published";
    }
    QString reason;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        reason = QStringLiteral("no StatusNotifierWatcher on the session bus, and an XEmbed tray icon needs a "
                                "widgets application");
    } else if (QSystemTrayIcon::isSystemTrayAvailable()) {
        qCInfo(lcTray) << "tray: XEmbed (no StatusNotifierWatcher on the session bus)";
        return std::make_unique<XEmbedStatusItem>(parent);
    } else {
        reason = QStringLiteral("no StatusNotifierWatcher on the session bus and no X11 system tray (platform %1)")
                     .arg(QGuiApplication::platformName());
    }
    qCWarning(lcTray).noquote() << "tray: none," << reason;
    return std::make_unique<NoTrayStatusItem>(reason, parent);
}

} // namespace sonaric
