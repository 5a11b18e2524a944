#include "model/mixer_settings.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace sonaric::MixerSettings
{

namespace
{
const QString kMaxVolume = QStringLiteral("maxVolume");
const QString kVolumes = QStringLiteral("volumes");
const QString kMuted = QStringLiteral("muted");
const QString kRoutes = QStringLiteral("routes");
} // namespace

std::unique_ptr<QSettings> openStandard()
{
    // On Linux the native format is the INI file with the ".conf" suffix.
    return std::make_unique<QSettings>(QStringLiteral("Sonaric"), QStringLiteral("Sonaric"));
}

Restored restore(const QSettings& settings, const std::vector<float>& maxVolumeOptions)
{
    Restored restored;

    const float maxVolume = settings.value(kMaxVolume).toFloat();
    if (std::find(maxVolumeOptions.begin(), maxVolumeOptions.end(), maxVolume) != maxVolumeOptions.end())
        restored.maxVolume = maxVolume;

    // All or nothing: one level that is not a number restores none. A NaN or an infinity counts as not a
    // number: as a gain it would turn the application into noise (no slider can set one, so the file is damaged).
    const QVariant volumes = settings.value(kVolumes);
    if (volumes.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = volumes.toMap();
        QHash<QString, float> levels;
        bool readable = true;
        for (auto it = map.begin(); readable && it != map.end(); ++it) {
            bool ok = false;
            const float level = it.value().toFloat(&ok);
            readable = ok && std::isfinite(level) && it.value().typeId() != QMetaType::QString;
            levels.insert(it.key(), std::min(level, restored.maxVolume));
        }
        if (readable)
            restored.volumes = std::move(levels);
    }

    // A list of one string reads back from the file as a plain string.
    const QVariant muted = settings.value(kMuted);
    if (muted.typeId() == QMetaType::QStringList || muted.typeId() == QMetaType::QString) {
        const QStringList ids = muted.toStringList();
        restored.muted = QSet<QString>(ids.begin(), ids.end());
    } else if (muted.typeId() == QMetaType::QVariantList) {
        const QVariantList list = muted.toList();
        if (std::all_of(list.begin(), list.end(), [](const QVariant& v) { return v.typeId() == QMetaType::QString; }))
            for (const QVariant& v : list)
                restored.muted.insert(v.toString());
    }

    const QVariant routes = settings.value(kRoutes);
    if (routes.typeId() == QMetaType::QByteArray) {
        if (auto decoded = decodeRoutes(routes.toByteArray()))
            restored.routes = std::move(*decoded);
    }
    return restored;
}

void persist(QSettings& settings, const QHash<QString, float>& volumes, const QSet<QString>& muted,
    const QHash<QString, OutputRoute>& routes)
{
    QVariantMap levels;
    for (auto it = volumes.begin(); it != volumes.end(); ++it)
        levels.insert(it.key(), it.value());
    settings.setValue(kVolumes, levels);
    settings.setValue(kMuted, QStringList(muted.begin(), muted.end()));
    settings.setValue(kRoutes, encodeRoutes(routes));
}

void writeMaxVolume(QSettings& settings, float maxVolume)
{
    settings.setValue(kMaxVolume, maxVolume);
}

QByteArray encodeRoutes(const QHash<QString, OutputRoute>& routes)
{
    QJsonObject object;
    for (auto it = routes.begin(); it != routes.end(); ++it)
        object.insert(
            it.key(), QJsonObject { { QStringLiteral("uid"), it->uid }, { QStringLiteral("name"), it->name } });
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<QHash<QString, OutputRoute>> decodeRoutes(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    QHash<QString, OutputRoute> routes;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonObject route = it.value().toObject();
        const QJsonValue uid = route.value(QStringLiteral("uid"));
        const QJsonValue name = route.value(QStringLiteral("name"));
        if (!it.value().isObject() || !uid.isString() || !name.isString())
            return std::nullopt;
        routes.insert(it.key(), { uid.toString(), name.toString() });
    }
    return routes;
}

} // namespace sonaric::MixerSettings
