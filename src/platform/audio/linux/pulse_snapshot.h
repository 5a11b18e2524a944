#pragma once

// Plain records of what the server reports, converted right where libpulse's callbacks deliver it.

#include "platform/audio/linux/transport_type.h"

#include <QString>

#include <cstdint>
#include <sys/types.h>
#include <vector>

struct pa_sink_info;
struct pa_sink_input_info;
struct pa_client_info;

namespace sonaric
{

/// Property that marks a sink as one of our process taps; its value is the tap's UID.
inline constexpr auto kTapSinkProperty = "sonaric.tap";
/// Property naming the Sonaric instance that owns a tap sink (see TapJournal).
inline constexpr auto kTapOwnerProperty = "sonaric.tap.owner";
/// Property on our own streams, which are never listed as processes.
inline constexpr auto kInternalStreamProperty = "sonaric.internal";
/// The name PulseAudio gives the null sink it loads while no other sink exists.
inline constexpr auto kPlaceholderSinkName = "auto_null";
/// Prefix of every tap sink's name.
inline constexpr auto kTapSinkPrefix = "sonaric_tap_";

struct SinkRecord {
    std::uint32_t index = 0;
    QString name;
    QString description;
    std::uint32_t rate = 48000;
    std::uint32_t channels = 2;
    std::uint32_t ownerModule = 0xffffffffu;
    QString monitorSource;
    SinkTraits traits;
    QString tapUid; ///< non-null for our tap sinks
    QString tapOwner;
    /// The null sink a PulseAudio server keeps while it has no other (module-always-sink's "auto_null"). It is
    /// no output: any sink appearing, a tap's among them, makes the server unload it.
    bool placeholder = false;

    /// Whether the sink is offered as an output device: neither a tap's sink nor the placeholder.
    bool isDevice() const { return tapUid.isEmpty() && !placeholder; }

    static SinkRecord from(const pa_sink_info& info);
};

/// A client connection. A native PipeWire client's streams carry neither its pid nor its binary: only the
/// client object does, so the streams are completed from it (StreamRecord::completeFrom).
struct ClientRecord {
    std::uint32_t index = 0;
    pid_t pid = -1; ///< application.process.id, -1 when the client did not say
    QString applicationId;
    QString applicationName;
    QString binary;

    static ClientRecord from(const pa_client_info& info);
};

struct StreamRecord {
    std::uint32_t index = 0;
    std::uint32_t sink = 0xffffffffu;
    std::uint32_t client = 0xffffffffu;
    pid_t pid = -1; ///< application.process.id, -1 when the client did not say
    QString applicationId;
    QString applicationName;
    QString binary;
    QString mediaRole;
    bool corked = false;
    bool internal = false;
    std::vector<std::uint32_t> volume; ///< pa_volume_t per channel
    bool muted = false;

    /// Streams with the same key belong to one process object.
    QString processKey() const;
    /// Fills what the stream did not say from its client; returns whether anything changed.
    bool completeFrom(const ClientRecord& client);

    static StreamRecord from(const pa_sink_input_info& info);
};

/// Whether two volumes are the same up to the server's rounding of what was written (PipeWire keeps volumes as
/// floats): one step either way per channel.
bool volumesClose(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

} // namespace sonaric
