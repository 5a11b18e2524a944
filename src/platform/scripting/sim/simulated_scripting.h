#pragma once

// The simulated scripting service: fake Spotify, Music and TV applications that understand exactly the
// AppleScript lines the app connector generates, and fake Safari, Chrome, Edge and Brave with windows and tabs
// that answer the Safari connector script, the get-data events and the execute-JavaScript event. Each tab
// answers the page media script from a small page model (or a verbatim reply, or an error) set by the test or
// read from a scripting JSON (docs/native.md).

#include "platform/scripting/scripting.h"

#include <QByteArray>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
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

/// An error raised by a tab or an application: a number and, when it has one, a message.
struct FakeScriptError {
    int number = 0;
    std::optional<QString> message;
};

/// What the page media script finds in a tab: one controllable media with its state.
struct FakePage {
    QString key; ///< the tab key the page holds; an invalid one is replaced on the next evaluation
    QString title;
    bool playing = true;
    bool visible = true;
    int volume = 100; ///< percent
    bool muted = false;
};

struct FakeTab {
    QString url; ///< null: the tab has no URL (missing value)
    std::optional<FakePage> page; ///< absent: the page script replies "skip"
    std::optional<QString> rawReply; ///< a verbatim reply (for hostile pages); wins over `page`
    bool missingValue = false; ///< the evaluation gives no result at all
    std::optional<FakeScriptError> error; ///< the evaluation fails with this error
    bool closesBeforeExecute = false; ///< the tab is gone when the script is run (-1728)
    int evaluations = 0; ///< how often the page script ran here
    std::optional<bool> lastPageWorld; ///< `pageWorld` of the last script run here
    QString lastWant; ///< the `want` object literal of the last script run here
};

struct FakeWindow {
    std::vector<FakeTab> tabs;
    int activeTab = 1; ///< 1-based; 0 when the window reports none
};

/// A browser process: Safari answers the connector's AppleScript, Chromium browsers answer Apple events.
struct FakeBrowser {
    QString bundleID;
    QString appName; ///< used in the error texts the fake produces
    pid_t pid = 0;
    bool running = true;
    std::vector<FakeWindow> windows;
    bool refusesAutomation = false; ///< sending fails with -1743
    bool javaScriptBlocked = false; ///< running page JavaScript fails with the browser's "turned off" error
    bool timesOut = false; ///< sending fails with -1712
    std::optional<FakeScriptError> getDataError; ///< the get-data events fail with this "errn"/"errs"
};

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
    AppleScriptExecution runAppScript(const QString& source);
    AppleScriptExecution runSafariScript(const QString& source);
    AppleEventSendResult handleEvent(FakeBrowser& browser, const AppleEventDescriptor& event);

    mutable std::recursive_mutex m_mutex;
    std::deque<FakeMediaApp> m_apps;
    std::deque<FakeBrowser> m_browsers;
    int m_failCreations = 0;
    std::chrono::milliseconds m_scriptDuration { 0 };
    QStringList m_scripts;
    std::vector<AppleEventDescriptor> m_events;
    std::vector<double> m_timeouts;
    std::atomic<int> m_running { 0 };
    std::atomic<int> m_maxConcurrent { 0 };
    int m_keyCounter = 0;
};

} // namespace sonaric
