#include "platform/scripting/sim/fake_chromium_browsers.h"

#include <functional>

namespace sonaric
{

FakeChromiumBrowsers::FakeChromiumBrowsers(std::deque<FakeBrowser>& browsers, int& keyCounter)
    : m_browsers(browsers)
    , m_keyCounter(keyCounter)
{
}

AppleEventSendResult FakeChromiumBrowsers::send(const AppleEventDescriptor& event)
{
    const auto target = event.target();
    FakeBrowser* browser = nullptr;
    if (const auto pid = target ? target->processIdentifierValue() : std::nullopt) {
        for (auto& candidate : m_browsers) {
            if (candidate.pid == *pid && candidate.running && candidate.bundleID != kSafariBundleID)
                browser = &candidate;
        }
    }
    if (!browser)
        return { std::nullopt,
            AppleEventSendError { procNotFound,
                QStringLiteral("procNotFound: no eligible process with specified "
                               "descriptor") } };
    if (browser->refusesAutomation)
        return { std::nullopt,
            AppleEventSendError { errAEEventNotPermitted,
                QStringLiteral("Not authorized to send Apple events to %1.").arg(browser->appName) } };
    if (browser->timesOut)
        return { std::nullopt, AppleEventSendError { errAETimeout, QStringLiteral("AppleEvent timed out.") } };
    return handle(*browser, event);
}

namespace
{

AppleEventDescriptor replyEvent()
{
    return AppleEventDescriptor::appleEvent(
        fourCharCode("aevt"), fourCharCode("ansr"), AppleEventDescriptor::nullDescriptor(), 0, 0);
}

AppleEventSendResult errorReply(int number, const std::optional<QString>& message = std::nullopt)
{
    AppleEventDescriptor reply = replyEvent();
    reply.setParamDescriptor(AppleEventDescriptor::int32(number), keyErrorNumber);
    if (message)
        reply.setParamDescriptor(AppleEventDescriptor::string(*message), keyErrorString);
    return { reply, std::nullopt };
}

AppleEventSendResult directReply(const AppleEventDescriptor& value)
{
    AppleEventDescriptor reply = replyEvent();
    reply.setParamDescriptor(value, keyDirectObject);
    return { reply, std::nullopt };
}

bool hasCode(const std::optional<AppleEventDescriptor>& descriptor, DescType type, FourCharCode code)
{
    return descriptor && descriptor->descriptorType() == type && descriptor->typeCodeValue() == code;
}

/// An object specifier for every element of `elementClass` in `container`.
bool isEveryElement(const std::optional<AppleEventDescriptor>& specifier, FourCharCode elementClass,
    const std::function<bool(const std::optional<AppleEventDescriptor>&)>& container)
{
    return specifier && specifier->descriptorType() == typeObjectSpecifier
        && hasCode(specifier->paramDescriptorForKeyword(keyAEDesiredClass), typeType, elementClass)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyForm), typeEnumerated, formAbsolutePosition)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyData), typeAbsoluteOrdinal, kAEAll)
        && container(specifier->paramDescriptorForKeyword(keyAEContainer));
}

/// An object specifier for element `index` of `elementClass` in `container`; the index, or absent.
std::optional<int> indexedElement(const std::optional<AppleEventDescriptor>& specifier, FourCharCode elementClass)
{
    if (!specifier || specifier->descriptorType() != typeObjectSpecifier
        || !hasCode(specifier->paramDescriptorForKeyword(keyAEDesiredClass), typeType, elementClass)
        || !hasCode(specifier->paramDescriptorForKeyword(keyAEKeyForm), typeEnumerated, formAbsolutePosition))
        return std::nullopt;
    const auto data = specifier->paramDescriptorForKeyword(keyAEKeyData);
    if (!data || data->descriptorType() != typeSInt32)
        return std::nullopt;
    return data->int32Value();
}

bool isApplication(const std::optional<AppleEventDescriptor>& container)
{
    return container && container->descriptorType() == typeNull;
}

/// A property specifier `property` of `container`.
bool isProperty(const std::optional<AppleEventDescriptor>& specifier, FourCharCode property,
    const std::function<bool(const std::optional<AppleEventDescriptor>&)>& container)
{
    return specifier && specifier->descriptorType() == typeObjectSpecifier
        && hasCode(specifier->paramDescriptorForKeyword(keyAEDesiredClass), typeType, cProperty)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyForm), typeEnumerated, formPropertyID)
        && hasCode(specifier->paramDescriptorForKeyword(keyAEKeyData), typeType, property)
        && container(specifier->paramDescriptorForKeyword(keyAEContainer));
}

} // namespace

AppleEventSendResult FakeChromiumBrowsers::handle(FakeBrowser& browser, const AppleEventDescriptor& event)
{
    const FourCharCode window = fourCharCode("cwin");
    const FourCharCode tab = fourCharCode("CrTb");
    const auto direct = event.paramDescriptorForKeyword(keyDirectObject);
    const auto everyWindow = [&](const std::optional<AppleEventDescriptor>& container) {
        return isEveryElement(container, window, isApplication);
    };
    const auto everyTabOfEveryWindow = [&](const std::optional<AppleEventDescriptor>& container) {
        return isEveryElement(container, tab, everyWindow);
    };

    if (event.eventClass() == kAECoreSuite && event.eventID() == kAEGetData) {
        if (browser.getDataError)
            return errorReply(browser.getDataError->number, browser.getDataError->message);
        if (isProperty(direct, fourCharCode("URL "), everyTabOfEveryWindow)) {
            auto windows = AppleEventDescriptor::list();
            for (const FakeWindow& each : browser.windows) {
                auto urls = AppleEventDescriptor::list();
                for (const FakeTab& fakeTab : each.tabs) {
                    urls.insertDescriptor(fakeTab.url.isNull() ? AppleEventDescriptor::missingValue()
                                                               : AppleEventDescriptor::string(fakeTab.url));
                }
                windows.insertDescriptor(urls);
            }
            return directReply(windows);
        }
        if (isProperty(direct, fourCharCode("acTI"), everyWindow)) {
            auto indexes = AppleEventDescriptor::list();
            for (const FakeWindow& each : browser.windows)
                indexes.insertDescriptor(AppleEventDescriptor::int32(each.activeTab));
            return directReply(indexes);
        }
        return errorReply(errAEEventNotHandled);
    }

    if (event.eventClass() == fourCharCode("CrSu") && event.eventID() == fourCharCode("ExJa")) {
        const auto script = event.paramDescriptorForKeyword(fourCharCode("JvSc"));
        const auto tabIndex = indexedElement(direct, tab);
        const auto container = direct ? direct->paramDescriptorForKeyword(keyAEContainer) : std::nullopt;
        const auto windowIndex = indexedElement(container, window);
        if (!script || !script->stringValue() || !tabIndex || !windowIndex
            || !isApplication(container->paramDescriptorForKeyword(keyAEContainer)))
            return errorReply(errAEEventNotHandled);
        if (*windowIndex < 1 || *windowIndex > int(browser.windows.size()))
            return errorReply(errAENoSuchObject);
        FakeWindow& fakeWindow = browser.windows[std::size_t(*windowIndex - 1)];
        if (*tabIndex < 1 || *tabIndex > int(fakeWindow.tabs.size()))
            return errorReply(errAENoSuchObject);
        FakeTab& fakeTab = fakeWindow.tabs[std::size_t(*tabIndex - 1)];
        if (fakeTab.closesBeforeExecute)
            return errorReply(errAENoSuchObject);
        if (browser.javaScriptBlocked)
            return errorReply(12,
                QStringLiteral("Executing JavaScript through AppleScript is turned off. To turn it on, from the menu "
                               "bar, go to View > Developer > Allow JavaScript from Apple Events."));
        const PageEvaluation evaluation = evaluatePage(fakeTab, *script->stringValue(), m_keyCounter);
        if (evaluation.error)
            return errorReply(evaluation.error->number, evaluation.error->message);
        if (!evaluation.reply)
            return directReply(AppleEventDescriptor::missingValue());
        return directReply(AppleEventDescriptor::string(*evaluation.reply));
    }
    return errorReply(errAEEventNotHandled);
}

} // namespace sonaric
