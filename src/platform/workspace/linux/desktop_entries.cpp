#include "platform/workspace/linux/desktop_entries.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

namespace sonaric
{

namespace
{

/// Exec's program: the first word that is not an environment assignment or the `env` wrapper.
QString programOf(const QString& exec)
{
    for (const QString& word : QProcess::splitCommand(exec)) {
        if (word == QLatin1String("env") || (word.contains(QLatin1Char('=')) && !word.startsWith(QLatin1Char('/'))))
            continue;
        return QFileInfo(word).fileName();
    }
    return {};
}

QString readFile(const QString& path, qint64 limit = 1 << 20)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(limit));
}

/// The desktop file a launcher recorded in the process's environment (GLib and others set these).
QString launcherHint(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& entry : file.read(1 << 20).split('\0')) {
        for (const char* key : { "GIO_LAUNCHED_DESKTOP_FILE=", "BAMF_DESKTOP_FILE_HINT=" })
            if (entry.startsWith(key))
                return QString::fromLocal8Bit(entry.mid(int(qstrlen(key))));
    }
    return {};
}

} // namespace

QStringList DesktopEntries::currentLocales()
{
    QString locale;
    for (const char* variable : { "LC_ALL", "LC_MESSAGES", "LANG" }) {
        locale = qEnvironmentVariable(variable);
        if (!locale.isEmpty())
            break;
    }
    locale = locale.section(QLatin1Char('.'), 0, 0).section(QLatin1Char('@'), 0, 0);
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX"))
        return {};
    QStringList locales { locale };
    if (locale.contains(QLatin1Char('_')))
        locales.append(locale.section(QLatin1Char('_'), 0, 0));
    return locales;
}

std::optional<DesktopEntry> DesktopEntries::parse(const QString& path, const QString& id, const QStringList& locales)
{
    const QString text = readFile(path);
    if (text.isEmpty())
        return std::nullopt;
    DesktopEntry entry;
    entry.id = id;
    entry.path = path;
    bool inMain = false;
    QString type;
    QString exec;
    int nameRank = 1000; // lower is better: index in locales, locales.size() for the plain key
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMain)
            continue;
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Type"))
            type = value;
        else if (key == QLatin1String("Exec"))
            exec = value;
        else if (key == QLatin1String("TryExec"))
            entry.tryExec = QFileInfo(value).fileName();
        else if (key == QLatin1String("StartupWMClass"))
            entry.startupWMClass = value;
        else if (key == QLatin1String("Icon"))
            entry.icon = value;
        else if (key == QLatin1String("NoDisplay") || key == QLatin1String("Hidden")) {
            if (value == QLatin1String("true"))
                entry.shown = false;
        } else if (key == QLatin1String("Name") && nameRank > locales.size()) {
            entry.name = value;
            nameRank = int(locales.size());
        } else if (key.startsWith(QLatin1String("Name[")) && key.endsWith(QLatin1Char(']'))) {
            const int rank = int(locales.indexOf(key.mid(5, key.size() - 6)));
            if (rank >= 0 && rank < nameRank) {
                entry.name = value;
                nameRank = rank;
            }
        }
    }
    if (type != QLatin1String("Application") || entry.name.isEmpty())
        return std::nullopt;
    entry.executable = programOf(exec);
    return entry;
}

DesktopEntries DesktopEntries::load()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty())
        home = QDir::homePath() + QStringLiteral("/.local/share");
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList directories { home + QStringLiteral("/applications") };
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        directories.append(dir + QStringLiteral("/applications"));
    return load(directories, currentLocales());
}

DesktopEntries DesktopEntries::load(const QStringList& directories, const QStringList& locales)
{
    DesktopEntries result;
    QSet<QString> seen;
    for (const QString& directory : directories) {
        const QDir root(directory);
        QDirIterator it(directory, { QStringLiteral("*.desktop") }, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            // The desktop-file id: the path below the applications directory with '/' turned into '-'.
            QString id = root.relativeFilePath(path);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            id.chop(8);
            if (seen.contains(id))
                continue;
            seen.insert(id);
            if (auto entry = parse(path, id, locales))
                result.m_entries.push_back(*entry);
        }
    }
    return result;
}

std::optional<DesktopEntry> DesktopEntries::byId(const QString& id) const
{
    for (const auto& entry : m_entries)
        if (entry.id == id)
            return entry;
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntries::forProgram(
    const QString& executable, const QString& argv0, const QString& comm) const
{
    const auto matches = [](const QString& a, const QString& b) {
        return !a.isEmpty() && !b.isEmpty() && a.compare(b, Qt::CaseInsensitive) == 0;
    };
    // Most telling first: the program named by Exec, then TryExec, the window class, and the id itself.
    for (const QString& name : { executable, argv0, comm }) {
        if (name.isEmpty())
            continue;
        for (const auto& entry : m_entries)
            if (matches(entry.executable, name) || matches(entry.tryExec, name))
                return entry;
        for (const auto& entry : m_entries)
            if (matches(entry.startupWMClass, name) || matches(entry.id, name)
                || matches(entry.id.section(QLatin1Char('.'), -1), name))
                return entry;
    }
    return std::nullopt;
}

std::optional<DesktopEntry> DesktopEntries::forProcess(pid_t pid) const
{
    const QString hint = launcherHint(pid);
    if (!hint.isEmpty()) {
        for (const auto& entry : m_entries)
            if (entry.path == hint || QFileInfo(entry.path).canonicalFilePath() == QFileInfo(hint).canonicalFilePath())
                return entry;
    }
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    const QString cmdline = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid), 4096);
    const QString argv0 = QFileInfo(cmdline.section(QLatin1Char('\0'), 0, 0)).fileName();
    const QString comm = readFile(QStringLiteral("/proc/%1/comm").arg(pid), 256).trimmed();
    if (exe.isEmpty() && argv0.isEmpty() && comm.isEmpty())
        return std::nullopt;
    QString executable = QFileInfo(exe).fileName();
    // Interpreted programs run as python3, sh, ...: the script's name tells more.
    static const QSet<QString> interpreters { QStringLiteral("python3"), QStringLiteral("python"), QStringLiteral("sh"),
        QStringLiteral("bash"), QStringLiteral("perl"), QStringLiteral("node"), QStringLiteral("gjs") };
    if (interpreters.contains(executable) || executable.startsWith(QLatin1String("python3."))) {
        const QString script = QFileInfo(cmdline.section(QLatin1Char('\0'), 1, 1)).fileName();
        if (!script.isEmpty() && !script.startsWith(QLatin1Char('-')))
            return forProgram(script, argv0 == executable ? QString() : argv0, comm);
        executable.clear();
    }
    return forProgram(executable, argv0, comm);
}

} // namespace sonaric
