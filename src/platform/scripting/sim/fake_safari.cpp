#include "platform/scripting/sim/fake_safari.h"

#include "platform/scripting/sim/fake_script_result.h"
#include "platform/scripting/sim/safari_connector_script.h"

#include <algorithm>

namespace sonaric
{

FakeSafari::FakeSafari(std::deque<FakeBrowser>& browsers, int& keyCounter)
    : m_browsers(browsers)
    , m_keyCounter(keyCounter)
{
}

AppleScriptExecution FakeSafari::run(const QString& source)
{
    const auto script = SafariConnectorScript::read(source);
    if (!script)
        return FakeScriptResult::syntaxError();

    FakeBrowser* safari = nullptr;
    for (auto& browser : m_browsers) {
        if (browser.bundleID == kSafariBundleID && browser.running) {
            safari = &browser;
            break;
        }
    }
    if (!safari)
        return FakeScriptResult::success(QStringLiteral("not-running"));
    if (safari->refusesAutomation)
        return FakeScriptResult::failure(
            errAEEventNotPermitted, QStringLiteral("Not authorized to send Apple events to Safari."));
    if (safari->timesOut)
        return FakeScriptResult::failure(errAETimeout, QStringLiteral("Safari got an error: AppleEvent timed out."));

    // AppleScript compares text without regard to case.
    const auto isMediaSite = [&](const QString& u) {
        if (!u.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive))
            return false;
        const QString h = u.section(u'/', 2, 2);
        return std::any_of(script->mediaSites.cbegin(), script->mediaSites.cend(), [&](const QString& site) {
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
            const bool remembered = script->mediaURLs.contains(tabURL, Qt::CaseInsensitive);
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
                const PageEvaluation evaluation = evaluatePage(tab, script->pageScript, m_keyCounter);
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
        return FakeScriptResult::failure(firstError->number, *firstError->message);
    return FakeScriptResult::success(u'[' + replies.join(u',') + u']');
}

} // namespace sonaric
