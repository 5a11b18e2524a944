#pragma once

#include "platform/tray/status_item.h"

namespace sonaric
{

/// The status item when no tray can take one: it has no button and sends no clicks; what the program sets is kept
/// and dropped. A menu asked for still opens at the given point or the pointer, so a caller that shows one in
/// another way (a second start of the program) gets it.
class NoTrayStatusItem : public StatusItem
{
    Q_OBJECT

public:
    /// `reason` says why there is no tray, for the log and the program's notice.
    explicit NoTrayStatusItem(QString reason, QObject* parent = nullptr);

    QString protocolName() const override { return QStringLiteral("none"); }
    bool hasButton() const override { return false; }
    void setImage(const QIcon&, const QString&) override { }
    void setAccessibilityDescription(const QString&) override { }
    void setToolTip(const QString&) override { }
    std::optional<QRect> buttonBounds() const override { return std::nullopt; }
    void popUpMenu(QMenu& menu, std::optional<QPoint> location) override;

    QString reason() const { return m_reason; }

private:
    QString m_reason;
};

} // namespace sonaric
