#include "audio/process_discovery.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/workspace/sim/simulated_workspace.h"

#include "support/scenes.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace sonaric;
using namespace sonaric::test;

namespace
{

constexpr pid_t kSelf = 4000;

struct System {
    explicit System(Scene scene)
        : hw((scene.ownPid = scene.ownPid.value_or(kSelf), scene))
        , workspace(scene)
    {
    }
    std::vector<AudioApp> apps() { return ProcessDiscovery::apps(hw, workspace); }
    SimulatedAudioHardware hw;
    SimulatedWorkspace workspace;
};

Scene browserScene(bool responsibleFunction)
{
    Scene s;
    s.hasResponsibleProcessFunction = responsibleFunction;
    s.applications.push_back(application(500, QStringLiteral("com.example.browser"), QStringLiteral("Browser")));
    s.processes.push_back(process(501, QStringLiteral("com.example.browser.helper"), false, 500));
    s.processes.push_back(process(502, QStringLiteral("com.example.browser.helper"), true, 500));
    s.processes.push_back(process(503, QString(), false, 500));
    return s;
}

} // namespace

TEST(ProcessDiscovery, RawProcessesDegradeUnreadableProperties)
{
    Scene s;
    s.processes.push_back(process(10, QStringLiteral("com.example.a"), true));
    s.processes.push_back(process(11, QString(), false));
    System sys(s);
    const auto objects = sys.hw.processObjects();
    sys.hw.failNext(SimCall::getPropertyData, kAudioHardwareUnspecifiedError, -1, 0, objects[0]);
    const auto raw = ProcessDiscovery::rawProcesses(sys.hw);
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0], (ProcessDiscovery::RawProcess { objects[0], -1, QString(), false, QString() }));
    EXPECT_EQ(raw[1], (ProcessDiscovery::RawProcess { objects[1], 11, QString(), false, QString() }));
    EXPECT_TRUE(raw[1].bundleID.isNull()) << "an empty identifier reads as none";
}

TEST(ProcessDiscovery, HelpersFoldIntoTheirResponsibleApplication)
{
    System sys(browserScene(true));
    const auto apps = sys.apps();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps[0].id, "com.example.browser");
    EXPECT_EQ(apps[0].name, "Browser");
    EXPECT_EQ(apps[0].pid, 500);
    EXPECT_EQ(apps[0].processObjects, sys.hw.processObjects());
    EXPECT_TRUE(apps[0].isPlaying) << "one helper playing makes the application play";
}

TEST(ProcessDiscovery, WithoutResponsibleFunctionHelpersMatchByIdentifierPrefix)
{
    System sys(browserScene(false));
    const auto apps = sys.apps();
    // The two helpers with identifiers fold in by prefix; the one without an identifier stands alone.
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0].id, "com.example.browser");
    EXPECT_EQ(apps[0].processObjects.size(), 2u);
    EXPECT_EQ(apps[1].id, "pid:503");
    EXPECT_EQ(apps[1].name, "pid 503");
}

TEST(ProcessDiscovery, LongestIdentifierPrefixWinsAndNeedsADotBoundary)
{
    Scene s;
    s.hasResponsibleProcessFunction = false;
    s.applications.push_back(application(1, QStringLiteral("com.example"), QStringLiteral("Suite")));
    s.applications.push_back(application(2, QStringLiteral("com.example.editor"), QStringLiteral("Editor")));
    s.applications.push_back(application(3, QStringLiteral("com.exam"), QStringLiteral("Exam")));
    s.applications.push_back(application(
        4, QStringLiteral("com.example.editor.pro"), QStringLiteral("Hidden Pro"), ActivationPolicy::accessory));
    s.processes.push_back(process(20, QStringLiteral("com.example.editor.pro.renderer"), true));
    s.processes.push_back(process(21, QStringLiteral("com.examples.tool"), true));
    System sys(s);
    const auto apps = sys.apps();
    ASSERT_EQ(apps.size(), 2u);
    // "com.example" is a prefix of "com.examples.tool" without a dot at the boundary: no owner.
    EXPECT_EQ(apps[0].id, "com.examples.tool");
    EXPECT_EQ(apps[0].name, "com.examples.tool");
    EXPECT_EQ(apps[0].pid, 21);
    // Only regular applications own helpers: the accessory with the longest prefix does not count.
    EXPECT_EQ(apps[1].id, "com.example.editor");
    EXPECT_EQ(apps[1].name, "Editor");
    EXPECT_EQ(apps[1].pid, 2);
}

TEST(ProcessDiscovery, HidesSystemProcessesAndItself)
{
    Scene s;
    s.processes.push_back(process(30, QStringLiteral("com.apple.audio.coreaudiod"), true));
    s.processes.push_back(process(31, QStringLiteral("com.apple.controlcenter"), true));
    s.processes.push_back(process(kSelf, QStringLiteral("org.sonaric.Sonaric"), true));
    s.processes.push_back(process(0, QStringLiteral("com.example.zero"), true));
    s.processes.push_back(process(-1, QStringLiteral("com.example.negative"), true));
    s.processes.push_back(process(32, QStringLiteral("com.apple.audio.coreaudiod.helper"), true));
    System sys(s);
    const auto apps = sys.apps();
    ASSERT_EQ(apps.size(), 1u) << "only exact identifiers are hidden";
    EXPECT_EQ(apps[0].id, "com.apple.audio.coreaudiod.helper");
}

TEST(ProcessDiscovery, KeysAndNamesWithoutAnOwner)
{
    Scene s;
    s.applications.push_back(application(41, QString(), QStringLiteral("Command Tool"), ActivationPolicy::prohibited));
    s.applications.push_back(
        application(60, QStringLiteral("com.example.daemon"), QStringLiteral("Daemon"), ActivationPolicy::accessory));
    s.processes.push_back(process(40, QString(), true)); // nothing known about it
    s.processes.push_back(process(41, QString(), true)); // a running application without identifier
    s.processes.push_back(process(42, QStringLiteral("com.example.svc"), true, 60)); // an accessory is responsible
    s.processes.push_back(process(43, QStringLiteral("com.example.lone"), true, 70)); // responsible process unknown
    System sys(s);
    const auto apps = sys.apps();
    ASSERT_EQ(apps.size(), 4u);
    std::map<QString, AudioApp> byID;
    for (const auto& a : apps)
        byID[a.id] = a;
    EXPECT_EQ(byID.at("pid:40").name, "pid 40");
    EXPECT_EQ(byID.at("pid:41").name, "Command Tool");
    EXPECT_EQ(byID.at("com.example.daemon").name, "Daemon")
        << "the responsible application owns it, whatever its policy";
    EXPECT_EQ(byID.at("com.example.daemon").pid, 60);
    EXPECT_EQ(byID.at("pid:70").name, "com.example.lone")
        << "its own identifier names it, but only its own pid keys it";
}

TEST(ProcessDiscovery, SortsByNameIgnoringCase)
{
    Scene s;
    s.applications.push_back(application(1, QStringLiteral("a.one"), QStringLiteral("zebra")));
    s.applications.push_back(application(2, QStringLiteral("a.two"), QStringLiteral("Apple")));
    s.applications.push_back(application(3, QStringLiteral("a.three"), QStringLiteral("banana")));
    s.applications.push_back(application(4, QStringLiteral("a.four"), QStringLiteral("Cherry")));
    for (pid_t pid : { 1, 2, 3, 4 })
        s.processes.push_back(process(pid, QString(), false));
    System sys(s);
    std::vector<QString> names;
    for (const auto& a : sys.apps())
        names.push_back(a.name);
    EXPECT_EQ(names, (std::vector<QString> { "Apple", "banana", "Cherry", "zebra" }));
}

TEST(ProcessDiscovery, SortsAccentedNamesAsTheLocaleOrdersThem)
{
    // The C locale has no collation of its own: code point order would put every accented name after "zebra".
    const struct {
        QLocale locale;
        std::vector<QString> order;
    } cases[] = {
        { QLocale::c(), { "apple", "ÅSA", "Émile", "Ölfass", "zebra" } },
        { QLocale(QLocale::German, QLocale::Germany), { "apple", "ÅSA", "Émile", "Ölfass", "zebra" } },
        { QLocale(QLocale::Swedish, QLocale::Sweden), { "apple", "Émile", "zebra", "ÅSA", "Ölfass" } },
    };
    Scene s;
    const QStringList names { "zebra", "Ölfass", "ÅSA", "apple", "Émile" };
    for (pid_t pid = 1; pid <= pid_t(names.size()); ++pid) {
        s.applications.push_back(application(pid, QStringLiteral("a.%1").arg(pid), names[pid - 1]));
        s.processes.push_back(process(pid, QString(), false));
    }
    System sys(s);
    const QLocale before;
    for (const auto& [locale, order] : cases) {
        QLocale::setDefault(locale);
        std::vector<QString> sorted;
        for (const auto& a : sys.apps())
            sorted.push_back(a.name);
        EXPECT_EQ(sorted, order) << locale.name().toStdString();
    }
    QLocale::setDefault(before);
}

TEST(ProcessDiscovery, EmptyProcessListGivesNoApplications)
{
    Scene s;
    s.applications.push_back(application(1, QStringLiteral("a.one"), QStringLiteral("One")));
    System sys(s);
    EXPECT_TRUE(sys.apps().empty());
}

TEST(ProcessDiscovery, FirstProcessKeepsTheNameAndPidOfAGroupWithoutOwner)
{
    Scene s;
    s.processes.push_back(process(50, QStringLiteral("com.example.tool"), false, 50));
    s.processes.push_back(process(51, QString(), true, 50));
    System sys(s);
    const auto apps = sys.apps();
    // The second process has no identifier and is keyed by its responsible pid, so it forms its own group.
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0].id, "com.example.tool");
    EXPECT_EQ(apps[1].id, "pid:50");
    EXPECT_EQ(apps[1].name, "pid 51");
}

TEST(ProcessDiscovery, AProcessWithoutApplicationIsNamedByTheHardwareThenItsIdentifierThenItsPid)
{
    // bundle identifier, the hardware's name, whether the workspace has an application for the pid, the name
    const std::tuple<QString, QString, bool, QString> cases[] = {
        { {}, "paplay", false, "paplay" },
        { "org.example.Tool", "Example Tool", false, "Example Tool" },
        { "org.example.Tool", "example-tool", true, "Tool From Entry" },
        { "org.example.Tool", {}, false, "org.example.Tool" },
        { {}, {}, false, "pid 20" },
    };
    for (const auto& [bundleID, hardwareName, known, expected] : cases) {
        Scene s;
        s.processes.push_back(process(20, bundleID, true));
        s.processes.back().name = hardwareName;
        if (known)
            s.applications.push_back(application(20, bundleID, "Tool From Entry", ActivationPolicy::accessory));
        System sys(s);
        const auto apps = sys.apps();
        ASSERT_EQ(apps.size(), 1u) << qPrintable(expected);
        EXPECT_EQ(apps[0].name, expected);
    }
}
