// The folder signature the updater relies on: made by sonaric-sign, checked by the Linux bundle services,
// and kept intact by the folder copy the installation makes.

#include "update_packages.h"

#include "platform/bundle/file_tree.h"
#include "platform/bundle/linux/bundle_manifest.h"
#include "platform/bundle/linux/linux_bundle_services.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

/// A small application folder with a nested read-only folder, an executable and a link.
void makeFolder(const QString& folder)
{
    QDir().mkpath(folder + "/share/locked");
    writeFile(folder + "/Info.json", R"({"CFBundleIdentifier": "org.sonaric.Sonaric", "CFBundleVersion": "3"})");
    writeFile(folder + "/sonaric", "#!/bin/sh\n");
    ::chmod(QFile::encodeName(folder + "/sonaric").constData(), 0755);
    writeFile(folder + "/share/locked/data", "data");
    ::chmod(QFile::encodeName(folder + "/share/locked/data").constData(), 0600);
    ::chmod(QFile::encodeName(folder + "/share/locked").constData(), 0555);
    ::symlink("share/locked/data", QFile::encodeName(folder + "/data").constData());
}

} // namespace

TEST(BundleSignature, AnyChangeToTheFolderOrTheRequirementFailsTheCheck)
{
    Packager packager;
    ASSERT_TRUE(packager.ok());
    const QString key = packager.publicKey();
    const QString requirement = QStringLiteral("identifier \"org.sonaric.Sonaric\" and publisher key \"%1\"").arg(key);
    struct Row {
        const char* what;
        std::function<void(const QString&)> change;
        QString requirement;
        bool valid;
    };
    const std::vector<Row> rows {
        { "nothing changed", [](const QString&) {}, requirement, true },
        { "content changed", [](const QString& f) { writeFile(f + "/sonaric", "#!/bin/sh\nexit 1\n"); }, requirement,
            false },
        { "file added", [](const QString& f) { writeFile(f + "/extra", ""); }, requirement, false },
        { "hidden file added", [](const QString& f) { writeFile(f + "/.extra", ""); }, requirement, false },
        { "folder added", [](const QString& f) { QDir().mkpath(f + "/plugins"); }, requirement, false },
        { "file removed", [](const QString& f) { QFile::remove(f + "/sonaric"); }, requirement, false },
        { "mode changed", [](const QString& f) { ::chmod(QFile::encodeName(f + "/sonaric").constData(), 0777); },
            requirement, false },
        { "link retargeted",
            [](const QString& f) {
                QFile::remove(f + "/data");
                ::symlink("/etc/passwd", QFile::encodeName(f + "/data").constData());
            },
            requirement, false },
        { "file put beside the signature", [](const QString& f) { writeFile(f + "/_CodeSignature/more", ""); },
            requirement, false },
        { "signature garbled", [](const QString& f) { writeFile(f + "/_CodeSignature/signature", "AAAA\n"); },
            requirement, false },
        { "unsigned", [](const QString& f) { FileTree::remove(f + "/_CodeSignature"); }, requirement, false },
        { "another identifier required", [](const QString&) {},
            QString(requirement).replace("org.sonaric.Sonaric", "org.example.Other"), false },
        { "another key required", [](const QString&) {}, QString(requirement).replace(key, QString(64, u'1')), false },
        { "a requirement that does not parse", [](const QString&) {}, requirement + " or anything", false },
    };
    QTemporaryDir work;
    LinuxBundleServices services;
    int n = 0;
    for (const Row& row : rows) {
        const QString folder = work.filePath(QString::number(++n)) + "/Sonaric.app";
        makeFolder(folder);
        ASSERT_TRUE(Packager::sign(folder, packager.key())) << row.what;
        row.change(folder);
        QString reason;
        EXPECT_EQ(services.checkValidity(folder, row.requirement, &reason), row.valid)
            << row.what << ": " << reason.toStdString();
    }
}

TEST(BundleSignature, TheInstallationsCopyKeepsModesAndLinksAndIsRemovedWhole)
{
    QTemporaryDir work;
    const QString folder = work.filePath("Sonaric.app");
    makeFolder(folder);
    const QString copy = work.filePath("copy/Sonaric.app");
    QDir().mkpath(work.filePath("copy"));
    ASSERT_TRUE(FileTree::copy(folder, copy));
    EXPECT_EQ(BundleManifest::of(copy), BundleManifest::of(folder));
    EXPECT_EQ(QFileInfo(copy + "/data").symLinkTarget(), QFileInfo(copy + "/share/locked/data").absoluteFilePath());

    // An existing target is never overwritten, nor removed by the failed copy.
    EXPECT_FALSE(FileTree::copy(folder, copy));
    EXPECT_TRUE(QFileInfo::exists(copy + "/sonaric"));

    // Something that is not a file, folder or link fails the copy and leaves nothing behind.
    ::mkfifo(QFile::encodeName(folder + "/pipe").constData(), 0600);
    EXPECT_FALSE(FileTree::copy(folder, work.filePath("copy2")));
    EXPECT_FALSE(QFileInfo::exists(work.filePath("copy2")));
    EXPECT_FALSE(BundleManifest::of(folder));

    EXPECT_TRUE(FileTree::remove(copy));
    EXPECT_FALSE(QFileInfo::exists(copy));
}
