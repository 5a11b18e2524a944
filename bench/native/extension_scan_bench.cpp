// How long one scan of a Chromium browser's playing tabs takes through Sonaric's extension (the Linux
// connector's road: the Chromium controller's events, the Linux scripting service, the local socket, the
// native-messaging host, the extension's service worker, the page script in each tab), against the same pages
// read over the DevTools protocol (a target listing plus one Runtime.evaluate of the same script per tab in an
// isolated world made beforehand), in the same run and the same browser.
//
// With 1, 10 and 50 playing tabs, each the active tab of a window of its own, it prints the median and 90th
// percentile of the scans, the two roads taking turns.
//
// With --injection it compares instead the two ways the extension could run the page script in a tab, inside the
// service worker itself: chrome.scripting.executeScript of the copy the extension carries with the wanted states
// as arguments (what it does), against chrome.userScripts.execute of the script text as the connector writes it.
// That needs a copy of the extension with the "userScripts" permission, and the extension's "Allow User Scripts"
// switch turned on, which the bench does on chrome://extensions the way a user would.
//
// Usage: extension_scan_bench [scans per figure, default 40]
//        extension_scan_bench --injection [injections of each kind, default 300]

#include "chromium/fixture_server.h"
#include "chromium/headless_chromium.h"
#include "native/browser_media_volume.h"
#include "platform/scene/scene.h"
#include "platform/scripting/linux/linux_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <future>
#include <vector>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

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

/// One scan as the Chromium controller makes it; the number of playing tabs it found.
int extensionScan(BrowserMediaVolume& controller)
{
    auto promise = std::make_shared<std::promise<NativeVolumeResult>>();
    auto future = promise->get_future();
    controller.read({}, {}, [promise](const NativeVolumeResult& result) { promise->set_value(result); });
    const NativeVolumeResult result = future.get();
    return result.isSuccess() ? int(result.connection().tabs.size()) : -1;
}

/// The same pages over DevTools: the targets, then the script in each page's isolated world.
int devToolsScan(
    HeadlessChromium& chromium, const std::vector<std::pair<HeadlessChromium::Page, int>>& pages, const QString& script)
{
    chromium.client().call(QStringLiteral("Target.getTargets"));
    int playing = 0;
    for (const auto& [page, world] : pages) {
        const auto reply = chromium.evaluateString(page, script, world);
        if (reply && reply->contains(QStringLiteral("\"playing\":true")))
            ++playing;
    }
    return playing;
}

/// Writes a copy of the built extension that may also run user scripts and can time both ways of injecting.
bool writeUserScriptsVariant(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files)) {
        QFile::remove(QDir(to).filePath(name));
        if (!QFile::copy(QDir(from).filePath(name), QDir(to).filePath(name)))
            return false;
        QFile::setPermissions(QDir(to).filePath(name), QFile::ReadOwner | QFile::WriteOwner);
    }
    QFile manifest(QDir(to).filePath(QStringLiteral("manifest.json")));
    if (!manifest.open(QIODevice::ReadWrite))
        return false;
    const QByteArray text = manifest.readAll().replace(R"("alarms"])", R"("alarms", "userScripts"])");
    manifest.resize(0);
    manifest.write(text);
    manifest.close();
    QFile background(QDir(to).filePath(QStringLiteral("background.js")));
    if (!background.open(QIODevice::Append))
        return false;
    background.write(R"JS(
globalThis.compareInjection = async (tabId, count, text) => {
    const shipped = [];
    const userScript = [];
    for (let i = 0; i < count; i += 1) {
        let start = performance.now();
        await chrome.scripting.executeScript({ target: { tabId, frameIds: [0] }, world: 'ISOLATED',
            injectImmediately: true, func: pageMediaScript, args: [false, {}] });
        shipped.push(performance.now() - start);
        start = performance.now();
        await chrome.userScripts.execute({ target: { tabId }, world: 'USER_SCRIPT', injectImmediately: true,
            js: [{ code: text }] });
        userScript.push(performance.now() - start);
    }
    return { shipped, userScript };
};
)JS");
    return true;
}

int compareInjection(FixtureServer& server, const QString& builtExtension, int count)
{
    QTemporaryDir folder;
    const QString variant = folder.filePath(QStringLiteral("extension"));
    if (!writeUserScriptsVariant(builtExtension, variant)) {
        std::fprintf(stderr, "cannot write the extension's variant\n");
        return 1;
    }
    HeadlessChromium chromium;
    chromium.setFixtureOrigin(server.origin());
    chromium.setExtension(variant);
    QString error;
    if (!chromium.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const auto page = chromium.open(server.origin() + "/audio.html", 20000, true);
    const auto extensions = chromium.open(QStringLiteral("chrome://extensions/?id=nffjohpklfnkhekejnajopkdkkfeehfm"));
    if (!page || !extensions
        || !chromium.waitUntil(*page,
            "(() => { const m = document.querySelector('audio'); "
            "return !m.paused && m.currentTime > 0; })()")) {
        std::fprintf(stderr, "the pages did not open\n");
        return 1;
    }
    const QString allowUserScripts = QStringLiteral(
        "(() => { const view = document.querySelector('extensions-manager').shadowRoot"
        ".querySelector('extensions-detail-view'); const row = view && view.shadowRoot.querySelector("
        "'#allow-user-scripts'); if (!row) return false; if (!row.checked) row.shadowRoot.querySelector("
        "'cr-toggle').click(); return true; })()");
    if (!chromium.waitUntil(*extensions, allowUserScripts)) {
        std::fprintf(stderr, "no \"Allow User Scripts\" switch on chrome://extensions\n");
        return 1;
    }
    QString worker;
    for (const QJsonValue& target : chromium.client()
                                        .call(QStringLiteral("Target.getTargets"))
                                        .result.value(QStringLiteral("targetInfos"))
                                        .toArray()) {
        if (target[QStringLiteral("type")].toString() == QStringLiteral("service_worker"))
            worker = chromium.client().attach(target[QStringLiteral("targetId")].toString());
    }
    const QString text = BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {});
    const QString quoted = QString::fromUtf8(QJsonDocument(QJsonArray { text }).toJson(QJsonDocument::Compact));
    const auto reply = chromium.client().call(QStringLiteral("Runtime.evaluate"),
        QJsonObject { { QStringLiteral("expression"),
                          QStringLiteral("chrome.tabs.query({ url: '%1/audio.html' }).then((tabs) => "
                                         "compareInjection(tabs[0].id, %2, %3[0]))")
                              .arg(server.origin())
                              .arg(count)
                              .arg(quoted) },
            { QStringLiteral("awaitPromise"), true }, { QStringLiteral("returnByValue"), true } },
        worker, 600000);
    const QJsonObject times = reply.result[QStringLiteral("result")][QStringLiteral("value")].toObject();
    const auto samples = [&](const char* name) {
        std::vector<double> values;
        for (const QJsonValue& value : times[QString::fromLatin1(name)].toArray())
            values.push_back(value.toDouble());
        return figures(values);
    };
    const Figures shipped = samples("shipped");
    const Figures userScript = samples("userScript");
    if (shipped.median <= 0 || userScript.median <= 0) {
        std::fprintf(stderr, "no times: %s\n", qPrintable(reply.errorText()));
        return 1;
    }
    std::printf("Running the page script in one tab from the service worker (%d of each, taking turns; the worker's "
                "clock has 0.1 ms steps)\n",
        count);
    std::printf("| way | median ms | p90 ms |\n|---|---:|---:|\n");
    std::printf(
        "| scripting.executeScript, shipped copy, states as arguments | %.1f | %.1f |\n", shipped.median, shipped.p90);
    std::printf("| userScripts.execute, the connector's text | %.1f | %.1f |\n", userScript.median, userScript.p90);
    std::printf("Message to the extension per tab: %lld bytes of script text against about 150 bytes of states.\n",
        qint64(text.toUtf8().size()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool injection = argc > 1 && QByteArray(argv[1]) == "--injection";
    const char* countArgument = argc > (injection ? 2 : 1) ? argv[injection ? 2 : 1] : nullptr;
    const int scans = countArgument ? std::max(5, atoi(countArgument)) : (injection ? 300 : 40);

    FixtureServer server(QStringLiteral(SONARIC_FIXTURES "/pages"));
    server.add("/media/tone.wav", sineWav(2.0), "audio/wav");
    QTemporaryDir runtime;
    if (!server.start() || !runtime.isValid()) {
        std::fprintf(stderr, "cannot start the fixture server\n");
        return 1;
    }
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Scene scene;
    scene.installed = { QStringLiteral("org.chromium.Chromium") };
    SimulatedWorkspace workspace(scene);
    LinuxScripting::Options options;
    options.socketPath = runtime.filePath(QStringLiteral("sonaric-browsers.socket"));
    options.extensionFolder = runtime.filePath(QStringLiteral("browser-extension"));
    options.hostPath = QStringLiteral(SONARIC_BROWSER_HOST);
    options.extensionWait = 30s;
    LinuxScripting scripting(workspace, options);
    if (injection)
        return compareInjection(server, scripting.extensionFolder(), scans);

    HeadlessChromium chromium;
    chromium.setFixtureOrigin(server.origin());
    chromium.setExtension(scripting.extensionFolder());
    chromium.setRuntimeDirectory(runtime.path());
    QString error;
    if (!chromium.start(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    workspace.launch({ pid_t(chromium.processId()), QStringLiteral("chromium"), QStringLiteral("Chromium"),
        ActivationPolicy::regular });
    BrowserMediaVolume controller(NativeVolumeSource::chromium, scripting, workspace);
    const QString script = BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {});

    std::printf("One scan of N playing tabs (median and 90th percentile of %d scans each)\n", scans);
    std::printf("| tabs | extension, median ms | extension, p90 ms | DevTools, median ms | DevTools, p90 ms | "
                "extension / DevTools |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    std::vector<std::pair<HeadlessChromium::Page, int>> pages;
    for (const int count : { 1, 10, 50 }) {
        while (int(pages.size()) < count) {
            const auto page = chromium.open(server.origin() + "/audio.html", 20000, true);
            if (!page
                || !chromium.waitUntil(*page,
                    "(() => { const m = document.querySelector('audio'); "
                    "return !m.paused && m.currentTime > 0; })()")) {
                std::fprintf(stderr, "page %zu did not play\n", pages.size() + 1);
                return 1;
            }
            pages.emplace_back(*page, chromium.isolatedWorld(*page).value_or(0));
        }
        // Both roads once before timing: the extension connects, the worlds and caches warm up.
        if (extensionScan(controller) != count || devToolsScan(chromium, pages, script) != count) {
            std::fprintf(stderr, "a scan of %d tabs did not find them all\n", count);
            return 1;
        }
        std::vector<double> extension;
        std::vector<double> devTools;
        for (int i = 0; i < scans; ++i) {
            QElapsedTimer timer;
            timer.start();
            extensionScan(controller);
            extension.push_back(double(timer.nsecsElapsed()) / 1e6);
            timer.start();
            devToolsScan(chromium, pages, script);
            devTools.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        const Figures viaExtension = figures(extension);
        const Figures viaDevTools = figures(devTools);
        std::printf("| %d | %.2f | %.2f | %.2f | %.2f | %.2f |\n", count, viaExtension.median, viaExtension.p90,
            viaDevTools.median, viaDevTools.p90, viaExtension.median / viaDevTools.median);
        std::fflush(stdout);
    }
    chromium.stop();
    return 0;
}
