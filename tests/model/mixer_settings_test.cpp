#include "model/mixer_settings.h"
#include "model/model_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <limits>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

void write(ModelFixture& f, const QVariantMap& values)
{
    auto settings = f.openSettings();
    for (auto it = values.begin(); it != values.end(); ++it)
        settings->setValue(it.key(), it.value());
}

/// What the settings file holds, read from a copy: settings objects of one process share what they read and
/// wrote of a path, so a reader of the file itself could be answered from memory.
std::unique_ptr<QSettings> onDisk(const ModelFixture& f)
{
    const QString copy = f.dir.filePath(QStringLiteral("copy-%1.conf").arg(QDateTime::currentMSecsSinceEpoch()));
    EXPECT_TRUE(QFile::copy(f.settingsPath(), copy));
    return std::make_unique<QSettings>(copy, QSettings::IniFormat);
}

} // namespace

TEST(MixerSettings, AFreshInstallationStartsFromTheDefaults)
{
    ModelFixture f;
    MixerModel& model = f.start();
    EXPECT_EQ(model.maxVolume(), 2.5f);
    EXPECT_TRUE(model.volumes().isEmpty());
    EXPECT_TRUE(model.muted().isEmpty());
    EXPECT_TRUE(model.routes().isEmpty());
    EXPECT_FALSE(QFile::exists(f.settingsPath())) << "reading writes nothing";
}

TEST(MixerSettings, OnlyAKnownBoostLimitIsRestored)
{
    for (const auto& [stored, restored] :
        { std::pair { 1.5f, 2.5f }, { 3.0f, 2.5f }, { 2.0f, 2.0f }, { 2.5f, 2.5f } }) {
        ModelFixture f;
        write(f, { { "maxVolume", stored } });
        EXPECT_EQ(f.start().maxVolume(), restored) << stored;
    }
    ModelFixture f;
    write(f, { { "maxVolume", QStringLiteral("lots") } });
    EXPECT_EQ(f.start().maxVolume(), 2.5f);
}

TEST(MixerSettings, OneUnreadableLevelRestoresNoLevels)
{
    for (const QVariant& bad :
        { QVariant(QStringLiteral("loud")), QVariant(QVariantList { 1 }), QVariant(std::nanf("")),
            QVariant(-std::numeric_limits<double>::infinity()), QVariant(std::numeric_limits<float>::infinity()) }) {
        ModelFixture f;
        write(f,
            { { "volumes", QVariantMap { { kPlayer, 0.5f }, { kQuiet, bad } } }, { "muted", QStringList { kQuiet } } });
        MixerModel& model = f.start();
        EXPECT_TRUE(model.volumes().isEmpty()) << bad.toString().toStdString();
        EXPECT_TRUE(model.muted().contains(kQuiet)) << "other keys are restored on their own";
    }
}

TEST(MixerSettings, ARouteWithoutANameRestoresNoRoutes)
{
    ModelFixture f;
    write(f,
        { { "routes", QByteArray(R"({"a":{"uid":"phones","name":"Headphones"},"b":{"uid":"spk"}})") },
            { "volumes", QVariantMap { { kPlayer, 0.5f } } }, { "muted", QStringList { kPlayer, kQuiet } } });
    MixerModel& model = f.start();
    EXPECT_TRUE(model.routes().isEmpty());
    EXPECT_EQ(model.volumes().value(kPlayer), 0.5f);
    EXPECT_EQ(model.muted().size(), 2);

    EXPECT_EQ(MixerSettings::decodeRoutes("not json"), std::nullopt);
    EXPECT_EQ(MixerSettings::decodeRoutes(R"(["a"])"), std::nullopt);
    EXPECT_EQ(MixerSettings::decodeRoutes(R"({"a":{"uid":1,"name":"x"}})"), std::nullopt);
    EXPECT_EQ(MixerSettings::decodeRoutes(R"({"a":"phones"})"), std::nullopt);
}

TEST(MixerSettings, AValueClaimingMoreThanTheFileHoldsRestoresThatKeysDefault)
{
    // Qt's binary values, cut short after a count of about four billion: a list, a map, a string list and a
    // byte array. The other keys still restore, and the file is left as it was.
    for (const char* value : { R"(@Variant(\0\0\0\t\0\xff\xff\xff\xf0))", R"(@Variant(\0\0\0\b\0\xff\xff\xff\xf0))",
             R"(@Variant(\0\0\0\xb\0\xff\xff\xff\xf0))", R"(@Variant(\0\0\0\f\0\x7f\xff\xff\xf0))" }) {
        for (const char* key : { "volumes", "muted" }) {
            ModelFixture f;
            QDir().mkpath(QFileInfo(f.settingsPath()).path());
            const QByteArray text = QByteArray("[General]\nmaxVolume=2\n") + key + '=' + value + '\n'
                + (QByteArray(key) == "muted"
                        ? "volumes=@Variant(\\0\\0\\0\\b\\0\\0\\0\\x1\\0\\0\\0\\x2\\0\\x61\\0\\0\\0"
                          "\\x87?\\0\\0\\0)\n"
                        : "muted=a\n");
            QFile file(f.settingsPath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
            file.close();

            MixerModel& model = f.start();
            EXPECT_EQ(model.maxVolume(), 2.0f) << key << value;
            if (QByteArray(key) == "volumes") {
                EXPECT_TRUE(model.volumes().isEmpty()) << value;
                EXPECT_EQ(model.muted(), QSet<QString> { "a" }) << value;
            } else {
                EXPECT_TRUE(model.muted().isEmpty()) << value;
                EXPECT_EQ(model.volumes(), (QHash<QString, float> { { "a", 0.5f } })) << value;
            }
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(), text) << "restoring writes nothing back";
        }
    }
}

TEST(MixerSettings, ALevelAboveTheLimitIsLoweredWithoutBeingWrittenBack)
{
    ModelFixture f;
    write(f, { { "maxVolume", 2.0f }, { "volumes", QVariantMap { { kQuiet, 2.4f }, { kPlayer, -0.5f } } } });
    MixerModel& model = f.start();
    EXPECT_EQ(model.volumes().value(kQuiet), 2.0f);
    EXPECT_EQ(model.volumes().value(kPlayer), -0.5f) << "no lower bound on restore";
    EXPECT_EQ(f.openSettings()->value("volumes").toMap().value(kQuiet).toFloat(), 2.4f);
}

TEST(MixerSettings, WhatOneRunSavesTheNextRestores)
{
    ModelFixture f;
    MixerModel& first = f.start();
    first.setMaxVolume(2.0f);
    first.setVolume(1.5f, f.app(kPlayer));
    first.toggleMute(f.app(kSpotify));
    first.setRoute(first.outputDevices()[1], kPlayer);

    MixerModel& second = f.restart();
    EXPECT_EQ(second.maxVolume(), 2.0f);
    EXPECT_EQ(second.volumes(), (QHash<QString, float> { { kPlayer, 1.5f } }));
    EXPECT_EQ(second.muted(), QSet<QString> { kSpotify });
    EXPECT_EQ(second.routes().value(kPlayer), (OutputRoute { "phones", "Headphones" }));
    const auto taps = second.engine().taps();
    EXPECT_EQ(taps.at(kPlayer).targetGain, 1.5f);
    EXPECT_EQ(taps.at(kPlayer).routeUID, QStringLiteral("phones"));
    EXPECT_EQ(taps.at(kSpotify).targetGain, 0.0f);

    // Resetting the only level leaves the key, empty, in the file itself.
    second.setVolume(1.0f, f.app(kPlayer));
    second.toggleMute(f.app(kSpotify));
    second.engine().taps();
    f.settle(); // the settings write themselves once the event loop turns, as in the program
    const auto stored = onDisk(f);
    EXPECT_TRUE(stored->contains("volumes"));
    EXPECT_TRUE(stored->value("volumes").toMap().isEmpty());
    EXPECT_TRUE(stored->value("muted").toStringList().isEmpty());
    EXPECT_EQ(stored->value("maxVolume").toFloat(), 2.0f);
}

TEST(MixerSettings, RoutesAreCompactJSONOfUidAndName)
{
    const QByteArray data = MixerSettings::encodeRoutes({ { "app", { "uid-1", "Desk" } } });
    EXPECT_EQ(data, R"({"app":{"name":"Desk","uid":"uid-1"}})");
    EXPECT_EQ(MixerSettings::decodeRoutes(data), (QHash<QString, OutputRoute> { { "app", { "uid-1", "Desk" } } }));
}

TEST(MixerSettings, TheStandardFileLivesInTheUsersConfigFolder)
{
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"));
    EXPECT_EQ(MixerSettings::openStandard()->fileName(), config + QStringLiteral("/Sonaric/Sonaric.conf"));
}

// Found by fuzzing: a damaged "@Variant" value whose list claims about 800 million entries. Qt reserves what the
// length claims before it finds the data short; no machine has that much, the reservation fails, and the value
// reads as nothing. The rest of the file is still restored.
TEST(MixerSettings, AValueClaimingMoreThanAnyMachineHasRestoresTheRest)
{
    ModelFixture f;
    ASSERT_TRUE(QFile::copy(QStringLiteral(SONARIC_FIXTURES "/settings/impossible-length.conf"), f.settingsPath()));
    MixerModel& model = f.start();
    EXPECT_EQ(model.maxVolume(), 2.5f);
    EXPECT_TRUE(model.volumes().isEmpty());
    EXPECT_TRUE(model.muted().contains(QStringLiteral("a")));
}
