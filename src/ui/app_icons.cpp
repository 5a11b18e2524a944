#include "ui/app_icons.h"

#include "platform/workspace/workspace.h"

#include <QDir>
#include <QFileInfo>

namespace sonaric
{

AppIcons::AppIcons(const Workspace& workspace)
    : m_workspace(workspace)
{
}

QIcon AppIcons::icon(const QString& bundleID)
{
    if (const auto cached = m_cache.constFind(bundleID); cached != m_cache.constEnd())
        return *cached;
    QIcon found = bundleID.isEmpty() ? QIcon() : resolve(m_workspace.iconForApplication(bundleID));
    if (found.isNull())
        found = genericIcon();
    m_cache.insert(bundleID, found);
    return found;
}

QIcon AppIcons::iconForProcess(pid_t pid)
{
    const auto app = m_workspace.runningApplication(pid);
    if (!app || app->bundleIdentifier.isEmpty())
        return icon(QString());
    return icon(app->bundleIdentifier);
}

QIcon AppIcons::genericIcon()
{
    return QIcon::fromTheme(QStringLiteral("application-x-executable"));
}

QIcon AppIcons::resolve(const QString& icon)
{
    if (icon.isEmpty())
        return {};
    if (QDir::isAbsolutePath(icon)) {
        // Only a regular file: an entry naming a device or a directory must not hang or break the view.
        if (!QFileInfo(icon).isFile())
            return {};
        QIcon fromFile(icon);
        return fromFile.availableSizes().isEmpty() && fromFile.pixmap(16).isNull() ? QIcon() : fromFile;
    }
    QString name = icon;
    for (const char* extension : { ".png", ".svg", ".xpm" })
        if (name.endsWith(QLatin1String(extension), Qt::CaseInsensitive))
            name.chop(4);
    if (name.contains(QLatin1Char('/')))
        return {};
    return QIcon::fromTheme(name);
}

} // namespace sonaric
