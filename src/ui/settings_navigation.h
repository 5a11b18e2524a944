#pragma once

#include <QObject>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

/// Where the settings window is: the selected pane and the connector the Connectors pane marks. One for the
/// program, owned by the application shell; it outlives the window, so a window opened again shows the pane
/// last selected.
class SettingsNavigation : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application shell creates the one navigation.")
    /// A `SettingsPane`: 0 General, 1 Connectors.
    Q_PROPERTY(int pane READ pane WRITE setPane NOTIFY paneChanged)
    /// A `NativeVolumeSource` case; -1 for none.
    Q_PROPERTY(int highlighted READ highlighted WRITE setHighlighted NOTIFY highlightedChanged)

public:
    static constexpr int paneCount = 2;

    using QObject::QObject;

    int pane() const { return m_pane; }
    /// Ignores a value that is no pane.
    void setPane(int pane);
    int highlighted() const { return m_highlighted; }
    /// Anything below 0 clears it.
    void setHighlighted(int source);

signals:
    void paneChanged();
    void highlightedChanged();

private:
    int m_pane = 0;
    int m_highlighted = -1;
};

} // namespace sonaric
