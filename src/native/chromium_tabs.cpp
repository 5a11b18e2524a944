#include "native/chromium_tabs.h"

#include "native/browser_media_volume.h"
#include "native/native_volume_error.h"
#include "platform/scripting/scripting.h"
#include "platform/workspace/workspace.h"

namespace sonaric
{

namespace
{

constexpr double kSendTimeoutSeconds = 10;

AppleEventDescriptor objectSpecifier(
    FourCharCode want, const AppleEventDescriptor& from, FourCharCode form, const AppleEventDescriptor& seld)
{
    AppleEventDescriptor record = AppleEventDescriptor::record();
    record.setParamDescriptor(AppleEventDescriptor::typeCode(want), keyAEDesiredClass);
    record.setParamDescriptor(from, keyAEContainer);
    record.setParamDescriptor(AppleEventDescriptor::enumCode(form), keyAEKeyForm);
    record.setParamDescriptor(seld, keyAEKeyData);
    return *record.coerceToDescriptorType(typeObjectSpecifier);
}

AppleEventDescriptor everyElement(FourCharCode elementClass, const AppleEventDescriptor& container)
{
    const FourCharCode all = ChromiumTabs::code(QStringLiteral("all "));
    const QByteArray data(reinterpret_cast<const char*>(&all), sizeof all);
    return objectSpecifier(elementClass, container, ChromiumTabs::code(QStringLiteral("indx")),
        AppleEventDescriptor::withData(ChromiumTabs::code(QStringLiteral("abso")), data));
}

AppleEventDescriptor element(FourCharCode elementClass, std::int32_t index, const AppleEventDescriptor& container)
{
    return objectSpecifier(
        elementClass, container, ChromiumTabs::code(QStringLiteral("indx")), AppleEventDescriptor::int32(index));
}

AppleEventDescriptor property(FourCharCode propertyCode, const AppleEventDescriptor& container)
{
    return objectSpecifier(ChromiumTabs::code(QStringLiteral("prop")), container,
        ChromiumTabs::code(QStringLiteral("prop")), AppleEventDescriptor::typeCode(propertyCode));
}

AppleEventDescriptor getDataEvent(pid_t app, const AppleEventDescriptor& specifier)
{
    AppleEventDescriptor event = AppleEventDescriptor::appleEvent(ChromiumTabs::code(QStringLiteral("core")),
        ChromiumTabs::code(QStringLiteral("getd")), AppleEventDescriptor::processIdentifier(app), kAutoGenerateReturnID,
        kAnyTransactionID);
    event.setParamDescriptor(specifier, ChromiumTabs::code(QStringLiteral("----")));
    return event;
}

/// Sends an event and returns its direct parameter. -1728 (no such object: a tab closed meanwhile) gives no
/// result silently; any other failure is thrown through the source's `scriptFailure`.
std::optional<AppleEventDescriptor> send(
    Scripting& scripting, const AppleEventDescriptor& event, NativeVolumeSource source)
{
    const AppleEventSendResult result = scripting.sendAppleEvent(event, kSendTimeoutSeconds);
    if (result.error)
        throw NativeVolumeError::scriptFailure(
            source, result.error->code, result.error->localizedDescription, result.error->localizedRecoverySuggestion);
    if (!result.reply)
        return std::nullopt;
    const auto errorNumber = result.reply->paramDescriptorForKeyword(keyErrorNumber);
    const std::int32_t number = errorNumber ? errorNumber->int32Value() : 0;
    if (number == 0)
        return result.reply->paramDescriptorForKeyword(keyDirectObject);
    if (number == errAENoSuchObject)
        return std::nullopt;
    const auto errorText = result.reply->paramDescriptorForKeyword(keyErrorString);
    const auto text = errorText ? errorText->stringValue() : std::nullopt;
    const QString detail = text
        ? *text
        : source.appName() + QStringLiteral(" returned error ") + QString::number(number) + QStringLiteral(".");
    throw NativeVolumeError::scriptFailure(source, number, detail);
}

} // namespace

FourCharCode ChromiumTabs::code(const QString& text)
{
    FourCharCode value = 0;
    for (const char byte : text.toUtf8())
        value = (value << 8) | FourCharCode(std::uint8_t(byte));
    return value;
}

AppleEventDescriptor ChromiumTabs::tabURLsEvent(pid_t app)
{
    const AppleEventDescriptor windows
        = everyElement(code(QStringLiteral("cwin")), AppleEventDescriptor::nullDescriptor());
    const AppleEventDescriptor tabs = everyElement(code(QStringLiteral("CrTb")), windows);
    return getDataEvent(app, property(code(QStringLiteral("URL ")), tabs));
}

AppleEventDescriptor ChromiumTabs::activeTabsEvent(pid_t app)
{
    const AppleEventDescriptor windows
        = everyElement(code(QStringLiteral("cwin")), AppleEventDescriptor::nullDescriptor());
    return getDataEvent(app, property(code(QStringLiteral("acTI")), windows));
}

AppleEventDescriptor ChromiumTabs::executeEvent(const QString& script, std::int32_t window, std::int32_t tab, pid_t app)
{
    AppleEventDescriptor event
        = AppleEventDescriptor::appleEvent(code(QStringLiteral("CrSu")), code(QStringLiteral("ExJa")),
            AppleEventDescriptor::processIdentifier(app), kAutoGenerateReturnID, kAnyTransactionID);
    const AppleEventDescriptor windowSpecifier
        = element(code(QStringLiteral("cwin")), window, AppleEventDescriptor::nullDescriptor());
    event.setParamDescriptor(element(code(QStringLiteral("CrTb")), tab, windowSpecifier), code(QStringLiteral("----")));
    event.setParamDescriptor(AppleEventDescriptor::string(script), code(QStringLiteral("JvSc")));
    return event;
}

std::vector<std::pair<std::int32_t, std::int32_t>> ChromiumTabs::tabsToScan(
    Scripting& scripting, pid_t app, NativeVolumeSource source, const QStringList& mediaURLs)
{
    const auto urlReply = send(scripting, tabURLsEvent(app), source);
    if (!urlReply)
        return {};
    std::vector<QStringList> urls;
    for (int window = 1; window <= urlReply->numberOfItems(); ++window) {
        const AppleEventDescriptor tabs = *urlReply->descriptorAtIndex(window);
        QStringList windowURLs;
        for (int tab = 1; tab <= tabs.numberOfItems(); ++tab)
            windowURLs << tabs.descriptorAtIndex(tab)->stringValue().value_or(QString());
        urls.push_back(windowURLs);
    }
    std::vector<int> activeTabs;
    if (const auto activeReply = send(scripting, activeTabsEvent(app), source)) {
        for (std::size_t window = 1; window <= urls.size(); ++window) {
            const auto item = activeReply->descriptorAtIndex(int(window));
            activeTabs.push_back(item ? item->int32Value() : 0);
        }
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    for (const auto& [window, tab] : BrowserMediaVolume::tabsToScan(urls, activeTabs, mediaURLs))
        pairs.emplace_back(std::int32_t(window), std::int32_t(tab));
    return pairs;
}

std::optional<QStringList> ChromiumTabs::run(Scripting& scripting, const Workspace& workspace, const QString& script,
    NativeVolumeSource source, const QStringList& mediaURLs)
{
    std::vector<pid_t> processes;
    for (const RunningApplication& application : workspace.runningApplications()) {
        if (NativeVolumeSource::connector(application.bundleIdentifier) == source)
            processes.push_back(application.processIdentifier);
    }
    if (processes.empty())
        return std::nullopt;

    QStringList replies;
    std::optional<NativeVolumeError> firstError;
    const auto remember = [&](const NativeVolumeError& error) {
        if (!firstError)
            firstError = error;
    };
    for (const pid_t app : processes) {
        std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
        try {
            pairs = tabsToScan(scripting, app, source, mediaURLs);
        } catch (const NativeVolumeError& error) {
            remember(error);
            continue;
        }
        for (const auto& [window, tab] : pairs) {
            try {
                const auto reply = send(scripting, executeEvent(script, window, tab, app), source);
                const auto text = reply ? reply->stringValue() : std::nullopt;
                if (text && text->startsWith(u'{'))
                    replies << *text;
            } catch (const NativeVolumeError& error) {
                remember(error);
            }
        }
    }
    if (!replies.isEmpty())
        return replies;
    if (firstError)
        throw *firstError;
    return QStringList {};
}

} // namespace sonaric
