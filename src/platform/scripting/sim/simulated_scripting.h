#pragma once

// The simulated scripting service: fake Spotify, Music and TV applications that understand exactly the
// AppleScript lines the app connector generates, and fake Safari, Chrome, Edge and Brave with windows and tabs
// that answer the Safari connector script, the get-data events and the execute-JavaScript event. Each tab
// answers the page media script from a small page model (or a verbatim reply, or an error) set by the test or
// read from a scripting JSON (docs/native.md).
//
// This front keeps the fakes, serialises every call, logs what was run and sent, and hands each script or event
// to the fake it is for: FakeMediaApps, FakeSafari or FakeChromiumBrowsers.

#include "platform/scripting/scripting.h"
#include "platform/scripting/sim/fake_browser.h"
#include "platform/scripting/sim/fake_chromium_browsers.h"
#include "platform/scripting/sim/fake_media_apps.h"
#include "platform/scripting/sim/fake_page.h"
#include "platform/scripting/sim/fake_safari.h"

#include <QByteArray>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace sonaric
{

class SimulatedScripting final : public Scripting
{
public:
    SimulatedScripting() = default;

    /// Builds the fake applications from a scripting JSON (docs/native.md); empty on a malformed document,
    /// with `error` set.
    static std::unique_ptr<SimulatedScripting> fromJson(const QByteArray& json, QString* error = nullptr);

    // The fakes. References stay valid for the life of the object; change them only while no call runs.
    FakeMediaApp& addApp(FakeMediaApp app);
    FakeBrowser& addBrowser(FakeBrowser browser);
    FakeMediaApp* app(const QString& bundleID);
    FakeBrowser* browser(pid_t pid);
    FakeBrowser* browser(const QString& bundleID); ///< the first process with the identifier

    /// The next `count` scripts cannot be created (NSAppleScript's initializer fails).
    void failNextScriptCreations(int count);
    /// Every AppleScript run takes this long (to test that the connectors serialise scripts).
    void setScriptDuration(std::chrono::milliseconds duration);

    QStringList executedScripts() const;
    std::vector<AppleEventDescriptor> sentEvents() const;
    std::vector<double> sentTimeouts() const;
    /// The largest number of AppleScripts that ran at the same moment.
    int maxConcurrentScripts() const { return m_maxConcurrent.load(); }
    void clearLog();

    AppleScriptExecution executeAppleScript(const QString& source, const QString& targetBundleID) override;
    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds) override;

private:
    mutable std::recursive_mutex m_mutex;
    FakeMediaApps m_apps;
    std::deque<FakeBrowser> m_browsers;
    int m_keyCounter = 0; ///< shared by every browser, so replaced tab keys never repeat
    FakeSafari m_safari { m_browsers, m_keyCounter };
    FakeChromiumBrowsers m_chromium { m_browsers, m_keyCounter };
    int m_failCreations = 0;
    std::chrono::milliseconds m_scriptDuration { 0 };
    QStringList m_scripts;
    std::vector<AppleEventDescriptor> m_events;
    std::vector<double> m_timeouts;
    std::atomic<int> m_running { 0 };
    std::atomic<int> m_maxConcurrent { 0 };
};

} // namespace sonaric
