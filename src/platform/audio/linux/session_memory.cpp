#include "platform/audio/linux/session_memory.h"

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/pulse_query.h"
#include "platform/audio/linux/pulse_snapshot.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace sonaric
{

namespace
{

constexpr int kConnectTimeoutMs = 1000;
/// How long the memory may take to be applied to the new stream, and to take what we set.
constexpr auto kApplyWait = std::chrono::milliseconds(400);
constexpr auto kSaveWait = std::chrono::milliseconds(200);

std::vector<std::uint32_t> volumeOf(PulseConnection& connection, std::uint32_t index)
{
    if (const auto streams = PulseQuery::streams(connection))
        for (const auto& stream : *streams)
            if (stream.index == index)
                return stream.volume;
    return {};
}

} // namespace

bool writeSessionMemory(
    const SessionMemoryKey& key, const SessionMemoryValues& own, const std::vector<std::uint32_t>& remembered)
{
    if (own.volume.empty() || own.volume.size() > PA_CHANNELS_MAX)
        return false;
    // The client's name is the stream's application name unless the stream says otherwise: give it the key's.
    PulseConnection connection(key.applicationName.isEmpty() ? QStringLiteral("Sonaric") : key.applicationName,
        { { kInternalStreamProperty, QStringLiteral("1") } });
    if (!connection.connect(kConnectTimeoutMs, nullptr))
        return false;

    pa_stream* stream = nullptr;
    std::uint32_t index = PA_INVALID_INDEX;
    {
        PulseConnection::Lock lock(connection);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, kInternalStreamProperty, "1");
        const auto set = [&](const char* name, const QString& value) {
            if (!value.isEmpty())
                pa_proplist_sets(props, name, value.toUtf8().constData());
        };
        set(PA_PROP_MEDIA_ROLE, key.mediaRole);
        set(PA_PROP_APPLICATION_ID, key.applicationId);
        set(PA_PROP_APPLICATION_NAME, key.applicationName);
        const pa_sample_spec spec { PA_SAMPLE_S16LE, 48000, std::uint8_t(own.volume.size()) };
        pa_channel_map map;
        pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
        stream = pa_stream_new_with_proplist(connection.context(), "Sonaric", &spec, &map, props);
        pa_proplist_free(props);
        if (!stream)
            return false;
        pa_stream_set_state_callback(
            stream, [](pa_stream*, void* c) { static_cast<PulseConnection*>(c)->signal(); }, &connection);
        // Corked and never written to: it plays nothing.
        if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_START_CORKED, nullptr, nullptr) == 0
            && connection.waitUntil(
                [&] {
                    return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))
                        || pa_stream_get_state(stream) == PA_STREAM_READY;
                },
                connection.requestTimeoutMs())
            && pa_stream_get_state(stream) == PA_STREAM_READY)
            index = pa_stream_get_index(stream);
    }

    bool ok = index != PA_INVALID_INDEX;
    if (ok) {
        // The memory is applied to the stream as it appears, a moment after it is ready: setting ours before that
        // would be overwritten.
        const auto until = std::chrono::steady_clock::now() + kApplyWait;
        while (!volumesClose(volumeOf(connection, index), remembered) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ok = PulseQuery::setStreamVolume(connection, index, own.volume);
        ok = PulseQuery::setStreamMute(connection, index, own.mute) && ok;
        if (!own.sink.isEmpty())
            ok = PulseQuery::moveStream(connection, index, own.sink) && ok;
        connection.sync();
        std::this_thread::sleep_for(kSaveWait);
    }
    PulseConnection::Lock lock(connection);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    return ok;
}

} // namespace sonaric
