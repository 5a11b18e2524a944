#pragma once

#include <QObject>
#include <QString>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

/// The texts the views build from values: levels in percent, tooltips that name an application or a device,
/// the symbol a mute state shows. Kept here so that tests reach them and QML only places them.
class MixerTexts : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    /// A level (1 = 100 %) in whole percent, rounded half away from zero: 0.006 gives "1%".
    Q_INVOKABLE static QString percent(double level);
    Q_INVOKABLE static QString muteToolTip(bool muted);
    Q_INVOKABLE static QString speakerSymbol(bool muted);
    /// The output button's tooltip: where the application plays when it has a route of its own.
    Q_INVOKABLE static QString pickerToolTip(const QString& appName, bool routed, const QString& routeName);
    Q_INVOKABLE static QString pickerHeading(const QString& appName);
    Q_INVOKABLE static QString noTabsText(const QString& menuName);
    Q_INVOKABLE static QString tabTitle(const QString& title);
    Q_INVOKABLE static QString tabToolTip(bool playing, const QString& title);
    Q_INVOKABLE static QString switchText(bool isBrowser, bool busy);
    /// "1.", "2.", …: the number before a fix-it step.
    Q_INVOKABLE static QString stepNumber(int index);
};

} // namespace sonaric
