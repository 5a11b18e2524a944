#include "platform/scripting/sim/fake_media_apps.h"

#include "platform/scripting/sim/fake_script_result.h"

#include <QRegularExpression>

#include <algorithm>

namespace sonaric
{

FakeMediaApp& FakeMediaApps::add(FakeMediaApp app)
{
    return m_apps.emplace_back(std::move(app));
}

FakeMediaApp* FakeMediaApps::find(const QString& bundleID)
{
    for (auto& app : m_apps) {
        if (app.bundleID == bundleID)
            return &app;
    }
    return nullptr;
}

AppleScriptExecution FakeMediaApps::run(const QString& source)
{
    const QStringList lines = source.split(u'\n');
    static const QRegularExpression targetLine(QStringLiteral("^set targetID to \"([^\"\\\\]*)\"$"));
    const auto target = lines.isEmpty() ? QRegularExpressionMatch() : targetLine.match(lines.first());
    if (lines.size() < 7 || !target.hasMatch()
        || lines[1] != QStringLiteral("if application id targetID is not running then return \"not-running\"")
        || lines[2] != QStringLiteral("tell application id targetID")
        || lines[3] != QStringLiteral("    with timeout of 10 seconds")
        || lines[lines.size() - 2] != QStringLiteral("    end timeout") || lines.last() != QStringLiteral("end tell"))
        return FakeScriptResult::syntaxError();

    FakeMediaApp* app = nullptr;
    for (auto& candidate : m_apps) {
        if (candidate.bundleID == target.captured(1))
            app = &candidate;
    }
    if (!app || !app->running)
        return FakeScriptResult::success(QStringLiteral("not-running"));
    const QString appName = app->bundleID == QStringLiteral("com.spotify.client") ? QStringLiteral("Spotify")
                                                                                  : app->bundleID.section(u'.', -1);
    if (app->refusesAutomation)
        return FakeScriptResult::failure(
            errAEEventNotPermitted, QStringLiteral("Not authorized to send Apple events to %1.").arg(appName));
    if (app->timesOut)
        return FakeScriptResult::failure(
            errAETimeout, QStringLiteral("%1 got an error: AppleEvent timed out.").arg(appName));

    static const QRegularExpression setVolume(QStringLiteral("^        set «property pVol» to ([0-9]+)$"));
    static const QRegularExpression setMute(QStringLiteral("^        set «property pMut» to (true|false)$"));
    const QString volumeQuery = QStringLiteral("        return (get «property pVol») as text");
    const QString bothQuery
        = QStringLiteral("        return ((get «property pVol») as text) & \",\" & ((get «property pMut») as text)");
    const auto noMute = [&] {
        return FakeScriptResult::failure(
            errAENoSuchObject, QStringLiteral("%1 got an error: Can’t get «property pMut».").arg(appName));
    };

    // Lines 5 … n-3 are the commands (or one empty line of 8 spaces), line n-2 the query.
    const qsizetype queryIndex = lines.size() - 3;
    const QStringList commands = lines.mid(4, queryIndex - 4);
    if (commands.isEmpty())
        return FakeScriptResult::syntaxError();
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
                return FakeScriptResult::syntaxError();
            }
        }
    }
    const QString& query = lines[queryIndex];
    if (query == volumeQuery)
        return FakeScriptResult::success(QString::number(app->volume));
    if (query == bothQuery) {
        if (!app->hasMute)
            return noMute();
        return FakeScriptResult::success(
            QString::number(app->volume) + u',' + (app->muted ? QStringLiteral("true") : QStringLiteral("false")));
    }
    return FakeScriptResult::syntaxError();
}

} // namespace sonaric
