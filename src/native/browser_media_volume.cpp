#include "native/browser_media_volume.h"

#include "native/chromium_tabs.h"
#include "native/controller_queue.h"
#include "native/native_apple_script.h"
#include "platform/workspace/workspace.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>

#include <cmath>
#include <limits>

namespace sonaric
{

using native_detail::checkCancellation;
using native_detail::runOperation;

namespace
{

const QString kScriptHead = QStringLiteral("(() => {\n    const pageWorld = false;\n    const want = {");

/// The fixed body of the page media script: everything after `want`'s opening brace in the script file.
const QString& pageScriptBody()
{
    static const QString body = [] {
        QFile file(QStringLiteral(":/native/page_media_script.js"));
        if (!file.open(QIODevice::ReadOnly))
            qFatal("The page media script resource is missing.");
        QString text = QString::fromUtf8(file.readAll());
        if (!text.startsWith(kScriptHead))
            qFatal("The page media script resource does not start with its header.");
        while (text.endsWith(u'\n'))
            text.chop(1);
        return text.mid(kScriptHead.size());
    }();
    return body;
}

bool isHTTP(const QString& url)
{
    return url.startsWith(QStringLiteral("https://")) || url.startsWith(QStringLiteral("http://"));
}

bool isOnMediaSite(const QString& host)
{
    const QStringList& sites = BrowserMediaVolume::mediaSites();
    return std::any_of(
        sites.cbegin(), sites.cend(), [&](const QString& site) { return host == site || host.endsWith(u'.' + site); });
}

QString escapedForAppleScript(QString text)
{
    text.replace(u'\\', QStringLiteral("\\\\"));
    text.replace(u'"', QStringLiteral("\\\""));
    return text;
}

std::optional<BrowserMediaVolume::Tab> decodeTab(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue key = object.value(QStringLiteral("key"));
    const QJsonValue title = object.value(QStringLiteral("title"));
    const QJsonValue url = object.value(QStringLiteral("url"));
    const QJsonValue playing = object.value(QStringLiteral("playing"));
    const QJsonValue visible = object.value(QStringLiteral("visible"));
    const QJsonValue volume = object.value(QStringLiteral("volume"));
    const QJsonValue muted = object.value(QStringLiteral("muted"));
    if (!key.isString() || !title.isString() || !playing.isBool() || !visible.isBool() || !volume.isDouble()
        || !muted.isBool())
        return std::nullopt;
    if (!(url.isUndefined() || url.isNull() || url.isString()))
        return std::nullopt;
    // A number a 32-bit float cannot hold does not decode, as with a typed decoder.
    const double number = volume.toDouble();
    if (!std::isfinite(number) || std::fabs(number) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    BrowserMediaVolume::Tab tab;
    tab.key = key.toString();
    tab.title = title.toString();
    if (url.isString())
        tab.url = url.toString();
    tab.playing = playing.toBool();
    tab.visible = visible.toBool();
    tab.volume = float(number);
    tab.muted = muted.toBool();
    return tab;
}

} // namespace

BrowserMediaVolume::BrowserMediaVolume(
    NativeVolumeSource source, Scripting& scripting, const Workspace& workspace, QStringList mediaURLs)
    : m_source(source)
    , m_scripting(scripting)
    , m_workspace(workspace)
    , m_mediaURLs(std::move(mediaURLs))
    , m_queue(("BrowserMediaVolume." + source.bundleID()).toStdString())
{
}

const QStringList& BrowserMediaVolume::mediaSites()
{
    // The main domain of YouTube, Netflix, Twitch, Kick, Vimeo, Hulu, Peacock, Crunchyroll, Disney+, Max,
    // Prime Video, Paramount+, TikTok, Bilibili, Bandcamp, Audible and Plex, in that order.
    static const QStringList sites { QStringLiteral("youtube.com"), QStringLiteral("netflix.com"),
        QStringLiteral("twitch.tv"), QStringLiteral("kick.com"), QStringLiteral("vimeo.com"),
        QStringLiteral("hulu.com"), QStringLiteral("peacocktv.com"), QStringLiteral("crunchyroll.com"),
        QStringLiteral("disneyplus.com"), QStringLiteral("max.com"), QStringLiteral("primevideo.com"),
        QStringLiteral("paramountplus.com"), QStringLiteral("tiktok.com"), QStringLiteral("bilibili.com"),
        QStringLiteral("bandcamp.com"), QStringLiteral("audible.com"), QStringLiteral("plex.tv") };
    return sites;
}

bool BrowserMediaVolume::isTabKey(const QString& key)
{
    if (key.size() < 4 || key.size() > 40)
        return false;
    return std::all_of(
        key.cbegin(), key.cend(), [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'); });
}

bool BrowserMediaVolume::isRememberableURL(const QString& url)
{
    if (!isHTTP(url) || url.toUtf8().size() > 2048)
        return false;
    // Code units outside 33 … 126 include every surrogate, so every non-ASCII scalar is refused too.
    return std::all_of(url.cbegin(), url.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 33 && u <= 126 && u != u'"' && u != u'\\';
    });
}

QString BrowserMediaVolume::javaScript(NativeVolumeSource source, const NativeVolumeChanges& changes)
{
    QStringList entries;
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) { // QMap: ascending key order
        if (!isTabKey(it.key()) || !std::isfinite(it->volume))
            continue;
        const double percent = std::round(it->volume * 100.0f);
        entries << u'\'' + it.key() + QStringLiteral("': {volume: ") + QString::number(percent, 'f', 0)
                + QStringLiteral(", muted: ") + (it->muted ? QStringLiteral("true") : QStringLiteral("false")) + u'}';
    }
    return QStringLiteral("(() => {\n    const pageWorld = ")
        + (source == NativeVolumeSource::safari ? QStringLiteral("true") : QStringLiteral("false"))
        + QStringLiteral(";\n    const want = {") + entries.join(QStringLiteral(", ")) + pageScriptBody();
}

QString BrowserMediaVolume::safariScript(const NativeVolumeChanges& changes, const QStringList& mediaURLs)
{
    const QString pageScript = escapedForAppleScript(javaScript(NativeVolumeSource::safari, changes));
    QStringList urls;
    for (const QString& url : mediaURLs) {
        if (isRememberableURL(url))
            urls << u'"' + url + u'"';
    }
    QStringList clauses;
    for (const QString& site : mediaSites())
        clauses << QStringLiteral("h is \"%1\" or h ends with \".%1\"").arg(site);

    const QStringList lines {
        QStringLiteral("set replies to {}"),
        QStringLiteral("set firstError to missing value"),
        QStringLiteral("set mediaURLs to {") + urls.join(QStringLiteral(", ")) + u'}',
        QStringLiteral("if application \"Safari\" is not running then return \"not-running\""),
        QStringLiteral("tell application \"Safari\""),
        QStringLiteral("    with timeout of 10 seconds"),
        QStringLiteral("        repeat with browserWindow in windows"),
        QStringLiteral("            set windowTabs to {}"),
        QStringLiteral("            set activeIndex to 0"),
        QStringLiteral("            try"),
        QStringLiteral("                set windowTabs to tabs of browserWindow"),
        QStringLiteral("                set activeIndex to index of current tab of browserWindow"),
        QStringLiteral("            end try"),
        QStringLiteral("            set tabIndex to 0"),
        QStringLiteral("            repeat with browserTab in windowTabs"),
        QStringLiteral("                set tabIndex to tabIndex + 1"),
        QStringLiteral("                set tabURL to URL of browserTab"),
        QStringLiteral("                if tabURL is missing value then set tabURL to \"\""),
        QStringLiteral("                if (tabIndex is activeIndex and (tabURL starts with \"https://\" or tabURL "
                       "starts with \"http://\")) or tabURL is in mediaURLs or my isMediaSite(tabURL) then"),
        QStringLiteral("                    try"),
        QStringLiteral("                        set tabReply to do JavaScript \"") + pageScript
            + QStringLiteral("\" in browserTab"),
        QStringLiteral("                        if tabReply is not missing value and tabReply is not \"skip\" then "
                       "set end of replies to tabReply"),
        QStringLiteral("                    on error errorMessage number errorNumber"),
        QStringLiteral("                        if firstError is missing value then set firstError to {errorMessage, "
                       "errorNumber}"),
        QStringLiteral("                    end try"),
        QStringLiteral("                end if"),
        QStringLiteral("            end repeat"),
        QStringLiteral("        end repeat"),
        QStringLiteral("    end timeout"),
        QStringLiteral("end tell"),
        QStringLiteral("if replies is {} and firstError is not missing value then error (item 1 of firstError) "
                       "number (item 2 of firstError)"),
        QStringLiteral("set AppleScript's text item delimiters to \",\""),
        QStringLiteral("set replyText to replies as text"),
        QStringLiteral("set AppleScript's text item delimiters to \"\""),
        QStringLiteral("return \"[\" & replyText & \"]\""),
        QString(),
        QStringLiteral("on isMediaSite(u)"),
        QStringLiteral("    if u does not start with \"https://\" then return false"),
        QStringLiteral("    set savedDelimiters to AppleScript's text item delimiters"),
        QStringLiteral("    set AppleScript's text item delimiters to \"/\""),
        QStringLiteral("    try"),
        QStringLiteral("        set h to text item 3 of u"),
        QStringLiteral("    on error"),
        QStringLiteral("        set h to \"\""),
        QStringLiteral("    end try"),
        QStringLiteral("    set AppleScript's text item delimiters to savedDelimiters"),
        QStringLiteral("    return ") + clauses.join(QStringLiteral(" or ")),
        QStringLiteral("end isMediaSite"),
    };
    return lines.join(u'\n');
}

std::optional<std::vector<BrowserMediaVolume::Tab>> BrowserMediaVolume::parse(const QString& reply)
{
    if (reply.size() > maximumReplySize)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    std::vector<Tab> tabs;
    for (const QJsonValue& value : document.array()) {
        const auto tab = decodeTab(value);
        if (!tab)
            return std::nullopt;
        if (isTabKey(tab->key) && tab->volume >= 0 && tab->volume <= 100)
            tabs.push_back(*tab);
    }
    return tabs;
}

NativeVolumeConnection BrowserMediaVolume::reading(const std::vector<Tab>& tabs, const NativeVolumeConnection& previous)
{
    std::vector<const Tab*> playing;
    QHash<QString, const Tab*> byKey;
    for (const Tab& tab : tabs) {
        if (!tab.playing)
            continue;
        playing.push_back(&tab);
        if (!byKey.contains(tab.key))
            byKey.insert(tab.key, &tab); // the first with a key wins
    }
    std::vector<const Tab*> ordered;
    QSet<QString> taken;
    for (const NativeVolumeTab& known : previous.tabs) {
        const auto found = byKey.constFind(known.id);
        if (found != byKey.cend() && !taken.contains(known.id)) {
            ordered.push_back(*found);
            taken.insert(known.id);
        }
    }
    for (const Tab* tab : playing) {
        if (!taken.contains(tab->key)) {
            ordered.push_back(tab);
            taken.insert(tab->key);
        }
    }
    NativeVolumeConnection connection;
    for (const Tab* tab : ordered)
        connection.tabs.push_back({ tab->key, tab->title, true, { tab->volume / 100, tab->muted } });
    return connection;
}

std::vector<std::pair<int, int>> BrowserMediaVolume::tabsToScan(
    const std::vector<QStringList>& urls, const std::vector<int>& activeTabs, const QStringList& mediaURLs)
{
    const QSet<QString> remembered(mediaURLs.cbegin(), mediaURLs.cend());
    std::vector<std::pair<int, int>> pairs;
    for (std::size_t window = 0; window < urls.size(); ++window) {
        const int active = window < activeTabs.size() ? activeTabs[window] : 0;
        const QStringList& tabs = urls[window];
        for (qsizetype index = 0; index < tabs.size(); ++index) {
            const QString& url = tabs[index];
            const int tab = int(index) + 1;
            bool scan = tab == active && isHTTP(url);
            if (!scan && url.startsWith(QStringLiteral("https:"))) {
                const QUrl parsed(url, QUrl::StrictMode);
                scan = parsed.isValid() && parsed.scheme() == QStringLiteral("https") && !parsed.host().isEmpty()
                    && isOnMediaSite(parsed.host().toLower());
            }
            if (!scan)
                scan = remembered.contains(url);
            if (scan)
                pairs.emplace_back(int(window) + 1, tab);
        }
    }
    return pairs;
}

std::optional<std::vector<BrowserMediaVolume::Tab>> BrowserMediaVolume::scan(const NativeVolumeChanges& changes)
{
    if (!m_source.isInstalled(m_workspace))
        throw NativeVolumeError(m_source.appName() + QStringLiteral(" isn't installed."));
    QString reply;
    if (m_source == NativeVolumeSource::safari) {
        reply = NativeAppleScript::execute(m_scripting, safariScript(changes, m_mediaURLs), m_source);
        if (reply == QStringLiteral("not-running"))
            return std::nullopt;
    } else {
        const auto replies
            = ChromiumTabs::run(m_scripting, m_workspace, javaScript(m_source, changes), m_source, m_mediaURLs);
        if (!replies)
            return std::nullopt;
        reply = u'[' + replies->join(u',') + u']';
    }
    const auto tabs = parse(reply);
    if (!tabs)
        throw NativeVolumeError::failure(m_source, QStringLiteral("invalid"));
    m_mediaURLs.clear();
    for (const Tab& tab : *tabs) {
        if (tab.url && isRememberableURL(*tab.url))
            m_mediaURLs << *tab.url;
    }
    return tabs;
}

void BrowserMediaVolume::connect(CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, cancellation] {
        checkCancellation(cancellation);
        m_mediaURLs.clear();
        const auto tabs = scan({});
        if (!tabs)
            throw NativeVolumeError::failure(m_source, QStringLiteral("not-running"));
        return reading(*tabs, {});
    });
}

void BrowserMediaVolume::read(const NativeVolumeConnection& current, CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, current, cancellation] {
        checkCancellation(cancellation);
        return reading(scan({}).value_or(std::vector<Tab> {}), current);
    });
}

void BrowserMediaVolume::set(const NativeVolumeChanges& desired, const NativeVolumeConnection& current,
    CancellationToken cancellation, Completion done)
{
    runOperation(m_queue, std::move(done), [this, desired, current, cancellation] {
        checkCancellation(cancellation);
        for (const NativeVolumeState& state : desired) {
            if (!std::isfinite(state.volume) || state.volume < 0 || state.volume > 1)
                throw NativeVolumeError(QStringLiteral("Tab volume must be between 0% and 100%."));
        }
        return reading(scan(desired).value_or(std::vector<Tab> {}), current);
    });
}

void BrowserMediaVolume::finishPendingOperations(std::function<void()> done)
{
    if (done)
        done();
}

} // namespace sonaric
