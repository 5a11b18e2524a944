#pragma once

#include <QString>

#include <optional>

namespace sonaric
{

/// What one volume script of the app connector asks, read back from its text. The connector sends exactly one
/// shape of script (the application by bundle identifier, a 10-second timeout, optional "set «property pVol»"
/// and "set «property pMut»" lines, then a query of the volume, or of the volume and the mute); any other text
/// gives nothing, so the Linux service never guesses at what a script might mean.
struct AppVolumeRequest {
    QString bundleID;
    std::optional<int> volume; ///< percent 0 … 100 to set
    std::optional<bool> muted; ///< mute to set
    bool queriesMute = false; ///< the reply is "volume,mute" rather than the volume alone

    static std::optional<AppVolumeRequest> read(const QString& script);
    bool operator==(const AppVolumeRequest&) const = default;
};

} // namespace sonaric
