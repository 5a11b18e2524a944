#include "app/platform.h"

#include "app/linux_texts_scripting.h"
#include "platform/audio/linux/pulse_audio_hardware.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/bundle/linux/linux_bundle_services.h"
#include "platform/bundle/sim/simulated_bundle_services.h"
#include "platform/scene/scene.h"
#include "platform/scripting/linux/browser_extension_setup.h"
#include "platform/scripting/linux/linux_scripting.h"
#include "platform/scripting/sim/simulated_scripting.h"
#include "platform/workspace/linux/desktop_entries.h"
#include "platform/workspace/linux/linux_workspace.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include <QCoreApplication>
#include <QFile>

namespace sonaric
{

PlatformChoice parsePlatformChoice(const QStringList& arguments, const QProcessEnvironment& environment)
{
    PlatformChoice choice;
    QString platform = environment.value(QStringLiteral("SONARIC_PLATFORM"));
    choice.sceneFile = environment.value(QStringLiteral("SONARIC_SCENE"));
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg.startsWith(QLatin1String("--platform=")))
            platform = arg.mid(11);
        else if (arg == u"--platform" && i + 1 < arguments.size())
            platform = arguments[++i];
        else if (arg.startsWith(QLatin1String("--scene=")))
            choice.sceneFile = arg.mid(8);
        else if (arg == u"--scene") {
            if (i + 1 >= arguments.size()) {
                choice.error = QStringLiteral("--scene needs a file name");
                return choice;
            }
            choice.sceneFile = arguments[++i];
        }
    }
    if (platform.isEmpty())
        choice.kind = choice.sceneFile.isEmpty() ? PlatformChoice::Kind::automatic : PlatformChoice::Kind::sim;
    else if (platform == u"sim")
        choice.kind = PlatformChoice::Kind::sim;
    else if (platform == u"linux")
        choice.kind = PlatformChoice::Kind::linux;
    else
        choice.error = QStringLiteral("unknown platform \"%1\" (expected sim or linux)").arg(platform);
    if (choice.error.isEmpty() && choice.kind == PlatformChoice::Kind::linux && !choice.sceneFile.isEmpty())
        choice.error = QStringLiteral("a scene describes the simulated system; it cannot go with --platform=linux");
    return choice;
}

namespace
{

/// The demo's media applications and browser tabs, for the native connectors.
std::unique_ptr<Scripting> demoScripting()
{
    QFile file(QStringLiteral(":/scenes/demo-scripting.json"));
    std::unique_ptr<SimulatedScripting> scripting;
    if (file.open(QIODevice::ReadOnly))
        scripting = SimulatedScripting::fromJson(file.readAll());
    if (!scripting)
        scripting = std::make_unique<SimulatedScripting>();
    return scripting;
}

/// The sound server's streams mostly name their application; the others are known by the desktop entry their
/// process was started from.
std::function<QString(pid_t)> desktopEntryIdOfProcess(std::shared_ptr<const DesktopEntries> entries)
{
    return [entries = std::move(entries)](pid_t pid) {
        const auto entry = entries->forProcess(pid);
        return entry ? entry->id : QString();
    };
}

Platform simulated(const PlatformChoice& choice, const QString& why, const QString& notice)
{
    Platform platform;
    platform.notice = notice;
    Scene scene;
    if (choice.sceneFile.isEmpty()) {
        scene = demoScene();
        platform.description = QStringLiteral("using the simulated audio system with the demo scene (%1)").arg(why);
        platform.scripting = demoScripting();
    } else {
        SceneLoadResult loaded = loadSceneFile(choice.sceneFile);
        if (!loaded.scene) {
            platform.error = loaded.error;
            return platform;
        }
        scene = std::move(*loaded.scene);
        platform.scripting = std::make_unique<SimulatedScripting>();
        platform.description
            = QStringLiteral("using the simulated audio system with the scene %1").arg(choice.sceneFile);
    }
    // The simulated system installs nothing: updates are described in memory.
    platform.bundles
        = std::make_unique<SimulatedBundleServices>(BundleInfo::builtIn(QCoreApplication::applicationDirPath()));
    auto audio = std::make_unique<SimulatedAudioHardware>(scene);
    platform.simulated = audio.get();
    platform.audio = std::move(audio);
    platform.workspace = std::make_unique<SimulatedWorkspace>(scene);
    // The simulated applications fail as the other platform's do; the user is on Linux all the same.
    platform.scripting = std::make_unique<LinuxTextsScripting>(
        std::move(platform.scripting), *platform.workspace, BrowserExtensionSetup::defaultExtensionFolder());
    return platform;
}

} // namespace

Platform makePlatform(const PlatformChoice& choice)
{
    if (choice.kind == PlatformChoice::Kind::sim)
        return simulated(choice, QStringLiteral("as asked"),
            QStringLiteral("Simulated sound system: these applications are not your own."));

    QString error;
    PulseAudioHardware::ConnectFailure failure = PulseAudioHardware::ConnectFailure::none;
    PulseAudioHardware::Options options;
    // Read once: the backend names processes by them, and the workspace keeps its own copy.
    const auto entries = std::make_shared<const DesktopEntries>(DesktopEntries::load());
    options.bundleIdentifierForProcess = desktopEntryIdOfProcess(entries);
    std::unique_ptr<AudioHardware> audio = PulseAudioHardware::connect(std::move(options), &error, &failure);
    if (!audio) {
        // A server that is there but silent is no reason to show the demo instead: that would pass for the truth.
        if (failure == PulseAudioHardware::ConnectFailure::stoppedAnswering) {
            Platform platform;
            platform.error = error;
            return platform;
        }
        if (choice.kind == PlatformChoice::Kind::linux) {
            Platform platform;
            platform.error = QStringLiteral("no PulseAudio or PipeWire server answered (%1)").arg(error);
            return platform;
        }
        return simulated(choice, QStringLiteral("no PulseAudio or PipeWire server answered"),
            QStringLiteral("No sound server answered: these applications are simulated."));
    }
    Platform platform;
    platform.audio = std::move(audio);
    platform.workspace = std::make_unique<LinuxWorkspace>(*entries);
    platform.scripting = std::make_unique<LinuxScripting>(*platform.workspace);
    platform.bundles = std::make_unique<LinuxBundleServices>();
    platform.description = QStringLiteral("using the sound server");
    return platform;
}

} // namespace sonaric
