#include "platform/audio/linux/pulse_query.h"

#include "platform/audio/linux/pulse_connection.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace sonaric::PulseQuery
{

namespace
{

template <typename Record> struct ListState {
    PulseConnection* connection;
    std::vector<Record> records;
    bool failed = false; ///< the list ended in an error (libpulse's own timeout included): it is not the whole
};

void onSink(pa_context*, const pa_sink_info* info, int eol, void* data)
{
    auto* state = static_cast<ListState<SinkRecord>*>(data);
    if (eol || !info) {
        state->failed = eol < 0;
        state->connection->signal();
    } else {
        state->records.push_back(SinkRecord::from(*info));
    }
}

template <typename Record, typename Info> void onListItem(pa_context*, const Info* info, int eol, void* data)
{
    auto* state = static_cast<ListState<Record>*>(data);
    if (eol || !info) {
        state->failed = eol < 0;
        state->connection->signal();
    } else {
        state->records.push_back(Record::from(*info));
    }
}

struct ValueState {
    explicit ValueState(PulseConnection* c)
        : connection(c)
    {
    }
    PulseConnection* connection;
    bool success = false;
    std::uint32_t index = PA_INVALID_INDEX;
    QString text;
};

void onSuccess(pa_context*, int success, void* data)
{
    auto* state = static_cast<ValueState*>(data);
    state->success = success;
    state->connection->signal();
}

void onIndex(pa_context*, std::uint32_t index, void* data)
{
    auto* state = static_cast<ValueState*>(data);
    state->index = index;
    state->connection->signal();
}

void onServerInfo(pa_context*, const pa_server_info* info, void* data)
{
    auto* state = static_cast<ValueState*>(data);
    if (info && info->default_sink_name)
        state->text = QString::fromUtf8(info->default_sink_name);
    state->connection->signal();
}

} // namespace

std::optional<std::vector<SinkRecord>> sinks(PulseConnection& connection)
{
    ListState<SinkRecord> state { &connection, {} };
    PulseConnection::Lock lock(connection);
    if (!connection.wait(pa_context_get_sink_info_list(connection.context(), onSink, &state)) || state.failed)
        return std::nullopt;
    return state.records;
}

std::optional<std::vector<StreamRecord>> streams(PulseConnection& connection)
{
    ListState<StreamRecord> state { &connection, {} };
    PulseConnection::Lock lock(connection);
    if (!connection.wait(pa_context_get_sink_input_info_list(
            connection.context(), onListItem<StreamRecord, pa_sink_input_info>, &state))
        || state.failed)
        return std::nullopt;
    return state.records;
}

std::optional<std::vector<ClientRecord>> clients(PulseConnection& connection)
{
    ListState<ClientRecord> state { &connection, {} };
    PulseConnection::Lock lock(connection);
    if (!connection.wait(
            pa_context_get_client_info_list(connection.context(), onListItem<ClientRecord, pa_client_info>, &state))
        || state.failed)
        return std::nullopt;
    return state.records;
}

QString defaultSink(PulseConnection& connection)
{
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    connection.wait(pa_context_get_server_info(connection.context(), onServerInfo, &state));
    return state.text;
}

bool moveStream(PulseConnection& connection, std::uint32_t stream, const QString& sink)
{
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    return connection.wait(pa_context_move_sink_input_by_name(
               connection.context(), stream, sink.toUtf8().constData(), onSuccess, &state))
        && state.success;
}

bool setStreamVolume(PulseConnection& connection, std::uint32_t stream, const std::vector<std::uint32_t>& volume)
{
    if (volume.empty() || volume.size() > PA_CHANNELS_MAX)
        return false;
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = std::uint8_t(volume.size());
    for (std::size_t c = 0; c < volume.size(); ++c)
        cv.values[c] = std::min<std::uint32_t>(volume[c], PA_VOLUME_MAX);
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    return connection.wait(pa_context_set_sink_input_volume(connection.context(), stream, &cv, onSuccess, &state))
        && state.success;
}

bool setStreamMute(PulseConnection& connection, std::uint32_t stream, bool mute)
{
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    return connection.wait(pa_context_set_sink_input_mute(connection.context(), stream, mute, onSuccess, &state))
        && state.success;
}

std::optional<std::uint32_t> loadModule(PulseConnection& connection, const QString& name, const QString& arguments)
{
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    if (!connection.wait(pa_context_load_module(
            connection.context(), name.toUtf8().constData(), arguments.toUtf8().constData(), onIndex, &state))
        || state.index == PA_INVALID_INDEX)
        return std::nullopt;
    return state.index;
}

bool unloadModule(PulseConnection& connection, std::uint32_t module)
{
    ValueState state(&connection);
    PulseConnection::Lock lock(connection);
    return connection.wait(pa_context_unload_module(connection.context(), module, onSuccess, &state)) && state.success;
}

} // namespace sonaric::PulseQuery
