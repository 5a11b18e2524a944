#pragma once

#include "platform/tray/linux/status_notifier_types.h"

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QPoint>

#include <functional>

namespace sonaric
{

/// The org.kde.StatusNotifierItem interface of our item: it holds what the host reads, announces each change with
/// the interface's New* signal, and hands the host's requests to its owner.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(sonaric::SniIconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyName)
    Q_PROPERTY(sonaric::SniIconPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyName)
    Q_PROPERTY(sonaric::SniIconPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyName)
    Q_PROPERTY(sonaric::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    enum class Request { activate, secondaryActivate, contextMenu };
    using RequestHandler = std::function<void(Request, QPoint)>;

    StatusNotifierItemAdaptor(QObject* parent, RequestHandler handler);

    QString category() const { return QStringLiteral("Hardware"); }
    QString id() const { return QStringLiteral("sonaric"); }
    QString title() const { return m_title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconThemePath() const { return {}; }
    QString iconName() const { return m_iconName; }
    SniIconPixmapList iconPixmap() const { return m_iconPixmap; }
    QString emptyName() const { return {}; }
    SniIconPixmapList noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return m_toolTip; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return m_menu; }

    void setTitle(const QString& title);
    void setIcon(const QString& name, const SniIconPixmapList& pixmaps);
    void setToolTipTitle(const QString& title);
    void setMenu(const QDBusObjectPath& path) { m_menu = path; }

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    /// Scrolling over the icon does nothing here; accepted so that hosts see no error.
    void Scroll(int delta, const QString& orientation);
    /// KDE's hosts pass a Wayland activation token before Activate; we open no window that needs it yet.
    void ProvideXdgActivationToken(const QString& token);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    RequestHandler m_handler;
    QString m_title;
    QString m_iconName;
    SniIconPixmapList m_iconPixmap;
    SniToolTip m_toolTip;
    QDBusObjectPath m_menu;
};

} // namespace sonaric
