#pragma once

#include "platform/bundle/bundle_services.h"
#include "platform/serial_queue.h"
#include "platform/workspace/workspace.h"
#include "update/update_feed.h"
#include "update/update_info.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <optional>

namespace sonaric
{

class UpdateDownload;

/// The self-updater: learns from the feed whether a newer build is published, and installs it in place of
/// the running application folder.
///
/// It checks at `start()`, every six hours and when the settings window opens after an hour without a check;
/// it publishes an advertised update as `available` only when it is strictly newer than the running build
/// and passes the sanity checks of `newer`. `install()` downloads the image, verifies it off the main thread
/// (size, SHA-256, unpacking, the bundle's identifier and build, its signature), swaps it with the running
/// folder and relaunches; a folder it cannot replace gets the image opened in the browser instead. Every
/// failure ends in the failed phase with a text for the user. Lives on the main thread; one for the program's
/// lifetime.
class Updater final : public QObject
{
    Q_OBJECT
    /// Whether an update is offered (the settings window shows the update card only then).
    Q_PROPERTY(bool updateAvailable READ updateAvailable NOTIFY availableChanged)
    /// The offered update; all fields empty when there is none.
    Q_PROPERTY(sonaric::UpdateInfo available READ availableUpdate NOTIFY availableChanged)
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    /// The failed phase's text; empty in the other phases. Shown as plain text.
    Q_PROPERTY(QString errorText READ errorText NOTIFY phaseChanged)
    /// True while an installation runs: the update button is disabled and shows its progress.
    Q_PROPERTY(bool busy READ busy NOTIFY phaseChanged)
    /// The running version and build, as the sidebar's version line shows them.
    Q_PROPERTY(QString currentVersion READ currentVersion CONSTANT)
    Q_PROPERTY(qint64 currentBuild READ currentBuild CONSTANT)

public:
    enum class Phase { Idle, Updating, Failed };
    Q_ENUM(Phase)

    struct Options {
        UpdateFeed feed = UpdateFeed::fromBuild();
        /// Ends the program once the relaunch command runs; the application's quit by default.
        std::function<void()> terminate;
        /// The clock `lastCheck` reads.
        std::function<QDateTime()> now;
        /// The shell that runs the relaunch command.
        QString shell = QStringLiteral("/bin/sh");
    };

    /// `bundles` and `workspace` must outlive the updater.
    Updater(BundleServices& bundles, Workspace& workspace, QObject* parent = nullptr);
    Updater(BundleServices& bundles, Workspace& workspace, Options options, QObject* parent = nullptr);
    ~Updater() override;

    /// Checks now and then every six hours. Does nothing when the build has no update feed.
    void start();
    /// Starts one check of the feed; returns at once. Does nothing while an installation runs.
    Q_INVOKABLE void check();
    /// For the settings window when it opens: checks when the last check started more than an hour ago.
    Q_INVOKABLE void settingsWindowOpened();
    /// Installs the available update (the update card's button). Does nothing without one, or while an
    /// installation runs; after a failure it tries again from the start.
    Q_INVOKABLE void install();

    bool updateAvailable() const { return m_available.has_value(); }
    const std::optional<UpdateInfo>& available() const { return m_available; }
    UpdateInfo availableUpdate() const { return m_available.value_or(UpdateInfo {}); }
    Phase phase() const { return m_phase; }
    QString errorText() const { return m_phase == Phase::Failed ? m_failure : QString(); }
    bool busy() const { return m_phase == Phase::Updating; }
    /// When the last check started; invalid (the distant past) before the first.
    QDateTime lastCheck() const { return m_lastCheck; }
    /// The running build: the info file's "CFBundleVersion" as a decimal integer, 0 when it is missing, not a
    /// string or not a number.
    qint64 currentBuild() const { return m_currentBuild; }
    QString currentVersion() const { return m_currentVersion; }
    const UpdateFeed& feed() const { return m_options.feed; }

    static constexpr int checkIntervalSeconds = 6 * 3600;
    static constexpr int settingsCheckAfterSeconds = 3600;
    static constexpr int checkTimeoutMilliseconds = 20'000;
    static constexpr qint64 largestImage = 500'000'000;

    /// The advertised update in the feed document `data` when it is worth offering over `build`: it decodes,
    /// its build is strictly greater, its URL is "https" on the same host as `feedURL`, its SHA-256 is 64
    /// hexadecimal digits and its size is 1 to 500000000 bytes. None otherwise.
    static std::optional<UpdateInfo> newer(const QByteArray& data, qint64 build, const QUrl& feedURL);

    /// Whether the application folder at `app` can replace itself: its name ends in ".app" and both it and
    /// the folder holding it are writable by us.
    static bool canReplace(const QString& app);

    /// Verifies the downloaded image `dmg` against `update` and installs it over the folder `app`: size and
    /// SHA-256, attach, copy "Sonaric.app" out, check its identifier (`bundleID`) and build, check its
    /// signature by `publisherKey`, swap it with `app`. Throws `UpdateError`; the downloaded file, the
    /// temporary folder and the attached image are gone afterwards whatever happened, and `app` is untouched
    /// unless the swap succeeded. Blocks; runs off the main thread.
    static void install(BundleServices& bundles, const QString& dmg, const UpdateInfo& update, const QString& app,
        const QString& bundleID, const QString& publisherKey);

    /// The signature requirement an update must meet: the bundle identifier and the publisher's key.
    static QString requirement(const QString& bundleID, const QString& publisherKey);
    /// The relaunch command's script: waits for the process "$1" to end, then starts "$3" in the folder "$2".
    static constexpr char relaunchScript[]
        = "while /bin/kill -0 \"$1\" 2>/dev/null; do /bin/sleep 0.2; done; exec \"$2/$3\"";

signals:
    void availableChanged();
    void phaseChanged();
    /// A check ended, whatever it found (including nothing, or a failure that leaves the state as it was).
    void checkFinished();

private:
    void checked(const QByteArray& body);
    void downloaded(const UpdateInfo& update, const QString& app, const QString& bundleID, const QString& file);
    void relaunch(const QString& app);
    void setPhase(Phase phase, const QString& failure = {});
    QDateTime now() const;

    BundleServices& m_bundles;
    Workspace& m_workspace;
    Options m_options;
    qint64 m_currentBuild = 0;
    QString m_currentVersion;
    std::optional<UpdateInfo> m_available;
    Phase m_phase = Phase::Idle;
    QString m_failure;
    QDateTime m_lastCheck;
    QTimer m_timer;
    QNetworkAccessManager m_network;
    QPointer<UpdateDownload> m_download;
    // Declared last: destroyed first, it waits for a verification still running.
    SerialQueue m_verification { "Sonaric.Updater" };
};

} // namespace sonaric
