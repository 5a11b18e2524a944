// sonaric-sign: signs application folders for tools/package, with the same manifest the updater checks.

#include "platform/app_identity.h"
#include "platform/bundle/build_info.h"
#include "platform/bundle/file_tree.h"
#include "platform/bundle/linux/bundle_manifest.h"
#include "platform/bundle/linux/code_signature.h"
#include "platform/bundle/linux/linux_bundle_services.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <sys/stat.h>

using namespace sonaric;

namespace
{

constexpr char kUsage[] = "usage: sonaric-sign sign KEY.pem FOLDER\n"
                          "       sonaric-sign public-key KEY.pem\n"
                          "       sonaric-sign verify FOLDER IDENTIFIER PUBLIC-KEY-HEX\n"
                          "       sonaric-sign built-in\n";

int failWith(const QString& message)
{
    QTextStream(stderr) << "sonaric-sign: " << message << Qt::endl;
    return 1;
}

int sign(const QString& keyFile, const QString& folder)
{
    QString error;
    const std::optional<QByteArray> manifest = BundleManifest::of(folder, &error);
    if (!manifest)
        return failWith(error);
    const std::optional<QByteArray> signature = CodeSignature::sign(*manifest, keyFile, &error);
    if (!signature)
        return failWith(error);
    const QString signatureFolder = QDir(folder).filePath(QLatin1String(BundleManifest::signatureFolder));
    FileTree::remove(signatureFolder);
    QFile file(signatureFolder + u'/' + QLatin1String(BundleManifest::signatureFile));
    if (!QDir().mkpath(signatureFolder) || !file.open(QIODevice::WriteOnly)
        || file.write(signature->toBase64() + '\n') < 0 || !file.flush())
        return failWith(QStringLiteral("cannot write %1").arg(file.fileName()));
    // The same modes whatever the packager's umask.
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    ::chmod(QFile::encodeName(signatureFolder).constData(), 0755);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    QTextStream out(stdout);
    const QString command = arguments.value(0);
    if (command == QLatin1String("sign") && arguments.size() == 3)
        return sign(arguments[1], arguments[2]);
    if (command == QLatin1String("public-key") && arguments.size() == 2) {
        QString error;
        const std::optional<QByteArray> key = CodeSignature::publicKey(arguments[1], &error);
        if (!key)
            return failWith(error);
        out << key->toHex() << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("verify") && arguments.size() == 4) {
        const QString requirement
            = QStringLiteral("identifier \"%1\" and publisher key \"%2\"").arg(arguments[2], arguments[3]);
        QString reason;
        if (!LinuxBundleServices().checkValidity(arguments[1], requirement, &reason))
            return failWith(reason);
        out << "valid" << Qt::endl;
        return 0;
    }
    if (command == QLatin1String("built-in") && arguments.size() == 1) {
        out << kSonaricBundleIdentifier << ' ' << SONARIC_VERSION << ' ' << SONARIC_BUILD_NUMBER << Qt::endl;
        return 0;
    }
    QTextStream(stderr) << kUsage;
    return 2;
}
