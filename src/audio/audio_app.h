#pragma once

#include "platform/audio/audio_hardware.h"

#include <QMetaType>
#include <QString>

#include <vector>

namespace sonaric
{

/// One application as the mixer shows it: a group of audio processes under one key.
struct AudioApp {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(int pid MEMBER pid CONSTANT)
    Q_PROPERTY(bool isPlaying MEMBER isPlaying CONSTANT)

public:
    /// The grouping key, and the key of every per-application setting and tap: the owning application's
    /// bundle identifier, else the process's own, else "pid:" and the responsible pid.
    QString id;
    QString name;
    int pid = 0; ///< the owning application's pid, else the first process's
    std::vector<AudioObjectID> processObjects; ///< in discovery order
    bool isPlaying = false; ///< any process of the group runs output

    bool operator==(const AudioApp&) const = default;
};

} // namespace sonaric
