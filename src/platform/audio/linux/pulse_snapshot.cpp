#include "platform/audio/linux/pulse_snapshot.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

namespace sonaric
{

namespace
{

QString property(const pa_proplist* list, const char* key)
{
    const char* value = list ? pa_proplist_gets(list, key) : nullptr;
    return value ? QString::fromUtf8(value) : QString();
}

pid_t processId(const pa_proplist* list)
{
    bool ok = false;
    const int pid = property(list, PA_PROP_APPLICATION_PROCESS_ID).toInt(&ok);
    return ok && pid > 0 ? pid : -1;
}

QString applicationIdOf(const pa_proplist* list)
{
    const QString id = property(list, PA_PROP_APPLICATION_ID);
    return id.isEmpty() ? property(list, "pipewire.access.portal.app_id") : id;
}

template <typename T> bool fill(T& field, const T& value, bool missing)
{
    if (!missing || value == field)
        return false;
    field = value;
    return true;
}

} // namespace

SinkRecord SinkRecord::from(const pa_sink_info& info)
{
    SinkRecord sink;
    sink.index = info.index;
    sink.name = QString::fromUtf8(info.name);
    sink.description = info.description ? QString::fromUtf8(info.description) : QString();
    sink.rate = info.sample_spec.rate;
    sink.channels = info.sample_spec.channels;
    sink.ownerModule = info.owner_module;
    sink.monitorSource = info.monitor_source_name ? QString::fromUtf8(info.monitor_source_name) : QString();
    sink.traits.bus = property(info.proplist, PA_PROP_DEVICE_BUS);
    sink.traits.formFactor = property(info.proplist, PA_PROP_DEVICE_FORM_FACTOR);
    sink.traits.api = property(info.proplist, PA_PROP_DEVICE_API);
    sink.traits.deviceClass = property(info.proplist, PA_PROP_DEVICE_CLASS);
    sink.traits.hasHardwareFlag = info.flags & PA_SINK_HARDWARE;
    sink.traits.isFilter = !property(info.proplist, "device.master_device").isEmpty()
        || property(info.proplist, "node.virtual") == QLatin1String("true")
        || property(info.proplist, "media.class") == QLatin1String("Audio/Sink/Internal");
    if (info.active_port) {
        sink.traits.activePortName = QString::fromUtf8(info.active_port->name);
#if PA_CHECK_VERSION(14, 0, 0)
        switch (info.active_port->type) {
        case PA_DEVICE_PORT_TYPE_HDMI:
            sink.traits.activePortType = QStringLiteral("hdmi");
            break;
        case PA_DEVICE_PORT_TYPE_USB:
            sink.traits.activePortType = QStringLiteral("usb");
            break;
        case PA_DEVICE_PORT_TYPE_BLUETOOTH:
        case PA_DEVICE_PORT_TYPE_HEADSET:
        case PA_DEVICE_PORT_TYPE_HANDSFREE:
            sink.traits.activePortType = QStringLiteral("bluetooth");
            break;
        case PA_DEVICE_PORT_TYPE_HEADPHONES:
            sink.traits.activePortType = QStringLiteral("headphone");
            break;
        default:
            break;
        }
#endif
    }
    sink.placeholder = sink.name == QLatin1String(kPlaceholderSinkName);
    sink.tapUid = property(info.proplist, kTapSinkProperty);
    sink.tapOwner = property(info.proplist, kTapOwnerProperty);
    if (sink.tapUid.isEmpty() && sink.name.startsWith(QLatin1String(kTapSinkPrefix)))
        sink.tapUid = sink.name.mid(int(qstrlen(kTapSinkPrefix)));
    return sink;
}

QString StreamRecord::processKey() const
{
    if (pid > 0)
        return QStringLiteral("pid:%1").arg(pid);
    return QStringLiteral("client:%1").arg(client);
}

bool StreamRecord::completeFrom(const ClientRecord& from)
{
    if (from.index != client)
        return false;
    bool changed = fill(pid, from.pid, pid <= 0);
    changed |= fill(applicationId, from.applicationId, applicationId.isEmpty());
    changed |= fill(applicationName, from.applicationName, applicationName.isEmpty());
    changed |= fill(binary, from.binary, binary.isEmpty());
    return changed;
}

StreamRecord StreamRecord::from(const pa_sink_input_info& info)
{
    StreamRecord stream;
    stream.index = info.index;
    stream.sink = info.sink;
    stream.client = info.client;
    stream.pid = processId(info.proplist);
    stream.applicationId = applicationIdOf(info.proplist);
    stream.applicationName = property(info.proplist, PA_PROP_APPLICATION_NAME);
    stream.binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.mediaRole = property(info.proplist, PA_PROP_MEDIA_ROLE);
    stream.corked = info.corked;
    stream.volume.assign(info.volume.values, info.volume.values + info.volume.channels);
    stream.muted = info.mute;
    stream.internal = !property(info.proplist, kInternalStreamProperty).isEmpty();
    return stream;
}

ClientRecord ClientRecord::from(const pa_client_info& info)
{
    ClientRecord client;
    client.index = info.index;
    client.pid = processId(info.proplist);
    client.applicationId = applicationIdOf(info.proplist);
    client.applicationName = property(info.proplist, PA_PROP_APPLICATION_NAME);
    client.binary = property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    return client;
}

bool volumesClose(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t c = 0; c < a.size(); ++c)
        if (std::max(a[c], b[c]) - std::min(a[c], b[c]) > 1)
            return false;
    return true;
}

} // namespace sonaric
