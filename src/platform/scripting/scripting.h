#pragma once

// The scripting service: running AppleScript source and sending Apple events to other applications, in the
// vocabulary of NSAppleScript and NSAppleEventDescriptor. The native connectors (src/native) are its only users.

#include "platform/scripting/apple_event_descriptor.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace sonaric
{

/// The error-dictionary keys of NSAppleScript.
inline const QString NSAppleScriptErrorMessage = QStringLiteral("NSAppleScriptErrorMessage");
inline const QString NSAppleScriptErrorNumber = QStringLiteral("NSAppleScriptErrorNumber");
/// The error-dictionary key of a failure's recovery suggestion. Here it holds the platform's own numbered fix-it
/// steps (a QStringList): a platform whose places differ from the ones the connectors name (the Automation
/// privacy pane, the browsers' "Allow JavaScript from Apple Events") says what is true there instead.
inline const QString NSLocalizedRecoverySuggestionErrorKey = QStringLiteral("NSLocalizedRecoverySuggestion");

/// What running one AppleScript text gave.
struct AppleScriptExecution {
    /// False when the text could not be made into a script object at all (NSAppleScript's initializer failed).
    bool created = true;
    /// The script's result, when it ran without error.
    std::optional<AppleEventDescriptor> result;
    /// The error dictionary, when it failed: NSAppleScriptErrorMessage (text) and NSAppleScriptErrorNumber
    /// (number), either of which may be missing or of another type.
    std::optional<QVariantMap> errorInfo;
};

/// An error of the sending itself (an NSError): its code and localized description.
struct AppleEventSendError {
    int code = 0;
    QString localizedDescription;
    /// The platform's numbered fix-it steps, when it knows them (see NSLocalizedRecoverySuggestionErrorKey).
    std::optional<QStringList> localizedRecoverySuggestion = std::nullopt;
    bool operator==(const AppleEventSendError&) const = default;
};

/// What sending one Apple event gave: the reply event (with its direct parameter, "errn" and "errs"), or a
/// failure to send or to get a reply in time.
struct AppleEventSendResult {
    std::optional<AppleEventDescriptor> reply;
    std::optional<AppleEventSendError> error;
};

class Scripting
{
public:
    virtual ~Scripting() = default;

    /// Compiles and runs an AppleScript text that addresses the application with `targetBundleID`, waiting for
    /// it to finish. Safe to call from any thread; callers serialise AppleScript themselves.
    virtual AppleScriptExecution executeAppleScript(const QString& source, const QString& targetBundleID) = 0;

    /// Sends an Apple event (its target is part of the event) with the default send options (wait for the
    /// reply, user interaction allowed) and waits at most `timeoutSeconds` for the reply.
    virtual AppleEventSendResult sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds) = 0;
};

} // namespace sonaric
