#include "platform/bundle/bundle_info.h"

#include "platform/app_identity.h"
#include "platform/bundle/build_info.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace sonaric
{

QString BundleInfo::string(const char* key) const
{
    const QJsonValue value = info.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString();
}

std::optional<BundleInfo> BundleInfo::read(const QString& path)
{
    QFile file(QDir(path).filePath(QLatin1String(infoFileName)));
    // The info file is a few hundred bytes; anything far larger is not ours.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 1 << 20)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return std::nullopt;
    return BundleInfo { QDir(path).absolutePath(), document.object() };
}

BundleInfo BundleInfo::builtIn(const QString& path)
{
    QJsonObject info {
        { "CFBundleIdentifier", QLatin1String(kSonaricBundleIdentifier) },
        { "CFBundleShortVersionString", QStringLiteral(SONARIC_VERSION) },
        { "CFBundleExecutable", QStringLiteral("sonaric") },
    };
    if (SONARIC_BUILD_NUMBER[0] != '\0')
        info.insert("CFBundleVersion", QStringLiteral(SONARIC_BUILD_NUMBER));
    return BundleInfo { QDir(path).absolutePath(), info };
}

std::optional<qint64> parseBuildNumber(const QString& text)
{
    qsizetype digits = text.startsWith(u'+') || text.startsWith(u'-') ? 1 : 0;
    if (digits == text.size())
        return std::nullopt;
    for (qsizetype i = digits; i < text.size(); ++i)
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
    bool ok = false;
    // toLongLong does not take a leading "+"; the sign is handled here.
    const qint64 value = QStringView(text).mid(digits).toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return text.startsWith(u'-') ? -value : value;
}

} // namespace sonaric
