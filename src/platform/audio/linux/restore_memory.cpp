#include "platform/audio/linux/restore_memory.h"

#include "platform/audio/linux/pulse_connection.h"

#include <QJsonArray>

#include <pulse/ext-stream-restore.h>
#include <pulse/pulseaudio.h>

namespace sonaric
{

QJsonObject RestoreEntry::toJson() const
{
    QJsonArray levels;
    for (auto v : volume)
        levels.append(qint64(v));
    return { { "name", name }, { "device", device }, { "channelMap", channelMap }, { "volume", levels },
        { "mute", mute } };
}

RestoreEntry RestoreEntry::fromJson(const QJsonObject& object)
{
    RestoreEntry entry;
    entry.name = object.value("name").toString();
    entry.device = object.value("device").toString();
    entry.channelMap = object.value("channelMap").toString();
    for (const auto& v : object.value("volume").toArray())
        entry.volume.push_back(std::uint32_t(v.toInteger()));
    entry.mute = object.value("mute").toBool();
    return entry;
}

namespace RestoreMemory
{

namespace
{

struct ReadState {
    PulseConnection* connection;
    RestoreTable table;
    bool failed = false; ///< the server has no such database, or the read ended in an error
};

void onEntry(pa_context*, const pa_ext_stream_restore_info* info, int eol, void* data)
{
    auto* state = static_cast<ReadState*>(data);
    if (eol || !info) {
        state->failed = eol < 0;
        state->connection->signal();
        return;
    }
    RestoreEntry entry;
    entry.name = QString::fromUtf8(info->name);
    entry.device = info->device ? QString::fromUtf8(info->device) : QString();
    char map[PA_CHANNEL_MAP_SNPRINT_MAX];
    if (pa_channel_map_valid(&info->channel_map)) {
        pa_channel_map_snprint(map, sizeof map, &info->channel_map);
        entry.channelMap = QString::fromUtf8(map);
    }
    for (int c = 0; c < info->volume.channels; ++c)
        entry.volume.push_back(info->volume.values[c]);
    entry.mute = info->mute;
    state->table[entry.name] = entry;
}

void onSuccess(pa_context*, int, void* connection)
{
    static_cast<PulseConnection*>(connection)->signal();
}

} // namespace

std::optional<RestoreTable> read(PulseConnection& connection)
{
    ReadState state { &connection, {} };
    PulseConnection::Lock lock(connection);
    if (!connection.wait(pa_ext_stream_restore_read(connection.context(), onEntry, &state)) || state.failed)
        return std::nullopt;
    return state.table;
}

std::vector<RestoreChange> changes(const RestoreTable& before, const RestoreTable& after)
{
    std::vector<RestoreChange> result;
    for (const auto& [name, entry] : after) {
        const auto old = before.find(name);
        if (old == before.end())
            result.push_back({ name, std::nullopt });
        else if (!(old->second == entry))
            result.push_back({ name, old->second });
    }
    return result;
}

bool revert(PulseConnection& connection, const std::vector<RestoreChange>& changes)
{
    if (changes.empty())
        return true;
    std::vector<QByteArray> names, devices, removed;
    std::vector<pa_ext_stream_restore_info> infos;
    for (const auto& change : changes) {
        if (!change.original) {
            removed.push_back(change.name.toUtf8());
            continue;
        }
        const auto& e = *change.original;
        names.push_back(e.name.toUtf8());
        devices.push_back(e.device.toUtf8());
        pa_ext_stream_restore_info info {};
        pa_channel_map_init(&info.channel_map);
        if (!e.channelMap.isEmpty())
            pa_channel_map_parse(&info.channel_map, e.channelMap.toUtf8().constData());
        pa_cvolume_init(&info.volume);
        info.volume.channels = std::uint8_t(std::min<std::size_t>(e.volume.size(), PA_CHANNELS_MAX));
        for (int c = 0; c < info.volume.channels; ++c)
            info.volume.values[c] = e.volume[std::size_t(c)];
        info.mute = e.mute;
        infos.push_back(info);
    }
    for (std::size_t i = 0; i < infos.size(); ++i) {
        infos[i].name = names[i].constData();
        infos[i].device = devices[i].isEmpty() ? nullptr : devices[i].constData();
    }
    std::vector<const char*> removedNames;
    for (const auto& n : removed)
        removedNames.push_back(n.constData());
    removedNames.push_back(nullptr);

    PulseConnection::Lock lock(connection);
    bool ok = true;
    // Not applied to running streams: that would pull a stream just moved into a tap straight back out.
    if (!infos.empty())
        ok = connection.wait(pa_ext_stream_restore_write(connection.context(), PA_UPDATE_REPLACE, infos.data(),
                 unsigned(infos.size()), 0, onSuccess, &connection))
            && ok;
    if (!removed.empty())
        ok = connection.wait(
                 pa_ext_stream_restore_delete(connection.context(), removedNames.data(), onSuccess, &connection))
            && ok;
    return ok;
}

std::vector<QString> pointingAt(const RestoreTable& table, const QString& sinkPrefix)
{
    std::vector<QString> names;
    for (const auto& [name, entry] : table)
        if (entry.device.startsWith(sinkPrefix))
            names.push_back(name);
    return names;
}

} // namespace RestoreMemory

} // namespace sonaric
