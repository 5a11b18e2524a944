#include "platform/login/linux/xdg_autostart_login_item.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace sonaric
{

namespace
{

/// The keys of the entry's main group, values unescaped as plain strings.
QHash<QString, QString> mainGroup(const QString& path)
{
    QHash<QString, QString> keys;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    bool inMain = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMain = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMain || equals <= 0)
            continue;
        QString value = line.mid(equals + 1).trimmed();
        value.replace(QLatin1String("\\s"), QLatin1String(" "));
        keys.insert(line.left(equals).trimmed(), value);
    }
    return keys;
}

bool isFalse(const QString& value)
{
    return value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
}

bool isTrue(const QString& value)
{
    return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(
    const QString& applicationId, const QString& executable, const QString& configHome)
{
    m_executable = executable;
    if (m_executable.isEmpty()) {
        // An AppImage runs from a temporary mount; the image itself is what must start next time.
        const QString appImage = qEnvironmentVariable("APPIMAGE");
        m_executable = appImage.isEmpty() ? QCoreApplication::applicationFilePath() : appImage;
    }
    const QString home
        = configHome.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) : configHome;
    m_path = home + QStringLiteral("/autostart/") + applicationId + QStringLiteral(".desktop");
}

QString XdgAutostartLoginItem::folder() const
{
    return QFileInfo(m_path).absolutePath();
}

LoginItemService::Status XdgAutostartLoginItem::status() const
{
    if (!QFileInfo(m_path).isFile())
        return Status::notRegistered;
    const QHash<QString, QString> keys = mainGroup(m_path);
    if (isTrue(keys.value(QStringLiteral("Hidden")))
        || isFalse(keys.value(QStringLiteral("X-GNOME-Autostart-enabled"))))
        return Status::notRegistered;
    const QFileInfo program(programOf(keys.value(QStringLiteral("Exec"))));
    if (!program.isAbsolute() || !program.isFile() || !program.isExecutable())
        return Status::notFound;
    return Status::enabled;
}

QString XdgAutostartLoginItem::registerMainApp()
{
    if (!QDir().mkpath(folder()))
        return QStringLiteral("Could not create the autostart folder %1.").arg(folder());
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Sonaric\n"
                                         "Comment=Per-application volume mixer in the system tray\n"
                                         "Exec=%1\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quotedProgram(m_executable));
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry.toUtf8()) < 0 || !file.commit())
        return QStringLiteral("Could not write %1: %2").arg(m_path, file.errorString());
    return {};
}

QString XdgAutostartLoginItem::unregisterMainApp()
{
    QFile file(m_path);
    if (!file.exists())
        return {};
    if (!file.remove())
        return QStringLiteral("Could not remove %1: %2").arg(m_path, file.errorString());
    return {};
}

QString XdgAutostartLoginItem::quotedProgram(const QString& program)
{
    // Inside double quotes the format reserves ", `, $ and \ (each escaped with a backslash); the value's own
    // string escaping then doubles every backslash, and field codes make % special.
    QString quoted;
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    quoted.replace(u'\\', QLatin1String("\\\\"));
    quoted.replace(u'%', QLatin1String("%%"));
    return u'"' + quoted + u'"';
}

QString XdgAutostartLoginItem::programOf(const QString& execLine)
{
    // Undo the string escaping first, then the quoting of the first argument.
    QString line;
    for (qsizetype i = 0; i < execLine.size(); ++i) {
        if (execLine[i] == u'\\' && i + 1 < execLine.size() && execLine[i + 1] == u'\\')
            ++i;
        line += execLine[i];
    }
    line.replace(QLatin1String("%%"), QLatin1String("%"));
    line = line.trimmed();
    if (!line.startsWith(u'"'))
        return line.section(u' ', 0, 0);
    QString program;
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (line[i] == u'\\' && i + 1 < line.size()) {
            program += line[++i];
            continue;
        }
        if (line[i] == u'"')
            return program;
        program += line[i];
    }
    return {}; // an unterminated quote starts nothing
}

} // namespace sonaric
