#pragma once

#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>

#include <memory>

class QQmlEngine;

namespace sonaric
{

class ConnectorSettings;
class LaunchAtLogin;
class MixerModel;
class SettingsNavigation;
class Updater;
class Workspace;

/// The settings window: `SettingsWindowView` in an ordinary window titled "Sonaric Settings", 760 wide and at
/// least 468 high. It is made on first use and kept; closing it only hides it and clears the highlighted
/// connector. While it has focus it answers Ctrl+, (bring it forward), Ctrl+W (close) and Ctrl+Q (quit), the
/// shortcuts of a menu bar this desktop does not have. Main thread only.
class SettingsWindow final : public QObject
{
    Q_OBJECT

public:
    static constexpr int width = 760;
    static constexpr int minimumHeight = 468;

    /// Everything given must outlive the window. `updater` may be null (no update card, no check on opening).
    SettingsWindow(QQmlEngine& engine, SettingsNavigation& navigation, MixerModel& model, const Workspace& workspace,
        LaunchAtLogin& launchAtLogin, Updater* updater, QObject* parent = nullptr);
    ~SettingsWindow() override;

    /// Shows the window on `pane` with `highlighted` (a `NativeVolumeSource` case); -1 keeps what the navigation
    /// holds. Makes the window the first time; re-reads the login item's status and lets the updater check;
    /// centres a window that is not open yet (an open one keeps its place), then brings it forward.
    void show(int pane = -1, int highlighted = -1);
    void close();

    /// Null until the first `show`.
    QQuickWindow* window() const { return m_window.get(); }
    QQuickItem* view() const { return m_view; }
    /// How many times the window was made (once, whatever the number of openings).
    int windowsMade() const { return m_windowsMade; }
    /// Why the view could not be loaded; empty when it was.
    QString loadError() const { return m_loadError; }

signals:
    /// Ctrl+Q in the window.
    void quitRequested();

private:
    class Window;

    void makeWindow();
    void fitView();

    QQmlEngine& m_engine;
    SettingsNavigation& m_navigation;
    MixerModel& m_model;
    LaunchAtLogin& m_launchAtLogin;
    QPointer<Updater> m_updater;
    std::unique_ptr<ConnectorSettings> m_connectors;
    std::unique_ptr<QQuickWindow> m_window;
    QPointer<QQuickItem> m_view;
    QString m_loadError;
    int m_windowsMade = 0;
};

} // namespace sonaric
