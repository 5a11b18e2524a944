// The page media script's reply comes from web pages: any page can answer in its place. Decoding it gives
// tabs with valid keys and volumes or nothing; the connection built from them keeps each tab once.

#include "fuzz/fuzz_support.h"
#include "native/browser_media_volume.h"

#include <QSet>

#include <cmath>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto tabs = BrowserMediaVolume::parse(QString::fromUtf8(fuzz::bytes(data, size)));
    if (!tabs)
        return 0;
    NativeVolumeConnection previous;
    for (auto it = tabs->rbegin(); it != tabs->rend(); ++it) {
        fuzz::expect(BrowserMediaVolume::isTabKey(it->key), "a decoded tab has a valid key");
        fuzz::expect(std::isfinite(it->volume) && it->volume >= 0 && it->volume <= 100, "a volume lies in 0 … 100");
        previous.tabs.push_back({ it->key, it->title, true, { it->volume / 100, it->muted } });
    }
    for (const NativeVolumeConnection& before : { NativeVolumeConnection {}, previous }) {
        const NativeVolumeConnection connection = BrowserMediaVolume::reading(*tabs, before);
        QSet<QString> seen;
        for (const NativeVolumeTab& tab : connection.tabs) {
            fuzz::expect(!seen.contains(tab.id), "each tab once");
            seen.insert(tab.id);
            fuzz::expect(tab.state.volume >= 0 && tab.state.volume <= 1, "a tab's level lies in 0 … 1");
        }
    }
    return 0;
}
