#include "ui/settings_navigation.h"

namespace sonaric
{

void SettingsNavigation::setPane(int pane)
{
    if (pane < 0 || pane >= paneCount || pane == m_pane)
        return;
    m_pane = pane;
    emit paneChanged();
}

void SettingsNavigation::setHighlighted(int source)
{
    source = source < 0 ? -1 : source;
    if (source == m_highlighted)
        return;
    m_highlighted = source;
    emit highlightedChanged();
}

} // namespace sonaric
