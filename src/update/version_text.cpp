#include "update/version_text.h"

namespace sonaric
{

QString versionText(const BundleInfo& bundle, const UpdateFeed& feed)
{
    const qint64 build = parseBuildNumber(bundle.string("CFBundleVersion")).value_or(0);
    const QString version
        = bundle.shortVersion().isEmpty() ? QStringLiteral("(unknown version)") : bundle.shortVersion();
    QString text = QStringLiteral("Sonaric %1 (build %2)").arg(version).arg(build);
    if (!feed.enabled())
        text += QStringLiteral("\nThis build has no update host, so it never checks for updates.");
    return text;
}

} // namespace sonaric
