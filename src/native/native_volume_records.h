#pragma once

// The plain records that carry volumes between a native controller and its session.

#include <QMap>
#include <QString>

#include <optional>
#include <vector>

namespace sonaric
{

/// A native volume: a fraction 0 … 1 where 1 is the application's or page's 100 %, and a mute.
struct NativeVolumeState {
    float volume = 0;
    bool muted = false;
    bool operator==(const NativeVolumeState&) const = default;
};

/// One browser tab with its own volume.
struct NativeVolumeTab {
    QString id; ///< the tab key the page script assigns: 4 to 40 of a–z and 0–9, stable while the page lives
    QString title; ///< the page title as the page script cleans it
    bool playing = false;
    NativeVolumeState state;
    bool operator==(const NativeVolumeTab&) const = default;
};

/// What a controller reports after connect, read or set.
struct NativeVolumeConnection {
    std::optional<NativeVolumeState> state; ///< present for app sources, absent for browser sources
    std::vector<NativeVolumeTab> tabs; ///< the playing tabs of a browser source; empty for app sources
    bool operator==(const NativeVolumeConnection&) const = default;
};

/// Desired states by key: "" is the application's own volume, any other key a browser tab key.
using NativeVolumeChanges = QMap<QString, NativeVolumeState>;

} // namespace sonaric
