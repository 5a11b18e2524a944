#include "ui/hover_rule.h"

namespace sonaric
{

HoverRule::HoverRule(QObject* parent)
    : QObject(parent)
{
}

HoverRule::~HoverRule()
{
    if (m_pending)
        clock()->cancel(m_pending);
}

DelayClock* HoverRule::clock() const
{
    return m_clock ? m_clock.data() : const_cast<DelayClock*>(&m_ownClock);
}

void HoverRule::setClock(DelayClock* clock)
{
    if (m_clock == clock)
        return;
    cancel();
    m_clock = clock;
    emit clockChanged();
}

void HoverRule::setOverButton(bool over)
{
    if (m_overButton == over)
        return;
    const bool wasHighlighted = highlighted();
    m_overButton = over;
    emit overButtonChanged();
    if (highlighted() != wasHighlighted)
        emit highlightedChanged();
    hoverChanged();
}

void HoverRule::setOverList(bool over)
{
    if (m_overList == over)
        return;
    m_overList = over;
    emit overListChanged();
    hoverChanged();
}

void HoverRule::hoverChanged()
{
    cancel();
    const bool open = m_overButton && !m_showing;
    const bool close = !(m_overButton || m_overList) && m_showing;
    if (!open && !close)
        return;
    setPending(clock()->schedule(open ? openDelayMilliseconds : closeDelayMilliseconds, [this, open] {
        setPending(0);
        if (open && m_overButton)
            setShowing(true);
        else if (!open && !m_overButton && !m_overList)
            setShowing(false);
    }));
}

void HoverRule::toggle()
{
    cancel();
    setShowing(!m_showing);
}

void HoverRule::close()
{
    cancel();
    setShowing(false);
}

void HoverRule::cancel()
{
    if (!m_pending)
        return;
    clock()->cancel(m_pending);
    setPending(0);
}

void HoverRule::setShowing(bool showing)
{
    if (m_showing == showing)
        return;
    const bool wasHighlighted = highlighted();
    m_showing = showing;
    emit showingChanged();
    if (highlighted() != wasHighlighted)
        emit highlightedChanged();
}

void HoverRule::setPending(DelayClock::Handle handle)
{
    const bool was = pending();
    m_pending = handle;
    if (pending() != was)
        emit pendingChanged();
}

} // namespace sonaric
