#pragma once

#include "ui/app_icons.h"

#include <QQuickImageProvider>
#include <QUrl>

namespace sonaric
{

class Workspace;

/// Application icons for QML: "image://appicon/<bundle identifier>" and "image://appicon/pid/<pid>" (the
/// running application with that pid). Always answers, with the generic icon when there is nothing better.
/// Pixmap providers are asked on the main thread, where `AppIcons` and the workspace are used.
class AppIconProvider : public QQuickImageProvider
{
public:
    explicit AppIconProvider(const Workspace& workspace);

    static QString providerId() { return QStringLiteral("appicon"); }
    static QUrl sourceForBundle(const QString& bundleID);
    static QUrl sourceForProcess(int pid);

    QPixmap requestPixmap(const QString& id, QSize* size, const QSize& requestedSize) override;
    AppIcons& icons() { return m_icons; }

private:
    AppIcons m_icons;
};

} // namespace sonaric
