#include "app/popover_window.h"

#include "model/mixer_model.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QScreen>
#include <QTimer>

namespace sonaric
{

namespace
{
constexpr int popoverWidth = 320;
Q_LOGGING_CATEGORY(lcTiming, "sonaric.timing", QtWarningMsg)
} // namespace

/// The window itself: Escape closes it, and a close by the window system counts as a close of the popover.
class PopoverWindow::Window final : public QQuickWindow
{
public:
    explicit Window(PopoverWindow& owner)
        : m_owner(owner)
    {
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape) {
            event->accept();
            m_owner.closeWith(std::nullopt);
            return;
        }
        QQuickWindow::keyPressEvent(event);
    }

    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::Close) {
            // The window manager's close button of the ordinary window: hide and report like any close.
            event->ignore();
            m_owner.closeWith(std::nullopt);
            return true;
        }
        return QQuickWindow::event(event);
    }

private:
    PopoverWindow& m_owner;
};

PopoverWindow::Kind PopoverWindow::kindForPlatform()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ? Kind::ordinaryWindow : Kind::popover;
}

PopoverWindow::PopoverWindow(QQmlEngine& engine, MixerModel& model, const QString& notice, Kind kind, QObject* parent)
    : Popover(parent)
    , m_kind(kind)
    , m_window(std::make_unique<Window>(*this))
{
    if (m_kind == Kind::popover)
        m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint);
    else
        m_window->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    m_window->setTitle(QStringLiteral("Sonaric"));
    m_window->setColor(QGuiApplication::palette().color(QPalette::Window));

    QQmlComponent component(&engine);
    component.loadUrl(QUrl(QStringLiteral("qrc:/qt/qml/Sonaric/Ui/MixerView.qml")), QQmlComponent::PreferSynchronous);
    if (!component.isReady()) {
        // Creating from a component that did not compile crashes inside Qt; report instead.
        m_loadError = component.errorString();
        return;
    }
    QObject* root = component.createWithInitialProperties(
        { { QStringLiteral("model"), QVariant::fromValue(&model) }, { QStringLiteral("notice"), notice } });
    m_view = qobject_cast<QQuickItem*>(root);
    if (!m_view) {
        m_loadError = component.errorString();
        delete root;
        return;
    }
    m_view->setParent(m_window.get());
    m_view->setParentItem(m_window->contentItem());
    QObject::connect(m_view, SIGNAL(openConnector(int)), this, SIGNAL(openConnector(int)));
    QObject::connect(m_view, &QQuickItem::implicitHeightChanged, this, &PopoverWindow::fitToView);
    QObject::connect(m_window.get(), &QQuickWindow::frameSwapped, this, [this] {
        if (!m_opening.isValid())
            return;
        qCDebug(lcTiming, "popover opening %d: first frame after %.2f ms", m_openings,
            double(m_opening.nsecsElapsed()) / 1e6);
        m_opening.invalidate();
    });
    QObject::connect(m_window.get(), &QWindow::activeChanged, this, [this] {
        if (!m_window->isActive())
            windowDeactivated();
    });
    fitToView();
}

PopoverWindow::~PopoverWindow()
{
    // The view goes before the window it is drawn in.
    delete m_view.data();
}

QQuickWindow& PopoverWindow::window()
{
    return *m_window;
}

bool PopoverWindow::isShown() const
{
    return m_shown;
}

void PopoverWindow::fitToView()
{
    if (!m_view)
        return;
    const QSize size(popoverWidth, qMax(1, qCeil(m_view->implicitHeight())));
    m_view->setSize(size);
    m_window->resize(size);
    if (m_shown && m_kind == Kind::popover) {
        QScreen* screen = m_window->screen();
        m_window->setPosition(popoverPosition(size, m_anchor, screen->availableGeometry(), QCursor::pos(screen)));
    }
}

void PopoverWindow::show(const PopoverAnchor& anchor)
{
    if (m_shown)
        return;
    m_anchor = anchor;
    if (lcTiming().isDebugEnabled()) {
        ++m_openings;
        m_opening.start();
    }
    emit willShow();
    m_shown = true;
    if (m_kind == Kind::popover) {
        QPoint reference = QCursor::pos();
        if (anchor.iconBounds)
            reference = anchor.iconBounds->center();
        else if (anchor.clickLocation)
            reference = *anchor.clickLocation;
        QScreen* screen = QGuiApplication::screenAt(reference);
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        m_window->setScreen(screen);
        m_window->setPosition(
            popoverPosition(m_window->size(), anchor, screen->availableGeometry(), QCursor::pos(screen)));
    }
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    if (m_view)
        m_view->forceActiveFocus();
}

void PopoverWindow::performClose()
{
    closeWith(std::nullopt);
}

void PopoverWindow::close()
{
    closeWith(std::nullopt);
}

void PopoverWindow::closeWith(std::optional<QPoint> pointerAt)
{
    if (!m_shown)
        return;
    m_shown = false;
    m_window->hide();
    emit didClose(pointerAt);
}

void PopoverWindow::windowDeactivated()
{
    // Focus may be passing to a window of our own (the output picker's list): look once the move has settled.
    QTimer::singleShot(0, this, [this] {
        if (!m_shown || m_window->isActive())
            return;
        QWindow* focus = QGuiApplication::focusWindow();
        if (focus && focus->transientParent() == m_window.get())
            return;
        closeWith(QCursor::pos());
    });
}

} // namespace sonaric
