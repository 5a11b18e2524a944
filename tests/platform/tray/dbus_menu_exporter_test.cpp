#include "platform/tray/linux/dbus_menu_exporter.h"
#include "platform/tray/linux/status_notifier_types.h"
#include "support/event_loop.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPixmap>
#include <gtest/gtest.h>

namespace sonaric
{
namespace
{

TEST(DBusMenuLabel, TurnsQtMnemonicsIntoTheHostsMarks)
{
    const QList<std::pair<QString, QString>> cases {
        { "&Settings…", "_Settings…" },
        { "Fish && Chips", "Fish & Chips" },
        { "snake_case", "snake__case" },
        { "Quit\tCtrl+Q", "Quit" },
        { "Ends with &", "Ends with &" },
    };
    for (const auto& [text, label] : cases)
        EXPECT_EQ(dbusMenuLabel(text), label) << text.toStdString();
}

TEST(DBusMenuShortcut, NamesModifiersAndKeysAsHostsParseThem)
{
    const QList<std::pair<QString, DBusMenuShortcut>> cases {
        { "Ctrl+Q", { { "Control", "Q" } } },
        { "Ctrl+,", { { "Control", "comma" } } },
        { "Ctrl+Shift+Del", { { "Control", "Shift", "Delete" } } },
        { "Meta+Alt+F5", { { "Alt", "Super", "F5" } } },
        { "Ctrl+K, Ctrl+S", { { "Control", "K" }, { "Control", "S" } } },
    };
    for (const auto& [sequence, expected] : cases)
        EXPECT_EQ(dbusMenuShortcut(QKeySequence(sequence)), expected) << sequence.toStdString();
}

QIcon filled(QSize size, QColor colour)
{
    QPixmap pixmap(size);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

TEST(SniPixmaps, AreStraightARGBInNetworkOrderAtEverySize)
{
    // Half-transparent blue: premultiplying would halve the blue byte, host byte order would reverse them.
    const SniIconPixmapList pixmaps = sniPixmaps(filled({ 32, 32 }, QColor(0, 0, 255, 128)));
    ASSERT_EQ(pixmaps.size(), std::size(kSniIconSizes));
    for (qsizetype i = 0; i < pixmaps.size(); ++i) {
        const SniIconPixmap& pixmap = pixmaps[i];
        const int size = kSniIconSizes[i];
        EXPECT_EQ(pixmap.width, size);
        EXPECT_EQ(pixmap.height, size);
        ASSERT_EQ(pixmap.bytes.size(), size * size * 4);
        const qsizetype centre = (qsizetype(size / 2) * size + size / 2) * 4;
        EXPECT_EQ(pixmap.bytes.mid(centre, 4).toHex(), "800000ff") << size;
    }
    EXPECT_TRUE(sniPixmaps(QIcon()).isEmpty());
}

TEST(SniPixmaps, KeepAWideIconsShapeCentredOnASquare)
{
    const SniIconPixmap pixmap = sniPixmaps(filled({ 32, 16 }, Qt::red)).value(0);
    ASSERT_EQ(pixmap.width, 16);
    const auto pixel = [&](int x, int y) { return pixmap.bytes.mid((y * 16 + x) * 4, 4).toHex(); };
    EXPECT_EQ(pixel(8, 0), "00000000");
    EXPECT_EQ(pixel(8, 8), "ffff0000");
    EXPECT_EQ(pixel(8, 15), "00000000");
}

class DBusMenuExporterTest : public testing::Test
{
protected:
    DBusMenuExporterTest()
    {
        // No bus: the exporter's calls are what this test drives.
        exporter.setMenu(&menu);
        QObject::connect(&exporter, &DBusMenuExporter::layoutUpdated, [this] { ++announcements; });
        settings->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
        muted->setCheckable(true);
        muted->setChecked(true);
        auto* group = new QActionGroup(&menu);
        for (QAction* action : { speakers, headphones }) {
            action->setCheckable(true);
            group->addAction(action);
        }
        headphones->setChecked(true);
        disabled->setEnabled(false);
        hidden->setVisible(false);
        test::spin(10);
        announcements = 0;
    }

    DBusMenuLayoutItem layout(int parent = 0, int depth = -1, const QStringList& names = {})
    {
        uint revision = 0;
        return exporter.layout(parent, depth, names, revision);
    }

    QMenu menu;
    QAction* settings = menu.addAction(QStringLiteral("&Settings…"));
    QAction* separator = menu.addSeparator();
    QAction* muted = menu.addAction(QStringLiteral("Muted"));
    QMenu* output = menu.addMenu(QStringLiteral("Output"));
    QAction* speakers = output->addAction(QStringLiteral("Speakers"));
    QAction* headphones = output->addAction(QStringLiteral("Headphones"));
    QAction* disabled = menu.addAction(QStringLiteral("Disabled"));
    QAction* hidden = menu.addAction(QStringLiteral("Hidden"));
    DBusMenuExporter exporter { QDBusConnection(QStringLiteral("no bus")), QStringLiteral("/MenuBar") };
    int announcements = 0;
};

TEST_F(DBusMenuExporterTest, PublishesEveryActionWithTheHostsProperties)
{
    const DBusMenuLayoutItem root = layout();
    EXPECT_EQ(root.id, 0);
    EXPECT_EQ(root.properties.value("children-display"), "submenu");
    ASSERT_EQ(root.children.size(), 6);
    const auto props = [&](int index) { return root.children[index].properties; };
    EXPECT_EQ(props(0).value("label"), "_Settings…");
    EXPECT_EQ(props(0).value("shortcut").value<DBusMenuShortcut>(), (DBusMenuShortcut { { "Control", "comma" } }));
    EXPECT_EQ(props(1).value("type"), "separator");
    EXPECT_EQ(props(2).value("toggle-type"), "checkmark");
    EXPECT_EQ(props(2).value("toggle-state"), 1);
    EXPECT_EQ(props(3).value("children-display"), "submenu");
    const auto& outputs = root.children[3].children;
    ASSERT_EQ(outputs.size(), 2);
    EXPECT_EQ(outputs[0].properties.value("toggle-type"), "radio");
    EXPECT_EQ(outputs[0].properties.value("toggle-state"), 0);
    EXPECT_EQ(outputs[1].properties.value("toggle-state"), 1);
    EXPECT_EQ(props(4).value("enabled"), false);
    EXPECT_EQ(props(5).value("visible"), false);

    // A partial read: one level, one property.
    const DBusMenuLayoutItem shallow = layout(0, 1, { "label" });
    EXPECT_TRUE(shallow.children[3].children.isEmpty());
    EXPECT_EQ(shallow.children[0].properties.keys(), QStringList { "label" });
    EXPECT_EQ(exporter.itemProperty(root.children[0].id, "label"), "_Settings…");
    EXPECT_FALSE(exporter.itemProperty(9999, "label").isValid());
}

TEST_F(DBusMenuExporterTest, KeepsEachActionsNumberAndAnnouncesChangesOncePerTurn)
{
    const DBusMenuLayoutItem before = layout();
    const uint revision = exporter.revision();
    menu.insertAction(settings, new QAction(QStringLiteral("Open Mixer"), &menu));
    menu.removeAction(hidden);
    settings->setText(QStringLiteral("Preferences…"));
    test::spin(20);
    EXPECT_EQ(announcements, 1);
    EXPECT_EQ(exporter.revision(), revision + 1);

    const DBusMenuLayoutItem after = layout();
    ASSERT_EQ(after.children.size(), 6);
    EXPECT_EQ(after.children[1].id, before.children[0].id);
    EXPECT_EQ(after.children[1].properties.value("label"), "Preferences…");
    EXPECT_NE(after.children[0].id, before.children[5].id);
    const auto groups = exporter.groupProperties({ before.children[2].id, 0 }, { "label" });
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(groups[0].properties.value("label"), "Muted");
}

TEST_F(DBusMenuExporterTest, AboutToShowLetsTheMenuRebuildItselfAndSaysWhetherItDid)
{
    int shown = 0;
    QObject::connect(&menu, &QMenu::aboutToShow, [&] { ++shown; });
    EXPECT_FALSE(exporter.aboutToShow(0));

    QObject::connect(&menu, &QMenu::aboutToShow, [&] { muted->setChecked(!muted->isChecked()); });
    const uint revision = exporter.revision();
    EXPECT_TRUE(exporter.aboutToShow(0));
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(exporter.revision(), revision + 1);
    EXPECT_EQ(layout().children[2].properties.value("toggle-state"), 0);

    bool known = true;
    EXPECT_FALSE(exporter.aboutToShow(4242, &known));
    EXPECT_FALSE(known);
}

TEST_F(DBusMenuExporterTest, AClickTriggersTheActionOnTheNextTurnOnly)
{
    const DBusMenuLayoutItem root = layout();
    QStringList triggered;
    QObject::connect(&menu, &QMenu::triggered, [&](QAction* action) { triggered << action->text(); });
    int hiddenNow = 0;
    QObject::connect(&menu, &QMenu::aboutToHide, [&] { ++hiddenNow; });

    EXPECT_TRUE(exporter.handleEvent(root.children[0].id, "clicked"));
    EXPECT_TRUE(exporter.handleEvent(root.children[4].id, "clicked")); // disabled
    EXPECT_TRUE(exporter.handleEvent(root.children[3].children[0].id, "clicked"));
    EXPECT_TRUE(exporter.handleEvent(0, "closed"));
    EXPECT_FALSE(exporter.handleEvent(4242, "clicked"));
    EXPECT_TRUE(triggered.isEmpty());
    EXPECT_EQ(hiddenNow, 1);
    test::spin(20);
    EXPECT_EQ(triggered, (QStringList { "&Settings…", "Speakers" }));
    EXPECT_TRUE(speakers->isChecked());
}

} // namespace
} // namespace sonaric
