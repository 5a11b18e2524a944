#pragma once

#include <QColor>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

/// The symbols the views show, by the names the mixer's design gives them ("speaker.wave.2.fill", and the
/// device symbols `OutputDevice::symbolFor` chooses), and the freedesktop icon names that draw them: the one
/// table that maps the first to the second.
class SystemSymbols : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    /// The icon names for a symbol, best first (a monochrome "-symbolic" icon, then a coloured one); empty for
    /// a symbol the table does not know.
    static QStringList iconNames(const QString& symbol);
    /// Every symbol of the table.
    static QStringList symbols();

    /// The image source that draws `symbol` in `color`: "image://symbol/<symbol>/<AARRGGBB>".
    Q_INVOKABLE QUrl source(const QString& symbol, const QColor& color) const;
};

} // namespace sonaric
