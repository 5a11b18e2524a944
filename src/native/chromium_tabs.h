#pragma once

#include "native/native_volume_source.h"
#include "platform/scripting/apple_event_descriptor.h"

#include <QStringList>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace sonaric
{

class Scripting;
class Workspace;

/// Running the page script in Google Chrome, Microsoft Edge and Brave Browser with raw Apple events.
/// Failures are thrown as `NativeVolumeError`.
namespace ChromiumTabs
{

/// Runs `script` in the tabs to scan of every process of the source's browser and returns the replies that
/// are JSON objects; absent when the browser is not running. Errors of single processes or tabs are skipped;
/// the first is thrown only when no tab replied.
std::optional<QStringList> run(Scripting& scripting, const Workspace& workspace, const QString& script,
    NativeVolumeSource source, const QStringList& mediaURLs);

/// Asks one browser process for its tab URLs and active tabs and picks the (window, tab) pairs to scan.
std::vector<std::pair<std::int32_t, std::int32_t>> tabsToScan(
    Scripting& scripting, pid_t app, NativeVolumeSource source, const QStringList& mediaURLs);

/// The get-data event for the URL of every tab of every window.
AppleEventDescriptor tabURLsEvent(pid_t app);
/// The get-data event for the active tab index of every window.
AppleEventDescriptor activeTabsEvent(pid_t app);
/// The execute-JavaScript event for one tab; the script travels unescaped.
AppleEventDescriptor executeEvent(const QString& script, std::int32_t window, std::int32_t tab, pid_t app);

/// The four bytes of an ASCII code, the first character in the most significant byte.
FourCharCode code(const QString& text);

} // namespace ChromiumTabs

} // namespace sonaric
