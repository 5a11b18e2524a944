#pragma once

#include <QObject>
#include <QUrl>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

/// What a connector's icon shows, by connector (a `NativeVolumeSource::Case`): the image source of its
/// application's icon and the connector's name as the icon's accessible label.
class ConnectorIcons : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    /// Empty for a value that is no connector.
    Q_INVOKABLE QUrl source(int connector) const;
    Q_INVOKABLE QString title(int connector) const;
};

} // namespace sonaric
