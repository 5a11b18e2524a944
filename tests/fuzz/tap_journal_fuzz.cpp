// The tap journal is a file in the user's state folder that a crash, a full disk or a person can leave in any
// shape, and recovery reads it at every start and in the watchdog. Reading gives taps (and held streams) or nothing;
// what was read is written back unchanged by an update that changes nothing.

#include "fuzz/fuzz_support.h"
#include "platform/audio/linux/tap_journal.h"

#include <QFile>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QTemporaryDir& dir = fuzz::scratch();
    TapJournal journal(dir.filePath(QStringLiteral("audio-taps.json")));
    {
        QFile file(journal.path());
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(fuzz::bytes(data, size));
    }
    const std::vector<JournalTap> taps = journal.read();
    const std::vector<JournalLevels> levels = journal.readLevels();
    for (const JournalTap& tap : taps)
        TapJournal::isOwnerAlive(tap.owner);
    fuzz::expect(journal.update([](std::vector<JournalTap>&) {}), "an update of a readable folder succeeds");
    fuzz::expect(journal.read() == taps, "an update that changes nothing keeps every tap as read");
    fuzz::expect(journal.readLevels() == levels, "an update that changes nothing keeps every held stream as read");
    return 0;
}
