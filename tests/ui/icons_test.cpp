#include "audio/output_device.h"
#include "platform/workspace/linux/linux_workspace.h"
#include "platform/workspace/sim/simulated_workspace.h"
#include "ui/app_icon_provider.h"
#include "ui/forwarding_workspace.h"
#include "ui/symbol_image_provider.h"
#include "ui/system_symbols.h"
#include "ui/ui.h"

#include "support/scenes.h"

#include <QFile>
#include <QImage>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

/// The icon theme set up as the views have it.
void useViewsIconTheme()
{
    static QQmlEngine engine;
    static SimulatedWorkspace workspace { Scene {} };
    static bool done = (registerUi(engine, workspace), true);
    (void)done;
}

int visiblePixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

} // namespace

TEST(SystemSymbols, EverySymbolTheViewsAndTheDevicesUseIsDrawnFromTheIconTheme)
{
    useViewsIconTheme();
    QStringList used { "speaker.wave.2.fill", "speaker.slash.fill", "speaker.wave.2", "speaker.slash", "airplayaudio",
        "checkmark", "play.fill", "pause.fill", "sparkles", "arrow.triangle.swap", "app" };
    const std::uint32_t transports[]
        = { kAudioDeviceTransportTypeAirPlay, kAudioDeviceTransportTypeBluetooth, kAudioDeviceTransportTypeBluetoothLE,
              kAudioDeviceTransportTypeBuiltIn, kAudioDeviceTransportTypeDisplayPort, kAudioDeviceTransportTypeHDMI,
              kAudioDeviceTransportTypeThunderbolt, kAudioDeviceTransportTypeUSB, kAudioDeviceTransportTypeFireWire,
              kAudioDeviceTransportTypePCI, kAudioDeviceTransportTypeVirtual, kAudioDeviceTransportTypeUnknown };
    for (std::uint32_t transport : transports)
        for (const char* name : { "Speakers", "Headphones", "AirPods Max", "AirPods Pro", "AirPods", "MacBook Pro",
                 "Mac mini", "Mac Studio", "iMac" })
            used << OutputDevice::symbolFor(transport, QString::fromLatin1(name));
    used.removeDuplicates();
    for (const QString& symbol : used) {
        EXPECT_TRUE(SystemSymbols::symbols().contains(symbol)) << symbol.toStdString() << " is not in the table";
        const QImage image = SymbolImageProvider::render(symbol, Qt::red, QSize(16, 16));
        EXPECT_GT(visiblePixels(image), 10) << symbol.toStdString() << " draws nothing";
    }
}

TEST(SymbolImageProvider, DrawsEverySymbolInTheAskedColourAndSize)
{
    useViewsIconTheme();
    SymbolImageProvider provider;
    QSize size;
    const QImage image = provider.requestImage(QStringLiteral("checkmark/ff3584e4"), &size, QSize(20, 20));
    EXPECT_EQ(size, QSize(20, 20));
    int visible = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = QColor::fromRgba(image.pixel(x, y));
            if (pixel.alpha() == 255) {
                ++visible;
                EXPECT_EQ(pixel.rgb(), QColor(0x35, 0x84, 0xe4).rgb());
            }
        }
    EXPECT_GT(visible, 0);
    EXPECT_EQ(visiblePixels(provider.requestImage(QStringLiteral("no.such.symbol/ff000000"), &size, QSize())), 0);
    EXPECT_EQ(size, QSize(16, 16));
    EXPECT_EQ(SymbolImageProvider::source(QStringLiteral("checkmark"), QColor(0x35, 0x84, 0xe4)),
        QUrl(QStringLiteral("image://symbol/checkmark/ff3584e4")));
}

TEST(AppIcons, KeepsEveryAnswerAndTheGenericIconForApplicationsWithout)
{
    useViewsIconTheme();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("meet.png"));
    QImage red(32, 32, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(file));

    Scene scene;
    scene.applications = { application(100, QStringLiteral("com.example.player"), QStringLiteral("Player")),
        application(200, QStringLiteral("com.example.meet"), QStringLiteral("Meet")),
        application(300, QString(), QStringLiteral("tool")) };
    scene.applicationIcons[QStringLiteral("com.example.player")] = QStringLiteral("audio-x-generic");
    scene.applicationIcons[QStringLiteral("com.example.meet")] = file;
    scene.applicationIcons[QStringLiteral("com.example.device")] = QStringLiteral("/dev/zero");
    SimulatedWorkspace simulated(scene);
    ForwardingWorkspace workspace;
    workspace.setTarget(&simulated);
    AppIcons icons(workspace);

    const qint64 generic = AppIcons::genericIcon().cacheKey();
    ASSERT_FALSE(AppIcons::genericIcon().isNull());
    const QIcon player = icons.icon(QStringLiteral("com.example.player"));
    EXPECT_EQ(player.name(), "audio-x-generic");
    EXPECT_EQ(icons.icon(QStringLiteral("com.example.meet")).pixmap(16).toImage().pixelColor(8, 8), QColor(Qt::red));
    EXPECT_EQ(icons.icon(QStringLiteral("com.example.device")).cacheKey(), generic) << "only regular files";
    EXPECT_EQ(icons.icon(QStringLiteral("com.example.missing")).cacheKey(), generic);
    EXPECT_EQ(icons.iconForProcess(300).cacheKey(), generic) << "an application without a bundle identifier";
    EXPECT_EQ(icons.iconForProcess(999).cacheKey(), generic) << "no application";
    const int asked = workspace.iconQueries();

    EXPECT_EQ(icons.icon(QStringLiteral("com.example.player")).cacheKey(), player.cacheKey());
    EXPECT_EQ(icons.iconForProcess(100).cacheKey(), player.cacheKey());
    simulated.setInstalled(QStringLiteral("com.example.missing"), true);
    EXPECT_EQ(icons.icon(QStringLiteral("com.example.missing")).cacheKey(), generic) << "kept until a restart";
    EXPECT_EQ(workspace.iconQueries(), asked) << "answers come from the cache";

    AppIconProvider provider(workspace);
    QSize size;
    EXPECT_EQ(provider.requestPixmap(QStringLiteral("pid/200"), &size, QSize(22, 22)).toImage().pixelColor(11, 11),
        QColor(Qt::red));
    EXPECT_EQ(size, QSize(22, 22));
    EXPECT_EQ(AppIconProvider::sourceForBundle(QStringLiteral("com.example/evil")),
        QUrl(QStringLiteral("image://appicon/com.example%2Fevil")));
}

TEST(LinuxWorkspace, NamesTheIconOfTheDesktopEntry)
{
    QTemporaryDir dir;
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile file(dir.filePath(QLatin1String(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    };
    write("org.example.Player.desktop",
        "[Desktop Entry]\nType=Application\nName=Player\nExec=player\nIcon=multimedia-player\n");
    write("tool.desktop", "[Desktop Entry]\nType=Application\nName=Tool\nExec=tool\nIcon=/opt/tool/tool.svg\n");
    write("bare.desktop", "[Desktop Entry]\nType=Application\nName=Bare\nExec=bare\n");
    LinuxWorkspace workspace(DesktopEntries::load({ dir.path() }, {}));
    EXPECT_EQ(workspace.iconForApplication(QStringLiteral("org.example.Player")), "multimedia-player");
    EXPECT_EQ(workspace.iconForApplication(QStringLiteral("tool")), "/opt/tool/tool.svg");
    EXPECT_EQ(workspace.iconForApplication(QStringLiteral("bare")), "");
    EXPECT_EQ(workspace.iconForApplication(QStringLiteral("unknown")), "");
}

TEST(AppIcons, ResolvesWhatDesktopEntriesWrite)
{
    useViewsIconTheme();
    EXPECT_EQ(AppIcons::resolve(QStringLiteral("audio-x-generic.png")).name(), "audio-x-generic");
    EXPECT_TRUE(AppIcons::resolve(QString()).isNull());
    EXPECT_TRUE(AppIcons::resolve(QStringLiteral("/no/such/icon.png")).isNull());
    EXPECT_TRUE(AppIcons::resolve(QStringLiteral("../../etc/passwd")).isNull());
}

TEST(Scene, GivesApplicationsTheirIcons)
{
    const SceneLoadResult read = parseScene(
        R"({"applications": [{"pid": 1, "bundleID": "com.example.player", "icon": "audio-x-generic"},
                             {"pid": 2, "bundleID": "com.example.plain"}]})",
        QStringLiteral("desk.json"));
    ASSERT_TRUE(read.scene) << read.error.toStdString();
    EXPECT_EQ(
        SimulatedWorkspace(*read.scene).iconForApplication(QStringLiteral("com.example.player")), "audio-x-generic");
    EXPECT_EQ(SimulatedWorkspace(*read.scene).iconForApplication(QStringLiteral("com.example.plain")), "");

    const SceneLoadResult bad
        = parseScene(R"({"applications": [{"pid": 1, "icon": "audio-x-generic"}]})", QStringLiteral("desk.json"));
    EXPECT_FALSE(bad.scene);
    EXPECT_EQ(bad.error, "desk.json: applications[0].icon: an application without a bundleID has no icon");
    EXPECT_EQ(
        SimulatedWorkspace(demoScene()).iconForApplication(QStringLiteral("com.spotify.client")), "audio-x-generic");
}
