#pragma once

#include "audio/audio_app.h"
#include "ui/keyed_list_model.h"

#include <QPointer>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

class MixerModel;
class NativeVolumeSession;

struct AppListRow {
    AudioApp app;
    float level = 1.0f;
    bool muted = false;
    QPointer<NativeVolumeSession> connector;
    QString key() const { return app.id; }
};

/// The mixer's application rows, keyed by application id: what `MixerModel::apps()` lists, each with its
/// level, mute and the connector that could take it over. A refresh inserts, removes and changes rows in place.
class AppListModel : public QAbstractListModel, private KeyedRows<AppListModel, AppListRow>
{
    Q_OBJECT
    Q_MOC_INCLUDE("model/mixer_model.h")
    QML_ELEMENT
    Q_PROPERTY(sonaric::MixerModel* mixer READ mixer WRITE setMixer NOTIFY mixerChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        AppIdRole = Qt::UserRole + 1,
        NameRole,
        PidRole,
        IconRole, ///< the image source of the application's icon, by pid
        LevelRole, ///< 1 = 100 %
        LevelTextRole,
        MutedRole,
        ConnectorRole, ///< the `NativeVolumeSession` that could take the application over, or null
    };
    Q_ENUM(Role)

    explicit AppListModel(QObject* parent = nullptr);

    MixerModel* mixer() const { return m_mixer; }
    void setMixer(MixerModel* mixer);
    int count() const { return rowCount(); }

    int rowCount(const QModelIndex& parent = {}) const override { return keyedRowCount(parent); }
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

signals:
    void mixerChanged();
    void countChanged();

private:
    friend class KeyedRows<AppListModel, AppListRow>;
    QList<int> changedRoles(const AppListRow& before, const AppListRow& after) const;
    void rowCountChanged() { emit countChanged(); }
    void sync();

    QPointer<MixerModel> m_mixer;
    QMetaObject::Connection m_appsConnection;
    QMetaObject::Connection m_changedConnection;
};

} // namespace sonaric
