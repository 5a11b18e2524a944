#pragma once

#include <QString>

#include <functional>

namespace sonaric
{

class PulseConnection;
class TapJournal;

/// What one recovery pass undid.
struct RecoveryReport {
    int sinks = 0; ///< abandoned tap sinks unloaded
    int streams = 0; ///< streams sent back
    int entries = 0; ///< stream-restore entries put back or removed
    int levelStreams = 0; ///< held streams given their own volume, mute and sink back
};

/// Undoes the taps and levels of Sonaric instances that are gone: held streams get their own volume, mute and
/// sink back; streams go back to the sinks they came from (the
/// default when that sink is gone), the stream-restore memory loses every trace of the tap sinks, and the
/// sinks are unloaded. Run at every start and by the watchdog when its owner disappears.
namespace TapRecovery
{

/// `abandoned(owner)` says whether the owner's taps are to be undone; by default an owner is abandoned
/// when its process no longer runs.
RecoveryReport run(
    PulseConnection& connection, TapJournal& journal, const std::function<bool(const QString& owner)>& abandoned = {});

} // namespace TapRecovery

} // namespace sonaric
