#include "app/settings/settings_window.h"

#include "model/mixer_model.h"
#include "platform/login/launch_at_login.h"
#include "ui/connector_settings.h"
#include "ui/settings_navigation.h"
#include "update/updater.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QScreen>

namespace sonaric
{

/// The window: Ctrl+, Ctrl+W and Ctrl+Q, looked at before the focused control sees the key. (A `QShortcut` on a
/// `QWindow` never fires inside a `QApplication`, whose shortcut contexts know only widgets.)
class SettingsWindow::Window final : public QQuickWindow
{
public:
    explicit Window(SettingsWindow& owner)
        : m_owner(owner)
    {
    }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->modifiers() == Qt::ControlModifier) {
            switch (event->key()) {
            case Qt::Key_Comma:
                event->accept();
                m_owner.show();
                return;
            case Qt::Key_W:
                event->accept();
                m_owner.close();
                return;
            case Qt::Key_Q:
                event->accept();
                emit m_owner.quitRequested();
                return;
            default:
                break;
            }
        }
        QQuickWindow::keyPressEvent(event);
    }

private:
    SettingsWindow& m_owner;
};

SettingsWindow::SettingsWindow(QQmlEngine& engine, SettingsNavigation& navigation, MixerModel& model,
    const Workspace& workspace, LaunchAtLogin& launchAtLogin, Updater* updater, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_navigation(navigation)
    , m_model(model)
    , m_launchAtLogin(launchAtLogin)
    , m_updater(updater)
    , m_connectors(std::make_unique<ConnectorSettings>(model, workspace))
{
}

SettingsWindow::~SettingsWindow()
{
    // The view goes before the window it is drawn in.
    delete m_view.data();
}

void SettingsWindow::makeWindow()
{
    m_window = std::make_unique<Window>(*this);
    ++m_windowsMade;
    m_window->setFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    m_window->setTitle(QStringLiteral("Sonaric Settings"));
    m_window->setColor(QGuiApplication::palette().color(QPalette::Window));
    m_window->setMinimumSize(QSize(width, minimumHeight));
    m_window->setMaximumWidth(width);
    m_window->resize(width, minimumHeight);

    // Closing (by Ctrl+W or the window manager) hides the window; the object stays for the next opening.
    QObject::connect(m_window.get(), &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            m_navigation.setHighlighted(-1);
    });
    // The user may have changed the login items in the desktop's settings meanwhile.
    QObject::connect(m_window.get(), &QWindow::activeChanged, this, [this] {
        if (m_window->isActive())
            m_launchAtLogin.refresh();
    });

    QQmlComponent component(&m_engine);
    component.loadUrl(
        QUrl(QStringLiteral("qrc:/qt/qml/Sonaric/Ui/SettingsWindowView.qml")), QQmlComponent::PreferSynchronous);
    if (!component.isReady()) {
        m_loadError = component.errorString();
        return;
    }
    QObject* root = component.createWithInitialProperties({
        { QStringLiteral("navigation"), QVariant::fromValue(&m_navigation) },
        { QStringLiteral("model"), QVariant::fromValue(&m_model) },
        { QStringLiteral("launchAtLogin"), QVariant::fromValue(&m_launchAtLogin) },
        { QStringLiteral("connectors"), QVariant::fromValue(m_connectors.get()) },
        { QStringLiteral("updater"), QVariant::fromValue(static_cast<QObject*>(m_updater.data())) },
    });
    m_view = qobject_cast<QQuickItem*>(root);
    if (!m_view) {
        m_loadError = component.errorString();
        delete root;
        return;
    }
    m_view->setParent(m_window.get());
    m_view->setParentItem(m_window->contentItem());
    QObject::connect(m_window.get(), &QWindow::widthChanged, this, &SettingsWindow::fitView);
    QObject::connect(m_window.get(), &QWindow::heightChanged, this, &SettingsWindow::fitView);
    fitView();
}

void SettingsWindow::fitView()
{
    if (m_view)
        m_view->setSize(m_window->size());
}

void SettingsWindow::show(int pane, int highlighted)
{
    if (pane >= 0)
        m_navigation.setPane(pane);
    if (highlighted >= 0)
        m_navigation.setHighlighted(highlighted);
    if (!m_window)
        makeWindow();
    m_launchAtLogin.refresh();
    m_connectors->refresh();
    if (m_updater)
        m_updater->settingsWindowOpened();
    if (!m_window->isVisible()) {
        if (QScreen* screen = m_window->screen()) {
            QRect frame(QPoint(), m_window->size());
            frame.moveCenter(screen->availableGeometry().center());
            m_window->setPosition(frame.topLeft());
        }
        m_window->show();
    }
    m_window->raise();
    m_window->requestActivate();
}

void SettingsWindow::close()
{
    if (m_window)
        m_window->close();
}

} // namespace sonaric
