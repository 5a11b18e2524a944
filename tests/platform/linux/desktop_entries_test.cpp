#include "platform/workspace/linux/desktop_entries.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace sonaric;

namespace
{

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

TEST(DesktopEntries, ReadsIdsLocalizedNamesAndVisibility)
{
    QTemporaryDir home, system;
    write(home.filePath("org.example.Player.desktop"),
        "[Desktop Entry]\nType=Application\nName=Player\nName[de]=Abspieler\nName[de_AT]=Spieler\n"
        "Exec=env FOO=1 /opt/player/bin/example-player %U\n");
    write(system.filePath("org.example.Player.desktop"), "[Desktop Entry]\nType=Application\nName=Shadowed\n");
    write(system.filePath("vendor/tool.desktop"),
        "[Desktop Entry]\nType=Application\nName=Tool\nNoDisplay=true\nExec=tool\n[Desktop Action x]\nName=Other\n");
    write(system.filePath("link.desktop"), "[Desktop Entry]\nType=Link\nName=Not an application\n");
    write(system.filePath("broken.desktop"), "no group at all\n");

    const auto entries = DesktopEntries::load({ home.path(), system.path() }, { "de_AT", "de" });
    ASSERT_EQ(entries.entries().size(), 2u);
    const auto player = entries.byId("org.example.Player");
    ASSERT_TRUE(player);
    EXPECT_EQ(player->name, "Spieler");
    EXPECT_EQ(player->executable, "example-player");
    EXPECT_TRUE(player->shown);
    EXPECT_EQ(player->path, home.filePath("org.example.Player.desktop"));

    const auto tool = entries.byId("vendor-tool");
    ASSERT_TRUE(tool);
    EXPECT_FALSE(tool->shown);
    EXPECT_EQ(tool->name, "Tool");

    EXPECT_EQ(DesktopEntries::load({ home.path() }, { "fr" }).byId("org.example.Player")->name, "Player");
}

TEST(DesktopEntries, MatchesAProgramByExecTryExecWindowClassOrId)
{
    QTemporaryDir dir;
    write(dir.filePath("org.example.Browser.desktop"),
        "[Desktop Entry]\nType=Application\nName=Browser\nExec=/usr/lib/browser/browser-launcher\n"
        "TryExec=browser-bin\nStartupWMClass=BrowserWindow\n");
    write(dir.filePath("org.gnome.Totem.desktop"),
        "[Desktop Entry]\nType=Application\nName=Videos\nExec=gapplication launch x\n");
    const auto entries = DesktopEntries::load({ dir.path() }, {});

    EXPECT_EQ(entries.forProgram("browser-launcher", {}, {})->id, "org.example.Browser");
    EXPECT_EQ(entries.forProgram("browser-bin", {}, {})->id, "org.example.Browser");
    EXPECT_EQ(entries.forProgram({}, {}, "browserwindow")->id, "org.example.Browser");
    EXPECT_EQ(entries.forProgram("totem", {}, {})->id, "org.gnome.Totem");
    EXPECT_FALSE(entries.forProgram("paplay", "paplay", "paplay"));
}
