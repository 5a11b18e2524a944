#include "ui/mixer_texts.h"

#include <cmath>

namespace sonaric
{

QString MixerTexts::percent(double level)
{
    if (!std::isfinite(level))
        return QStringLiteral("0%");
    return QString::number(std::lround(level * 100.0)) + QLatin1Char('%');
}

QString MixerTexts::muteToolTip(bool muted)
{
    return muted ? tr("Unmute") : tr("Mute");
}

QString MixerTexts::speakerSymbol(bool muted)
{
    return muted ? QStringLiteral("speaker.slash.fill") : QStringLiteral("speaker.wave.2.fill");
}

QString MixerTexts::pickerToolTip(const QString& appName, bool routed, const QString& routeName)
{
    return routed ? tr("%1 plays on %2").arg(appName, routeName) : tr("Choose where %1 plays").arg(appName);
}

QString MixerTexts::pickerHeading(const QString& appName)
{
    return tr("Play %1 on").arg(appName);
}

QString MixerTexts::noTabsText(const QString& menuName)
{
    return tr("No tab is playing video or audio in %1.").arg(menuName);
}

QString MixerTexts::tabTitle(const QString& title)
{
    return title.isEmpty() ? tr("Untitled tab") : title;
}

QString MixerTexts::tabToolTip(bool playing, const QString& title)
{
    return (playing ? tr("Playing: %1") : tr("Paused: %1")).arg(tabTitle(title));
}

QString MixerTexts::switchText(bool isBrowser, bool busy)
{
    if (busy)
        return tr("Connecting…");
    return isBrowser ? tr("Switch to native tab volume") : tr("Switch to native volume");
}

QString MixerTexts::stepNumber(int index)
{
    return QString::number(index + 1) + QLatin1Char('.');
}

} // namespace sonaric
