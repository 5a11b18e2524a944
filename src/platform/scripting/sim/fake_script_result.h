#pragma once

// The results a fake application's AppleScript run gives, shared by the fake media applications and Safari.

#include "platform/scripting/scripting.h"

namespace sonaric
{

struct FakeScriptResult {
    static AppleScriptExecution failure(int number, const QString& message)
    {
        AppleScriptExecution execution;
        execution.errorInfo
            = QVariantMap { { NSAppleScriptErrorMessage, message }, { NSAppleScriptErrorNumber, number } };
        return execution;
    }

    static AppleScriptExecution success(const QString& text)
    {
        AppleScriptExecution execution;
        execution.result = AppleEventDescriptor::string(text);
        return execution;
    }

    /// What AppleScript says of a line the fake does not understand.
    static AppleScriptExecution syntaxError()
    {
        return failure(-2741, QStringLiteral("Expected end of line, etc. but found unknown token."));
    }
};

} // namespace sonaric
