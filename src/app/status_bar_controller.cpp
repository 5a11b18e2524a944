#include "app/status_bar_controller.h"

#include "model/mixer_model.h"

#include <QFile>
#include <QMenu>
#include <QTimer>

#include <chrono>
#include <ctime>

namespace sonaric
{

namespace
{
// A mouse-up within this long of the mouse-down that closed the popover belongs to the same click.
constexpr double sameClickSeconds = 1.0;
// Half the edge of the square around a click that counts as the icon, for trays that do not report its place.
constexpr int iconHalfEdge = 16;
} // namespace

double StatusBarController::systemUptime()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QString StatusBarController::toolTip(const QString& notice)
{
    const QString base = QStringLiteral("Sonaric — double-click for Settings and Quit");
    return notice.isEmpty() ? base : base + QLatin1Char('\n') + notice;
}

QIcon StatusBarController::menuBarIcon()
{
    const QString resource = QStringLiteral(":/icons/MenuBarIcon.svg");
    QIcon icon
        = QFile::exists(resource) ? QIcon(resource) : QIcon::fromTheme(QStringLiteral("audio-volume-high-symbolic"));
    icon.setIsMask(true);
    return icon;
}

StatusBarController::StatusBarController(
    MixerModel& model, StatusItem& item, Popover& popover, Clock uptime, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_item(item)
    , m_popover(popover)
    , m_uptime(std::move(uptime))
{
    if (m_item.hasButton()) {
        m_item.setImage(menuBarIcon(), QStringLiteral("sonaric-symbolic"));
        m_item.setAccessibilityDescription(QStringLiteral("Sonaric"));
        m_item.setToolTip(toolTip({}));
        m_trayMenu = makeAppMenu();
        QObject::connect(m_trayMenu.get(), &QMenu::aboutToShow, this, [this] {
            m_mixerDismissedByIconClickAt.reset();
            if (m_popover.isShown())
                m_popover.close();
        });
        m_item.setContextMenu(m_trayMenu.get());
    }
    QObject::connect(
        &m_item, &StatusItem::clicked, this, [this](const StatusItemEvent& event) { statusItemClicked(event); });
    QObject::connect(&m_popover, &Popover::willShow, this, &StatusBarController::popoverWillShow);
    QObject::connect(&m_popover, &Popover::didClose, this, &StatusBarController::popoverDidClose);
}

StatusBarController::~StatusBarController()
{
    m_item.setContextMenu(nullptr);
}

void StatusBarController::setNotice(const QString& notice)
{
    if (m_item.hasButton())
        m_item.setToolTip(toolTip(notice));
}

std::unique_ptr<QMenu> StatusBarController::makeAppMenu()
{
    auto menu = std::make_unique<QMenu>();
    QAction* settings = menu->addAction(QStringLiteral("Settings…"), this, &StatusBarController::openSettings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu->addSeparator();
    QAction* quit = menu->addAction(QStringLiteral("Quit Sonaric"), this, &StatusBarController::quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return menu;
}

void StatusBarController::statusItemClicked(const std::optional<StatusItemEvent>& event)
{
    if (event && event->location)
        m_lastClickLocation = event->location;
    if (event
        && (event->type == StatusItemEvent::Type::rightMouseUp || event->modifierFlags.testFlag(Qt::ControlModifier)
            || event->clickCount > 1)) {
        m_mixerDismissedByIconClickAt.reset();
        showContextMenu(event->location);
        return;
    }
    // The press of this same click has already closed the popover; its release must not open it again.
    if (m_mixerDismissedByIconClickAt && m_uptime() - *m_mixerDismissedByIconClickAt < sameClickSeconds) {
        m_mixerDismissedByIconClickAt.reset();
        return;
    }
    m_mixerDismissedByIconClickAt.reset();
    if (m_popover.isShown())
        m_popover.performClose();
    else
        showMixer(event ? event->location : std::nullopt);
}

void StatusBarController::showMixer(std::optional<QPoint> clickLocation)
{
    if (!m_item.hasButton())
        return;
    m_popover.show(PopoverAnchor { m_item.buttonBounds(), clickLocation });
}

void StatusBarController::showMixerAtPointer()
{
    if (!m_popover.isShown())
        m_popover.show(PopoverAnchor {});
}

void StatusBarController::showContextMenu(std::optional<QPoint> location)
{
    if (m_popover.isShown())
        m_popover.close();
    // A fresh menu each time: it is attached for this one pop-up, and the next click comes here again.
    std::unique_ptr<QMenu> menu = makeAppMenu();
    m_item.popUpMenu(*menu, location);
}

void StatusBarController::popoverWillShow()
{
    m_model.popoverVisible(true);
}

void StatusBarController::popoverDidClose(std::optional<QPoint> pointerAt)
{
    m_model.popoverVisible(false);
    const std::optional<QRect> icon = iconArea();
    if (pointerAt && icon && icon->contains(*pointerAt))
        m_mixerDismissedByIconClickAt = m_uptime();
}

std::optional<QRect> StatusBarController::iconArea() const
{
    if (std::optional<QRect> bounds = m_item.buttonBounds(); bounds && bounds->isValid())
        return bounds;
    if (m_lastClickLocation)
        return QRect(
            *m_lastClickLocation - QPoint(iconHalfEdge, iconHalfEdge), QSize(2 * iconHalfEdge, 2 * iconHalfEdge));
    return std::nullopt;
}

void StatusBarController::openSettings()
{
    showSettings(std::nullopt, std::nullopt);
}

void StatusBarController::openConnector(NativeVolumeSource source)
{
    showSettings(SettingsPane::connectors, source);
}

void StatusBarController::quit()
{
    emit quitRequested();
}

void StatusBarController::showSettings(std::optional<SettingsPane> pane, std::optional<NativeVolumeSource> highlighting)
{
    // Deferred, so a menu or view action returns (and the popover finishes its own event) before it closes.
    QTimer::singleShot(0, this, [this, pane, highlighting] {
        if (m_popover.isShown())
            m_popover.close();
        emit settingsRequested(pane ? int(*pane) : -1, highlighting ? int(highlighting->value()) : -1);
    });
}

} // namespace sonaric
