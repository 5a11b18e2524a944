#pragma once

#include <QObject>
#include <QVariantList>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

class MixerModel;
class NativeVolumeSession;
class Workspace;

/// What the Connectors pane lists and does: the model's sessions, in order, whose application is installed or
/// which are connected (a connector whose application was removed while connected stays until it
/// disconnects), and connecting or disconnecting one on the user's behalf.
class ConnectorSettings : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The settings window creates it.")
    /// The listed sessions (`NativeVolumeSession` objects).
    Q_PROPERTY(QVariantList sessions READ sessionObjects NOTIFY sessionsChanged)

public:
    /// `model` and `workspace` must outlive it.
    ConnectorSettings(MixerModel& model, const Workspace& workspace, QObject* parent = nullptr);

    QVariantList sessionObjects() const;
    const QList<NativeVolumeSession*>& sessions() const { return m_listed; }

    /// Looks again at which applications are installed (the window calls it when it opens).
    Q_INVOKABLE void refresh();
    /// Connects with no failure action of its own: the row shows the error and its steps.
    Q_INVOKABLE void connectSession(sonaric::NativeVolumeSession* session);
    Q_INVOKABLE void disconnectSession(sonaric::NativeVolumeSession* session);

signals:
    void sessionsChanged();

private:
    MixerModel& m_model;
    const Workspace& m_workspace;
    QList<NativeVolumeSession*> m_listed;
};

} // namespace sonaric
