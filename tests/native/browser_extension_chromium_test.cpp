// The Chromium connector on Linux, for real: a headless Chromium started by the test loads Sonaric's extension
// as built, the Linux scripting service installs the host manifest into that browser's temporary profile, the
// browser starts the native-messaging host, and the host relays to the service's socket. The fixture pages play
// from the loopback server; DevTools (on loopback too) only opens and closes pages and looks at their media.

#include "chromium/fixture_server.h"
#include "chromium/headless_chromium.h"
#include "model/mixer_model.h"
#include "native/browser_media_volume.h"
#include "native/chromium_tabs.h"
#include "native/native_volume_sessions.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/main_queue.h"
#include "platform/scripting/linux/linux_scripting.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/event_loop.h"
#include "support/scenes.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;
using namespace std::chrono_literals;

namespace
{

const QString kChromiumID = QStringLiteral("chromium"); // Debian's desktop entry

class ExtensionInChromium : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        server = new FixtureServer(QStringLiteral(SONARIC_FIXTURES "/pages"));
        server->add("/media/tone.wav", sineWav(2.0), "audio/wav");
        if (!server->start()) {
            startError = "the fixture server cannot listen on 127.0.0.1";
            return;
        }
        runtime = new QTemporaryDir;
        QFile::setPermissions(runtime->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Scene scene;
        scene.installed = { QStringLiteral("org.chromium.Chromium") };
        workspace = new SimulatedWorkspace(scene);
        startService();
        chromium = new HeadlessChromium;
        chromium->setFixtureOrigin(server->origin());
        chromium->setExtension(scripting->extensionFolder());
        chromium->setRuntimeDirectory(runtime->path());
        if (!chromium->start(&startError)) {
            delete chromium;
            chromium = nullptr;
            return;
        }
        workspace->launch(application(chromium->processId(), kChromiumID, QStringLiteral("Chromium")));
    }

    static void TearDownTestSuite()
    {
        delete chromium;
        chromium = nullptr;
        scripting.reset();
        delete workspace;
        delete runtime;
        delete server;
    }

    /// The service as the program makes it, but on the test's socket, extension folder and host program.
    static void startService()
    {
        LinuxScripting::Options options;
        options.socketPath = runtime->filePath(QStringLiteral("sonaric-browsers.socket"));
        options.extensionFolder = runtime->filePath(QStringLiteral("browser-extension"));
        options.hostPath = QStringLiteral(SONARIC_BROWSER_HOST);
        // The extension retries on its own schedule; give it time to find the host the connector installs.
        options.extensionWait = 20s;
        scripting = std::make_unique<LinuxScripting>(*workspace, options);
    }

    void SetUp() override
    {
        if (chromium)
            return;
        if (qEnvironmentVariableIsSet("CI"))
            FAIL() << "Chromium is needed in CI: " << startError.toStdString();
        GTEST_SKIP() << startError.toStdString();
    }

    void TearDown() override
    {
        m_model.reset();
        m_settings.reset();
        m_hardware.reset();
        for (const auto& page : m_pages)
            chromium->close(page);
    }

    /// Opens a page in a window of its own (so it is its window's active tab) and waits until it plays.
    HeadlessChromium::Page open(const QString& path, bool playing = true)
    {
        const auto page = chromium->open(server->origin() + path, 20000, true);
        if (!page)
            throw std::runtime_error("cannot open " + path.toStdString());
        m_pages.push_back(*page);
        if (playing) {
            EXPECT_TRUE(chromium->waitUntil(*page,
                "(() => { const m = document.querySelector('video, audio'); return !!m && !m.paused && m.currentTime > "
                "0; })()"))
                << "media never started on " << path.toStdString();
        }
        return *page;
    }

    /// The mixer model on a simulated sound system where the test's Chromium plays, with the real service.
    MixerModel& model()
    {
        Scene scene;
        scene.devices.push_back(
            outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
        scene.applications = { application(chromium->processId(), kChromiumID, QStringLiteral("Chromium")) };
        scene.processes = { process(chromium->processId(), kChromiumID, true) };
        m_hardware = std::make_unique<SimulatedAudioHardware>(scene);
        m_settings = std::make_unique<QSettings>(m_dir.filePath("Sonaric.conf"), QSettings::IniFormat);
        m_model = std::make_unique<MixerModel>(*m_hardware, *workspace, *m_settings, m_mainQueue,
            makeNativeVolumeSessions(
                [](NativeVolumeSource source) { return makeNativeVolumeController(source, *scripting, *workspace); }));
        return *m_model;
    }

    static NativeVolumeSession& chromiumSession(MixerModel& model)
    {
        for (NativeVolumeSession* session : model.nativeSessions()) {
            if (session->source() == NativeVolumeSource::chromium)
                return *session;
        }
        throw std::runtime_error("no Chromium session");
    }

    static bool connect(NativeVolumeSession& session)
    {
        session.connectToSource();
        EXPECT_TRUE(waitUntil([&] { return !session.busy(); }, 30000));
        EXPECT_FALSE(session.hasError()) << session.error().toStdString() << " "
                                         << session.errorSteps().join(" | ").toStdString();
        return session.isConnected();
    }

    static QStringList titles(const NativeVolumeSession& session)
    {
        QStringList titles;
        for (const NativeVolumeTab& tab : session.connection().value_or(NativeVolumeConnection {}).tabs)
            titles << tab.title;
        return titles;
    }

    static std::optional<NativeVolumeTab> tab(const NativeVolumeSession& session, const QString& key)
    {
        for (const NativeVolumeTab& each : session.connection().value_or(NativeVolumeConnection {}).tabs) {
            if (each.id == key)
                return each;
        }
        return std::nullopt;
    }

    QString keyOf(const HeadlessChromium::Page& page)
    {
        return chromium->evaluateValue(page, "document.documentElement.dataset.velorithTab").toString();
    }

    QJsonValue media(const HeadlessChromium::Page& page, const QString& property)
    {
        return chromium->evaluateValue(page, "document.querySelector('video, audio')." + property);
    }

    static inline FixtureServer* server = nullptr;
    static inline QTemporaryDir* runtime = nullptr;
    static inline SimulatedWorkspace* workspace = nullptr;
    static inline std::unique_ptr<LinuxScripting> scripting;
    static inline HeadlessChromium* chromium = nullptr;
    static inline QString startError;

    QTemporaryDir m_dir;
    MainQueue m_mainQueue;
    std::unique_ptr<SimulatedAudioHardware> m_hardware;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<MixerModel> m_model;
    std::vector<HeadlessChromium::Page> m_pages;
};

TEST_F(ExtensionInChromium, ConnectingThroughTheModelListsThePlayingTabs)
{
    open("/audio.html");
    open("/video.html");
    open("/background.html", false); // a muted looping clip: nothing to control
    open("/not-started.html", false);
    MixerModel& mixer = model();
    ASSERT_EQ(mixer.apps().size(), 1u);
    EXPECT_EQ(mixer.apps()[0].id, kChromiumID);
    NativeVolumeSession& session = chromiumSession(mixer);
    ASSERT_EQ(mixer.connector(mixer.apps()[0]), &session) << "Chromium's row offers its connector";

    ASSERT_TRUE(connect(session));
    EXPECT_EQ(titles(session), (QStringList { "Plain audio", "Left | Right" }));
    for (const NativeVolumeTab& each : session.connection()->tabs)
        EXPECT_EQ(each.state, (NativeVolumeState { 1.0f, false }));
    EXPECT_TRUE(waitUntil([&] { return mixer.apps().empty(); })) << "the row gives way to the native rows";

    // The connector installed the host manifest into the profile this browser runs with, for our extension alone.
    QFile manifest(chromium->profilePath() + "/NativeMessagingHosts/org.sonaric.browser_bridge.json");
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QJsonObject host = QJsonDocument::fromJson(manifest.readAll()).object();
    EXPECT_EQ(host["path"].toString(), QStringLiteral(SONARIC_BROWSER_HOST));
    EXPECT_EQ(
        host["allowed_origins"].toArray(), (QJsonArray { "chrome-extension://nffjohpklfnkhekejnajopkdkkfeehfm/" }));
}

TEST_F(ExtensionInChromium, SettingOneTabAndMutingAnotherChangesThoseAndNothingElse)
{
    const auto first = open("/audio.html");
    const auto second = open("/video.html");
    const auto third = open("/audio.html");
    NativeVolumeSession& session = chromiumSession(model());
    ASSERT_TRUE(connect(session));
    ASSERT_EQ(session.connection()->tabs.size(), 3u);
    const QString firstKey = keyOf(first);
    const QString secondKey = keyOf(second);
    ASSERT_TRUE(tab(session, firstKey) && tab(session, secondKey));

    session.setTabVolume(firstKey, 0.3f);
    session.toggleTabMute(secondKey);
    ASSERT_TRUE(waitUntil(
        [&] {
            return session.desired().isEmpty() && !session.busy() && tab(session, firstKey)
                && tab(session, firstKey)->state == NativeVolumeState { 0.3f, false } && tab(session, secondKey)
                && tab(session, secondKey)->state.muted;
        },
        10000));
    EXPECT_DOUBLE_EQ(media(first, "volume").toDouble(), 0.3);
    EXPECT_FALSE(media(first, "muted").toBool());
    EXPECT_TRUE(media(second, "muted").toBool());
    EXPECT_DOUBLE_EQ(media(second, "volume").toDouble(), 1.0);
    EXPECT_DOUBLE_EQ(media(third, "volume").toDouble(), 1.0);
    EXPECT_FALSE(media(third, "muted").toBool());
    EXPECT_FALSE(chromium->evaluateValue(third, "document.querySelector('audio').dataset.velorithMedia").isString())
        << "the script changed nothing in the page it was not asked to";
}

TEST_F(ExtensionInChromium, ATabClosedBetweenScanAndSet)
{
    const auto stays = open("/audio.html");
    const auto closes = open("/video.html");
    const pid_t browser = chromium->processId();

    // Between the listing and the run of the script: the tab the listing named is gone, which the connector
    // skips without a word (as "no such object").
    const auto listing = scripting->sendAppleEvent(ChromiumTabs::tabURLsEvent(browser), 10);
    ASSERT_TRUE(listing.reply) << (listing.error ? listing.error->localizedDescription.toStdString() : "");
    const auto windows = *listing.reply->paramDescriptorForKeyword(keyDirectObject);
    std::optional<std::pair<int, int>> position;
    for (int w = 1; w <= windows.numberOfItems(); ++w) {
        const auto tabs = *windows.descriptorAtIndex(w);
        for (int t = 1; t <= tabs.numberOfItems(); ++t) {
            if (tabs.descriptorAtIndex(t)->stringValue()->endsWith("/video.html"))
                position = { w, t };
        }
    }
    ASSERT_TRUE(position);
    chromium->close(closes);
    m_pages.pop_back();
    ASSERT_TRUE(waitUntil([&] { return !chromium->hasTarget(closes.targetId); }));
    const auto stale = ChromiumTabs::executeEvent(
        BrowserMediaVolume::javaScript(NativeVolumeSource::chromium, {}), position->first, position->second, browser);
    const auto ran = scripting->sendAppleEvent(stale, 10);
    ASSERT_TRUE(ran.reply);
    const auto number = ran.reply->paramDescriptorForKeyword(keyErrorNumber);
    ASSERT_TRUE(number);
    EXPECT_EQ(number->int32Value(), errAENoSuchObject);

    // Through the session: the set goes to the tab that is left, and the closed one drops out without an error.
    const auto closesToo = open("/video.html");
    NativeVolumeSession& session = chromiumSession(model());
    ASSERT_TRUE(connect(session));
    ASSERT_EQ(session.connection()->tabs.size(), 2u);
    const QString gone = keyOf(closesToo);
    chromium->close(closesToo);
    m_pages.pop_back();
    session.setTabVolume(gone, 0.5f);
    session.setTabVolume(keyOf(stays), 0.4f);
    ASSERT_TRUE(waitUntil([&] { return session.desired().isEmpty() && !session.busy(); }, 10000));
    EXPECT_FALSE(session.hasError()) << session.error().toStdString();
    ASSERT_EQ(session.connection()->tabs.size(), 1u);
    EXPECT_EQ(session.connection()->tabs[0].state, (NativeVolumeState { 0.4f, false }));
    EXPECT_DOUBLE_EQ(media(stays, "volume").toDouble(), 0.4);
}

TEST_F(ExtensionInChromium, SonaricRestartingWhileTheBrowserRuns)
{
    const auto page = open("/audio.html");
    {
        NativeVolumeSession& session = chromiumSession(model());
        ASSERT_TRUE(connect(session));
        EXPECT_EQ(titles(session), QStringList { "Plain audio" });
    }
    // Sonaric quits: its socket closes, the host ends, the extension's port drops. A new Sonaric starts.
    m_model.reset();
    scripting.reset();
    EXPECT_FALSE(QFile::exists(runtime->filePath("sonaric-browsers.socket")));
    startService();
    ASSERT_TRUE(scripting->bridge().isListening()) << scripting->bridge().error().toStdString();
    NativeVolumeSession& session = chromiumSession(model());
    ASSERT_TRUE(connect(session)) << "the extension connected again";
    EXPECT_EQ(titles(session), QStringList { "Plain audio" });
    EXPECT_EQ(scripting->bridge().connections(chromium->processId()).size(), 1u);
    session.setTabVolume(keyOf(page), 0.25f);
    ASSERT_TRUE(waitUntil([&] { return session.desired().isEmpty() && !session.busy(); }, 10000));
    EXPECT_DOUBLE_EQ(media(page, "volume").toDouble(), 0.25);
}

TEST_F(ExtensionInChromium, HostilePagesChangeNothingButThemselves)
{
    const auto plain = open("/audio.html");
    const auto hostile = open("/hostile.html");
    open("/huge.html");
    NativeVolumeSession& session = chromiumSession(model());
    ASSERT_TRUE(connect(session));
    // The forged reply of the page's own JSON.stringify never reaches the isolated world, the injected title stays
    // one title, the broken key is replaced, and the page whose reply is too large for the road is left out.
    const QString title = chromium->evaluateValue(hostile, "document.title").toString();
    EXPECT_TRUE(title.startsWith("Evil\"}]"));
    EXPECT_EQ(titles(session), (QStringList { "Plain audio", title }));
    const QString key = keyOf(hostile);
    EXPECT_TRUE(BrowserMediaVolume::isTabKey(key)) << key.toStdString();
    session.setTabVolume(key, 0.6f);
    ASSERT_TRUE(waitUntil([&] { return session.desired().isEmpty() && !session.busy(); }, 10000));
    EXPECT_FALSE(session.hasError()) << session.error().toStdString();
    EXPECT_DOUBLE_EQ(media(hostile, "volume").toDouble(), 0.6);
    EXPECT_DOUBLE_EQ(media(plain, "volume").toDouble(), 1.0);
}

TEST_F(ExtensionInChromium, ABrowserWithoutTheExtensionGetsNumberedSteps)
{
    HeadlessChromium bare; // the user's other browser, without Sonaric's extension
    bare.setFixtureOrigin(server->origin());
    bare.setRuntimeDirectory(runtime->path());
    QString error;
    ASSERT_TRUE(bare.start(&error)) << error.toStdString();
    Scene scene;
    scene.installed = { QStringLiteral("org.chromium.Chromium") };
    SimulatedWorkspace only(scene);
    only.launch(application(bare.processId(), kChromiumID, QStringLiteral("Chromium")));
    QTemporaryDir other;
    LinuxScripting::Options options;
    options.socketPath = other.filePath("sonaric-browsers.socket");
    options.extensionFolder = other.filePath("browser-extension");
    options.hostPath = QStringLiteral(SONARIC_BROWSER_HOST);
    options.extensionWait = 500ms;
    LinuxScripting service(only, options);
    NativeVolumeSession session(NativeVolumeSource::chromium,
        std::make_unique<BrowserMediaVolume>(NativeVolumeSource::chromium, service, only));
    session.connectToSource();
    ASSERT_TRUE(waitUntil([&] { return !session.busy(); }, 20000));
    EXPECT_FALSE(session.isConnected());
    EXPECT_EQ(session.error(), "Sonaric's extension in Chromium isn't answering.");
    EXPECT_EQ(session.errorSteps(),
        (QStringList { "In Chromium, open chrome://extensions.", "Turn on Developer mode.",
            "Click Load unpacked and choose the folder " + other.filePath("browser-extension") + ".",
            "If Sonaric is already listed there, click its reload button instead.", "Click Try Again." }));
    EXPECT_TRUE(QFile::exists(other.filePath("browser-extension/manifest.json")));
    EXPECT_TRUE(QFile::exists(bare.profilePath() + "/NativeMessagingHosts/org.sonaric.browser_bridge.json"));

    // The browser with the extension goes on answering meanwhile.
    open("/audio.html");
    NativeVolumeSession& withExtension = chromiumSession(model());
    ASSERT_TRUE(connect(withExtension));
    EXPECT_EQ(titles(withExtension), QStringList { "Plain audio" });
}

} // namespace
