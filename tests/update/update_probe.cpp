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
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

#include <memory>

using namespace sonaric;

namespace
{

void log(const QString& line)
{
    QFile file(qEnvironmentVariable("SONARIC_PROBE_LOG"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line.toUtf8() + '\n');
}

/// Whether Qt's network thread is still running, by the names of this process's threads.
bool networkThreadRuns()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll().startsWith("QNetworkAccess"))
            return true;
    }
    return false;
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
    auto updater = std::make_unique<Updater>(bundles, workspace, options);
    const QString build = QString::number(updater->currentBuild());
    log(QStringLiteral("started build %1 pid %2").arg(build).arg(QCoreApplication::applicationPid()));
    if (!application.arguments().contains(QStringLiteral("--update")))
        return 0;

    Updater& running = *updater;
    QObject::connect(&running, &Updater::availableChanged, &running, [&] {
        if (running.updateAvailable())
            running.install();
    });
    QObject::connect(&running, &Updater::phaseChanged, &running, [&] {
        if (running.phase() != Updater::Phase::Failed)
            return;
        log(QStringLiteral("failed: ") + running.errorText());
        for (const QUrl& url : workspace.openedURLs())
            log(QStringLiteral("opened ") + url.toString());
        application.exit(1);
    });
    QObject::connect(&application, &QCoreApplication::aboutToQuit, [&] { log("quitting build " + build); });
    QTimer::singleShot(60000, &application, [&] {
        log(QStringLiteral("timed out"));
        application.exit(3);
    });
    running.start();
    const int status = application.exec();
    // The network access manager's thread is waited for until its work is done, not until it has ended: it frees
    // its OpenSSL state only as it ends, and a leak check at our exit (AddressSanitizer's) would catch it midway.
    // So the updater goes first, and the thread is given a moment to end.
    updater.reset();
    const QDeadlineTimer deadline(2000);
    while (networkThreadRuns() && !deadline.hasExpired())
        QThread::msleep(5);
    return status;
}
