// Stands in for sonaric inside the test packages: it runs the updater as the program would and writes what
// happens to a log, so the end-to-end tests can follow an update across the relaunch. The relaunched copy
// gets no arguments; everything else comes from the environment:
//   SONARIC_PROBE_FEED  the feed URL          SONARIC_PROBE_KEY  the publisher's public key
//   SONARIC_PROBE_CA    the only authority to trust                SONARIC_PROBE_LOG  the log file
// With --update it installs the update the feed offers; without, it only reports its build and exits.

#include "platform/bundle/linux/linux_bundle_services.h"
#include "platform/workspace/sim/simulated_workspace.h"
#include "update/updater.h"

#include <QCoreApplication>
#include <QFile>
#include <QSslConfiguration>
#include <QTimer>

using namespace sonaric;

namespace
{

void log(const QString& line)
{
    QFile file(qEnvironmentVariable("SONARIC_PROBE_LOG"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setCaCertificates(QSslCertificate::fromPath(qEnvironmentVariable("SONARIC_PROBE_CA")));
    QSslConfiguration::setDefaultConfiguration(ssl);

    LinuxBundleServices bundles;
    SimulatedWorkspace workspace { Scene {} };
    Updater::Options options;
    options.feed = { QUrl(qEnvironmentVariable("SONARIC_PROBE_FEED")), qEnvironmentVariable("SONARIC_PROBE_KEY") };
    Updater updater(bundles, workspace, options);
    const QString build = QString::number(updater.currentBuild());
    log(QStringLiteral("started build %1 pid %2").arg(build).arg(QCoreApplication::applicationPid()));
    if (!application.arguments().contains(QStringLiteral("--update")))
        return 0;

    QObject::connect(&updater, &Updater::availableChanged, &updater, [&] {
        if (updater.updateAvailable())
            updater.install();
    });
    QObject::connect(&updater, &Updater::phaseChanged, &updater, [&] {
        if (updater.phase() != Updater::Phase::Failed)
            return;
        log(QStringLiteral("failed: ") + updater.errorText());
        for (const QUrl& url : workspace.openedURLs())
            log(QStringLiteral("opened ") + url.toString());
        application.exit(1);
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] { log("quitting build " + build); });
    QTimer::singleShot(60000, &application, [&] {
        log(QStringLiteral("timed out"));
        application.exit(3);
    });
    updater.start();
    return application.exec();
}
