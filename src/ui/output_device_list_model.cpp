#include "ui/output_device_list_model.h"

#include "model/mixer_model.h"

namespace sonaric
{

QString OutputChoiceRow::key() const
{
    switch (kind) {
    case Kind::systemDefault:
        return QStringLiteral("default");
    case Kind::device:
        return QStringLiteral("device:") + deviceUID;
    case Kind::missing:
        return QStringLiteral("missing:") + deviceUID;
    }
    return {};
}

OutputDeviceListModel::OutputDeviceListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void OutputDeviceListModel::setMixer(MixerModel* mixer)
{
    if (m_mixer == mixer)
        return;
    for (const auto& connection : std::as_const(m_connections))
        disconnect(connection);
    m_connections.clear();
    m_mixer = mixer;
    if (mixer) {
        m_connections << connect(mixer, &MixerModel::outputDevicesChanged, this, &OutputDeviceListModel::sync)
                      << connect(mixer, &MixerModel::defaultOutputNameChanged, this, &OutputDeviceListModel::sync)
                      << connect(mixer, &MixerModel::changed, this, &OutputDeviceListModel::sync);
    }
    sync();
    emit mixerChanged();
}

void OutputDeviceListModel::setAppID(const QString& appID)
{
    if (m_appID == appID)
        return;
    m_appID = appID;
    sync();
    emit appIDChanged();
}

void OutputDeviceListModel::sync()
{
    std::vector<OutputChoiceRow> rows;
    std::optional<OutputRoute> route;
    if (m_mixer) {
        if (const auto it = m_mixer->routes().constFind(m_appID); it != m_mixer->routes().constEnd())
            route = *it;
        rows.push_back({ OutputChoiceRow::Kind::systemDefault, QString(), QStringLiteral("speaker.wave.2"),
            tr("System default"), m_mixer->defaultOutputName(), !route, true });
        bool routeListed = false;
        for (const OutputDevice& device : m_mixer->outputDevices()) {
            const bool selected = route && route->uid == device.id;
            routeListed = routeListed || selected;
            rows.push_back(
                { OutputChoiceRow::Kind::device, device.id, device.symbol, device.name, QString(), selected, true });
        }
        if (route && !routeListed)
            rows.push_back({ OutputChoiceRow::Kind::missing, route->uid, QStringLiteral("speaker.slash"), route->name,
                tr("Not connected. Playing on the system default for now."), true, false });
    }
    replaceRows(std::move(rows));

    const bool routed = route.has_value();
    const QString routeName = route ? route->name : QString();
    if (routed != m_routed || routeName != m_routeName) {
        m_routed = routed;
        m_routeName = routeName;
        emit routeChanged();
    }
}

bool OutputDeviceListModel::choose(int row)
{
    if (!m_mixer || row < 0 || row >= int(m_rows.size()) || !m_rows[size_t(row)].selectable)
        return false;
    // Copies: setRoute notifies, and the notification rebuilds the rows.
    const QString uid = m_rows[size_t(row)].deviceUID;
    const QString appID = m_appID;
    return m_mixer->setRoute(uid, appID);
}

QVariant OutputDeviceListModel::data(const QModelIndex& index, int role) const
{
    const OutputChoiceRow* row = rowAt(index);
    if (!row)
        return {};
    switch (role) {
    case KindRole:
        switch (row->kind) {
        case OutputChoiceRow::Kind::systemDefault:
            return QStringLiteral("default");
        case OutputChoiceRow::Kind::device:
            return QStringLiteral("device");
        case OutputChoiceRow::Kind::missing:
            return QStringLiteral("missing");
        }
        return {};
    case DeviceUIDRole:
        return row->deviceUID;
    case SymbolRole:
        return row->symbol;
    case Qt::DisplayRole:
    case TitleRole:
        return row->title;
    case SubtitleRole:
        return row->subtitle;
    case SelectedRole:
        return row->selected;
    case SelectableRole:
        return row->selectable;
    default:
        return {};
    }
}

QHash<int, QByteArray> OutputDeviceListModel::roleNames() const
{
    return {
        { KindRole, "kind" },
        { DeviceUIDRole, "deviceUID" },
        { SymbolRole, "symbol" },
        { TitleRole, "title" },
        { SubtitleRole, "subtitle" },
        { SelectedRole, "selected" },
        { SelectableRole, "selectable" },
    };
}

QList<int> OutputDeviceListModel::changedRoles(const OutputChoiceRow& before, const OutputChoiceRow& after) const
{
    QList<int> roles;
    if (before.symbol != after.symbol)
        roles << SymbolRole;
    if (before.title != after.title)
        roles << TitleRole << Qt::DisplayRole;
    if (before.subtitle != after.subtitle)
        roles << SubtitleRole;
    if (before.selected != after.selected)
        roles << SelectedRole;
    if (before.selectable != after.selectable)
        roles << SelectableRole;
    return roles;
}

} // namespace sonaric
