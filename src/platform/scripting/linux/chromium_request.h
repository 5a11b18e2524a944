#pragma once

#include "platform/scripting/apple_event_descriptor.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace sonaric
{

/// What one Apple event of the Chromium tab connector asks, read back from the event: the URL of every tab of
/// every window, the active tab of every window, or running a script in one tab. The connector sends exactly
/// these three shapes, addressed to a browser process; anything else gives nothing.
struct ChromiumRequest {
    enum class Kind { tabURLs, activeTabs, executeJavaScript };

    Kind kind = Kind::tabURLs;
    pid_t process = 0;
    int window = 0; ///< executeJavaScript: 1-based
    int tab = 0; ///< executeJavaScript: 1-based
    QString script; ///< executeJavaScript: the text, unescaped

    static std::optional<ChromiumRequest> read(const AppleEventDescriptor& event);
};

/// The page media script as the browser connector builds it, taken apart: where it runs, the wanted states (as
/// the JSON the extension's copy of the script takes), and the fixed body, which must be the body that copy was
/// built from. Absent for any other text: Sonaric's extension runs nothing but its own copy of the script.
struct PageScriptRequest {
    bool pageWorld = false; ///< true: the page's own world; false: an isolated world
    QJsonObject want; ///< tab key → {"volume": percent, "muted": bool}
    QString body; ///< from the "};" that closes `want` to the end

    static std::optional<PageScriptRequest> read(const QString& script);
    /// SHA-256 of the body's UTF-8, in lower-case hex: what the extension reports for its copy.
    static QByteArray digest(const QString& body);
};

} // namespace sonaric
