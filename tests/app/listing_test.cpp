#include "app/listing.h"
#include "app/platform.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

ProgramRun runSonaric(const QStringList& arguments, const QMap<QString, QString>& environment = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("SONARIC_PLATFORM"));
    env.remove(QStringLiteral("SONARIC_SCENE"));
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(SONARIC_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(20000));
    return { process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError()) };
}

QString fixture(const char* name)
{
    return QStringLiteral(SONARIC_FIXTURES "/scenes/") + QLatin1String(name);
}

} // namespace

TEST(Listing, SelectedOnlyByTheWholeArgument)
{
    EXPECT_TRUE(wantsListing({ "sonaric", "--list" }));
    EXPECT_TRUE(wantsListing({ "sonaric", "-v", "--list", "x" }));
    EXPECT_TRUE(wantsListing({ "--list" })) << "the program path counts as an argument";
    EXPECT_FALSE(wantsListing({ "sonaric", "--listing" }));
    EXPECT_FALSE(wantsListing({ "sonaric", "--LIST" }));
    EXPECT_FALSE(wantsListing({ "sonaric", "--list=1" }));
}

TEST(Listing, PrintsPlayingAppsRawCountAndDevicesExactly)
{
    const ProgramRun run = runSonaric({ "--list", "--scene", fixture("listing.json") });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
        "Browser\tcom.example.browser\tpid=500\tobjects=[73, 71, 72]\n"
        "pid 777\tpid:777\tpid=777\tobjects=[90]\n"
        "raw HAL process objects: 6\n"
        "output: MacBook Air Speakers\tspk\tsymbol=laptopcomputer\n"
        "output: Desk DAC\tusb-1\tsymbol=hifispeaker\t(default)\n");
    EXPECT_TRUE(run.err.contains("simulated")) << run.err.toStdString();
    EXPECT_FALSE(run.out.contains("simulated")) << "the platform notice never reaches standard output";
}

TEST(Listing, WithNothingPlayingStillCountsAndListsDevices)
{
    const ProgramRun run = runSonaric({ "--platform=sim", "--list" }, { { "SONARIC_SCENE", fixture("silent.json") } });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "raw HAL process objects: 1\noutput: TV\thdmi\tsymbol=tv\n");
}

TEST(Listing, UnreadableDefaultDeviceMarksNothing)
{
    const auto loaded = loadSceneFile(fixture("listing.json"));
    ASSERT_TRUE(loaded.scene);
    SimulatedAudioHardware hw(*loaded.scene);
    SimulatedWorkspace workspace(*loaded.scene);
    hw.failNext(
        SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, kAudioHardwarePropertyDefaultOutputDevice);
    const QStringList lines = listingLines(hw, workspace);
    ASSERT_EQ(lines.size(), 5);
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains("(default)")) << line.toStdString();
}

TEST(Listing, DemoSceneServesWhenNothingIsChosen)
{
    const ProgramRun run = runSonaric({ "--list" }, { { "SONARIC_PLATFORM", "sim" } });
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.contains("raw HAL process objects: "));
    EXPECT_TRUE(run.out.contains("\t(default)\n"));
    EXPECT_FALSE(run.out.contains("coreaudiod"));
}

TEST(PlatformChoice, BadChoicesExitWithOneClearLine)
{
    QTemporaryDir dir;
    const QString broken = dir.filePath("broken.json");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"devices\": [ {\"uid\": \"a\", \"transport\": 7} ]}");
    file.close();

    struct Case {
        QStringList arguments;
        QMap<QString, QString> environment;
        QString error;
    };
    const Case cases[] = {
        { { "--list", "--platform=alsa" }, {}, "sonaric: unknown platform \"alsa\" (expected sim or linux)\n" },
        { { "--list" }, { { "SONARIC_PLATFORM", "macos" } },
            "sonaric: unknown platform \"macos\" (expected sim or linux)\n" },
        { { "--list", "--scene", broken }, {}, "sonaric: " + broken + ": devices[0].transport: expected a string\n" },
        { { "--list", "--scene", dir.filePath("missing.json") }, {}, {} },
        { { "--list", "--scene" }, {}, "sonaric: --scene needs a file name\n" },
    };
    for (const Case& c : cases) {
        const ProgramRun run = runSonaric(c.arguments, c.environment);
        EXPECT_EQ(run.status, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty());
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        if (!c.error.isEmpty())
            EXPECT_EQ(run.err, c.error);
        else
            EXPECT_TRUE(run.err.contains("missing.json")) << run.err.toStdString();
    }
}

TEST(PlatformChoice, ArgumentsWinOverTheEnvironment)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("SONARIC_PLATFORM"), QStringLiteral("linux"));
    env.insert(QStringLiteral("SONARIC_SCENE"), QStringLiteral("/env.json"));
    const auto choice = parsePlatformChoice({ "sonaric", "--platform=sim", "--scene=/arg.json" }, env);
    EXPECT_TRUE(choice.error.isEmpty());
    EXPECT_EQ(choice.kind, PlatformChoice::Kind::sim);
    EXPECT_EQ(choice.sceneFile, "/arg.json");
    EXPECT_EQ(parsePlatformChoice({ "sonaric", "--scene", "a.json" }, {}).kind, PlatformChoice::Kind::sim);
    EXPECT_EQ(parsePlatformChoice({ "sonaric" }, {}).kind, PlatformChoice::Kind::automatic);
}
