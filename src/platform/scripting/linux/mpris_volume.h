#pragma once

#include "platform/scripting/scripting.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <optional>

namespace sonaric
{

struct AppVolumeRequest;
struct LinuxApplication;

/// Answers the app connector's volume scripts through a media player's MPRIS interface on the session bus
/// (org.mpris.MediaPlayer2.Player, property Volume: a linear fraction where 1 is the player's 100 %).
///
/// The player of an application is the bus name org.mpris.MediaPlayer2.<name> (or <name>.<instance>) of one of
/// the application's MPRIS names, else any player whose DesktopEntry is one of its desktop ids. None: the reply
/// is "not-running", as the script gives for an application that is not open. A volume is written, then read
/// back until it shows or `settle` has passed: some players accept a write and ignore it, and that is an error
/// of its own ("… does not let other programs set its volume."). MPRIS has no mute, so a script that sets or asks
/// for one is refused. Safe to use from any thread.
class MprisVolume
{
public:
    struct Options {
        std::chrono::milliseconds settle { 500 }; ///< how long a written volume may take to show
        std::chrono::milliseconds poll { 20 }; ///< how often it is read back meanwhile
        int callTimeoutMs = 3000; ///< per D-Bus call
    };

    explicit MprisVolume(QDBusConnection bus, Options options);
    explicit MprisVolume(QDBusConnection bus);

    /// The headline and steps when a player took too long to answer.
    static QString timedOutMessage(const QString& player);
    static QStringList timedOutSteps(const QString& player);

    /// Carries out one request for `application` (null: an application the table does not know).
    AppleScriptExecution run(const AppVolumeRequest& request, const LinuxApplication* application);

    /// The bus name of the application's player; absent when none is on the bus.
    std::optional<QString> player(const LinuxApplication& application);

private:
    QDBusConnection m_bus;
    Options m_options;
};

} // namespace sonaric
