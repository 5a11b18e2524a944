#include "ui/ui_bench.h"

#include "native/native_volume_sessions.h"

#include "support/scenes.h"

#include <QCoreApplication>

namespace sonaric::test
{

Scene deskScene()
{
    Scene s;
    s.devices.push_back(outputDevice("spk", QStringLiteral("Speakers"), kAudioDeviceTransportTypeBuiltIn, true));
    s.devices.push_back(outputDevice("phones", QStringLiteral("Headphones"), kAudioDeviceTransportTypeBluetooth));
    s.devices.push_back(outputDevice("tv", QStringLiteral("Living Room TV"), kAudioDeviceTransportTypeHDMI));
    s.applications = { application(100, QStringLiteral("com.example.player"), QStringLiteral("Player")),
        application(200, QStringLiteral("com.example.meet"), QStringLiteral("Meet")),
        application(733, QStringLiteral("com.google.Chrome"), QStringLiteral("Google Chrome")),
        application(400, QStringLiteral("com.spotify.client"), QStringLiteral("Spotify")) };
    s.applicationIcons[QStringLiteral("com.example.player")] = QStringLiteral("audio-x-generic");
    s.applicationIcons[QStringLiteral("com.google.Chrome")] = QStringLiteral("web-browser");
    for (const RunningApplication& app : s.applications)
        s.processes.push_back(process(app.processIdentifier, app.bundleIdentifier, true));
    return s;
}

namespace
{

Scene namedScene(const QString& name)
{
    if (name == QLatin1String("demo"))
        return demoScene();
    Scene s = deskScene();
    if (name == QLatin1String("quiet")) {
        s.applications.clear();
        s.processes.clear();
        s.applicationIcons.clear();
    } else if (name == QLatin1String("hostile")) {
        s.applications
            = { application(100, QStringLiteral("com.example.markup"), QStringLiteral("<img src=x onerror=alert(1)>")),
                  application(200, QStringLiteral("com.example.bold"), QStringLiteral("<b>bold</b> &amp; more")) };
        s.processes = { process(100, QStringLiteral("com.example.markup"), true),
            process(200, QStringLiteral("com.example.bold"), true) };
        s.applicationIcons.clear();
    } else if (name != QLatin1String("desk")) {
        qFatal("no scene named %s", qPrintable(name));
    }
    return s;
}

NativeVolumeSource sourceOf(int source)
{
    return NativeVolumeSource::allCases().at(size_t(source));
}

} // namespace

UiBench::UiBench(Connectors connectors, QObject* parent)
    : QObject(parent)
    , m_connectors(connectors)
{
}

UiBench::~UiBench()
{
    m_model.reset();
    m_workspace.setTarget(nullptr);
}

void UiBench::start(const QString& scene)
{
    start(namedScene(scene));
}

void UiBench::start(const Scene& scene)
{
    m_model.reset();
    m_controllers.clear();
    m_players.clear();
    m_workspace.setTarget(nullptr);
    m_hw = std::make_unique<SimulatedAudioHardware>(scene);
    m_simulatedWorkspace = std::make_unique<SimulatedWorkspace>(scene);
    auto simulated = std::make_unique<SimulatedScripting>();
    m_scripting = simulated.get();
    m_service = m_wrapScripting ? m_wrapScripting(std::move(simulated), m_workspace) : std::move(simulated);
    m_workspace.setTarget(m_simulatedWorkspace.get());
    // A settings file of its own per run: nothing one test stores leaks into the next.
    m_settings
        = std::make_unique<QSettings>(m_dir.filePath(QStringLiteral("run%1.conf").arg(++m_run)), QSettings::IniFormat);
    m_model = std::make_unique<MixerModel>(*m_hw, m_workspace, *m_settings, m_mainQueue,
        makeNativeVolumeSessions([this](NativeVolumeSource source) { return makeController(source); }));
    settle();
    emit modelChanged();
}

std::unique_ptr<NativeVolumeControlling> UiBench::makeController(NativeVolumeSource source)
{
    if (m_connectors == Connectors::simulated)
        return makeNativeVolumeController(source, *m_service, m_workspace);
    auto fake = std::make_unique<FakeController>();
    m_controllers[int(source.value())] = fake.get();
    return fake;
}

FakeController* UiBench::controller(NativeVolumeSource source) const
{
    const auto it = m_controllers.find(int(source.value()));
    return it == m_controllers.end() ? nullptr : it->second;
}

NativeVolumeSession* UiBench::session(int source) const
{
    for (NativeVolumeSession* session : m_model->nativeSessions())
        if (int(session->source().value()) == source)
            return session;
    return nullptr;
}

void UiBench::connectApp(int source, double volume, bool muted)
{
    controller(sourceOf(source))->answers.push_back(appConnection(float(volume), muted));
    session(source)->connectToSource();
    settle();
}

void UiBench::connectBrowser(int source, const QVariantList& tabs)
{
    NativeVolumeConnection connection;
    for (const QVariant& value : tabs) {
        const QVariantMap tab = value.toMap();
        connection.tabs.push_back({ tab.value(QStringLiteral("id")).toString(),
            tab.value(QStringLiteral("title")).toString(), tab.value(QStringLiteral("playing"), true).toBool(),
            { tab.value(QStringLiteral("volume"), 1.0).toFloat(), tab.value(QStringLiteral("muted")).toBool() } });
    }
    controller(sourceOf(source))->answers.push_back(connection);
    session(source)->connectToSource();
    settle();
}

void UiBench::holdConnect(int source)
{
    session(source)->connectToSource();
    settle();
}

void UiBench::failNextConnect(int source, const QString& message)
{
    controller(sourceOf(source))->answers.push_back(NativeVolumeError(message));
}

void UiBench::failRefresh(int source, const QString& message)
{
    controller(sourceOf(source))->answers.push_back(NativeVolumeError(message));
    session(source)->refresh();
    settle();
}

void UiBench::addPlayer(int pid, const QString& bundleID, const QString& name)
{
    m_simulatedWorkspace->launch(application(pid, bundleID, name));
    m_players[pid] = m_hw->addProcess(process(pid, bundleID, true));
    settle();
    m_model->refresh();
}

void UiBench::stopPlayer(int pid)
{
    for (const AudioApp& app : m_model->apps())
        if (app.pid == pid)
            for (AudioObjectID object : app.processObjects)
                m_hw->setProcessPlaying(object, false);
    settle();
    m_model->refresh();
}

void UiBench::removeDevice(const QString& uid)
{
    m_hw->removeDevice(uid);
    settle();
}

void UiBench::settle()
{
    // Results come back through queued calls, some of them posted from the controllers' queues.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace sonaric::test
