#pragma once

#include "platform/main_queue.h"

#include <QObject>

#include <functional>
#include <memory>

class QQmlEngine;
class QSettings;

namespace sonaric
{

struct Platform;
class MixerModel;
class PopoverWindow;
class StatusBarController;
class StatusItem;
class Updater;
class LaunchAtLogin;
class LoginItemService;
class SettingsNavigation;
class SettingsWindow;

/// Builds the running program once the application object exists (the model, the status item, the popover and
/// the status bar controller) and, when the program ends for any reason, cancels the connectors' pending work
/// and stops every tap, so every application is back on its normal output before the process exits.
class AppDelegate : public QObject
{
    Q_OBJECT

public:
    using StatusItemFactory = std::function<std::unique_ptr<StatusItem>()>;

    AppDelegate(Platform& platform, StatusItemFactory makeStatusItem, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    /// Null until launching has finished.
    StatusBarController* statusBar() const { return m_statusBar.get(); }
    MixerModel* model() const { return m_model.get(); }
    PopoverWindow* popover() const { return m_popover.get(); }
    Updater* updater() const { return m_updater.get(); }
    SettingsWindow* settingsWindow() const { return m_settingsWindow.get(); }

private:
    /// The login item, the settings navigation and the settings window, wired to the controller.
    void makeSettings();

    Platform& m_platform;
    StatusItemFactory m_makeStatusItem;
    MainQueue m_mainQueue;
    // Declared in the order they are built; destroyed in reverse.
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<MixerModel> m_model;
    std::unique_ptr<Updater> m_updater;
    std::unique_ptr<QQmlEngine> m_engine;
    std::unique_ptr<StatusItem> m_item;
    std::unique_ptr<PopoverWindow> m_popover;
    std::unique_ptr<StatusBarController> m_statusBar;
    // The settings window's state outlives the window, which is made on first use.
    std::unique_ptr<LoginItemService> m_loginItem;
    std::unique_ptr<LaunchAtLogin> m_launchAtLogin;
    std::unique_ptr<SettingsNavigation> m_navigation;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    bool m_terminated = false;
};

} // namespace sonaric
