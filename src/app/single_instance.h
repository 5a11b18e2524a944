#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace sonaric
{

/// One Sonaric per user session: the first start holds a lock in the user's runtime folder and listens on a
/// socket beside it; a later start finds the lock taken and asks the first one to open its mixer instead of
/// tapping the same applications a second time. The lock is the kernel's (flock), so it goes with the
/// process, crash included.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim {
        primary, ///< this process is the one Sonaric of the session
        secondary, ///< another Sonaric runs; ask it with `askPrimaryToShowMixer`
        failed, ///< the runtime folder is not usable; `error()` says why
    };

    /// `runtimeDirectory` empty: $XDG_RUNTIME_DIR (Qt's runtime location).
    explicit SingleInstance(QString runtimeDirectory = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    Claim claim();
    /// Asks the running Sonaric to open its mixer; false when it did not answer within `timeoutMs`.
    bool askPrimaryToShowMixer(int timeoutMs = 3000);
    QString error() const { return m_error; }
    QString socketPath() const;

signals:
    /// A later start asked this one to open its mixer.
    void showMixerRequested();

private:
    void serve();

    QString m_directory;
    QString m_error;
    int m_lockFd = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace sonaric
