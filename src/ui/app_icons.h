#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

#include <sys/types.h>

namespace sonaric
{

class Workspace;

/// Application icons by bundle identifier, from what the workspace says of each application (an icon theme
/// name or an image file). Every answer is kept and never evicted, the generic icon of an application that has
/// none too: an application installed later keeps the generic icon until the program restarts. Main thread.
class AppIcons
{
public:
    explicit AppIcons(const Workspace& workspace);

    /// Never null: the application's icon, else the generic application icon.
    QIcon icon(const QString& bundleID);
    /// The icon of the running application with this pid (asked each time: a pid can be reused); the generic
    /// icon when no application has it or it has no bundle identifier.
    QIcon iconForProcess(pid_t pid);
    /// The freedesktop "application-x-executable" icon.
    static QIcon genericIcon();
    /// The icon an `Icon=` value names: an absolute path to an image file, else an icon theme name (a file
    /// extension some entries add is ignored); null when there is none.
    static QIcon resolve(const QString& icon);

private:
    const Workspace& m_workspace;
    QHash<QString, QIcon> m_cache;
};

} // namespace sonaric
