#pragma once

#include "platform/scripting/linux/browser_bridge.h"
#include "platform/scripting/linux/mpris_volume.h"
#include "platform/scripting/scripting.h"

#include <QString>

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <variant>
#include <vector>

namespace sonaric
{

class LinuxApplicationIds;
struct LinuxApplication;
struct ChromiumRequest;
class Workspace;

/// The scripting service of a Linux desktop. It answers exactly the scripts and events the native connectors
/// send, with what Linux has instead of Apple events:
/// - the app connector's volume scripts through the player's MPRIS interface on the session bus (`MprisVolume`);
/// - the Chromium connector's get-data and execute-JavaScript events through Sonaric's own browser extension,
///   which the browser connects to Sonaric through a native-messaging host (`BrowserBridge`). The extension runs
///   its own copy of the page media script; the script text the connector sends is taken apart into the wanted
///   states and must otherwise be that very script (`PageScriptRequest`).
/// Anything else is refused with an error, never interpreted loosely. Every error carries the steps that are true
/// on Linux (NSLocalizedRecoverySuggestionErrorKey / `AppleEventSendError::localizedRecoverySuggestion`). Safe to
/// call from any thread.
class LinuxScripting final : public Scripting
{
public:
    struct Options {
        QString busAddress; ///< empty: the session bus
        const LinuxApplicationIds* applications = nullptr; ///< null: the built-in table
        QString socketPath; ///< empty: sonaric-browsers.socket in $XDG_RUNTIME_DIR
        QString hostPath; ///< empty: the sonaric-browser-host installed with the program
        QString extensionFolder; ///< empty: $XDG_DATA_HOME/sonaric/browser-extension
        /// How long the first request to a browser without the extension waits for it to connect.
        std::chrono::milliseconds extensionWait { 3000 };
        MprisVolume::Options mpris;
    };

    /// Opens the browsers' socket at once (so the extension can connect before any connector asks) and unpacks
    /// the extension into its folder.
    LinuxScripting(const Workspace& workspace, Options options);
    /// The service of the desktop session: the composition root's one call.
    explicit LinuxScripting(const Workspace& workspace);
    ~LinuxScripting() override;

    AppleScriptExecution executeAppleScript(const QString& source, const QString& targetBundleID) override;
    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds) override;

    const BrowserBridge& bridge() const { return m_bridge; }
    QString extensionFolder() const { return m_extensionFolder; }

private:
    struct Browser {
        const LinuxApplication* application = nullptr;
        QString desktopID;
    };
    struct Tab {
        int id = 0;
        QString url;
    };
    struct Window {
        int connection = 0;
        int active = 0;
        std::vector<Tab> tabs;
    };
    /// What a browser's extensions last said about its windows, kept so that an execute event addresses the tab
    /// the listing named even when tabs moved since.
    struct Listing {
        std::vector<Window> windows;
        std::chrono::steady_clock::time_point when;
    };
    struct Failure {
        int code = 0;
        QString message;
        QStringList steps;
    };

    Browser browserFor(pid_t process) const;
    std::optional<Failure> prepare(pid_t process, const Browser& browser, std::chrono::milliseconds timeout);
    std::variant<Listing, Failure> list(pid_t process, const Browser& browser,
        const std::vector<BrowserBridge::Connection>& connections, std::chrono::milliseconds timeout);
    AppleEventSendResult execute(const ChromiumRequest& request, const Browser& browser,
        const std::vector<BrowserBridge::Connection>& connections, std::chrono::milliseconds timeout);

    const Workspace& m_workspace;
    const LinuxApplicationIds& m_applications;
    QString m_hostPath;
    QString m_extensionFolder;
    std::chrono::milliseconds m_extensionWait;
    MprisVolume m_mpris;
    BrowserBridge m_bridge;
    std::mutex m_mutex;
    std::map<pid_t, Listing> m_listings;
    std::set<pid_t> m_waitedFor; ///< browsers whose extension was waited for once already
};

} // namespace sonaric
