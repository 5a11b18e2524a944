#pragma once

// A headless Chromium started by a test with its own empty profile, driven through the DevTools protocol on
// loopback. Every request a page makes is answered by the test's loopback fixture server: URLs of other hosts
// (https://www.youtube.com/…) are rewritten to it before they leave the browser, invisibly to the page, and
// host resolution is switched off, so nothing but 127.0.0.1 is ever contacted.

#include "platform/scripting/linux/cdp_client.h"

#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace sonaric::test
{

class HeadlessChromium
{
public:
    struct Page {
        QString targetId;
        QString sessionId;
    };

    HeadlessChromium();
    ~HeadlessChromium();

    /// The Chromium executable ($SONARIC_CHROMIUM, else chromium or chromium-browser on PATH); empty if none.
    static QString executable();

    /// Starts the browser and connects to it; on failure returns false with `error` set.
    bool start(QString* error);
    /// Closes the browser (politely, then by force) and removes its profile.
    void stop();

    /// Where every page request is served from: "http://127.0.0.1:PORT".
    void setFixtureOrigin(const QString& origin) { m_origin = origin; }
    /// Before `start`: load this unpacked extension (and no other), in the new headless mode that runs them.
    void setExtension(const QString& folder) { m_extension = folder; }
    /// Before `start`: the browser's $XDG_RUNTIME_DIR (where a native-messaging host looks for Sonaric).
    void setRuntimeDirectory(const QString& folder) { m_runtimeDirectory = folder; }

    /// The browser's process and profile, while it runs.
    pid_t processId() const;
    QString profilePath() const;

    /// Opens a new tab (in a window of its own with `newWindow`) on `url` and waits for its load event.
    std::optional<Page> open(const QString& url, int timeoutMs = 20000, bool newWindow = false);
    void close(const Page& page);
    /// Whether the browser still has this target (a closed tab takes a moment to go).
    bool hasTarget(const QString& targetId);

    /// Runtime.evaluate in the page's own world, or in `contextId` (an isolated world).
    CdpClient::Reply evaluate(const Page& page, const QString& expression, std::optional<int> contextId = {});
    /// The string an expression evaluates to; absent when it threw or is not a string.
    std::optional<QString> evaluateString(
        const Page& page, const QString& expression, std::optional<int> contextId = {});
    /// A JSON-able value an expression evaluates to (through returnByValue).
    QJsonValue evaluateValue(const Page& page, const QString& expression, std::optional<int> contextId = {});
    /// A fresh isolated world in the page's main frame, as Chromium's extensions and automation get: the DOM is
    /// shared with the page, its JavaScript globals are not. Its execution context id.
    std::optional<int> isolatedWorld(const Page& page);
    /// Waits until `expression` evaluates to true in the page, at most `timeoutMs`.
    bool waitUntil(const Page& page, const QString& expression, int timeoutMs = 10000);

    CdpClient& client() { return *m_client; }

private:
    void onEvent(const CdpClient::Event& event);

    std::unique_ptr<QTemporaryDir> m_profile;
    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<CdpClient> m_client;
    QString m_origin;
    QString m_extension;
    QString m_runtimeDirectory;
};

} // namespace sonaric::test
