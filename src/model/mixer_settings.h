#pragma once

// The mixer's saved settings: the boost limit, the levels, the muted applications and the routes, under four
// keys of the application's own settings. Each key falls back to its default on its own when it is absent or
// malformed; nothing read is ever written back by reading.

#include "model/output_route.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>

class QSettings;

namespace sonaric::MixerSettings
{

inline constexpr float defaultMaxVolume = 2.5f;

struct Restored {
    float maxVolume = defaultMaxVolume;
    QHash<QString, float> volumes;
    QSet<QString> muted;
    QHash<QString, OutputRoute> routes;
};

/// The application's own settings: $XDG_CONFIG_HOME/Sonaric/Sonaric.conf (~/.config/Sonaric/Sonaric.conf).
std::unique_ptr<QSettings> openStandard();

/// Reads every key; `maxVolumeOptions` are the boost limits a stored "maxVolume" may take.
Restored restore(const QSettings& settings, const std::vector<float>& maxVolumeOptions);
/// Writes "volumes", "muted" and "routes".
void persist(QSettings& settings, const QHash<QString, float>& volumes, const QSet<QString>& muted,
    const QHash<QString, OutputRoute>& routes);
void writeMaxVolume(QSettings& settings, float maxVolume);

/// The "routes" encoding: a JSON object from application identifier to {"uid", "name"}.
QByteArray encodeRoutes(const QHash<QString, OutputRoute>& routes);
/// Absent when the data is not such an object, or any route lacks a string "uid" or "name".
std::optional<QHash<QString, OutputRoute>> decodeRoutes(const QByteArray& data);

} // namespace sonaric::MixerSettings
