#pragma once

#include "platform/tray/status_item.h"

#include <QSystemTrayIcon>

namespace sonaric
{

/// The status item as a classic XEmbed tray icon through QSystemTrayIcon, for X11 trays without a
/// StatusNotifierWatcher (trayer, stalonetray-like docks, older panels). Needs a QApplication. Qt reports the
/// button press, which is sent as the click: Trigger is a left click, DoubleClick the second one (clickCount 2),
/// Context and a middle click a right click; the location is the pointer's and the modifiers those of the press. The
/// tray embeds the icon, so its geometry is known.
class XEmbedStatusItem : public StatusItem
{
    Q_OBJECT

public:
    explicit XEmbedStatusItem(QObject* parent = nullptr);

    QString protocolName() const override { return QStringLiteral("XEmbed"); }
    bool hasButton() const override;
    /// Shows the icon the first time one is given (an empty QSystemTrayIcon cannot be shown).
    void setImage(const QIcon& icon, const QString& iconName) override;
    /// XEmbed carries no accessible name: the text becomes the tooltip until one is set.
    void setAccessibilityDescription(const QString& text) override;
    void setToolTip(const QString& text) override;
    std::optional<QRect> buttonBounds() const override;
    /// QMenu::exec at `location`, else just below the icon, else at the pointer.
    void popUpMenu(QMenu& menu, std::optional<QPoint> location) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon m_icon;
    QString m_accessibilityDescription;
    QString m_toolTip;
};

} // namespace sonaric
