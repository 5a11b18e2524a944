#include "platform/audio/linux/tap_watchdog.h"

#include <QFileInfo>

#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace sonaric
{

namespace
{

QString findWatchdog(const QString& configured)
{
    if (!configured.isEmpty())
        return configured == QLatin1String("none") ? QString() : configured;
    const QString beside = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    for (const QString& candidate : {
             QFileInfo(beside).absolutePath() + QStringLiteral("/sonaric-audio-watchdog"),
             QFileInfo(beside).absolutePath() + QStringLiteral("/../libexec/sonaric/sonaric-audio-watchdog"),
#ifdef SONARIC_WATCHDOG_BUILD_PATH
             QStringLiteral(SONARIC_WATCHDOG_BUILD_PATH),
#endif
         }) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

} // namespace

TapWatchdog::TapWatchdog(QString configured)
    : m_configured(std::move(configured))
{
}

TapWatchdog::~TapWatchdog()
{
    if (m_pipe >= 0)
        ::close(m_pipe);
    if (m_pid > 0) {
        for (int i = 0; i < 200 && waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void TapWatchdog::ensureRunning(const QString& owner, const QString& journalPath)
{
    if (m_pid > 0)
        return;
    const QString path = findWatchdog(m_configured);
    if (path.isEmpty())
        return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The watchdog reads its standard input; end of file means this process is gone, however it died.
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    const QByteArray program = path.toLocal8Bit();
    const QByteArray ownerArg = owner.toUtf8();
    const QByteArray journal = journalPath.toLocal8Bit();
    char* argv[] = { const_cast<char*>(program.constData()), const_cast<char*>("--owner"),
        const_cast<char*>(ownerArg.constData()), const_cast<char*>("--journal"), const_cast<char*>(journal.constData()),
        nullptr };
    pid_t pid = -1;
    const int result = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    if (result != 0) {
        ::close(fds[1]);
        return;
    }
    m_pid = pid;
    m_pipe = fds[1];
}

} // namespace sonaric
