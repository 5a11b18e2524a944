#include "platform/scripting/sim/scripting_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sonaric
{

std::optional<ScriptingJson> ScriptingJson::parse(const QByteArray& json, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("scripting: %1").arg(parseError.errorString());
        return std::nullopt;
    }
    ScriptingJson scripting;
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
            return std::nullopt;
        }
        scripting.apps.push_back(std::move(app));
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
            return std::nullopt;
        }
        scripting.browsers.push_back(std::move(browser));
    }
    return scripting;
}

} // namespace sonaric
