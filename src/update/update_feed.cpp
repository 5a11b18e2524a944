#include "update/update_feed.h"

namespace sonaric
{

UpdateFeed UpdateFeed::forHost(const QString& host, const QString& publisherKey)
{
    if (host.isEmpty())
        return { {}, publisherKey };
    return { QUrl(QStringLiteral("https://%1/downloads/latest.json").arg(host), QUrl::StrictMode), publisherKey };
}

UpdateFeed UpdateFeed::fromBuild()
{
    return forHost(QStringLiteral(SONARIC_UPDATE_HOST), QStringLiteral(SONARIC_UPDATE_PUBLIC_KEY));
}

} // namespace sonaric
