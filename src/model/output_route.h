#pragma once

#include <QMetaType>
#include <QString>

namespace sonaric
{

/// The output device an application was sent to: its UID, and its name when it was chosen (shown while the
/// device is not listed).
struct OutputRoute {
    Q_GADGET
    Q_PROPERTY(QString uid MEMBER uid CONSTANT)
    Q_PROPERTY(QString name MEMBER name CONSTANT)

public:
    QString uid;
    QString name;
    bool operator==(const OutputRoute&) const = default;
};

} // namespace sonaric
