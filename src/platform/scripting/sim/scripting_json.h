#pragma once

// The scripting JSON (docs/native.md): the fake applications and browsers a simulated scripting service starts
// with, for the demo and for tests that describe their fakes in a file.

#include "platform/scripting/sim/fake_browser.h"
#include "platform/scripting/sim/fake_media_apps.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace sonaric
{

struct ScriptingJson {
    std::vector<FakeMediaApp> apps;
    std::vector<FakeBrowser> browsers;

    /// Empty on a malformed document (not an object, an app or a browser without bundleID), with `error` set.
    static std::optional<ScriptingJson> parse(const QByteArray& json, QString* error = nullptr);
};

} // namespace sonaric
