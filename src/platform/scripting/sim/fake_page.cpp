#include "platform/scripting/sim/fake_page.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace sonaric
{

namespace
{

const QRegularExpression& keyPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9]{4,40}$"));
    return pattern;
}

} // namespace

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

} // namespace sonaric
