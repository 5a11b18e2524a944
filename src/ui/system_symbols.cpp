#include "ui/system_symbols.h"

#include "ui/symbol_image_provider.h"

namespace sonaric
{

namespace
{

struct Entry {
    const char* symbol;
    const char* iconNames; ///< separated by spaces, best first
};

// Monochrome "-symbolic" icons look like the design's glyphs and take any colour; the coloured names after
// them are for themes without symbolic icons (the image provider draws them in the one colour too).
constexpr Entry table[] = {
    { "speaker.wave.2.fill", "audio-volume-high-symbolic audio-volume-high" },
    { "speaker.slash.fill", "audio-volume-muted-symbolic audio-volume-muted" },
    { "speaker.wave.2", "audio-volume-high-symbolic audio-volume-high" },
    { "speaker.slash", "audio-volume-muted-symbolic audio-volume-muted" },
    { "airplayaudio", "send-to-symbolic audio-speakers-symbolic" },
    { "checkmark", "object-select-symbolic emblem-ok-symbolic" },
    { "play.fill", "media-playback-start-symbolic media-playback-start" },
    { "pause.fill", "media-playback-pause-symbolic media-playback-pause" },
    { "sparkles", "starred-symbolic emblem-favorite-symbolic" },
    { "arrow.triangle.swap", "object-flip-horizontal-symbolic emblem-synchronizing-symbolic" },
    { "app", "application-x-executable-symbolic application-x-executable" },
    // The output devices.
    { "headphones", "audio-headphones-symbolic audio-headphones" },
    { "airpods", "audio-headphones-symbolic audio-headphones" },
    { "airpodspro", "audio-headphones-symbolic audio-headphones" },
    { "airpodsmax", "audio-headphones-symbolic audio-headphones" },
    { "laptopcomputer", "computer-laptop-symbolic computer-symbolic computer" },
    { "macmini", "computer-symbolic computer" },
    { "macstudio", "computer-symbolic computer" },
    { "desktopcomputer", "computer-symbolic computer" },
    { "display", "video-display-symbolic video-display" },
    { "tv", "tv-symbolic video-display-symbolic video-display" },
    { "hifispeaker", "audio-speakers-symbolic audio-speakers" },
    { "waveform", "audio-x-generic-symbolic audio-x-generic" },
    // The settings window's panes and update card.
    { "gearshape.fill", "emblem-system-symbolic preferences-system-symbolic" },
    { "puzzlepiece.extension.fill", "application-x-addon-symbolic addon-symbolic" },
    { "arrow.down.circle.fill", "software-update-available-symbolic folder-download-symbolic" },
};

} // namespace

QStringList SystemSymbols::iconNames(const QString& symbol)
{
    for (const Entry& entry : table)
        if (symbol == QLatin1String(entry.symbol))
            return QString::fromLatin1(entry.iconNames).split(QLatin1Char(' '));
    return {};
}

QStringList SystemSymbols::symbols()
{
    QStringList names;
    for (const Entry& entry : table)
        names.append(QString::fromLatin1(entry.symbol));
    return names;
}

QUrl SystemSymbols::source(const QString& symbol, const QColor& color) const
{
    return SymbolImageProvider::source(symbol, color);
}

} // namespace sonaric
