// The autostart entry on disk, in a configuration folder of the test's own.

#include "platform/login/launch_at_login.h"
#include "platform/login/linux/xdg_autostart_login_item.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace sonaric;
using Status = LoginItemService::Status;

namespace
{

class AutostartTest : public ::testing::Test
{
protected:
    AutostartTest()
    {
        // The program the entry starts: a real executable file inside the test's folder, with a space in its
        // path to exercise the quoting.
        QDir(dir.path()).mkpath(QStringLiteral("my apps"));
        program = dir.filePath(QStringLiteral("my apps/sonaric"));
        writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", config().toLocal8Bit());
        item = std::make_unique<XdgAutostartLoginItem>(QStringLiteral("org.sonaric.Sonaric"), program);
    }
    ~AutostartTest() override
    {
        // A read-only folder must be writable again for the temporary folder to go.
        QFile::setPermissions(
            config() + QStringLiteral("/autostart"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString entry() const { return config() + QStringLiteral("/autostart/org.sonaric.Sonaric.desktop"); }
    static void writeFile(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static QString execLine(const QByteArray& text)
    {
        for (const QByteArray& line : text.split('\n'))
            if (line.startsWith("Exec="))
                return QString::fromUtf8(line.mid(5));
        return {};
    }

    QTemporaryDir dir;
    QString program;
    std::unique_ptr<XdgAutostartLoginItem> item;
};

} // namespace

TEST_F(AutostartTest, TheEntryGoesUnderXdgConfigHomeAndStartsThisProgram)
{
    // Constructed without a folder, the entry follows $XDG_CONFIG_HOME.
    XdgAutostartLoginItem fromEnvironment(QStringLiteral("org.sonaric.Sonaric"), program);
    EXPECT_EQ(fromEnvironment.entryPath(), entry());
    EXPECT_EQ(item->status(), Status::notRegistered);

    ASSERT_EQ(item->registerMainApp(), QString());
    EXPECT_EQ(item->status(), Status::enabled);
    const QByteArray text = read(entry());
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nType=Application\n"));
    EXPECT_EQ(XdgAutostartLoginItem::programOf(execLine(text)), program) << execLine(text).toStdString();
    // No temporary file is left beside the entry.
    EXPECT_EQ(QDir(config() + QStringLiteral("/autostart")).entryList(QDir::Files),
        QStringList { QStringLiteral("org.sonaric.Sonaric.desktop") });

    ASSERT_EQ(item->unregisterMainApp(), QString());
    EXPECT_FALSE(QFileInfo::exists(entry()));
    EXPECT_EQ(item->status(), Status::notRegistered);
    EXPECT_EQ(item->unregisterMainApp(), QString()) << "removing what is not there is no failure";
}

TEST_F(AutostartTest, ProgramPathsWithReservedCharactersSurviveTheQuoting)
{
    for (const QString& path : { QStringLiteral("/opt/so naric/sonaric"), QStringLiteral("/opt/a\"b/c$d`e\\f"),
             QStringLiteral("/opt/100%/sonaric"), QStringLiteral("/usr/bin/sonaric") }) {
        EXPECT_EQ(XdgAutostartLoginItem::programOf(XdgAutostartLoginItem::quotedProgram(path)), path)
            << path.toStdString() << " -> " << XdgAutostartLoginItem::quotedProgram(path).toStdString();
    }
    EXPECT_EQ(XdgAutostartLoginItem::programOf(QStringLiteral("/usr/bin/sonaric --hidden")),
        QStringLiteral("/usr/bin/sonaric"));
    EXPECT_EQ(XdgAutostartLoginItem::programOf(QStringLiteral("\"/usr/bin/unterminated")), QString());
}

TEST_F(AutostartTest, EntriesTheDesktopDisabledOrThatStartNothingAreNotOn)
{
    QDir().mkpath(config() + QStringLiteral("/autostart"));
    const QByteArray exec = "Exec=" + XdgAutostartLoginItem::quotedProgram(program).toUtf8() + "\n";
    const struct {
        const char* what;
        QByteArray text;
        Status status;
    } cases[] = {
        { "hidden", "[Desktop Entry]\nType=Application\n" + exec + "Hidden=true\n", Status::notRegistered },
        { "unticked in the startup settings",
            "[Desktop Entry]\nType=Application\n" + exec + "X-GNOME-Autostart-enabled=false\n", Status::notRegistered },
        { "the program moved away", "[Desktop Entry]\nType=Application\nExec=/nonexistent/sonaric\n",
            Status::notFound },
        { "no Exec at all", "[Desktop Entry]\nType=Application\n", Status::notFound },
        { "keys of another group do not count",
            "[Desktop Entry]\nType=Application\n" + exec + "[Desktop Action x]\nHidden=true\n", Status::enabled },
    };
    for (const auto& c : cases) {
        writeFile(entry(), c.text);
        EXPECT_EQ(item->status(), c.status) << c.what;
    }

    LaunchAtLogin launch(*item);
    writeFile(entry(), "[Desktop Entry]\nType=Application\n" + exec + "Hidden=true\n");
    launch.refresh();
    EXPECT_FALSE(launch.isOn());
    launch.set(true);
    EXPECT_TRUE(launch.isOn()) << "switching on writes the entry anew";
    EXPECT_FALSE(read(entry()).contains("Hidden=true"));
}

TEST_F(AutostartTest, AReadOnlyFolderGivesTheErrorAndTheNextToggleClearsIt)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    const QString folder = config() + QStringLiteral("/autostart");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);

    LaunchAtLogin launch(*item);
    launch.set(true);
    EXPECT_FALSE(launch.isOn());
    EXPECT_TRUE(launch.error().contains(entry())) << launch.error().toStdString();
    EXPECT_FALSE(QFileInfo::exists(entry()));

    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    launch.set(true);
    EXPECT_EQ(launch.error(), QString());
    EXPECT_TRUE(launch.isOn());

    // Removing fails the same way, and the entry stays.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    launch.set(false);
    EXPECT_TRUE(launch.isOn());
    EXPECT_TRUE(launch.error().startsWith(QStringLiteral("Could not remove"))) << launch.error().toStdString();
}

TEST_F(AutostartTest, SomethingInTheWayOfTheEntryIsReported)
{
    QDir().mkpath(entry()); // a folder where the entry would go
    LaunchAtLogin launch(*item);
    launch.set(true);
    EXPECT_FALSE(launch.isOn());
    EXPECT_FALSE(launch.error().isEmpty());
    EXPECT_TRUE(QFileInfo(entry()).isDir()) << "nothing of the user's is replaced";
}

TEST_F(AutostartTest, AFileWhereTheFolderGoesIsReported)
{
    // Also what a read-only folder amounts to for root, who writes anywhere.
    QDir().mkpath(config());
    writeFile(config() + QStringLiteral("/autostart"), "not a folder");
    LaunchAtLogin launch(*item);
    launch.set(true);
    EXPECT_FALSE(launch.isOn());
    EXPECT_TRUE(launch.error().startsWith(QStringLiteral("Could not create the autostart folder")))
        << launch.error().toStdString();
    EXPECT_EQ(read(config() + QStringLiteral("/autostart")), QByteArray("not a folder"));
}

TEST_F(AutostartTest, SwitchingOffWhileNotRegisteredTouchesNothing)
{
    // An entry the desktop disabled reads as not registered; switching off leaves it as the desktop wrote it.
    QDir().mkpath(config() + QStringLiteral("/autostart"));
    const QByteArray disabled = "[Desktop Entry]\nType=Application\nExec=/usr/bin/true\nHidden=true\n";
    writeFile(entry(), disabled);
    LaunchAtLogin launch(*item);
    launch.set(false);
    EXPECT_EQ(read(entry()), disabled);
    EXPECT_EQ(launch.error(), QString());
    EXPECT_FALSE(launch.isOn());
}
