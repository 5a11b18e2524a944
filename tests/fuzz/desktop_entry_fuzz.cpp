// Desktop entries are files that any installed package, or the user, puts in an applications folder. Parsing
// one gives an entry or nothing; matching a process against the entries found answers for any name.

#include "fuzz/fuzz_support.h"
#include "platform/workspace/linux/desktop_entries.h"

#include <QFile>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QTemporaryDir& dir = fuzz::scratch();
    const QString path = dir.filePath(QStringLiteral("org.example.Fuzzed.desktop"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(fuzz::bytes(data, size));
    }
    static const QStringList locales { QStringLiteral("de_AT"), QStringLiteral("de") };
    const auto entry = DesktopEntries::parse(path, QStringLiteral("org.example.Fuzzed"), locales);
    if (!entry)
        return 0;
    fuzz::expect(!entry->name.isEmpty(), "an entry has a name");
    fuzz::expect(!entry->executable.contains(u'/'), "Exec's program is a base name");
    const DesktopEntries entries = DesktopEntries::load({ dir.path() }, locales);
    fuzz::expect(entries.entries().size() == 1 && entries.entries().front() == *entry, "loading finds the entry");
    for (const QString& name : { entry->executable, entry->tryExec, entry->startupWMClass, QStringLiteral("Fuzzed") })
        entries.forProgram(name, name, name);
    return 0;
}
