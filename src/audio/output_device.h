#pragma once

#include "platform/audio/audio_hardware.h"

#include <QMetaType>
#include <QString>

namespace sonaric
{

/// An output device the user can choose.
struct OutputDevice {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id CONSTANT)
    Q_PROPERTY(quint32 objectID MEMBER objectID CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)
    Q_PROPERTY(QString symbol MEMBER symbol CONSTANT)

public:
    QString id; ///< the device UID; never empty
    AudioObjectID objectID = 0; ///< the HAL object at the time of listing
    QString name; ///< the device name, or its UID when it has none
    QString symbol; ///< the name of the symbol shown beside the device

    bool operator==(const OutputDevice&) const = default;

    /// The symbol for a device of this transport type and name.
    static QString symbolFor(std::uint32_t transport, const QString& name);
};

} // namespace sonaric
