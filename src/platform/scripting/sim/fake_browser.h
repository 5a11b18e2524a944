#pragma once

// A fake browser process and its windows, as the fake Safari and the fake Chromium-family browsers see it.

#include "platform/scripting/sim/fake_page.h"

#include <QString>

#include <sys/types.h>

#include <optional>
#include <vector>

namespace sonaric
{

/// The browser that answers AppleScript; every other browser answers Apple events.
inline const QString kSafariBundleID = QStringLiteral("com.apple.Safari");

struct FakeWindow {
    std::vector<FakeTab> tabs;
    int activeTab = 1; ///< 1-based; 0 when the window reports none
};

/// A browser process: Safari answers the connector's AppleScript, Chromium browsers answer Apple events.
struct FakeBrowser {
    QString bundleID;
    QString appName; ///< used in the error texts the fake produces
    pid_t pid = 0;
    bool running = true;
    std::vector<FakeWindow> windows;
    bool refusesAutomation = false; ///< sending fails with -1743
    bool javaScriptBlocked = false; ///< running page JavaScript fails with the browser's "turned off" error
    bool timesOut = false; ///< sending fails with -1712
    std::optional<FakeScriptError> getDataError; ///< the get-data events fail with this "errn"/"errs"
};

} // namespace sonaric
