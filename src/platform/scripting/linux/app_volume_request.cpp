#include "platform/scripting/linux/app_volume_request.h"

#include <QRegularExpression>
#include <QStringList>

namespace sonaric
{

std::optional<AppVolumeRequest> AppVolumeRequest::read(const QString& script)
{
    const QStringList lines = script.split(u'\n');
    // Eight lines at least: the commands are one line even when there are none (eight spaces).
    if (lines.size() < 8)
        return std::nullopt;
    static const QRegularExpression targetLine(QStringLiteral("^set targetID to \"([A-Za-z0-9.-]+)\"$"));
    const QRegularExpressionMatch target = targetLine.match(lines[0]);
    if (!target.hasMatch()
        || lines[1] != QStringLiteral("if application id targetID is not running then return \"not-running\"")
        || lines[2] != QStringLiteral("tell application id targetID")
        || lines[3] != QStringLiteral("    with timeout of 10 seconds")
        || lines[lines.size() - 2] != QStringLiteral("    end timeout") || lines.last() != QStringLiteral("end tell"))
        return std::nullopt;

    AppVolumeRequest request;
    request.bundleID = target.captured(1);
    const QString& query = lines[lines.size() - 3];
    if (query == QStringLiteral("        return (get «property pVol») as text"))
        request.queriesMute = false;
    else if (query
        == QStringLiteral("        return ((get «property pVol») as text) & \",\" & ((get «property pMut») as text)"))
        request.queriesMute = true;
    else
        return std::nullopt;

    const QStringList commands = lines.mid(4, lines.size() - 7);
    if (commands == QStringList { QStringLiteral("        ") })
        return request;
    static const QRegularExpression setVolume(QStringLiteral("^        set «property pVol» to (0|[1-9][0-9]{0,2})$"));
    static const QRegularExpression setMute(QStringLiteral("^        set «property pMut» to (true|false)$"));
    // The volume comes first, each command at most once.
    for (const QString& command : commands) {
        if (const auto volume = setVolume.match(command); volume.hasMatch() && !request.volume && !request.muted) {
            const int percent = volume.captured(1).toInt();
            if (percent > 100)
                return std::nullopt;
            request.volume = percent;
        } else if (const auto mute = setMute.match(command); mute.hasMatch() && !request.muted) {
            request.muted = mute.captured(1) == QStringLiteral("true");
        } else {
            return std::nullopt;
        }
    }
    return request;
}

} // namespace sonaric
