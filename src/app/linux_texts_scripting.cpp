#include "app/linux_texts_scripting.h"

#include "platform/scripting/linux/browser_extension_setup.h"
#include "platform/scripting/linux/mpris_volume.h"
#include "platform/workspace/linux_application_ids.h"
#include "platform/workspace/workspace.h"

namespace sonaric
{

namespace
{

const LinuxApplication* linuxApplication(const QString& id)
{
    const LinuxApplicationIds& table = LinuxApplicationIds::builtIn();
    const LinuxApplication* found = table.forBundleID(id);
    return found ? found : table.forDesktopID(id);
}

AppleEventSendResult sendFailure(int code, const QString& message, const QStringList& steps)
{
    return { std::nullopt, AppleEventSendError { code, message, steps } };
}

/// The browser's own text for page JavaScript it will not run for other programs.
bool blocksPageScripts(const QString& text)
{
    return text.contains(QStringLiteral("JavaScript"), Qt::CaseInsensitive)
        && (text.contains(QStringLiteral("Apple Events"), Qt::CaseInsensitive)
            || text.contains(QStringLiteral("AppleScript"), Qt::CaseInsensitive));
}

} // namespace

LinuxTextsScripting::LinuxTextsScripting(
    std::unique_ptr<Scripting> simulated, const Workspace& workspace, QString extensionFolder)
    : m_simulated(std::move(simulated))
    , m_workspace(workspace)
    , m_extensionFolder(std::move(extensionFolder))
{
}

AppleScriptExecution LinuxTextsScripting::executeAppleScript(const QString& source, const QString& targetBundleID)
{
    AppleScriptExecution execution = m_simulated->executeAppleScript(source, targetBundleID);
    if (!execution.errorInfo || execution.errorInfo->contains(NSLocalizedRecoverySuggestionErrorKey))
        return execution;
    QVariantMap& info = *execution.errorInfo;
    const LinuxApplication* application = linuxApplication(targetBundleID);
    const int number = info.value(NSAppleScriptErrorNumber).toInt();
    QStringList steps;
    if (application && !application->isBrowser() && (number == errAEEventNotPermitted || number == errAETimeout)) {
        // A media player is asked over its MPRIS interface, which needs no permission: one that does not answer
        // is what Linux has of a player that will not be controlled.
        info.insert(NSAppleScriptErrorNumber, errAETimeout);
        info.insert(NSAppleScriptErrorMessage, MprisVolume::timedOutMessage(application->name));
        steps = MprisVolume::timedOutSteps(application->name);
    } else if (application && application->isBrowser()) {
        steps = BrowserExtensionSetup::addExtensionSteps(*application, m_extensionFolder);
    }
    // An application without a Linux build (Safari, Music, TV) gets no steps rather than another platform's.
    info.insert(NSLocalizedRecoverySuggestionErrorKey, steps);
    return execution;
}

AppleEventSendResult LinuxTextsScripting::sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds)
{
    AppleEventSendResult result = m_simulated->sendAppleEvent(event, timeoutSeconds);
    const LinuxApplication* application = nullptr;
    if (const auto target = event.target()) {
        if (const auto pid = target->processIdentifierValue()) {
            if (const auto running = m_workspace.runningApplication(*pid))
                application = linuxApplication(running->bundleIdentifier);
        }
    }
    if (application && !application->isBrowser())
        application = nullptr;

    if (result.error) {
        if (result.error->localizedRecoverySuggestion)
            return result;
        if (!application)
            return sendFailure(result.error->code, result.error->localizedDescription, {});
        if (result.error->code == errAEEventNotPermitted)
            return sendFailure(procNotFound, BrowserExtensionSetup::notAnsweringMessage(*application),
                BrowserExtensionSetup::addExtensionSteps(*application, m_extensionFolder));
        if (result.error->code == errAETimeout)
            return sendFailure(errAETimeout, BrowserExtensionSetup::timedOutMessage(*application),
                BrowserExtensionSetup::reloadExtensionSteps(*application));
        return sendFailure(result.error->code, result.error->localizedDescription, {});
    }

    // A failure inside the page comes back in the reply; a closed tab (-1728) is no failure to explain.
    const auto number = result.reply ? result.reply->paramDescriptorForKeyword(keyErrorNumber) : std::nullopt;
    const std::int32_t code = number ? number->int32Value() : 0;
    if (code == 0 || code == errAENoSuchObject)
        return result;
    const auto text = result.reply->paramDescriptorForKeyword(keyErrorString);
    const QString message = text ? text->stringValue().value_or(QString()) : QString();
    if (application && blocksPageScripts(message))
        return sendFailure(0, BrowserExtensionSetup::noAccessMessage(*application),
            BrowserExtensionSetup::siteAccessSteps(*application));
    return sendFailure(code, message, { QStringLiteral("Reload the tab.") });
}

} // namespace sonaric
