#pragma once

// The fake Spotify, Music and TV: they understand exactly the AppleScript lines the app connector generates and
// answer them from a volume and, where the application has one, a mute.

#include "platform/scripting/scripting.h"

#include <deque>
#include <vector>

namespace sonaric
{

/// A scripted media application (Spotify, Music, TV): a volume in percent and, where it has one, a mute.
struct FakeMediaApp {
    QString bundleID;
    bool running = true;
    int volume = 50; ///< 0 … 100, what the application reports
    bool muted = false;
    bool hasMute = true; ///< Spotify has no scriptable mute
    bool refusesAutomation = false; ///< every script fails with -1743
    bool timesOut = false; ///< every script fails with -1712
    std::vector<QString> commands; ///< every set command carried out, e.g. "pVol=37", "pMut=false"
};

/// The fake media applications of one scripting service. Not thread-safe: the service serialises calls.
class FakeMediaApps
{
public:
    /// References stay valid for the life of the object.
    FakeMediaApp& add(FakeMediaApp app);
    FakeMediaApp* find(const QString& bundleID);

    /// Runs an app connector script: anything but the connector's lines is syntax error -2741.
    AppleScriptExecution run(const QString& source);

private:
    std::deque<FakeMediaApp> m_apps;
};

} // namespace sonaric
