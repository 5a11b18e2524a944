#include "platform/audio/linux/restore_memory.h"
#include "platform/audio/linux/tap_journal.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

using namespace sonaric;

TEST(TapJournal, KeepsWhatRecoveryNeedsAndTheFirstOriginalOfEachEntry)
{
    QTemporaryDir dir;
    TapJournal journal(dir.filePath("state/sonaric/audio-taps.json"));
    EXPECT_TRUE(journal.read().empty());
    const QString owner = TapJournal::newOwnerToken();
    ASSERT_TRUE(journal.update([&](auto& taps) {
        taps.push_back({ owner, "/run/pulse/native", "sonaric_tap_a", {}, {} });
    }));

    const RestoreEntry music { "sink-input-by-media-role:music", "speakers", "front-left,front-right", { 65536, 65536 },
        false };
    ASSERT_TRUE(journal.addStream("sonaric_tap_a", { 7, 1234, "speakers" }));
    ASSERT_TRUE(journal.addStream("sonaric_tap_a", { 7, 1234, "sonaric_tap_a" })); // the same stream again
    ASSERT_TRUE(journal.addRestore(
        "sonaric_tap_a", { { music.name, music }, { "sink-input-by-application-id:x", std::nullopt } }));
    RestoreEntry later = music;
    later.device = "sonaric_tap_a";
    ASSERT_TRUE(journal.addRestore("sonaric_tap_a", { { music.name, later } }));

    const auto taps = journal.read();
    ASSERT_EQ(taps.size(), 1u);
    EXPECT_EQ(taps[0].owner, owner);
    EXPECT_EQ(taps[0].streams, (std::vector<JournalStream> { { 7, 1234, "speakers" } }));
    ASSERT_EQ(taps[0].restore.size(), 2u);
    EXPECT_EQ(taps[0].restore[0].original, music);
    EXPECT_FALSE(taps[0].restore[1].original);
}

TEST(TapJournal, AnOwnerIsAliveOnlyAsTheSameProcess)
{
    const QString me = TapJournal::newOwnerToken();
    EXPECT_TRUE(TapJournal::isOwnerAlive(me));
    const QStringList parts = me.split(':');
    // The same pid with another start time is a different process that reused the number.
    EXPECT_FALSE(TapJournal::isOwnerAlive(parts[0] + ":1:x"));
    EXPECT_FALSE(TapJournal::isOwnerAlive("0:0:x"));
    EXPECT_FALSE(TapJournal::isOwnerAlive("garbage"));
}

TEST(RestoreMemory, ChangesAreWhatAMoveAddedOrAltered)
{
    const RestoreEntry a { "a", "speakers", {}, {}, false };
    RestoreEntry aMoved = a;
    aMoved.device = "sonaric_tap_x";
    const RestoreEntry b { "b", "headphones", {}, {}, false };
    const RestoreEntry c { "c", "sonaric_tap_x", {}, {}, false };
    const RestoreTable before { { "a", a }, { "b", b } };
    const RestoreTable after { { "a", aMoved }, { "b", b }, { "c", c } };
    const auto changes = RestoreMemory::changes(before, after);
    EXPECT_EQ(changes, (std::vector<RestoreChange> { { "a", a }, { "c", std::nullopt } }));
    EXPECT_EQ(RestoreMemory::pointingAt(after, "sonaric_tap_"), (std::vector<QString> { "a", "c" }));
}

TEST(TapJournal, AJournalFromBeforeLevelsLoadsAndKeepsItsTapsWhenLevelsAreAdded)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("audio-taps.json");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"taps": [{"owner": "1:2:x", "server": "s", "sink": "sonaric_tap_a",
            "streams": [{"index": 7, "pid": 1234, "originalSink": "speakers"}], "restore": []}]})");
    }
    TapJournal journal(path);
    const std::vector<JournalTap> old { { "1:2:x", "s", "sonaric_tap_a", { { 7, 1234, "speakers" } }, {} } };
    EXPECT_EQ(journal.read(), old);
    EXPECT_TRUE(journal.readLevels().empty());

    const JournalLevels levels { "1:2:x", "s",
        { { 9, 1234, "headphones", { 65536, 32768 }, true }, { 10, -1, {}, {}, false } },
        { { "sink-input-by-application-id:x", std::nullopt } } };
    ASSERT_TRUE(journal.updateLevels([&](auto& entries) { entries.push_back(levels); }));
    EXPECT_EQ(journal.read(), old);
    EXPECT_EQ(journal.readLevels(), std::vector<JournalLevels> { levels });
    // Emptied again, the file is what a build without levels writes.
    ASSERT_TRUE(journal.updateLevels([](auto& entries) { entries.clear(); }));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.readAll().contains("levels"));
}
