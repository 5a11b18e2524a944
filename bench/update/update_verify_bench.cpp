// Times what installing an update does with the image, for bench/update/verify.sh.
//
//   update_verify_bench steps IMAGE PUBLIC-KEY     each verification step on its own, in seconds
//   update_verify_bench install IMAGE SHA256 SIZE PUBLIC-KEY INSTALLED
//                                                  one whole installation over the folder INSTALLED (build 1),
//                                                  as the updater runs it; the image is consumed. Prints
//                                                  its own peak memory and its tools' in KiB
//
// The steps are the installation's own calls, one by one: the streamed digest, the unpack, the copy out of
// the image, and the manifest with its signature check.

#include "platform/bundle/file_digest.h"
#include "platform/bundle/file_tree.h"
#include "platform/bundle/linux/linux_bundle_services.h"
#include "update/update_error.h"
#include "update/updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

using namespace sonaric;

namespace
{

int steps(const QString& image, const QString& publicKey)
{
    QTextStream out(stdout);
    LinuxBundleServices services;
    QElapsedTimer timer;
    auto report = [&](const char* step) {
        out << step << ' ' << QString::number(timer.nsecsElapsed() / 1e9, 'f', 3) << Qt::endl;
        timer.restart();
    };
    timer.start();
    qint64 bytes = 0;
    if (!Sha256::ofFile(image, &bytes))
        return 1;
    report("digest");
    QTemporaryDir scratch(QFileInfo(image).absolutePath() + "/bench-XXXXXX");
    const QString mount = scratch.filePath("mount");
    QDir().mkpath(mount);
    timer.restart();
    if (!services.attach(image, mount).succeeded())
        return 1;
    report("unpack");
    if (!FileTree::copy(mount + "/Sonaric.app", scratch.filePath("Sonaric.app")))
        return 1;
    report("copy");
    QString reason;
    const QString requirement = Updater::requirement(QStringLiteral("org.sonaric.Sonaric"), publicKey);
    if (!services.checkValidity(scratch.filePath("Sonaric.app"), requirement, &reason)) {
        QTextStream(stderr) << reason << Qt::endl;
        return 1;
    }
    report("signature");
    services.detach(mount);
    report("detach");
    return 0;
}

int install(const QStringList& arguments)
{
    LinuxBundleServices services;
    const UpdateInfo update { "bench", 2, QUrl("https://bench.invalid/"), arguments[1], arguments[2].toLongLong() };
    try {
        Updater::install(services, arguments[0], update, arguments[4], "org.sonaric.Sonaric", arguments[3]);
    } catch (const UpdateError& error) {
        QTextStream(stderr) << error.message << Qt::endl;
        return 1;
    }
    // The installation's own peak, and the peak of the tools it ran (unsquashfs), apart.
    rusage self {}, children {};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    QTextStream(stdout) << self.ru_maxrss << ' ' << children.ru_maxrss << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    if (arguments.value(0) == "steps" && arguments.size() == 3)
        return steps(arguments[1], arguments[2]);
    if (arguments.value(0) == "install" && arguments.size() == 6)
        return install(arguments.mid(1));
    QTextStream(stderr) << "usage: see the comment at the top of update_verify_bench.cpp" << Qt::endl;
    return 2;
}
