#include "ui/app_list_model.h"
#include "ui/keyed_list_model.h"
#include "ui/output_device_list_model.h"
#include "ui/tab_list_model.h"
#include "ui/ui_bench.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

const int kChrome = NativeVolumeSource::chrome;
const int kSpotify = NativeVolumeSource::spotify;

/// Every structural change and every data change a model announces, one line each.
class ModelLog
{
public:
    explicit ModelLog(QAbstractItemModel& model)
    {
        QObject::connect(
            &model, &QAbstractItemModel::rowsInserted, &m_context, [this](const QModelIndex&, int first, int last) {
                lines << QStringLiteral("insert %1-%2").arg(first).arg(last);
            });
        QObject::connect(
            &model, &QAbstractItemModel::rowsRemoved, &m_context, [this](const QModelIndex&, int first, int last) {
                lines << QStringLiteral("remove %1-%2").arg(first).arg(last);
            });
        QObject::connect(&model, &QAbstractItemModel::rowsMoved, &m_context,
            [this](const QModelIndex&, int from, int, const QModelIndex&, int to) {
                lines << QStringLiteral("move %1 to %2").arg(from).arg(to);
            });
        QObject::connect(
            &model, &QAbstractItemModel::modelReset, &m_context, [this] { lines << QStringLiteral("reset"); });
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &m_context,
            [this, &model](const QModelIndex& from, const QModelIndex&, const QList<int>& roles) {
                QStringList names;
                for (int role : roles)
                    if (role >= Qt::UserRole)
                        names << QString::fromLatin1(model.roleNames().value(role));
                names.removeDuplicates();
                names.sort();
                lines << QStringLiteral("change %1 %2").arg(from.row()).arg(names.join(QLatin1Char(',')));
            });
    }
    QStringList take() { return std::exchange(lines, {}); }
    QStringList lines;

private:
    QObject m_context;
};

QStringList column(const QAbstractItemModel& model, const char* role)
{
    const int key = model.roleNames().key(role);
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), key).toString();
    return values;
}

QVariantMap tab(const char* id, const char* title, double volume, bool playing = true)
{
    return { { "id", id }, { "title", title }, { "volume", volume }, { "playing", playing } };
}

// A model of plain keyed strings, to hold the row diff to any reordering.
struct WordRow {
    QString word;
    QString value;
    QString key() const { return word; }
};
class WordModel : public QAbstractListModel, private KeyedRows<WordModel, WordRow>
{
public:
    int rowCount(const QModelIndex& parent = {}) const override { return keyedRowCount(parent); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const WordRow* row = rowAt(index);
        if (!row || (role != Qt::DisplayRole && role != Qt::UserRole))
            return {};
        return role == Qt::UserRole ? row->value : row->word;
    }
    QHash<int, QByteArray> roleNames() const override { return { { Qt::UserRole, "value" } }; }
    void set(const QStringList& words)
    {
        std::vector<WordRow> rows;
        for (const QString& word : words)
            rows.push_back({ word.section(QLatin1Char('='), 0, 0), word.section(QLatin1Char('='), 1) });
        replaceRows(std::move(rows));
    }

private:
    friend class KeyedRows<WordModel, WordRow>;
    QList<int> changedRoles(const WordRow& before, const WordRow& after) const
    {
        return before.value == after.value ? QList<int> {} : QList<int> { Qt::UserRole };
    }
    void rowCountChanged() { }
};

} // namespace

TEST(KeyedRows, TurnsAnyListIntoAnyOtherInPlace)
{
    struct Case {
        QStringList from, to;
    } cases[] = {
        { {}, { "a", "b", "c" } }, { { "a", "b", "c" }, {} }, { { "a", "b", "c" }, { "c", "b", "a" } },
        { { "a", "b", "c", "d" }, { "b", "x", "d", "a" } }, { { "a", "b", "c" }, { "a=1", "b", "c=2" } },
        { { "a", "b" }, { "a", "a", "b" } }, // a key twice keeps its first row
    };
    for (const Case& c : cases) {
        WordModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        model.set(c.from);
        QList<QPersistentModelIndex> kept;
        for (int row = 0; row < model.rowCount(); ++row)
            kept << QPersistentModelIndex(model.index(row));
        ModelLog log(model);
        model.set(c.to);

        QStringList expected = c.to;
        expected.removeDuplicates();
        for (QString& word : expected)
            word = word.section(QLatin1Char('='), 0, 0);
        EXPECT_EQ(column(model, "display"), expected) << c.from.join(' ').toStdString();
        EXPECT_FALSE(log.lines.contains("reset"));
        for (const QPersistentModelIndex& index : kept) // a row that stays is the same row
            if (index.isValid())
                EXPECT_TRUE(expected.contains(index.data().toString()));
    }
}

TEST(AppListModel, ChangesOnlyTheRowsThatChanged)
{
    UiBench bench;
    bench.start(QStringLiteral("desk"));
    AppListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setMixer(bench.model());
    ASSERT_EQ(column(model, "name"), (QStringList { "Google Chrome", "Meet", "Player", "Spotify" }));
    EXPECT_EQ(column(model, "levelText"), (QStringList { "100%", "100%", "100%", "100%" }));
    EXPECT_EQ(column(model, "icon")[2], "image://appicon/pid/100");
    const QPersistentModelIndex player = model.index(2);

    struct Step {
        const char* what;
        std::function<void()> act;
        QStringList log;
    } steps[] = {
        { "a refresh that finds nothing new", [&] { bench.model()->refresh(); }, {} },
        { "a level", [&] { bench.model()->setVolume(QStringLiteral("com.example.player"), 0.5f); },
            { "change 2 level,levelText" } },
        { "a mute", [&] { bench.model()->toggleMute(QStringLiteral("com.example.player")); }, { "change 2 muted" } },
        { "a route", [&] { bench.model()->setRoute(QStringLiteral("phones"), QStringLiteral("com.example.player")); },
            {} },
        { "a new player", [&] { bench.addPlayer(500, QStringLiteral("com.example.radio"), QStringLiteral("Radio")); },
            { "insert 3-3" } },
        { "a player that stops", [&] { bench.stopPlayer(200); }, { "remove 1-1" } },
        { "a connector that takes its application over",
            [&] { bench.connectBrowser(kChrome, { tab("t1", "Video", 1.0) }); },
            { "change 0 connector", "remove 0-0" } },
    };
    for (Step& step : steps) {
        ModelLog log(model);
        step.act();
        bench.settle();
        EXPECT_EQ(log.lines, step.log) << step.what;
    }
    EXPECT_EQ(column(model, "name"), (QStringList { "Player", "Radio", "Spotify" }));
    ASSERT_TRUE(player.isValid());
    EXPECT_EQ(player.data(AppListModel::NameRole).toString(), "Player") << "the player's row stayed itself";
    EXPECT_EQ(player.data(AppListModel::LevelTextRole).toString(), "50%");
    EXPECT_TRUE(player.data(AppListModel::MutedRole).toBool());
}

TEST(AppListModel, OffersTheConnectorOnlyWhileItIsNotConnected)
{
    UiBench bench;
    bench.start(QStringLiteral("desk"));
    AppListModel model;
    model.setMixer(bench.model());
    const auto connectorOf = [&](const char* name) {
        const int row = int(column(model, "name").indexOf(QLatin1String(name)));
        return model.data(model.index(row), AppListModel::ConnectorRole).value<QObject*>();
    };
    EXPECT_EQ(connectorOf("Spotify"), bench.session(kSpotify));
    EXPECT_EQ(connectorOf("Player"), nullptr) << "no connector exists for it";
    bench.connectApp(kSpotify, 0.5);
    EXPECT_FALSE(column(model, "name").contains("Spotify")) << "its connector row shows it now";
}

TEST(TabListModel, ShowsPendingChangesOverWhatThePageLastSaid)
{
    UiBench bench;
    bench.start(QStringLiteral("desk"));
    bench.connectBrowser(kChrome, { tab("t1", "Video", 0.8), tab("t2", "", 0.4, false) });
    NativeVolumeSession* session = bench.session(kChrome);
    TabListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setSession(session);
    EXPECT_EQ(column(model, "title"), (QStringList { "Video", "Untitled tab" }));
    EXPECT_EQ(column(model, "toolTip"), (QStringList { "Playing: Video", "Paused: Untitled tab" }));
    EXPECT_EQ(column(model, "levelText"), (QStringList { "80%", "40%" }));

    ModelLog log(model);
    session->setTabVolume(QStringLiteral("t2"), 0.25f);
    session->toggleTabMute(QStringLiteral("t2"));
    EXPECT_EQ(log.take(), (QStringList { "change 1 levelText,volume", "change 1 muted" }));
    EXPECT_EQ(column(model, "levelText"), (QStringList { "80%", "25%" }));

    // The page confirms with t1 gone: one removal; t2 keeps its row and shows the confirmed state.
    FakeController* fake = bench.controller(NativeVolumeSource::chrome);
    ASSERT_TRUE(waitUntil([&] { return fake->count(FakeController::Kind::set) == 1; }));
    fake->release(NativeVolumeConnection { std::nullopt, { { "t2", "", false, { 0.25f, true } } } });
    bench.settle();
    EXPECT_EQ(log.take(), (QStringList { "remove 0-0" }));
    EXPECT_EQ(column(model, "levelText"), (QStringList { "25%" }));
}

TEST(OutputDeviceListModel, ListsTheDefaultTheDevicesAndAGoneRoute)
{
    UiBench bench;
    bench.start(QStringLiteral("desk"));
    OutputDeviceListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setMixer(bench.model());
    model.setAppID(QStringLiteral("com.example.player"));
    const auto rows = [&] {
        QStringList lines;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QModelIndex i = model.index(row);
            lines << QStringLiteral("%1 %2 | %3 | %4%5%6")
                         .arg(i.data(OutputDeviceListModel::KindRole).toString(),
                             i.data(OutputDeviceListModel::SymbolRole).toString(),
                             i.data(OutputDeviceListModel::TitleRole).toString(),
                             i.data(OutputDeviceListModel::SubtitleRole).toString(),
                             i.data(OutputDeviceListModel::SelectedRole).toBool() ? " ✓" : "",
                             i.data(OutputDeviceListModel::SelectableRole).toBool() ? "" : " (fixed)");
        }
        return lines;
    };
    EXPECT_EQ(rows(),
        (QStringList { "default speaker.wave.2 | System default | Speakers ✓", "device speaker.wave.2 | Speakers | ",
            "device headphones | Headphones | ", "device tv | Living Room TV | " }));
    EXPECT_FALSE(model.routed());

    EXPECT_TRUE(model.choose(3));
    EXPECT_TRUE(model.routed());
    EXPECT_EQ(model.routeName(), "Living Room TV");
    EXPECT_EQ(rows()[0], "default speaker.wave.2 | System default | Speakers");
    EXPECT_EQ(rows()[3], "device tv | Living Room TV |  ✓");

    bench.removeDevice(QStringLiteral("tv"));
    EXPECT_EQ(rows().last(),
        "missing speaker.slash | Living Room TV | Not connected. Playing on the system default for now. ✓ (fixed)");
    EXPECT_FALSE(model.choose(model.rowCount() - 1)) << "the gone device cannot be chosen";
    EXPECT_EQ(bench.model()->routes().value(QStringLiteral("com.example.player")).uid, "tv");

    EXPECT_TRUE(model.choose(0));
    EXPECT_FALSE(model.routed());
    EXPECT_EQ(model.rowCount(), 3) << "the gone device's row leaves with its route";
    EXPECT_FALSE(model.choose(7));
}
