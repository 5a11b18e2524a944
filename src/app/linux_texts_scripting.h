#pragma once

// The scripting service of the simulated system as a Linux user meets it. The simulated applications fail the
// way the other platform's do, and the connectors' own texts for those failures send the user to that platform's
// places (its Automation privacy pane, a browser's "Allow JavaScript from Apple Events"). This wrapper gives every
// failure that carries no steps of its own the steps the Linux scripting service gives in the same situation:
// Sonaric's browser extension and its folder, a browser's site access, restarting a media player.

#include "platform/scripting/scripting.h"

#include <QString>

#include <memory>

namespace sonaric
{

class Workspace;

class LinuxTextsScripting final : public Scripting
{
public:
    /// `workspace` names the application behind an event's process; `extensionFolder` is the folder the steps
    /// tell the user to load (the one the Linux service unpacks the extension into).
    LinuxTextsScripting(std::unique_ptr<Scripting> simulated, const Workspace& workspace, QString extensionFolder);

    AppleScriptExecution executeAppleScript(const QString& source, const QString& targetBundleID) override;
    AppleEventSendResult sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds) override;

    Scripting& simulated() { return *m_simulated; }

private:
    std::unique_ptr<Scripting> m_simulated;
    const Workspace& m_workspace;
    QString m_extensionFolder;
};

} // namespace sonaric
