#include "platform/scripting/linux/linux_scripting.h"

#include "platform/scripting/linux/app_volume_request.h"
#include "platform/scripting/linux/browser_extension_setup.h"
#include "platform/scripting/linux/chromium_request.h"
#include "platform/workspace/linux_application_ids.h"
#include "platform/workspace/workspace.h"

#include <QDBusConnection>
#include <QJsonArray>

namespace sonaric
{

namespace
{

using namespace std::chrono_literals;

/// A listing this young answers the active-tab event that follows the URL event of the same scan.
constexpr auto kListingReuse = 2s;

QDBusConnection busFor(const QString& address)
{
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address, QStringLiteral("sonaric.scripting.") + address);
}

AppleEventDescriptor replyEvent()
{
    return AppleEventDescriptor::appleEvent(
        fourCharCode("aevt"), fourCharCode("ansr"), AppleEventDescriptor::nullDescriptor(), 0, 0);
}

AppleEventSendResult directReply(const AppleEventDescriptor& value)
{
    AppleEventDescriptor reply = replyEvent();
    reply.setParamDescriptor(value, keyDirectObject);
    return { reply, std::nullopt };
}

/// A tab that is gone: the connector skips it without a word, as it does on the platform it was written for.
AppleEventSendResult noSuchTab()
{
    AppleEventDescriptor reply = replyEvent();
    reply.setParamDescriptor(AppleEventDescriptor::int32(errAENoSuchObject), keyErrorNumber);
    return { reply, std::nullopt };
}

AppleEventSendResult sendFailure(int code, const QString& message, const QStringList& steps)
{
    return { std::nullopt, AppleEventSendError { code, message, steps } };
}

std::chrono::milliseconds timeoutOf(double seconds)
{
    if (!(seconds > 0))
        return 10s;
    return std::chrono::milliseconds(qint64(std::min(seconds, 120.0) * 1000));
}

} // namespace

LinuxScripting::LinuxScripting(const Workspace& workspace, Options options)
    : m_workspace(workspace)
    , m_applications(options.applications ? *options.applications : LinuxApplicationIds::builtIn())
    , m_hostPath(options.hostPath.isEmpty() ? BrowserExtensionSetup::findHost() : options.hostPath)
    , m_extensionFolder(
          options.extensionFolder.isEmpty() ? BrowserExtensionSetup::defaultExtensionFolder() : options.extensionFolder)
    , m_extensionWait(options.extensionWait)
    , m_mpris(busFor(options.busAddress), options.mpris)
    , m_bridge({ options.socketPath, BrowserExtensionSetup::extensionOrigin() })
{
    // Up to date at every start: a browser picks up a new copy when it next loads the extension. A failure
    // comes back when a browser connector needs the folder.
    BrowserExtensionSetup::writeExtension(m_extensionFolder, nullptr);
}

LinuxScripting::LinuxScripting(const Workspace& workspace)
    : LinuxScripting(workspace, Options {})
{
}

LinuxScripting::~LinuxScripting() = default;

AppleScriptExecution LinuxScripting::executeAppleScript(const QString& source, const QString& targetBundleID)
{
    const auto request = AppVolumeRequest::read(source);
    if (!request || request->bundleID != targetBundleID) {
        AppleScriptExecution refused;
        refused.errorInfo
            = QVariantMap { { NSAppleScriptErrorMessage, QStringLiteral("Sonaric can't run this script on Linux.") },
                  { NSAppleScriptErrorNumber, -2741 }, { NSLocalizedRecoverySuggestionErrorKey, QStringList {} } };
        return refused;
    }
    return m_mpris.run(*request, m_applications.forBundleID(request->bundleID));
}

LinuxScripting::Browser LinuxScripting::browserFor(pid_t process) const
{
    Browser browser;
    const auto running = m_workspace.runningApplication(process);
    if (!running)
        return browser;
    browser.desktopID = running->bundleIdentifier;
    browser.application = m_applications.forDesktopID(browser.desktopID);
    if (!browser.application)
        browser.application = m_applications.forBundleID(browser.desktopID);
    if (browser.application && !browser.application->isBrowser())
        browser.application = nullptr;
    return browser;
}

AppleEventSendResult LinuxScripting::sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds)
{
    const auto request = ChromiumRequest::read(event);
    if (!request)
        return sendFailure(errAEEventNotHandled, QStringLiteral("Sonaric can't send this request to a browser."), {});
    const std::chrono::milliseconds timeout = timeoutOf(timeoutSeconds);
    const Browser browser = browserFor(request->process);
    if (!browser.application)
        return sendFailure(procNotFound, QStringLiteral("This program is not a browser Sonaric knows."), {});

    std::vector<BrowserBridge::Connection> connections = m_bridge.connections(request->process);
    if (connections.empty()) {
        if (const auto failure = prepare(request->process, browser, timeout))
            return sendFailure(failure->code, failure->message, failure->steps);
        connections = m_bridge.connections(request->process);
    }

    if (request->kind == ChromiumRequest::Kind::executeJavaScript)
        return execute(*request, browser, connections, timeout);

    std::optional<Listing> listing;
    if (request->kind == ChromiumRequest::Kind::activeTabs) {
        std::lock_guard lock(m_mutex);
        const auto cached = m_listings.find(request->process);
        if (cached != m_listings.end() && std::chrono::steady_clock::now() - cached->second.when < kListingReuse)
            listing = cached->second;
    }
    if (!listing) {
        auto listed = list(request->process, browser, connections, timeout);
        if (const auto* failure = std::get_if<Failure>(&listed))
            return sendFailure(failure->code, failure->message, failure->steps);
        listing = std::get<Listing>(std::move(listed));
    }
    auto windows = AppleEventDescriptor::list();
    for (const Window& window : listing->windows) {
        if (request->kind == ChromiumRequest::Kind::activeTabs) {
            windows.insertDescriptor(AppleEventDescriptor::int32(window.active));
            continue;
        }
        auto urls = AppleEventDescriptor::list();
        for (const Tab& tab : window.tabs)
            urls.insertDescriptor(AppleEventDescriptor::string(tab.url));
        windows.insertDescriptor(urls);
    }
    return directReply(windows);
}

std::optional<LinuxScripting::Failure> LinuxScripting::prepare(
    pid_t process, const Browser& browser, std::chrono::milliseconds timeout)
{
    const LinuxApplication& application = *browser.application;
    if (!m_bridge.isListening())
        return Failure { procNotFound,
            QStringLiteral("Sonaric can't open its connection for browsers (%1).").arg(m_bridge.error()),
            { QStringLiteral("Quit Sonaric and open it again.") } };
    const auto sandbox = BrowserExtensionSetup::sandboxOf(process, application, browser.desktopID);
    if (sandbox != BrowserExtensionSetup::Sandbox::none)
        return Failure { procNotFound, BrowserExtensionSetup::sandboxMessage(application, sandbox),
            BrowserExtensionSetup::sandboxSteps(application, sandbox) };
    if (m_hostPath.isEmpty())
        return Failure { procNotFound, QStringLiteral("Sonaric's browser helper (sonaric-browser-host) is missing."),
            { QStringLiteral("Install Sonaric again.") } };

    QString error;
    const QString profile = BrowserExtensionSetup::profileFolder(process, application, browser.desktopID);
    if (profile.isEmpty() || !BrowserExtensionSetup::installHostManifest(profile, m_hostPath, &error)
        || !BrowserExtensionSetup::writeExtension(m_extensionFolder, &error))
        return Failure { procNotFound,
            QStringLiteral("Sonaric could not set itself up for %1: %2")
                .arg(application.name, error.isEmpty() ? QStringLiteral("no profile folder") : error),
            {} };

    // The first time, give an extension that is already installed a moment to find the host just installed
    // (it tries again on its own); after that, a browser without it fails at once.
    bool wait = false;
    {
        std::lock_guard lock(m_mutex);
        wait = m_waitedFor.insert(process).second;
    }
    if (wait && m_bridge.waitForConnection(process, std::min(m_extensionWait, timeout)))
        return std::nullopt;
    return Failure { procNotFound, BrowserExtensionSetup::notAnsweringMessage(application),
        BrowserExtensionSetup::addExtensionSteps(application, m_extensionFolder) };
}

std::variant<LinuxScripting::Listing, LinuxScripting::Failure> LinuxScripting::list(pid_t process,
    const Browser& browser, const std::vector<BrowserBridge::Connection>& connections,
    std::chrono::milliseconds timeout)
{
    Listing listing;
    listing.when = std::chrono::steady_clock::now();
    for (const BrowserBridge::Connection& connection : connections) {
        const auto reply = m_bridge.request(
            connection.id, QJsonObject { { QStringLiteral("type"), QStringLiteral("tabs") } }, timeout);
        if (!reply) {
            if (m_bridge.connections(process).empty())
                continue; // the browser (or this profile) closed meanwhile
            return Failure { errAETimeout, BrowserExtensionSetup::timedOutMessage(*browser.application),
                BrowserExtensionSetup::reloadExtensionSteps(*browser.application) };
        }
        // The extension is ours, but what it reports comes from pages: take only what has the expected shape.
        for (const QJsonValue& windowValue : reply->value(QStringLiteral("windows")).toArray()) {
            const QJsonObject object = windowValue.toObject();
            Window window;
            window.connection = connection.id;
            window.active = object.value(QStringLiteral("active")).toInt(0);
            for (const QJsonValue& tabValue : object.value(QStringLiteral("tabs")).toArray()) {
                const QJsonObject tab = tabValue.toObject();
                const QJsonValue id = tab.value(QStringLiteral("id"));
                window.tabs.push_back(
                    { id.isDouble() ? id.toInt(-1) : -1, tab.value(QStringLiteral("url")).toString() });
            }
            listing.windows.push_back(std::move(window));
        }
    }
    std::lock_guard lock(m_mutex);
    m_listings[process] = listing;
    return listing;
}

AppleEventSendResult LinuxScripting::execute(const ChromiumRequest& request, const Browser& browser,
    const std::vector<BrowserBridge::Connection>& connections, std::chrono::milliseconds timeout)
{
    const LinuxApplication& application = *browser.application;
    const auto page = PageScriptRequest::read(request.script);
    if (!page)
        return sendFailure(
            errAEEventNotHandled, QStringLiteral("Sonaric's extension runs only Sonaric's page script."), {});

    std::optional<Listing> listing;
    {
        std::lock_guard lock(m_mutex);
        const auto cached = m_listings.find(request.process);
        if (cached != m_listings.end())
            listing = cached->second;
    }
    if (!listing) {
        auto listed = list(request.process, browser, connections, timeout);
        if (const auto* failure = std::get_if<Failure>(&listed))
            return sendFailure(failure->code, failure->message, failure->steps);
        listing = std::get<Listing>(std::move(listed));
    }
    if (request.window < 1 || request.window > int(listing->windows.size()))
        return noSuchTab();
    const Window& window = listing->windows[std::size_t(request.window - 1)];
    if (request.tab < 1 || request.tab > int(window.tabs.size()) || window.tabs[std::size_t(request.tab - 1)].id < 0)
        return noSuchTab();
    const auto connection = std::find_if(connections.begin(), connections.end(),
        [&](const BrowserBridge::Connection& each) { return each.id == window.connection; });
    if (connection == connections.end())
        return noSuchTab(); // that profile's window closed since the listing
    if (connection->scriptDigest != PageScriptRequest::digest(page->body))
        return sendFailure(errAEEventNotHandled, BrowserExtensionSetup::outdatedMessage(application),
            BrowserExtensionSetup::reloadExtensionSteps(application));

    const QJsonObject message {
        { QStringLiteral("type"), QStringLiteral("execute") },
        { QStringLiteral("tabId"), window.tabs[std::size_t(request.tab - 1)].id },
        { QStringLiteral("world"), page->pageWorld ? QStringLiteral("MAIN") : QStringLiteral("ISOLATED") },
        { QStringLiteral("pageWorld"), page->pageWorld },
        { QStringLiteral("want"), page->want },
    };
    const auto reply = m_bridge.request(connection->id, message, timeout);
    if (!reply) {
        if (m_bridge.connections(request.process).empty())
            return noSuchTab(); // the browser closed while the script ran
        return sendFailure(errAETimeout, BrowserExtensionSetup::timedOutMessage(application),
            BrowserExtensionSetup::reloadExtensionSteps(application));
    }
    const QJsonValue result = reply->value(QStringLiteral("result"));
    if (result.isString())
        return directReply(AppleEventDescriptor::string(result.toString()));
    const QString error = reply->value(QStringLiteral("error")).toString();
    if (error.isEmpty() || error == QStringLiteral("too-large"))
        return directReply(AppleEventDescriptor::missingValue()); // nothing to control, or a reply no page needs
    if (error == QStringLiteral("no-such-tab"))
        return noSuchTab();
    if (error == QStringLiteral("no-access"))
        return sendFailure(0, BrowserExtensionSetup::noAccessMessage(application),
            BrowserExtensionSetup::siteAccessSteps(application));
    return sendFailure(errAEEventNotHandled,
        QStringLiteral("%1 could not run Sonaric's page script: %2")
            .arg(application.name, reply->value(QStringLiteral("message")).toString().left(300)),
        { QStringLiteral("Reload the tab.") });
}

} // namespace sonaric
