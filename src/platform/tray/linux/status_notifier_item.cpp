#include "platform/tray/linux/status_notifier_item.h"

#include "platform/tray/linux/dbus_menu_exporter.h"
#include "platform/tray/linux/status_notifier_item_adaptor.h"
#include "platform/tray/linux/tray_log.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QStyleHints>
#include <QTimer>

#include <atomic>

namespace sonaric
{

namespace
{

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kMenuPath = QStringLiteral("/MenuBar");
// The value KDE's hosts, GNOME's AppIndicator extension and others read as "no dbusmenu: call ContextMenu".
const QString kNoMenuPath = QStringLiteral("/NO_DBUSMENU");
const QString kDefaultTitle = QStringLiteral("Sonaric");

int nextInstance()
{
    static std::atomic<int> counter { 0 };
    return ++counter;
}

/// The keys held now. Only X11 can say so for a click that went to another program's window; elsewhere none.
Qt::KeyboardModifiers modifiersHeldNow()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return {};
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QGuiApplication::queryKeyboardModifiers();
}

int doubleClickInterval()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::styleHints()->mouseDoubleClickInterval();
    return 400;
}

int doubleClickDistance()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::styleHints()->mouseDoubleClickDistance();
    return 5;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(QObject* parent)
    : StatusItem(parent)
    , m_connection(QString())
{
    m_clock.start();
    const int instance = nextInstance();
    m_connectionName = QStringLiteral("sonaric-status-notifier-item-%1").arg(instance);
    m_serviceName
        = QStringLiteral("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(instance);
    registerStatusNotifierTypes();
    m_adaptor = new StatusNotifierItemAdaptor(this,
        [this](StatusNotifierItemAdaptor::Request request, QPoint at) { hostRequest(static_cast<int>(request), at); });
    m_adaptor->setTitle(kDefaultTitle);
    m_adaptor->setMenu(QDBusObjectPath(kNoMenuPath));

    m_connection = QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName);
    if (!m_connection.isConnected()) {
        qCWarning(lcTray) << "no session bus for the StatusNotifierItem:" << m_connection.lastError().message();
        return;
    }
    m_menuExporter = std::make_unique<DBusMenuExporter>(m_connection, kMenuPath);
    if (!m_connection.registerObject(kItemPath, this, QDBusConnection::ExportAdaptors)
        || !m_connection.registerService(m_serviceName)) {
        qCWarning(lcTray) << "could not publish the StatusNotifierItem:" << m_connection.lastError().message();
        return;
    }
    m_published = true;

    m_watcherWatch
        = new QDBusServiceWatcher(kWatcherService, m_connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcherWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString&, const QString&, const QString& newOwner) { watcherOwnerChanged(newOwner); });
    m_watcherPresent = m_connection.interface()->isServiceRegistered(kWatcherService);
    if (m_watcherPresent) {
        // Registered once the composition root has set the icon, tooltip and menu: hosts read them right away,
        // and some read the menu's path only then.
        QTimer::singleShot(0, this, &StatusNotifierItem::registerWithWatcher);
    } else {
        qCInfo(lcTray) << "no StatusNotifierWatcher on the session bus yet; the item registers when one appears";
    }
}

StatusNotifierItem::~StatusNotifierItem()
{
    delete m_watcherWatch;
    m_menuExporter.reset();
    if (m_published) {
        m_connection.unregisterService(m_serviceName);
        m_connection.unregisterObject(kItemPath);
    }
    m_connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(m_connectionName);
}

bool StatusNotifierItem::hasButton() const
{
    return m_published && m_watcherPresent && !m_refused;
}

void StatusNotifierItem::setImage(const QIcon& icon, const QString& iconName)
{
    // A name the icon theme has goes alone: hosts draw the theme's icon, tinted to the panel, while KDE's draw
    // the pixmaps whenever there are any. A name the theme lacks goes with pixmaps, which such hosts draw instead.
    SniIconPixmapList pixmaps;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())
        && (iconName.isEmpty() || !QIcon::hasThemeIcon(iconName)))
        pixmaps = sniPixmaps(icon);
    m_adaptor->setIcon(iconName, pixmaps);
}

void StatusNotifierItem::setAccessibilityDescription(const QString& text)
{
    m_adaptor->setTitle(text.isEmpty() ? kDefaultTitle : text);
}

void StatusNotifierItem::setToolTip(const QString& text)
{
    m_adaptor->setToolTipTitle(text);
}

void StatusNotifierItem::popUpMenu(QMenu& menu, std::optional<QPoint> location)
{
    menu.exec(location.value_or(QCursor::pos()));
}

void StatusNotifierItem::setContextMenu(QMenu* menu)
{
    if (!m_menuExporter)
        return;
    m_menuExporter->setMenu(menu);
    m_adaptor->setMenu(QDBusObjectPath(menu ? kMenuPath : kNoMenuPath));
}

void StatusNotifierItem::hostRequest(int request, QPoint at)
{
    StatusItemEvent event;
    event.type
        = static_cast<StatusNotifierItemAdaptor::Request>(request) == StatusNotifierItemAdaptor::Request::activate
        ? StatusItemEvent::Type::leftMouseUp
        : StatusItemEvent::Type::rightMouseUp;
    event.modifierFlags = modifiersHeldNow();
    if (!at.isNull())
        event.location = at;
    if (event.type == StatusItemEvent::Type::leftMouseUp) {
        const qint64 now = m_clock.elapsed();
        const bool nearLast = m_lastActivate
            && (!m_lastActivate->second || !event.location
                || (*event.location - *m_lastActivate->second).manhattanLength() <= doubleClickDistance());
        if (nearLast && now - m_lastActivate->first <= doubleClickInterval()) {
            event.clickCount = 2;
            m_lastActivate.reset();
        } else {
            m_lastActivate = std::pair(now, event.location);
        }
    } else {
        m_lastActivate.reset();
    }
    // After the reply: the click may open a menu with its own event loop, which must not hold the host's call.
    QMetaObject::invokeMethod(
        this, [this, event] { emit clicked(event); }, Qt::QueuedConnection);
}

void StatusNotifierItem::registerWithWatcher()
{
    if (!m_published || !m_watcherPresent)
        return;
    const quint64 attempt = ++m_registrationAttempt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, kWatcherService, QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    auto* pending = new QDBusPendingCallWatcher(m_connection.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        if (attempt != m_registrationAttempt)
            return;
        const QDBusPendingReply<> reply = *finished;
        if (reply.isError()) {
            m_registered = false;
            m_refused = true;
            qCWarning(lcTray) << "the StatusNotifierWatcher did not take the item:" << reply.error().message();
            return;
        }
        m_refused = false;
        m_registered = true;
        qCInfo(lcTray) << "registered" << m_serviceName << "with the StatusNotifierWatcher";
    });
}

void StatusNotifierItem::watcherOwnerChanged(const QString& newOwner)
{
    m_registered = false;
    m_refused = false;
    m_watcherPresent = !newOwner.isEmpty();
    if (m_watcherPresent) {
        registerWithWatcher();
    } else {
        ++m_registrationAttempt;
        qCInfo(lcTray) << "the StatusNotifierWatcher left the bus; the item registers again when it returns";
    }
}

} // namespace sonaric
