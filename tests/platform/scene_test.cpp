#include "platform/scene/scene.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

QString errorFor(const char* json)
{
    return parseScene(QByteArray(json), QStringLiteral("s.json")).error;
}

} // namespace

TEST(Scene, ReadsEveryKindOfEntry)
{
    const auto result = parseScene(R"({
        "ownPid": 77, "responsibleProcessFunction": false,
        "devices": [ { "uid": "spk", "name": "Speakers", "transport": "usb ", "default": true,
                       "outputStreams": [1, 1], "inputStreams": [2], "sampleRate": 44100 } ],
        "applications": [ { "pid": 10, "bundleID": "com.example.app", "name": "App", "policy": "accessory" } ],
        "processes": [ { "pid": 11, "playing": true, "responsiblePid": 10,
                         "signal": { "type": "fullScale" } } ],
        "installed": [ "com.example.other" ] })",
        QStringLiteral("s.json"));
    ASSERT_TRUE(result.scene) << result.error.toStdString();
    const Scene& s = *result.scene;
    EXPECT_EQ(s.ownPid, 77);
    EXPECT_FALSE(s.hasResponsibleProcessFunction);
    ASSERT_EQ(s.devices.size(), 1u);
    EXPECT_EQ(s.devices[0].transport, kAudioDeviceTransportTypeUSB);
    EXPECT_EQ(s.devices[0].outputStreams, (std::vector<std::uint32_t> { 1, 1 }));
    EXPECT_EQ(s.devices[0].sampleRate, 44100.0);
    EXPECT_TRUE(s.devices[0].isDefaultOutput);
    EXPECT_EQ(s.applications[0].activationPolicy, ActivationPolicy::accessory);
    EXPECT_TRUE(s.processes[0].bundleID.isNull());
    EXPECT_EQ(s.processes[0].responsiblePid, 10);
    EXPECT_EQ(s.processes[0].signal.kind, SceneSignal::Kind::fullScale);
    EXPECT_EQ(s.processes[0].signal.amplitude, 1.0f);
    EXPECT_EQ(s.installed, std::vector<QString> { QStringLiteral("com.example.other") });
}

TEST(Scene, EmptySceneIsValid)
{
    const auto result = parseScene("{}", QStringLiteral("s.json"));
    ASSERT_TRUE(result.scene);
    EXPECT_TRUE(result.scene->devices.empty());
    EXPECT_TRUE(result.scene->processes.empty());
}

TEST(Scene, BadInputNamesTheFileAndTheField)
{
    EXPECT_EQ(errorFor(R"({"devices": [ {"uid": "a"}, {"uid": 5} ]})"), "s.json: devices[1].uid: expected a string");
    EXPECT_EQ(errorFor(R"({"devices": [ {"uid": "a", "transport": "usb"} ]})"),
        "s.json: devices[0].transport: expected a four-character code such as \"usb \" or \"bltn\"");
    EXPECT_EQ(errorFor(R"({"processes": [ {"pid": 1.5} ]})"), "s.json: processes[0].pid: expected a whole number");
    EXPECT_EQ(errorFor(R"({"processes": [ {"bundleID": "x"} ]})"), "s.json: processes[0].pid: missing");
    EXPECT_EQ(errorFor(R"({"processes": [ {"pid": 3, "signal": {"type": "square"}} ]})"),
        "s.json: processes[0].signal.type: expected \"sine\", \"silence\", \"fullScale\" or \"noise\"");
    EXPECT_EQ(errorFor(R"({"devices": [], "colour": 1})"), "s.json: colour: unknown field");
    EXPECT_EQ(errorFor(R"({"devices": [ {"uid": "a", "default": true}, {"uid": "b", "default": true} ]})"),
        "s.json: devices[1].default: only one device can be the default output");
    EXPECT_EQ(errorFor(R"({"devices": [ {"uid": "a"}, {"uid": "a"} ]})"),
        "s.json: devices[1].uid: used by an earlier device");
    EXPECT_EQ(errorFor("[1, 2]"), "s.json: the document: expected an object");
    EXPECT_TRUE(errorFor("{\"devices\": [").startsWith("s.json: not valid JSON ("));
}

TEST(Scene, HostileInputStillGivesOneLineNamingTheField)
{
    // Numbers beyond any integer are out of range, not undefined conversions.
    EXPECT_EQ(errorFor(R"({"ownPid": 1e300})"), "s.json: ownPid: must lie between 1 and 2147483647");
    EXPECT_EQ(errorFor(R"({"processes": [ {"pid": -1e30} ]})"),
        "s.json: processes[0].pid: must lie between -1 and 2147483647");
    EXPECT_EQ(errorFor(R"({"devices": [ {"uid": "a", "outputStreams": [1e19]} ]})"),
        "s.json: devices[0].outputStreams[0]: must lie between 1 and 64");
    // A field name cannot break the line or reach the terminal as a control sequence.
    EXPECT_EQ(
        errorFor("{\"proce\\r\\nsses\\u001b[2J\": []}"), "s.json: proce\\u000d\\u000asses\\u001b[2J: unknown field");
}

TEST(Scene, MissingFileIsAnErrorNamingIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("absent.json"));
    const auto result = loadSceneFile(path);
    EXPECT_FALSE(result.scene);
    EXPECT_TRUE(result.error.startsWith(path + QStringLiteral(": cannot read the scene file")))
        << result.error.toStdString();
}

TEST(Scene, DemoSceneLoads)
{
    const Scene demo = demoScene();
    EXPECT_GE(demo.devices.size(), 6u);
    EXPECT_GE(demo.processes.size(), 6u);
}
