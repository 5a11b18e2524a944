#include "ui/app_icon_provider.h"

namespace sonaric
{

namespace
{
constexpr int defaultSize = 32;
} // namespace

AppIconProvider::AppIconProvider(const Workspace& workspace)
    : QQuickImageProvider(QQuickImageProvider::Pixmap)
    , m_icons(workspace)
{
}

QUrl AppIconProvider::sourceForBundle(const QString& bundleID)
{
    return QUrl(
        QStringLiteral("image://%1/%2").arg(providerId(), QString::fromLatin1(QUrl::toPercentEncoding(bundleID))));
}

QUrl AppIconProvider::sourceForProcess(int pid)
{
    return QUrl(QStringLiteral("image://%1/pid/%2").arg(providerId()).arg(pid));
}

QPixmap AppIconProvider::requestPixmap(const QString& id, QSize* size, const QSize& requestedSize)
{
    QIcon icon;
    if (id.startsWith(QLatin1String("pid/"))) {
        bool ok = false;
        const int pid = id.mid(4).toInt(&ok);
        icon = ok && pid > 0 ? m_icons.iconForProcess(pid_t(pid)) : m_icons.icon(QString());
    } else {
        icon = m_icons.icon(QUrl::fromPercentEncoding(id.toUtf8()));
    }
    const QSize want(requestedSize.width() > 0 ? requestedSize.width() : defaultSize,
        requestedSize.height() > 0 ? requestedSize.height() : defaultSize);
    QPixmap pixmap = icon.pixmap(want);
    if (pixmap.isNull()) {
        pixmap = QPixmap(want);
        pixmap.fill(Qt::transparent);
    } else if (pixmap.size() != want) {
        // A theme with only a larger or smaller size: the view frames the icon at exactly this size.
        pixmap = pixmap.scaled(want, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (size)
        *size = pixmap.size();
    return pixmap;
}

} // namespace sonaric
