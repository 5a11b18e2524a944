#pragma once

#include "app/popover.h"
#include "native/native_volume_source.h"
#include "platform/tray/status_item.h"

#include <QIcon>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

class QMenu;

namespace sonaric
{

class MixerModel;

/// The settings window's panes.
enum class SettingsPane { general, connectors };

/// The program's whole presence in the tray: opens and closes the mixer popover on clicks, shows the small
/// menu (Settings, Quit) on a right-click, a control-click or a double-click, tells the model while the popover
/// is shown, and asks for the settings window. Main thread only.
class StatusBarController : public QObject
{
    Q_OBJECT

public:
    /// Seconds of system uptime; tests drive their own.
    using Clock = std::function<double()>;
    static double systemUptime();

    /// The tooltip of the status item; the demo adds what it is.
    static QString toolTip(const QString& notice);
    /// "MenuBarIcon" from the program's resources, else the theme's volume symbol.
    static QIcon menuBarIcon();

    /// Sets the status item up (icon, tooltip, accessible name) and listens to its clicks and to the popover.
    StatusBarController(
        MixerModel& model, StatusItem& item, Popover& popover, Clock uptime = &systemUptime, QObject* parent = nullptr);
    ~StatusBarController() override;

    /// "Settings…", a separator and "Quit Sonaric", wired to this controller.
    std::unique_ptr<QMenu> makeAppMenu();

    /// The action of the status item, sent on every button release.
    void statusItemClicked(const std::optional<StatusItemEvent>& event);
    void openSettings();
    void quit();
    /// Opens the mixer next to the pointer whatever the tray can do (a second start of the program asks).
    void showMixerAtPointer();
    /// Opens the settings on the next turn of the event loop; an empty pane or connector keeps the last one.
    void showSettings(std::optional<SettingsPane> pane, std::optional<NativeVolumeSource> highlighting);
    /// The mixer's connector action: the Connectors pane with that connector highlighted.
    void openConnector(NativeVolumeSource source);

    void setNotice(const QString& notice);

signals:
    /// The settings window should show `pane` with `highlighted`; -1 keeps what it has. The popover is closed.
    void settingsRequested(int pane, int highlighted);
    /// "Quit Sonaric" was chosen.
    void quitRequested();

private:
    void showMixer(std::optional<QPoint> clickLocation);
    void showContextMenu(std::optional<QPoint> location);
    void popoverWillShow();
    void popoverDidClose(std::optional<QPoint> pointerAt);
    /// Where a click counts as a click on the icon: its bounds, else the place of its last click.
    std::optional<QRect> iconArea() const;

    MixerModel& m_model;
    StatusItem& m_item;
    Popover& m_popover;
    Clock m_uptime;
    /// The menu a tray that draws menus itself shows on a right-click, without telling us of the click.
    std::unique_ptr<QMenu> m_trayMenu;
    std::optional<double> m_mixerDismissedByIconClickAt;
    std::optional<QPoint> m_lastClickLocation;
};

} // namespace sonaric
