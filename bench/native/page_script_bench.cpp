// How long one evaluation of the page media script takes per tab, in a real headless Chromium on the fixture
// pages, as Chromium browsers run it (pageWorld false, in an isolated world).
//
// For each page and for a read (no wanted state) and a set (a wanted state for the tab's own key, alternating
// between 40 % and 60 % so that every set really changes the level), it prints the median and 90th percentile of
//  - the time inside the page per evaluation: batches of 50 evaluations timed with performance.now() and divided
//    by 50 (the browser coarsens that clock to 100 µs, so single evaluations cannot be timed one by one);
//  - the round trip of one Runtime.evaluate through the DevTools protocol, as a connector on this machine sees it.
//
// Usage: page_script_bench [round trips per figure, default 200]; the in-page figures use 51 batches.

#include "chromium/fixture_server.h"
#include "chromium/headless_chromium.h"
#include "native/browser_media_volume.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

struct Figures {
    double median = 0;
    double p90 = 0;
};

Figures figures(std::vector<double> samples)
{
    if (samples.empty())
        return {};
    std::sort(samples.begin(), samples.end());
    const auto at
        = [&](double q) { return samples[std::min(samples.size() - 1, std::size_t(q * double(samples.size())))]; };
    return { at(0.5), at(0.9) };
}

struct Fixture {
    const char* name;
    QString url;
    bool playing;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int evaluations = argc > 1 ? std::max(20, atoi(argv[1])) : 200;
    constexpr int batch = 50;
    constexpr int batches = 51;

    FixtureServer server(QStringLiteral(SONARIC_FIXTURES "/pages"));
    server.add("/media/tone.wav", sineWav(2.0), "audio/wav");
    if (!server.start()) {
        std::fprintf(stderr, "the fixture server cannot listen on 127.0.0.1\n");
        return 1;
    }
    HeadlessChromium chromium;
    chromium.setFixtureOrigin(server.origin());
    QString error;
    if (!chromium.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    const std::vector<Fixture> fixtures {
        { "plain audio", server.origin() + "/audio.html", true },
        { "plain video", server.origin() + "/video.html", true },
        { "site slider + mute button", "https://www.example-player.test/site-slider.html", true },
        { "Twitch-like", "https://www.twitch.tv/twitch.html", true },
        { "Kick-like", "https://kick.com/kick.html", true },
        { "YouTube-like", "https://www.youtube.com/youtube.html?v=bench", true },
        { "YouTube Music-like", "https://music.youtube.com/youtube-music.html", true },
        { "Netflix-like", "https://www.netflix.com/netflix.html", true },
        { "muted background video (skip)", server.origin() + "/background.html", true },
        { "media not started (skip)", server.origin() + "/not-started.html", false },
    };

    std::printf(
        "Page media script in Chromium's isolated world: in-page time per evaluation (median of %d batches of %d), "
        "DevTools round trip (median of %d)\n",
        batches, batch, evaluations);
    std::printf(
        "| page | operation | in page, median µs | in page, p90 µs | round trip, median µs | round trip, p90 µs |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    for (const Fixture& fixture : fixtures) {
        const auto page = chromium.open(fixture.url);
        if (!page) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(fixture.url));
            return 1;
        }
        if (fixture.playing
            && !chromium.waitUntil(*page,
                "(() => { const m = document.querySelector('video, audio'); return !!m && !m.paused && m.currentTime > "
                "0; })()")) {
            std::fprintf(stderr, "media never started on %s\n", qPrintable(fixture.url));
            return 1;
        }
        const auto world = chromium.isolatedWorld(*page);
        if (&fixture == &fixtures.front()) {
            // The baseline: the round trip of an evaluation that does nothing, in the same world.
            std::vector<double> empty;
            for (int i = 0; i < evaluations; ++i) {
                QElapsedTimer timer;
                timer.start();
                chromium.evaluateString(*page, QStringLiteral("(() => 'skip')()"), world);
                empty.push_back(double(timer.nsecsElapsed()) / 1000.0);
            }
            const Figures baseline = figures(empty);
            std::printf(
                "| (baseline: an empty script) | read | – | – | %.0f | %.0f |\n", baseline.median, baseline.p90);
        }
        const QString first
            = chromium.evaluateString(*page, BrowserMediaVolume::javaScript(NativeVolumeSource::chrome, {}), world)
                  .value_or(QString());
        const QString key = QJsonDocument::fromJson(first.toUtf8()).object().value("key").toString();

        for (const bool setting : { false, true }) {
            if (setting && key.isEmpty())
                continue; // a skipped page has no key to set
            std::vector<double> inPage;
            std::vector<double> roundTrip;
            const auto script = [&](int i) {
                NativeVolumeChanges changes;
                if (setting)
                    changes.insert(key, { i % 2 ? 0.4f : 0.6f, false });
                return BrowserMediaVolume::javaScript(NativeVolumeSource::chrome, changes);
            };
            const QString timed
                = QStringLiteral("(() => { const even = () => %2; const odd = () => %3; "
                                 "const t0 = performance.now(); for (let i = 0; i < %1; i += 1) { "
                                 "(i % 2 ? odd : even)(); } return (performance.now() - t0) / %1 * 1000; })()")
                      .arg(batch)
                      .arg(script(0), script(1));
            for (int done = 0; done < batches; ++done)
                inPage.push_back(chromium.evaluateValue(*page, timed, world).toDouble());
            for (int i = 0; i < evaluations; ++i) {
                const QString text = script(i);
                QElapsedTimer timer;
                timer.start();
                chromium.evaluateString(*page, text, world);
                roundTrip.push_back(double(timer.nsecsElapsed()) / 1000.0);
            }
            const Figures page_ = figures(inPage);
            const Figures trip = figures(roundTrip);
            std::printf("| %s | %s | %.1f | %.1f | %.0f | %.0f |\n", fixture.name, setting ? "set" : "read",
                page_.median, page_.p90, trip.median, trip.p90);
        }
        chromium.close(*page);
    }
    chromium.stop();
    return 0;
}
