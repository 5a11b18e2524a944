#include "update/update_info.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

namespace sonaric
{

namespace
{

std::optional<qint64> wholeNumber(const QJsonValue& value)
{
    // A number with a fraction, or one that does not fit, is not a whole number; the sentinel itself is
    // far outside any build number or size.
    constexpr qint64 none = std::numeric_limits<qint64>::min();
    const qint64 integer = value.isDouble() ? value.toInteger(none) : none;
    return integer == none ? std::nullopt : std::optional(integer);
}

} // namespace

std::optional<UpdateInfo> UpdateInfo::decode(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue version = object.value("version");
    const QJsonValue url = object.value("url");
    const QJsonValue sha256 = object.value("sha256");
    const std::optional<qint64> build = wholeNumber(object.value("build"));
    const std::optional<qint64> size = wholeNumber(object.value("size"));
    if (!version.isString() || !url.isString() || !sha256.isString() || !build || !size)
        return std::nullopt;
    const QUrl parsed(url.toString(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.isEmpty())
        return std::nullopt;
    return UpdateInfo { version.toString(), *build, parsed, sha256.toString(), *size };
}

} // namespace sonaric
