#pragma once

#include "platform/scripting/scripting.h"

namespace sonaric
{

/// The scripting service of a Linux desktop until media players and browsers are driven natively: every
/// script and event is refused with an error the connectors show, never run or guessed at.
class UnavailableScripting final : public Scripting
{
public:
    static QString message()
    {
        return QStringLiteral("Sonaric cannot control other applications' own volume on this system yet.");
    }

    AppleScriptExecution executeAppleScript(const QString&, const QString&) override
    {
        AppleScriptExecution execution;
        execution.errorInfo
            = QVariantMap { { NSAppleScriptErrorMessage, message() }, { NSAppleScriptErrorNumber, -1708 } };
        return execution;
    }

    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor&, double) override
    {
        return AppleEventSendResult { std::nullopt, AppleEventSendError { -1708, message() } };
    }
};

} // namespace sonaric
