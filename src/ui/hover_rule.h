#pragma once

#include "platform/delay_clock.h"

#include <QObject>
#include <QPointer>
#include <QtQmlIntegration/qqmlintegration.h>

namespace sonaric
{

/// When the output picker's list shows. A click toggles it at once; resting the pointer on the button opens it
/// after 0.25 s, and it closes 0.4 s after the pointer has left both the button and the list, so the pointer
/// can travel from the button into the list. Every change of `overButton` or `overList` cancels the pending
/// delay and decides anew; a delay that runs out acts only if the pointer is still where it was.
class HoverRule : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool overButton READ overButton WRITE setOverButton NOTIFY overButtonChanged)
    Q_PROPERTY(bool overList READ overList WRITE setOverList NOTIFY overListChanged)
    Q_PROPERTY(bool showing READ showing NOTIFY showingChanged)
    /// The button is drawn highlighted: the pointer is on it or the list shows.
    Q_PROPERTY(bool highlighted READ highlighted NOTIFY highlightedChanged)
    /// A delay is running.
    Q_PROPERTY(bool pending READ pending NOTIFY pendingChanged)
    /// The clock the delays run on; by default one of precise Qt timers.
    Q_PROPERTY(sonaric::DelayClock* clock READ clock WRITE setClock NOTIFY clockChanged)

public:
    static constexpr int openDelayMilliseconds = 250;
    static constexpr int closeDelayMilliseconds = 400;

    explicit HoverRule(QObject* parent = nullptr);
    ~HoverRule() override;

    bool overButton() const { return m_overButton; }
    void setOverButton(bool over);
    bool overList() const { return m_overList; }
    void setOverList(bool over);
    bool showing() const { return m_showing; }
    bool highlighted() const { return m_overButton || m_showing; }
    bool pending() const { return m_pending != 0; }
    DelayClock* clock() const;
    void setClock(DelayClock* clock);

    /// A click on the button: shows or hides the list at once. A pending delay is dropped, so it cannot undo
    /// what the click did.
    Q_INVOKABLE void toggle();
    /// Hides the list at once (a choice was made, Escape, the popover closed) and drops a pending delay.
    Q_INVOKABLE void close();
    /// Drops a pending delay (the button left the screen).
    Q_INVOKABLE void cancel();

signals:
    void overButtonChanged();
    void overListChanged();
    void showingChanged();
    void highlightedChanged();
    void pendingChanged();
    void clockChanged();

private:
    void hoverChanged();
    void setShowing(bool showing);
    void setPending(DelayClock::Handle handle);

    bool m_overButton = false;
    bool m_overList = false;
    bool m_showing = false;
    DelayClock::Handle m_pending = 0;
    QPointer<DelayClock> m_clock;
    DelayClock m_ownClock;
};

} // namespace sonaric
