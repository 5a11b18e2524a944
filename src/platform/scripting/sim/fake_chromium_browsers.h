#pragma once

// The fake Chrome, Edge and Brave: by process identifier they answer the Chromium connector's two get-data
// events (every tab's URL, every window's active tab index) and its execute-JavaScript event, whose script each
// tab answers through its fake page.

#include "platform/scripting/scripting.h"
#include "platform/scripting/sim/fake_browser.h"

#include <deque>

namespace sonaric
{

class FakeChromiumBrowsers
{
public:
    /// Works on the service's browsers (Safari among them, which it never answers) and its tab-key counter.
    FakeChromiumBrowsers(std::deque<FakeBrowser>& browsers, int& keyCounter);

    /// Sends one event to the running, non-Safari browser with the event's target process identifier.
    AppleEventSendResult send(const AppleEventDescriptor& event);

private:
    AppleEventSendResult handle(FakeBrowser& browser, const AppleEventDescriptor& event);

    std::deque<FakeBrowser>& m_browsers;
    int& m_keyCounter;
};

} // namespace sonaric
