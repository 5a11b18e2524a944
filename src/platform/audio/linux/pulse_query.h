#pragma once

#include "platform/audio/linux/pulse_snapshot.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace sonaric
{

class PulseConnection;

/// Synchronous server requests over a connection; the caller must not hold the connection's lock. Each
/// fails (empty, absent, false) when the server does not complete it.
namespace PulseQuery
{

std::optional<std::vector<SinkRecord>> sinks(PulseConnection& connection);
std::optional<std::vector<StreamRecord>> streams(PulseConnection& connection);
std::optional<std::vector<ClientRecord>> clients(PulseConnection& connection);
/// The default sink's name; empty when it cannot be read.
QString defaultSink(PulseConnection& connection);
bool moveStream(PulseConnection& connection, std::uint32_t stream, const QString& sink);
/// Sets a stream's volume, one pa_volume_t per channel.
bool setStreamVolume(PulseConnection& connection, std::uint32_t stream, const std::vector<std::uint32_t>& volume);
bool setStreamMute(PulseConnection& connection, std::uint32_t stream, bool mute);
/// Loads a module; its index, or absent when the server refused it.
std::optional<std::uint32_t> loadModule(PulseConnection& connection, const QString& name, const QString& arguments);
bool unloadModule(PulseConnection& connection, std::uint32_t module);

} // namespace PulseQuery

} // namespace sonaric
