#pragma once

#include "app/popover.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>

#include <memory>

class QQmlEngine;

namespace sonaric
{

class MixerModel;

/// The mixer popover on a Linux desktop: a frameless top-level window holding `MixerView`, 320 wide and as
/// high as the view asks, placed under the tray icon (above it when the panel is at the bottom) inside the
/// screen's free area. It closes on Escape and when it loses focus to another window. Where the window system
/// cannot place windows (Wayland without X11) it is a small ordinary window instead.
class PopoverWindow final : public Popover
{
    Q_OBJECT

public:
    enum class Kind { popover, ordinaryWindow };

    /// Kind for the running window system: an ordinary window on Wayland, a popover elsewhere.
    static Kind kindForPlatform();

    /// Loads `MixerView` on `engine` with the model and the one-line notice (empty: none).
    PopoverWindow(QQmlEngine& engine, MixerModel& model, const QString& notice, Kind kind, QObject* parent = nullptr);
    ~PopoverWindow() override;

    bool isShown() const override;
    void show(const PopoverAnchor& anchor) override;
    void performClose() override;
    void close() override;

    /// The window (for tests and the benchmark); its root item is the view.
    QQuickWindow& window();
    QQuickItem* view() const { return m_view; }
    /// Why the view could not be loaded; empty when it was.
    QString loadError() const { return m_loadError; }

signals:
    /// The view's connector action, with the source's number.
    void openConnector(int source);

private:
    class Window;

    void fitToView();
    void closeWith(std::optional<QPoint> pointerAt);
    void windowDeactivated();

    Kind m_kind;
    std::unique_ptr<Window> m_window;
    QPointer<QQuickItem> m_view;
    QString m_loadError;
    PopoverAnchor m_anchor;
    bool m_shown = false;
    // How long an opening takes to its first frame, for the benchmark (logging category "sonaric.timing").
    QElapsedTimer m_opening;
    int m_openings = 0;
};

} // namespace sonaric
