// Renders the mixer popover's views on the simulated system to PNG files: the demo scene's mixer, the same
// with Chrome's tabs and Spotify under their native connectors (the simulated scripting's fake browser and
// player), the output picker open, a connector's error and a connection on its way, the empty mixer, and the
// settings window's General and Connectors panes (Chrome showing its numbered steps). Usage:
// sonaric_screenshots OUTPUT_DIRECTORY (tools/screenshots runs it with the software renderer on the offscreen
// platform).

#include "app/linux_texts_scripting.h"
#include "platform/login/launch_at_login.h"
#include "platform/login/sim/simulated_login_item_service.h"
#include "ui/connector_settings.h"
#include "ui/settings_navigation.h"
#include "ui/ui.h"
#include "ui/ui_bench.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(Sonaric_UiPlugin)

using namespace sonaric;
using namespace sonaric::test;

namespace
{

/// A tab on a media site, so the connector looks into it wherever it is.
FakeTab page(const char* site, const char* key, const char* title, int volume)
{
    FakeTab tab;
    tab.url = QStringLiteral("https://www.%1/%2").arg(QLatin1String(site), QLatin1String(key));
    tab.page = FakePage { QString::fromLatin1(key), QString::fromUtf8(title), true, true, volume, false };
    return tab;
}

void settle(int milliseconds = 100)
{
    waitUntil([] { return false; }, milliseconds);
}

QQuickItem* findItem(QQuickItem* root, const char* typeName, const QString& property, const QVariant& value)
{
    for (QQuickItem* child : root->childItems()) {
        if (QString::fromLatin1(child->metaObject()->className()).startsWith(QLatin1String(typeName))
            && child->property(property.toLatin1()) == value)
            return child;
        if (QQuickItem* found = findItem(child, typeName, property, value))
            return found;
    }
    return nullptr;
}

/// The popover as the program shows it: a window sized to the mixer view.
class Popover
{
public:
    Popover(QQmlEngine& engine, MixerModel* model, const QString& notice)
    {
        // Loaded as the program loads it: straight from the module's file.
        QQmlComponent component(&engine);
        component.loadUrl(
            QUrl(QStringLiteral("qrc:/qt/qml/Sonaric/Ui/MixerView.qml")), QQmlComponent::PreferSynchronous);
        if (component.isReady())
            root.reset(qobject_cast<QQuickItem*>(component.createWithInitialProperties(
                { { QStringLiteral("model"), QVariant::fromValue(model) }, { QStringLiteral("notice"), notice } })));
        if (!root) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            std::exit(1);
        }
        root->setParentItem(window.contentItem());
        window.setGeometry(40, 40, int(root->width()), int(root->height()));
        window.show();
        settle();
        window.resize(int(root->width()), int(root->height()));
        settle();
    }

    QImage grab() { return window.grabWindow(); }

    QQuickWindow window;
    std::unique_ptr<QQuickItem> root;
};

/// The settings window's view in a window of the program's size, on one pane.
class SettingsShot
{
public:
    SettingsShot(QQmlEngine& engine, UiBench& bench, int pane, int highlighted)
        : launchAtLogin(loginItem)
        , connectors(*bench.model(), bench.workspace())
    {
        loginItem.setStatus(LoginItemService::Status::enabled);
        launchAtLogin.refresh();
        navigation.setPane(pane);
        navigation.setHighlighted(highlighted);
        QQmlComponent component(&engine);
        component.loadUrl(
            QUrl(QStringLiteral("qrc:/qt/qml/Sonaric/Ui/SettingsWindowView.qml")), QQmlComponent::PreferSynchronous);
        if (component.isReady())
            root.reset(qobject_cast<QQuickItem*>(component.createWithInitialProperties({
                { QStringLiteral("navigation"), QVariant::fromValue(&navigation) },
                { QStringLiteral("model"), QVariant::fromValue(bench.model()) },
                { QStringLiteral("launchAtLogin"), QVariant::fromValue(&launchAtLogin) },
                { QStringLiteral("connectors"), QVariant::fromValue(&connectors) },
            })));
        if (!root) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            std::exit(1);
        }
        root->setParentItem(window.contentItem());
        root->setSize(QSizeF(760, 540));
        window.setGeometry(40, 40, 760, 540);
        window.show();
        settle(800); // past the pane's fade and rise and the scroll to the highlighted connector
    }

    QImage grab() { return window.grabWindow(); }

    SimulatedLoginItemService loginItem;
    LaunchAtLogin launchAtLogin;
    SettingsNavigation navigation;
    ConnectorSettings connectors;
    QQuickWindow window;
    std::unique_ptr<QQuickItem> root;
};

bool save(const QImage& image, const QString& path)
{
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: sonaric_screenshots OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    prepareUiStyle();

    UiBench bench(UiBench::Connectors::simulated);
    // The simulated applications fail as the other platform's do; the program shows the steps true on Linux.
    bench.setScriptingWrapper([](std::unique_ptr<Scripting> simulated, const Workspace& workspace) {
        return std::make_unique<LinuxTextsScripting>(
            std::move(simulated), workspace, QStringLiteral("/home/you/.local/share/sonaric/browser-extension"));
    });
    Scene scene = demoScene();
    bench.start(scene);
    QQmlEngine engine;
    registerUi(engine, bench.workspace());
    MixerModel& model = *bench.model();
    const QString notice = QStringLiteral("No sound server answered: these applications are simulated.");
    model.setVolume(QStringLiteral("com.example.meet"), 0.6f);
    model.setVolume(QStringLiteral("com.spotify.client"), 1.4f);
    model.toggleMute(QStringLiteral("pid:1207"));
    model.setRoute(QStringLiteral("A4-C1-38-0F-22-91:output"), QStringLiteral("com.example.meet"));

    bool ok = true;
    {
        Popover popover(engine, &model, notice);
        ok = save(popover.grab(), out.filePath(QStringLiteral("mixer.png"))) && ok;

        // The output picker of the video call, opened as a click opens it: the list's window beside the button.
        QQuickItem* picker = findItem(
            popover.root.get(), "OutputPickerButton", QStringLiteral("appID"), QStringLiteral("com.example.meet"));
        if (!picker) {
            std::fprintf(stderr, "no output picker for the video call\n");
            return 1;
        }
        QMetaObject::invokeMethod(picker->property("hoverRule").value<QObject*>(), "toggle");
        settle(300); // past the button's 0.12 s highlight
        auto* list = picker->property("listWindow").value<QQuickWindow*>();
        const QImage popoverImage = popover.grab();
        const QImage listImage = list->grabWindow();
        const QRect popoverRect(popover.window.position(), popoverImage.size());
        const QRect listRect(list->position(), listImage.size());
        const QRect both = popoverRect.united(listRect).adjusted(-8, -8, 8, 8);
        QImage composed(both.size(), QImage::Format_ARGB32);
        composed.fill(QColor(0x80, 0x80, 0x80));
        QPainter painter(&composed);
        painter.drawImage(popoverRect.topLeft() - both.topLeft(), popoverImage);
        painter.drawImage(listRect.topLeft() - both.topLeft(), listImage);
        painter.end();
        ok = save(composed, out.filePath(QStringLiteral("output-picker.png"))) && ok;
    }

    // Chrome's tabs and Spotify's own volume, through the real connectors against the fake browser and player.
    FakeBrowser chrome;
    chrome.bundleID = QStringLiteral("com.google.Chrome");
    chrome.appName = QStringLiteral("Google Chrome");
    chrome.pid = 733;
    FakeWindow window;
    window.tabs = { page("youtube.com", "lofi1", "Lo-fi beats to study to – YouTube", 100),
        page("twitch.tv", "keynote2", "Keynote rehearsal · Twitch", 45), page("vimeo.com", "short3", "", 70) };
    chrome.windows = { window };
    bench.scripting().addBrowser(chrome);
    FakeMediaApp spotify;
    spotify.bundleID = QStringLiteral("com.spotify.client");
    spotify.volume = 60;
    spotify.hasMute = false;
    bench.scripting().addApp(spotify);
    for (int source : { int(NativeVolumeSource::chrome), int(NativeVolumeSource::spotify) }) {
        NativeVolumeSession* session = bench.session(source);
        session->connectToSource();
        if (!waitUntil([&] { return !session->busy(); }, 10000) || !session->isConnected()) {
            std::fprintf(
                stderr, "%s did not connect: %s\n", qPrintable(session->title()), qPrintable(session->error()));
            return 1;
        }
    }
    settle();
    {
        Popover popover(engine, &model, QString());
        ok = save(popover.grab(), out.filePath(QStringLiteral("native-rows.png"))) && ok;
    }

    // Chrome refusing to be controlled under its connector (an error with its pointer to the settings), and
    // Spotify, disconnected, connecting again from its application row (scripts take a while here, so it is
    // caught connecting).
    bench.scripting().browser(QStringLiteral("com.google.Chrome"))->refusesAutomation = true;
    bench.session(NativeVolumeSource::chrome)->refresh();
    NativeVolumeSession* player = bench.session(NativeVolumeSource::spotify);
    player->disconnectFromSource();
    waitUntil([&] { return !player->busy() && bench.session(NativeVolumeSource::chrome)->hasError(); });
    settle();
    bench.scripting().setScriptDuration(std::chrono::milliseconds(1500));
    player->connectToSource();
    {
        Popover popover(engine, &model, QString());
        ok = save(popover.grab(), out.filePath(QStringLiteral("states.png"))) && ok;
    }
    waitUntil([&] { return !player->busy(); });
    settle();

    // The settings: General with launch at login on, and Connectors opened at Chrome, which shows its steps.
    {
        SettingsShot general(engine, bench, 0, -1);
        ok = save(general.grab(), out.filePath(QStringLiteral("settings-general.png"))) && ok;
    }
    {
        SettingsShot connectors(engine, bench, 1, int(NativeVolumeSource::chrome));
        ok = save(connectors.grab(), out.filePath(QStringLiteral("settings-connectors.png"))) && ok;
    }

    bench.start(QStringLiteral("quiet"));
    {
        Popover popover(engine, bench.model(), QString());
        ok = save(popover.grab(), out.filePath(QStringLiteral("empty.png"))) && ok;
    }
    return ok ? 0 : 1;
}
