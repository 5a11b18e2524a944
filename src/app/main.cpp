#include "app/app_delegate.h"
#include "app/listing.h"
#include "app/platform.h"
#include "app/single_instance.h"
#include "app/status_bar_controller.h"
#include "app/termination_signals.h"
#include "platform/bundle/linux/linux_bundle_services.h"
#include "platform/tray/linux/linux_status_item.h"
#include "ui/ui.h"
#include "update/version_text.h"

#include <QApplication>
#include <QQmlExtensionPlugin>
#include <QTextStream>

// The views are a static QML module linked into the program.
Q_IMPORT_QML_PLUGIN(Sonaric_UiPlugin)

using namespace sonaric;

namespace
{

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Sonaric"));
    QCoreApplication::setOrganizationName(QStringLiteral("Sonaric"));
}

/// Prints what the audio system reports and returns; no window, no tray, no model.
int runListing(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    nameApplication();
    QTextStream err(stderr);
    const QStringList arguments = QCoreApplication::arguments();
    const PlatformChoice choice = parsePlatformChoice(arguments, QProcessEnvironment::systemEnvironment());
    if (!choice.error.isEmpty()) {
        err << "sonaric: " << choice.error << Qt::endl;
        return 2;
    }
    Platform platform = makePlatform(choice);
    if (!platform.error.isEmpty()) {
        err << "sonaric: " << platform.error << Qt::endl;
        return 2;
    }
    err << "sonaric: " << platform.description << Qt::endl;
    QTextStream out(stdout);
    for (const QString& line : listingLines(*platform.audio, *platform.workspace))
        out << line << '\n';
    out.flush();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (wantsListing(arguments))
            return runListing(argc, argv);
        if (arguments.contains(QStringLiteral("--version"))) {
            QCoreApplication application(argc, argv);
            nameApplication();
            QTextStream(stdout) << versionText(LinuxBundleServices().mainBundle()) << Qt::endl;
            return 0;
        }
    }

    prepareUiStyle();
    QApplication application(argc, argv);
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("org.sonaric.Sonaric"));
    // The program lives in the tray: closing its windows never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    QTextStream err(stderr);

    const PlatformChoice choice
        = parsePlatformChoice(QCoreApplication::arguments(), QProcessEnvironment::systemEnvironment());
    if (!choice.error.isEmpty()) {
        err << "sonaric: " << choice.error << Qt::endl;
        return 2;
    }

    SingleInstance instance;
    switch (instance.claim()) {
    case SingleInstance::Claim::secondary:
        if (instance.askPrimaryToShowMixer()) {
            err << "sonaric: Sonaric is already running; its mixer is open" << Qt::endl;
            return 0;
        }
        err << "sonaric: Sonaric is already running but did not answer" << Qt::endl;
        return 1;
    case SingleInstance::Claim::failed:
        // Without the lock a second copy could tap the same applications twice; better not to start.
        err << "sonaric: " << instance.error() << Qt::endl;
        return 1;
    case SingleInstance::Claim::primary:
        break;
    }

    Platform platform = makePlatform(choice);
    if (!platform.error.isEmpty()) {
        err << "sonaric: " << platform.error << Qt::endl;
        return 2;
    }
    err << "sonaric: " << platform.description << Qt::endl;

    AppDelegate delegate(platform, [] { return makeLinuxStatusItem(); });
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &application, &QCoreApplication::quit);
    QObject::connect(&application, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
    // The session manager ends the program at log-out with a quit of its own, which the same handler covers.
    delegate.applicationDidFinishLaunching();
    QObject::connect(&instance, &SingleInstance::showMixerRequested, &delegate,
        [&delegate] { delegate.statusBar()->showMixerAtPointer(); });
    return application.exec();
}
