#pragma once

// A simulated desk for the connector tests: a workspace built from a scene and the simulated scripting service
// with fake applications and browsers, plus a way to wait for a controller's outcome.

#include "native/native_volume_controlling.h"
#include "platform/scene/scene.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <future>
#include <memory>

namespace sonaric::test
{

/// Runs one controller operation and waits for its outcome.
template <typename Start> NativeVolumeResult await(Start start)
{
    auto promise = std::make_shared<std::promise<NativeVolumeResult>>();
    auto future = promise->get_future();
    start([promise](const NativeVolumeResult& result) { promise->set_value(result); });
    return future.get();
}

struct Desk {
    /// Every connector application installed, none running.
    Desk()
        : workspace(scene())
    {
    }

    static Scene scene()
    {
        Scene scene;
        scene.installed = { QStringLiteral("com.apple.Safari"), QStringLiteral("com.google.Chrome"),
            QStringLiteral("com.microsoft.edgemac"), QStringLiteral("com.brave.Browser"),
            QStringLiteral("org.chromium.Chromium"), QStringLiteral("com.spotify.client"),
            QStringLiteral("com.apple.Music"), QStringLiteral("com.apple.TV") };
        return scene;
    }

    FakeMediaApp& app(const QString& bundleID, int volume, bool muted = false)
    {
        FakeMediaApp fake;
        fake.bundleID = bundleID;
        fake.volume = volume;
        fake.muted = muted;
        fake.hasMute = bundleID != QStringLiteral("com.spotify.client");
        return scripting.addApp(fake);
    }

    /// A running browser process: known to the workspace and answering as a fake.
    FakeBrowser& browser(const QString& bundleID, const QString& appName, pid_t pid, std::vector<FakeWindow> windows)
    {
        workspace.launch({ pid, bundleID, appName, ActivationPolicy::regular });
        FakeBrowser fake;
        fake.bundleID = bundleID;
        fake.appName = appName;
        fake.pid = pid;
        fake.windows = std::move(windows);
        return scripting.addBrowser(fake);
    }

    SimulatedWorkspace workspace;
    SimulatedScripting scripting;
};

inline FakeTab pageTab(const QString& url, const QString& key, const QString& title, int volume = 100,
    bool muted = false, bool playing = true)
{
    FakeTab tab;
    tab.url = url;
    FakePage page;
    page.key = key;
    page.title = title;
    page.volume = volume;
    page.muted = muted;
    page.playing = playing;
    tab.page = page;
    return tab;
}

inline FakeTab plainTab(const QString& url)
{
    FakeTab tab;
    tab.url = url;
    return tab;
}

inline FakeWindow window(std::vector<FakeTab> tabs, int activeTab = 1)
{
    return { std::move(tabs), activeTab };
}

} // namespace sonaric::test
