// The autostart entry lives in the user's configuration folder, where the desktop's startup settings and the user
// edit it. Reading any content gives a status; and the program path Sonaric writes into Exec reads back as
// itself, whatever characters the path holds.

#include "fuzz/fuzz_support.h"
#include "platform/login/linux/xdg_autostart_login_item.h"

#include <QFile>

using namespace sonaric;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QTemporaryDir& dir = fuzz::scratch();
    static const bool folder = QDir(dir.path()).mkpath(QStringLiteral("autostart"));
    const QByteArray bytes = fuzz::bytes(data, size);
    const XdgAutostartLoginItem item(QStringLiteral("org.example.Fuzzed"), QStringLiteral("/bin/true"), dir.path());
    {
        QFile file(item.entryPath());
        if (!folder || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    item.status();

    const QString program = QString::fromUtf8(bytes);
    fuzz::expect(XdgAutostartLoginItem::programOf(XdgAutostartLoginItem::quotedProgram(program)) == program,
        "a quoted program reads back as itself");
    XdgAutostartLoginItem::programOf(program);
    return 0;
}
