#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace sonaric
{

class PulseConnection;

/// One remembered stream target of the server's stream-restore database.
struct RestoreEntry {
    QString name; ///< the server's key, e.g. "sink-input-by-media-role:music"
    QString device; ///< remembered sink name; empty when only volume is remembered
    QString channelMap;
    std::vector<std::uint32_t> volume;
    bool mute = false;
    bool operator==(const RestoreEntry&) const = default;

    QJsonObject toJson() const;
    static RestoreEntry fromJson(const QJsonObject& object);
};

/// An entry as it was before we touched it; no `original` means it did not exist.
struct RestoreChange {
    QString name;
    std::optional<RestoreEntry> original;
    bool operator==(const RestoreChange&) const = default;
};

using RestoreTable = std::map<QString, RestoreEntry>;

/// The server remembers where a stream was last moved to, keyed by media role, application id or name, and
/// sends later streams with the same key there. Moving an application into a tap sink must not teach it
/// anything: these helpers read the table, find what a move changed and put it back.
namespace RestoreMemory
{

/// The whole table; absent when the server has no stream-restore database.
std::optional<RestoreTable> read(PulseConnection& connection);
/// The entries of `after` that differ from `before`, with their value in `before`.
std::vector<RestoreChange> changes(const RestoreTable& before, const RestoreTable& after);
/// Puts every change back: restores the original entry or deletes one that did not exist.
bool revert(PulseConnection& connection, const std::vector<RestoreChange>& changes);
/// Entries that send streams to a sink whose name starts with `sinkPrefix`.
std::vector<QString> pointingAt(const RestoreTable& table, const QString& sinkPrefix);

} // namespace RestoreMemory

} // namespace sonaric
