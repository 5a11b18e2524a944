// sonaric-audio-watchdog: waits for the Sonaric process that started it to disappear (its standard input
// reaches end of file, whatever killed the process) and then undoes that process's taps at once, so no
// application stays silent in a tap sink until Sonaric is started again.

#include "platform/audio/linux/pulse_connection.h"
#include "platform/audio/linux/tap_journal.h"
#include "platform/audio/linux/tap_recovery.h"

#include <QString>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

using namespace sonaric;

int main(int argc, char** argv)
{
    QString owner, journalPath;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--owner") == 0)
            owner = QString::fromUtf8(argv[++i]);
        else if (std::strcmp(argv[i], "--journal") == 0)
            journalPath = QString::fromLocal8Bit(argv[++i]);
    }
    if (owner.isEmpty() || journalPath.isEmpty()) {
        std::fprintf(stderr, "usage: sonaric-audio-watchdog --owner TOKEN --journal PATH\n");
        return 2;
    }
    // A terminal's Ctrl-C or hang-up reaches the whole process group; the watchdog must outlive its owner.
    std::signal(SIGINT, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);

    char byte;
    while (true) {
        const ssize_t n = read(STDIN_FILENO, &byte, 1);
        if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }

    TapJournal journal(journalPath);
    // The owner is gone (or let go of us); its taps are abandoned even if the pid is still being torn down.
    const auto abandoned
        = [&](const QString& tapOwner) { return tapOwner == owner || !TapJournal::isOwnerAlive(tapOwner); };
    for (int attempt = 0; attempt < 20; ++attempt) {
        PulseConnection connection(QStringLiteral("Sonaric watchdog"));
        if (connection.connect(1000, nullptr)) {
            TapRecovery::run(connection, journal, abandoned);
            return 0;
        }
        usleep(250 * 1000);
    }
    return 1;
}
