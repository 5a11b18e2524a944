#pragma once

// The fake Safari: runs the Safari connector script (read by what it does, see SafariConnectorScript) over its
// windows and tabs, applying the tab rule with AppleScript's case-insensitive comparisons and answering the page
// script from each selected tab's fake page.

#include "platform/scripting/scripting.h"
#include "platform/scripting/sim/fake_browser.h"

#include <deque>

namespace sonaric
{

class FakeSafari
{
public:
    /// Works on the service's browsers (the first running one with Safari's identifier is Safari) and its
    /// tab-key counter.
    FakeSafari(std::deque<FakeBrowser>& browsers, int& keyCounter);

    /// Anything but the connector's script is syntax error -2741.
    AppleScriptExecution run(const QString& source);

private:
    std::deque<FakeBrowser>& m_browsers;
    int& m_keyCounter;
};

} // namespace sonaric
