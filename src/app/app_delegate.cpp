#include "app/app_delegate.h"

#include "app/platform.h"
#include "app/popover_window.h"
#include "app/settings/settings_window.h"
#include "app/status_bar_controller.h"
#include "model/mixer_model.h"
#include "native/native_volume_sessions.h"
#include "platform/app_identity.h"
#include "platform/audio/sim/simulated_audio_hardware.h"
#include "platform/login/launch_at_login.h"
#include "platform/login/linux/xdg_autostart_login_item.h"
#include "platform/tray/status_item.h"
#include "ui/settings_navigation.h"
#include "ui/ui.h"
#include "update/updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlEngine>
#include <QSettings>
#include <QTextStream>

namespace sonaric
{

AppDelegate::AppDelegate(Platform& platform, StatusItemFactory makeStatusItem, QObject* parent)
    : QObject(parent)
    , m_platform(platform)
    , m_makeStatusItem(std::move(makeStatusItem))
{
}

AppDelegate::~AppDelegate()
{
    applicationWillTerminate();
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (m_statusBar)
        return;
    // The demo's applications play in real time, so the mixer moves and taps are heard in the simulation.
    if (m_platform.simulated)
        m_platform.simulated->startRealTime();

    m_settings = std::make_unique<QSettings>();
    // Each connector drives its source through the platform's scripting service.
    Scripting& scripting = *m_platform.scripting;
    const Workspace& workspace = *m_platform.workspace;
    m_model = std::make_unique<MixerModel>(*m_platform.audio, workspace, *m_settings, m_mainQueue,
        makeNativeVolumeSessions([&scripting, &workspace](NativeVolumeSource source) {
            return makeNativeVolumeController(source, scripting, workspace);
        }));

    m_updater = std::make_unique<Updater>(*m_platform.bundles, *m_platform.workspace);

    m_engine = std::make_unique<QQmlEngine>();
    registerUi(*m_engine, *m_platform.workspace);
    m_item = m_makeStatusItem();
    m_popover
        = std::make_unique<PopoverWindow>(*m_engine, *m_model, m_platform.notice, PopoverWindow::kindForPlatform());
    if (!m_popover->loadError().isEmpty())
        QTextStream(stderr) << "sonaric: the mixer view did not load: " << m_popover->loadError() << Qt::endl;

    m_statusBar = std::make_unique<StatusBarController>(*m_model, *m_item, *m_popover);
    m_statusBar->setNotice(m_platform.notice);
    QObject::connect(m_popover.get(), &PopoverWindow::openConnector, m_statusBar.get(), [this](int source) {
        if (source >= 0 && source < int(NativeVolumeSource::allCases().size()))
            m_statusBar->openConnector(NativeVolumeSource::allCases()[std::size_t(source)]);
    });
    QObject::connect(
        m_statusBar.get(), &StatusBarController::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    makeSettings();
    m_updater->start();
    if (!m_item->hasButton())
        QTextStream(stderr) << "sonaric: no system tray was found; run sonaric again to open the mixer" << Qt::endl;
}

void AppDelegate::makeSettings()
{
    // Autostart entries are files of the user's own, so the demo registers for real too.
    auto loginItem = std::make_unique<XdgAutostartLoginItem>(QString::fromLatin1(kSonaricBundleIdentifier));
    const QString autostartFolder = loginItem->folder();
    m_loginItem = std::move(loginItem);
    m_launchAtLogin = std::make_unique<LaunchAtLogin>(*m_loginItem, [this, autostartFolder] {
        QDir().mkpath(autostartFolder);
        m_platform.workspace->openURL(QUrl::fromLocalFile(autostartFolder));
    });
    m_navigation = std::make_unique<SettingsNavigation>();
    m_settingsWindow = std::make_unique<SettingsWindow>(
        *m_engine, *m_navigation, *m_model, *m_platform.workspace, *m_launchAtLogin, m_updater.get());
    QObject::connect(m_statusBar.get(), &StatusBarController::settingsRequested, m_settingsWindow.get(),
        [this](int pane, int highlighted) {
            m_settingsWindow->show(pane, highlighted);
            if (!m_settingsWindow->loadError().isEmpty())
                QTextStream(stderr) << "sonaric: the settings view did not load: " << m_settingsWindow->loadError()
                                    << Qt::endl;
        });
    QObject::connect(
        m_settingsWindow.get(), &SettingsWindow::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void AppDelegate::applicationWillTerminate()
{
    if (!m_statusBar || m_terminated)
        return;
    m_terminated = true;
    for (NativeVolumeSession* session : m_model->nativeSessions())
        session->cancelPendingWork();
    m_model->engine().stopAll();
    if (m_platform.simulated)
        m_platform.simulated->stopRealTime();
}

} // namespace sonaric
