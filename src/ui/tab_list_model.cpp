#include "ui/tab_list_model.h"

#include "native/native_volume_session.h"
#include "ui/mixer_texts.h"

namespace sonaric
{

TabListModel::TabListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void TabListModel::setSession(NativeVolumeSession* session)
{
    if (m_session == session)
        return;
    for (const auto& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_session = session;
    if (session) {
        m_connections << connect(session, &NativeVolumeSession::connectionChanged, this, &TabListModel::sync)
                      << connect(session, &NativeVolumeSession::desiredChanged, this, &TabListModel::sync);
    }
    sync();
    emit sessionChanged();
}

void TabListModel::sync()
{
    std::vector<TabListRow> rows;
    if (m_session && m_session->connection()) {
        const NativeVolumeChanges& desired = m_session->desired();
        for (const NativeVolumeTab& tab : m_session->connection()->tabs)
            rows.push_back({ tab, desired.value(tab.id, tab.state) });
    }
    replaceRows(std::move(rows));
}

QVariant TabListModel::data(const QModelIndex& index, int role) const
{
    const TabListRow* row = rowAt(index);
    if (!row)
        return {};
    switch (role) {
    case TabIdRole:
        return row->tab.id;
    case Qt::DisplayRole:
    case TitleRole:
        return MixerTexts::tabTitle(row->tab.title);
    case PlayingRole:
        return row->tab.playing;
    case VolumeRole:
        return row->shown.volume;
    case MutedRole:
        return row->shown.muted;
    case LevelTextRole:
        return MixerTexts::percent(row->shown.volume);
    case ToolTipRole:
        return MixerTexts::tabToolTip(row->tab.playing, row->tab.title);
    default:
        return {};
    }
}

QHash<int, QByteArray> TabListModel::roleNames() const
{
    return {
        { TabIdRole, "tabId" },
        { TitleRole, "title" },
        { PlayingRole, "playing" },
        { VolumeRole, "volume" },
        { MutedRole, "muted" },
        { LevelTextRole, "levelText" },
        { ToolTipRole, "toolTip" },
    };
}

QList<int> TabListModel::changedRoles(const TabListRow& before, const TabListRow& after) const
{
    QList<int> roles;
    if (before.tab.title != after.tab.title)
        roles << TitleRole << Qt::DisplayRole << ToolTipRole;
    if (before.tab.playing != after.tab.playing)
        roles << PlayingRole << ToolTipRole;
    if (before.shown.volume != after.shown.volume)
        roles << VolumeRole << LevelTextRole;
    if (before.shown.muted != after.shown.muted)
        roles << MutedRole;
    return roles;
}

} // namespace sonaric
