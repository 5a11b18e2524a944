#include "platform/scripting/sim/simulated_scripting.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <thread>

namespace sonaric
{

namespace
{

const QString kSafariBundleID = QStringLiteral("com.apple.Safari");

QVariantMap errorInfo(int number, const QString& message)
{
    return QVariantMap { { NSAppleScriptErrorMessage, message }, { NSAppleScriptErrorNumber, number } };
}

AppleScriptExecution failed(int number, const QString& message)
{
    AppleScriptExecution execution;
    execution.errorInfo = errorInfo(number, message);
    return execution;
}

AppleScriptExecution succeeded(const QString& text)
{
    AppleScriptExecution execution;
    execution.result = AppleEventDescriptor::string(text);
    return execution;
}

AppleScriptExecution syntaxError()
{
    return failed(-2741, QStringLiteral("Expected end of line, etc. but found unknown token."));
}

/// Reads an AppleScript string literal starting at the opening quote `from`; returns the text and moves `from`
/// past the closing quote. AppleScript knows the escapes \\, \", \n, \t and \r.
std::optional<QString> readStringLiteral(const QString& text, qsizetype& from)
{
    if (from >= text.size() || text.at(from) != u'"')
        return std::nullopt;
    QString value;
    for (qsizetype i = from + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            from = i + 1;
            return value;
        }
        if (c != u'\\') {
            value += c;
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text.at(i).unicode()) {
        case '\\':
            value += u'\\';
            break;
        case '"':
            value += u'"';
            break;
        case 'n':
            value += u'\n';
            break;
        case 't':
            value += u'\t';
            break;
        case 'r':
            value += u'\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

/// What one evaluation of the page script in a tab gives.
struct PageEvaluation {
    std::optional<QString> reply; ///< absent: missing value
    std::optional<FakeScriptError> error;
};

const QRegularExpression& keyPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9]{4,40}$"));
    return pattern;
}

/// Runs "the page media script" in a fake tab: reads `pageWorld` and `want` from the script's head, applies the
/// entry for the tab's key and replies as the real script would.
PageEvaluation evaluatePage(FakeTab& tab, const QString& script, int& keyCounter)
{
    ++tab.evaluations;
    if (tab.error)
        return { std::nullopt, tab.error };
    static const QRegularExpression head(QStringLiteral("^\\(\\(\\) => \\{\\n    const pageWorld = (true|false);\\n    "
                                                        "const want = \\{(.*?)\\};\\n    const host = "
                                                        "location\\.hostname;"),
        QRegularExpression::DotMatchesEverythingOption);
    const auto match = head.match(script);
    if (!match.hasMatch())
        return {}; // a script this page cannot run: no result, as a JavaScript error gives
    tab.lastPageWorld = match.captured(1) == QStringLiteral("true");
    tab.lastWant = match.captured(2);
    if (tab.missingValue)
        return {};
    if (tab.rawReply)
        return { *tab.rawReply, std::nullopt };
    if (!tab.page)
        return { QStringLiteral("skip"), std::nullopt };
    FakePage& page = *tab.page;
    if (!keyPattern().match(page.key).hasMatch())
        page.key = QStringLiteral("simtab%1").arg(++keyCounter);
    static const QRegularExpression entry(
        QStringLiteral("'([a-z0-9]{4,40})': \\{volume: (-?[0-9]+), muted: (true|false)\\}"));
    for (auto it = entry.globalMatch(tab.lastWant); it.hasNext();) {
        const auto wanted = it.next();
        if (wanted.captured(1) != page.key)
            continue;
        page.volume = std::clamp(wanted.captured(2).toInt(), 0, 100);
        page.muted = wanted.captured(3) == QStringLiteral("true");
    }
    QJsonObject reply { { QStringLiteral("key"), page.key }, { QStringLiteral("title"), page.title },
        { QStringLiteral("url"), tab.url }, { QStringLiteral("playing"), page.playing },
        { QStringLiteral("visible"), page.visible }, { QStringLiteral("volume"), page.volume },
        { QStringLiteral("muted"), page.muted } };
    return { QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Compact)), std::nullopt };
}

/// The Safari connector script with its three variable parts cut out; the fake Safari runs only this shape.
const QString& safariSkeleton()
{
    static const QString skeleton = QStringLiteral(
        "set replies to {}\n"
        "set firstError to missing value\n"
        "set mediaURLs to {@URLS@}\n"
        "if application \"Safari\" is not running then return \"not-running\"\n"
        "tell application \"Safari\"\n"
        "    with timeout of 10 seconds\n"
        "        repeat with browserWindow in windows\n"
        "            set windowTabs to {}\n"
        "            set activeIndex to 0\n"
        "            try\n"
        "                set windowTabs to tabs of browserWindow\n"
        "                set activeIndex to index of current tab of browserWindow\n"
        "            end try\n"
        "            set tabIndex to 0\n"
        "            repeat with browserTab in windowTabs\n"
        "                set tabIndex to tabIndex + 1\n"
        "                set tabURL to URL of browserTab\n"
        "                if tabURL is missing value then set tabURL to \"\"\n"
        "                if (tabIndex is activeIndex and (tabURL starts with \"https://\" or tabURL starts with "
        "\"http://\")) or tabURL is in mediaURLs or my isMediaSite(tabURL) then\n"
        "                    try\n"
        "                        set tabReply to do JavaScript @SCRIPT@ in browserTab\n"
        "                        if tabReply is not missing value and tabReply is not \"skip\" then set end of "
        "replies to tabReply\n"
        "                    on error errorMessage number errorNumber\n"
        "                        if firstError is missing value then set firstError to {errorMessage, "
        "errorNumber}\n"
        "                    end try\n"
        "                end if\n"
        "            end repeat\n"
        "        end repeat\n"
        "    end timeout\n"
        "end tell\n"
        "if replies is {} and firstError is not missing value then error (item 1 of firstError) number (item 2 "
        "of firstError)\n"
        "set AppleScript's text item delimiters to \",\"\n"
        "set replyText to replies as text\n"
        "set AppleScript's text item delimiters to \"\"\n"
        "return \"[\" & replyText & \"]\"\n"
        "\n"
        "on isMediaSite(u)\n"
        "    if u does not start with \"https://\" then return false\n"
        "    set savedDelimiters to AppleScript's text item delimiters\n"
        "    set AppleScript's text item delimiters to \"/\"\n"
        "    try\n"
        "        set h to text item 3 of u\n"
        "    on error\n"
        "        set h to \"\"\n"
        "    end try\n"
        "    set AppleScript's text item delimiters to savedDelimiters\n"
        "    return @SITES@\n"
        "end isMediaSite");
    return skeleton;
}

} // namespace

FakeMediaApp& SimulatedScripting::addApp(FakeMediaApp app)
{
    std::lock_guard lock(m_mutex);
    return m_apps.emplace_back(std::move(app));
}

FakeBrowser& SimulatedScripting::addBrowser(FakeBrowser browser)
{
    std::lock_guard lock(m_mutex);
    return m_browsers.emplace_back(std::move(browser));
}

FakeMediaApp* SimulatedScripting::app(const QString& bundleID)
{
    std::lock_guard lock(m_mutex);
    for (auto& app : m_apps) {
        if (app.bundleID == bundleID)
            return &app;
    }
    return nullptr;
}

FakeBrowser* SimulatedScripting::browser(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    for (auto& browser : m_browsers) {
        if (browser.pid == pid)
            return &browser;
    }
    return nullptr;
}

FakeBrowser* SimulatedScripting::browser(const QString& bundleID)
{
    std::lock_guard lock(m_mutex);
    for (auto& browser : m_browsers) {
        if (browser.bundleID == bundleID)
            return &browser;
    }
    return nullptr;
}

void SimulatedScripting::failNextScriptCreations(int count)
{
    std::lock_guard lock(m_mutex);
    m_failCreations = count;
}

void SimulatedScripting::setScriptDuration(std::chrono::milliseconds duration)
{
    std::lock_guard lock(m_mutex);
    m_scriptDuration = duration;
}

QStringList SimulatedScripting::executedScripts() const
{
    std::lock_guard lock(m_mutex);
    return m_scripts;
}

std::vector<AppleEventDescriptor> SimulatedScripting::sentEvents() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<double> SimulatedScripting::sentTimeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

void SimulatedScripting::clearLog()
{
    std::lock_guard lock(m_mutex);
    m_scripts.clear();
    m_events.clear();
    m_timeouts.clear();
}

AppleScriptExecution SimulatedScripting::executeAppleScript(const QString& source, const QString& targetBundleID)
{
    const int running = ++m_running;
    for (int seen = m_maxConcurrent.load(); running > seen && !m_maxConcurrent.compare_exchange_weak(seen, running);) {
    }
    std::chrono::milliseconds duration;
    {
        std::lock_guard lock(m_mutex);
        duration = m_scriptDuration;
    }
    if (duration.count() > 0)
        std::this_thread::sleep_for(duration);

    AppleScriptExecution execution;
    {
        std::lock_guard lock(m_mutex);
        m_scripts << source;
        if (m_failCreations > 0) {
            --m_failCreations;
            execution.created = false;
        } else if (source.trimmed().isEmpty()) {
            execution.created = false;
        } else if (targetBundleID == kSafariBundleID) {
            execution = runSafariScript(source);
        } else {
            execution = runAppScript(source);
        }
    }
    --m_running;
    return execution;
}

AppleScriptExecution SimulatedScripting::runAppScript(const QString& source)
{
    const QStringList lines = source.split(u'\n');
    static const QRegularExpression targetLine(QStringLiteral("^set targetID to \"([^\"\\\\]*)\"$"));
    const auto target = lines.isEmpty() ? QRegularExpressionMatch() : targetLine.match(lines.first());
    if (lines.size() < 7 || !target.hasMatch()
        || lines[1] != QStringLiteral("if application id targetID is not running then return \"not-running\"")
        || lines[2] != QStringLiteral("tell application id targetID")
        || lines[3] != QStringLiteral("    with timeout of 10 seconds")
        || lines[lines.size() - 2] != QStringLiteral("    end timeout") || lines.last() != QStringLiteral("end tell"))
        return syntaxError();

    FakeMediaApp* app = nullptr;
    for (auto& candidate : m_apps) {
        if (candidate.bundleID == target.captured(1))
            app = &candidate;
    }
    if (!app || !app->running)
        return succeeded(QStringLiteral("not-running"));
    const QString appName = app->bundleID == QStringLiteral("com.spotify.client") ? QStringLiteral("Spotify")
                                                                                  : app->bundleID.section(u'.', -1);
    if (app->refusesAutomation)
        return failed(
            errAEEventNotPermitted, QStringLiteral("Not authorized to send Apple events to %1.").arg(appName));
    if (app->timesOut)
        return failed(errAETimeout, QStringLiteral("%1 got an error: AppleEvent timed out.").arg(appName));

    static const QRegularExpression setVolume(QStringLiteral("^        set «property pVol» to ([0-9]+)$"));
    static const QRegularExpression setMute(QStringLiteral("^        set «property pMut» to (true|false)$"));
    const QString volumeQuery = QStringLiteral("        return (get «property pVol») as text");
    const QString bothQuery
        = QStringLiteral("        return ((get «property pVol») as text) & \",\" & ((get «property pMut») as text)");
    const auto noMute = [&] {
        return failed(errAENoSuchObject, QStringLiteral("%1 got an error: Can’t get «property pMut».").arg(appName));
    };

    // Lines 5 … n-3 are the commands (or one empty line of 8 spaces), line n-2 the query.
    const qsizetype queryIndex = lines.size() - 3;
    const QStringList commands = lines.mid(4, queryIndex - 4);
    if (commands.isEmpty())
        return syntaxError();
    if (!(commands.size() == 1 && commands.first() == QStringLiteral("        "))) {
        for (const QString& command : commands) {
            if (const auto volume = setVolume.match(command); volume.hasMatch()) {
                app->volume = std::clamp(volume.captured(1).toInt(), 0, 100);
                app->commands.push_back(QStringLiteral("pVol=") + volume.captured(1));
            } else if (const auto mute = setMute.match(command); mute.hasMatch()) {
                if (!app->hasMute)
                    return noMute();
                app->muted = mute.captured(1) == QStringLiteral("true");
                app->commands.push_back(QStringLiteral("pMut=") + mute.captured(1));
            } else {
                return syntaxError();
            }
        }
    }
    const QString& query = lines[queryIndex];
    if (query == volumeQuery)
        return succeeded(QString::number(app->volume));
    if (query == bothQuery) {
        if (!app->hasMute)
            return noMute();
        return succeeded(
            QString::number(app->volume) + u',' + (app->muted ? QStringLiteral("true") : QStringLiteral("false")));
    }
    return syntaxError();
}

AppleScriptExecution SimulatedScripting::runSafariScript(const QString& source)
{
    // Cut out the page script literal, the remembered URLs and the media-site clauses; the rest must be the
    // connector's script exactly.
    const QString javaScriptStart = QStringLiteral("set tabReply to do JavaScript ");
    qsizetype literalStart = source.indexOf(javaScriptStart);
    if (literalStart < 0)
        return syntaxError();
    literalStart += javaScriptStart.size();
    qsizetype literalEnd = literalStart;
    const auto pageScript = readStringLiteral(source, literalEnd);
    if (!pageScript)
        return syntaxError();
    QString rest = source.left(literalStart) + QStringLiteral("@SCRIPT@") + source.mid(literalEnd);

    static const QRegularExpression urlsLine(
        QStringLiteral("^set mediaURLs to \\{(.*)\\}$"), QRegularExpression::MultilineOption);
    const auto urls = urlsLine.match(rest);
    if (!urls.hasMatch())
        return syntaxError();
    QStringList mediaURLs;
    const QString urlList = urls.captured(1);
    for (qsizetype at = 0; at < urlList.size();) {
        const auto url = readStringLiteral(urlList, at);
        if (!url)
            return syntaxError();
        mediaURLs << *url;
        if (at < urlList.size()) {
            if (!urlList.mid(at).startsWith(QStringLiteral(", ")))
                return syntaxError();
            at += 2;
        }
    }
    rest.replace(urls.capturedStart(1), urls.capturedLength(1), QStringLiteral("@URLS@"));

    static const QRegularExpression sitesLine(
        QStringLiteral("^    return (h is .*)$"), QRegularExpression::MultilineOption);
    static const QRegularExpression clause(QStringLiteral("^h is \"([^\"]+)\" or h ends with \"\\.([^\"]+)\"$"));
    const auto sitesMatch = sitesLine.match(rest);
    if (!sitesMatch.hasMatch())
        return syntaxError();
    QStringList sites;
    for (const QString& part : sitesMatch.captured(1).split(QStringLiteral(" or h is "))) {
        const QString text = part.startsWith(QStringLiteral("h is ")) ? part : QStringLiteral("h is ") + part;
        const auto site = clause.match(text);
        if (!site.hasMatch() || site.captured(1) != site.captured(2))
            return syntaxError();
        sites << site.captured(1);
    }
    rest.replace(sitesMatch.capturedStart(1), sitesMatch.capturedLength(1), QStringLiteral("@SITES@"));
    if (rest != safariSkeleton())
        return syntaxError();

    FakeBrowser* safari = nullptr;
    for (auto& browser : m_browsers) {
        if (browser.bundleID == kSafariBundleID && browser.running) {
            safari = &browser;
            break;
        }
    }
    if (!safari)
        return succeeded(QStringLiteral("not-running"));
    if (safari->refusesAutomation)
        return failed(errAEEventNotPermitted, QStringLiteral("Not authorized to send Apple events to Safari."));
    if (safari->timesOut)
        return failed(errAETimeout, QStringLiteral("Safari got an error: AppleEvent timed out."));

    // AppleScript compares text without regard to case.
    const auto isMediaSite = [&](const QString& u) {
        if (!u.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive))
            return false;
        const QString h = u.section(u'/', 2, 2);
        return std::any_of(sites.cbegin(), sites.cend(), [&](const QString& site) {
            return h.compare(site, Qt::CaseInsensitive) == 0 || h.endsWith(u'.' + site, Qt::CaseInsensitive);
        });
    };
    QStringList replies;
    std::optional<FakeScriptError> firstError;
    for (FakeWindow& window : safari->windows) {
        int tabIndex = 0;
        for (FakeTab& tab : window.tabs) {
            ++tabIndex;
            const QString tabURL = tab.url.isNull() ? QString() : tab.url;
            const bool web = tabURL.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive)
                || tabURL.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive);
            const bool remembered = mediaURLs.contains(tabURL, Qt::CaseInsensitive);
            if (!((tabIndex == window.activeTab && web) || remembered || isMediaSite(tabURL)))
                continue;
            std::optional<FakeScriptError> error;
            std::optional<QString> reply;
            if (tab.closesBeforeExecute) {
                error = FakeScriptError { errAENoSuchObject, QStringLiteral("Safari got an error: Can’t get tab.") };
            } else if (safari->javaScriptBlocked) {
                error = FakeScriptError { 8,
                    QStringLiteral("You must enable the 'Allow JavaScript from Apple Events' option in Safari's "
                                   "Develop menu to use 'do JavaScript'.") };
            } else {
                const PageEvaluation evaluation = evaluatePage(tab, *pageScript, m_keyCounter);
                error = evaluation.error;
                reply = evaluation.reply;
            }
            if (error) {
                if (!firstError) {
                    firstError = error;
                    if (!firstError->message)
                        firstError->message = QStringLiteral("Safari got an error: %1").arg(error->number);
                }
                continue;
            }
            if (reply && reply->compare(QStringLiteral("skip"), Qt::CaseInsensitive) != 0)
                replies << *reply;
        }
    }
    if (replies.isEmpty() && firstError)
        return failed(firstError->number, *firstError->message);
    return succeeded(u'[' + replies.join(u',') + u']');
}

AppleEventSendResult SimulatedScripting::sendAppleEvent(const AppleEventDescriptor& event, double timeoutSeconds)
{
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
    m_timeouts.push_back(timeoutSeconds);
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
    return handleEvent(*browser, event);
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

AppleEventSendResult SimulatedScripting::handleEvent(FakeBrowser& browser, const AppleEventDescriptor& event)
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

std::unique_ptr<SimulatedScripting> SimulatedScripting::fromJson(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("scripting: %1").arg(parseError.errorString());
        return nullptr;
    }
    auto scripting = std::make_unique<SimulatedScripting>();
    const QJsonObject root = document.object();
    for (const QJsonValue& value : root.value(QStringLiteral("apps")).toArray()) {
        const QJsonObject object = value.toObject();
        FakeMediaApp app;
        app.bundleID = object.value(QStringLiteral("bundleID")).toString();
        app.running = object.value(QStringLiteral("running")).toBool(true);
        app.volume = object.value(QStringLiteral("volume")).toInt(50);
        app.muted = object.value(QStringLiteral("muted")).toBool(false);
        app.hasMute
            = object.value(QStringLiteral("hasMute")).toBool(app.bundleID != QStringLiteral("com.spotify.client"));
        app.refusesAutomation = object.value(QStringLiteral("refusesAutomation")).toBool(false);
        app.timesOut = object.value(QStringLiteral("timesOut")).toBool(false);
        if (app.bundleID.isEmpty()) {
            if (error)
                *error = QStringLiteral("scripting: an app without bundleID");
            return nullptr;
        }
        scripting->addApp(std::move(app));
    }
    for (const QJsonValue& value : root.value(QStringLiteral("browsers")).toArray()) {
        const QJsonObject object = value.toObject();
        FakeBrowser browser;
        browser.bundleID = object.value(QStringLiteral("bundleID")).toString();
        browser.appName = object.value(QStringLiteral("appName")).toString(browser.bundleID);
        browser.pid = object.value(QStringLiteral("pid")).toInt();
        browser.running = object.value(QStringLiteral("running")).toBool(true);
        browser.refusesAutomation = object.value(QStringLiteral("refusesAutomation")).toBool(false);
        browser.javaScriptBlocked = object.value(QStringLiteral("javaScriptBlocked")).toBool(false);
        for (const QJsonValue& windowValue : object.value(QStringLiteral("windows")).toArray()) {
            const QJsonObject windowObject = windowValue.toObject();
            FakeWindow window;
            window.activeTab = windowObject.value(QStringLiteral("activeTab")).toInt(1);
            for (const QJsonValue& tabValue : windowObject.value(QStringLiteral("tabs")).toArray()) {
                const QJsonObject tabObject = tabValue.toObject();
                FakeTab tab;
                tab.url = tabObject.value(QStringLiteral("url")).toString();
                if (tabObject.contains(QStringLiteral("reply")))
                    tab.rawReply = tabObject.value(QStringLiteral("reply")).toString();
                if (tabObject.contains(QStringLiteral("page"))) {
                    const QJsonObject pageObject = tabObject.value(QStringLiteral("page")).toObject();
                    FakePage page;
                    page.key = pageObject.value(QStringLiteral("key")).toString();
                    page.title = pageObject.value(QStringLiteral("title")).toString();
                    page.playing = pageObject.value(QStringLiteral("playing")).toBool(true);
                    page.visible = pageObject.value(QStringLiteral("visible")).toBool(true);
                    page.volume = pageObject.value(QStringLiteral("volume")).toInt(100);
                    page.muted = pageObject.value(QStringLiteral("muted")).toBool(false);
                    tab.page = page;
                }
                window.tabs.push_back(std::move(tab));
            }
            browser.windows.push_back(std::move(window));
        }
        if (browser.bundleID.isEmpty()) {
            if (error)
                *error = QStringLiteral("scripting: a browser without bundleID");
            return nullptr;
        }
        scripting->addBrowser(std::move(browser));
    }
    return scripting;
}

} // namespace sonaric
