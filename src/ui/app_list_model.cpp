#include "ui/app_list_model.h"

#include "model/mixer_model.h"
#include "ui/app_icon_provider.h"
#include "ui/mixer_texts.h"

namespace sonaric
{

AppListModel::AppListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void AppListModel::setMixer(MixerModel* mixer)
{
    if (m_mixer == mixer)
        return;
    disconnect(m_appsConnection);
    disconnect(m_changedConnection);
    m_mixer = mixer;
    if (mixer) {
        m_appsConnection = connect(mixer, &MixerModel::appsChanged, this, &AppListModel::sync);
        m_changedConnection = connect(mixer, &MixerModel::changed, this, &AppListModel::sync);
    }
    sync();
    emit mixerChanged();
}

void AppListModel::sync()
{
    std::vector<AppListRow> rows;
    if (m_mixer) {
        for (const AudioApp& app : m_mixer->apps())
            rows.push_back({ app, m_mixer->level(app.id), m_mixer->isMuted(app.id), m_mixer->connector(app) });
    }
    replaceRows(std::move(rows));
}

QVariant AppListModel::data(const QModelIndex& index, int role) const
{
    const AppListRow* row = rowAt(index);
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case NameRole:
        return row->app.name;
    case AppIdRole:
        return row->app.id;
    case PidRole:
        return row->app.pid;
    case IconRole:
        return AppIconProvider::sourceForProcess(row->app.pid);
    case LevelRole:
        return row->level;
    case LevelTextRole:
        return MixerTexts::percent(row->level);
    case MutedRole:
        return row->muted;
    case ConnectorRole:
        return QVariant::fromValue(static_cast<QObject*>(row->connector.data()));
    default:
        return {};
    }
}

QHash<int, QByteArray> AppListModel::roleNames() const
{
    return {
        { AppIdRole, "appId" },
        { NameRole, "name" },
        { PidRole, "pid" },
        { IconRole, "icon" },
        { LevelRole, "level" },
        { LevelTextRole, "levelText" },
        { MutedRole, "muted" },
        { ConnectorRole, "connector" },
    };
}

QList<int> AppListModel::changedRoles(const AppListRow& before, const AppListRow& after) const
{
    QList<int> roles;
    if (before.app.name != after.app.name)
        roles << NameRole << Qt::DisplayRole;
    if (before.app.pid != after.app.pid)
        roles << PidRole << IconRole;
    if (before.level != after.level)
        roles << LevelRole << LevelTextRole;
    if (before.muted != after.muted)
        roles << MutedRole;
    if (before.connector != after.connector)
        roles << ConnectorRole;
    return roles;
}

} // namespace sonaric
