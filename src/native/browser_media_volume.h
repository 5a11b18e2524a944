#pragma once

#include "native/native_volume_controlling.h"
#include "platform/serial_queue.h"

#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace sonaric
{

class Scripting;
class Workspace;

/// The native controller of the four browsers: every tab that plays media gets its own volume and mute. Each
/// scan runs the page media script in the tabs worth looking at (Safari through one generated AppleScript,
/// Chrome, Edge and Brave through raw Apple events, see `ChromiumTabs`) and turns the JSON replies into tabs.
/// Changes travel inside the same script, keyed by tab.
class BrowserMediaVolume final : public NativeVolumeControlling
{
public:
    /// One tab's reply to the page script. `visible` is part of the format but decides nothing.
    struct Tab {
        QString key;
        QString title;
        std::optional<QString> url;
        bool playing = false;
        bool visible = false;
        float volume = 0; ///< percent 0 … 100
        bool muted = false;
        bool operator==(const Tab&) const = default;
    };

    /// A reply larger than this is refused as invalid without being decoded.
    static constexpr qsizetype maximumReplySize = 8 * 1024 * 1024;

    BrowserMediaVolume(
        NativeVolumeSource source, Scripting& scripting, const Workspace& workspace, QStringList mediaURLs = {});

    NativeVolumeSource source() const { return m_source; }

    void connect(CancellationToken cancellation, Completion done) override;
    void read(const NativeVolumeConnection& current, CancellationToken cancellation, Completion done) override;
    void set(const NativeVolumeChanges& desired, const NativeVolumeConnection& current, CancellationToken cancellation,
        Completion done) override;
    void finishPendingOperations(std::function<void()> done) override;

    /// The host names of the media sites whose tabs are always scanned over https (each with its subdomains).
    static const QStringList& mediaSites();
    /// The page media script for a source with the wanted states.
    static QString javaScript(NativeVolumeSource source, const NativeVolumeChanges& changes);
    /// The one AppleScript of a Safari scan.
    static QString safariScript(const NativeVolumeChanges& changes, const QStringList& mediaURLs);
    /// The tabs of a JSON reply; absent when the reply is not a valid array of tab replies.
    static std::optional<std::vector<Tab>> parse(const QString& reply);
    /// The connection for the decoded tabs, keeping the order of the previous connection's tabs.
    static NativeVolumeConnection reading(const std::vector<Tab>& tabs, const NativeVolumeConnection& previous);
    /// The (window, tab) pairs to scan, both 1-based, given each window's tab URLs and active tab (1-based, 0
    /// when missing).
    static std::vector<std::pair<int, int>> tabsToScan(
        const std::vector<QStringList>& urls, const std::vector<int>& activeTabs, const QStringList& mediaURLs);
    /// True for a URL worth remembering in `mediaURLs` and safe to write into an AppleScript string literal.
    static bool isRememberableURL(const QString& url);
    /// True for a tab key as the page script makes them: 4 to 40 of a–z and 0–9.
    static bool isTabKey(const QString& key);

private:
    std::optional<std::vector<Tab>> scan(const NativeVolumeChanges& changes);

    const NativeVolumeSource m_source;
    Scripting& m_scripting;
    const Workspace& m_workspace;
    QStringList m_mediaURLs;
    SerialQueue m_queue; // last: destroyed (drained) first, while the members above still exist
};

} // namespace sonaric
