#include "ui/connector_settings.h"

#include "model/mixer_model.h"
#include "native/native_volume_session.h"
#include "platform/workspace/workspace.h"

namespace sonaric
{

ConnectorSettings::ConnectorSettings(MixerModel& model, const Workspace& workspace, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_workspace(workspace)
{
    for (NativeVolumeSession* session : m_model.nativeSessions())
        connect(session, &NativeVolumeSession::connectionChanged, this, &ConnectorSettings::refresh);
    refresh();
}

QVariantList ConnectorSettings::sessionObjects() const
{
    QVariantList list;
    for (NativeVolumeSession* session : m_listed)
        list.append(QVariant::fromValue(static_cast<QObject*>(session)));
    return list;
}

void ConnectorSettings::refresh()
{
    QList<NativeVolumeSession*> listed;
    for (NativeVolumeSession* session : m_model.nativeSessions()) {
        if (session->isConnected() || !m_workspace.urlForApplication(session->bundleID()).isEmpty())
            listed.append(session);
    }
    if (listed == m_listed)
        return;
    m_listed = listed;
    emit sessionsChanged();
}

void ConnectorSettings::connectSession(NativeVolumeSession* session)
{
    if (session && m_listed.contains(session))
        session->connectToSource();
}

void ConnectorSettings::disconnectSession(NativeVolumeSession* session)
{
    if (session && m_listed.contains(session))
        session->disconnectFromSource();
}

} // namespace sonaric
